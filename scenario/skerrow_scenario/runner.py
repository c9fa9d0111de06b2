"""One run of a scenario: the hub, the generators, the live line, closing,
and the figures gathered afterwards."""

import json
import math
import os
import signal
import sys
import time
from dataclasses import dataclass, field
from typing import List, Optional, TextIO

from . import processes
from .live import LiveLine, SeriesTail
from .processes import Generator, Hub, RunDirectory
from .report import GeneratorResult, figures_of, report_dict, summary_table
from .scenariofile import Scenario

HUB_START_SECONDS = 15
# On top of the hub's grace: Qt's start-up and a loaded machine.
GENERATOR_END_SECONDS = 30
HUB_END_SECONDS = 30
DEFAULT_GRACE = 5.0
# The hub writes a second's series rows within a quarter second after it.
LIVE_OFFSET = 0.5


@dataclass
class RunOptions:
    bin_dir: str
    show: bool = False
    keep: bool = False
    out: TextIO = sys.stdout


@dataclass
class RunResult:
    report: dict
    problems: List[str] = field(default_factory=list)
    series: dict = field(default_factory=dict)
    closed_at: float = 0.0  # second of the hub's run in which closing was announced


class _Interrupted(Exception):
    pass


def _raise_interrupted(signum, frame):
    raise _Interrupted()


class ScenarioRun:
    def __init__(self, scenario: Scenario, options: RunOptions):
        self.scenario = scenario
        self.options = options
        self.out = options.out
        self.problems: List[str] = []
        self.generators: List[Generator] = []
        self.hub: Optional[Hub] = None
        self.hub_code: Optional[int] = None
        self.hub_started = 0.0
        self.traffic_started = 0.0
        self.closed = 0.0
        self.interrupted = False

    def say(self, text: str):
        self.out.write(text + "\n")
        self.out.flush()

    def binary(self, name: str) -> str:
        return os.path.join(self.options.bin_dir, name)

    def run(self) -> RunResult:
        run_dir = RunDirectory(keep=self.options.keep)
        previous = signal.signal(signal.SIGTERM, _raise_interrupted)
        try:
            self._run_in(run_dir)
            # While the run's files are still there.
            return self._result()
        finally:
            signal.signal(signal.SIGTERM, previous)
            for generator in self.generators:
                generator.kill()
            if self.hub is not None:
                self.hub.stop()
            run_dir.close()
            if self.options.keep:
                self.say(f"skerrowScenario: the run's files are in {run_dir.path}")

    def _run_in(self, run_dir: RunDirectory):
        env = run_dir.environment(self.options.show)
        self.hub = Hub(self.binary("kivstandin"), self.scenario.hub_arguments(), env, run_dir)
        self.hub_started = time.monotonic()
        if not self.hub.wait_ready(HUB_START_SECONDS):
            self.hub.log.read()
            detail = "; ".join(self.hub.log.lines[-3:]) or "no word from it"
            self.problems.append(f"the hub did not start: {detail}")
            return
        groups = ", ".join(f"[{g.name}] {len(g.devices)}" for g in self.scenario.groups)
        self.say(f"skerrowScenario: {self.scenario.path}: {self.scenario.generator_count()} generators "
                 f"({groups}) for {self.scenario.seconds:g} s"
                 f"{' on the display' if self.options.show else ''}")
        generator = self.binary("skerrowDriver")
        for group in self.scenario.groups:
            for index in range(len(group.devices)):
                self.generators.append(Generator(generator, group, index, env, run_dir))
        self.traffic_started = time.monotonic()
        try:
            self._live()
        except (KeyboardInterrupt, _Interrupted):
            self.interrupted = True
        self._close()

    def _live(self):
        live = LiveLine(self.scenario, self.out)
        series = SeriesTail(self.hub.series_file)
        devices = {d for g in self.scenario.groups for d in g.devices}
        end = self.traffic_started + self.scenario.seconds
        try:
            while True:
                # Just after each of the hub's seconds has been written, so
                # that every line shows a second of its own.
                now = time.monotonic()
                next_second = self.hub_started + math.floor(now - self.hub_started - LIVE_OFFSET) + 1 + LIVE_OFFSET
                moment = min(next_second, end)
                if moment > now:
                    time.sleep(moment - now)
                series.read()
                self.hub.log.read()
                registered = self.hub.status()
                held = None if registered is None else len(devices.intersection(registered))
                elapsed = min(time.monotonic(), end) - self.traffic_started
                live.show(live.text(elapsed, series, held, self.hub.log.malformed))
                if moment >= end:
                    return
                if not any(g.running() for g in self.generators):
                    live.finish()
                    self.say("skerrowScenario: every generator has ended; closing early")
                    return
        finally:
            live.finish()

    def _close(self):
        self.closed = time.monotonic()
        told = self.hub.announce_closing()
        if told is None:
            self.say("skerrowScenario: closing: the hub did not answer")
        else:
            self.say(f"skerrowScenario: closing: the hub announced it to {told} drivers")
        grace = float(self.scenario.hub.get("grace", DEFAULT_GRACE))
        late = processes.wait_for_generators(self.generators, grace + GENERATOR_END_SECONDS)
        for generator in late:
            self.problems.append(f"generator of device {generator.device} ([{generator.group}]) "
                                 f"had not ended {grace + GENERATOR_END_SECONDS:g} s after closing; ended it")
        self.hub_code = self.hub.wait(grace + HUB_END_SECONDS)
        if self.hub_code is None:
            self.problems.append("the hub had not ended after its grace time; ended it")
            self.hub.stop()
        self.hub.log.read()

    def _hub_summary(self) -> dict:
        if self.hub is None:
            return {}
        try:
            with open(self.hub.summary_file, encoding="utf-8") as stream:
                return json.load(stream)
        except (OSError, ValueError):
            return {}

    def _result(self) -> RunResult:
        summary = self._hub_summary()
        log = self.hub.log if self.hub is not None else None
        per_device = summary.get("devices", {})
        results: List[GeneratorResult] = []
        for g in self.generators:
            counts = per_device.get(str(g.device), {})
            results.append(GeneratorResult(
                group=g.group, device=g.device, arguments=g.arguments, exit_code=g.exit_code,
                killed=g.killed, registered=bool(log and log.registered(g.device)),
                closing=g.closing(), message_boxes=g.message_boxes(),
                commands=int(counts.get("messages", 0)), bytes=int(counts.get("bytes", 0)),
                malformed=log.malformed_by_device.get(g.device, 0) if log else 0))
        end = self.closed or time.monotonic()
        run_seconds = end - self.traffic_started if self.traffic_started else 0.0
        rows = [figures_of(group.name, [r for r in results if r.group == group.name], run_seconds)
                for group in self.scenario.groups]
        rows.append(figures_of("all", results, run_seconds, malformed=summary.get("malformed")))
        self._judge(summary, results)
        hub = dict(summary)
        hub["exit_code"] = self.hub_code
        report = report_dict(self.scenario, run_seconds, rows, results, hub, self.problems, self.interrupted)
        if self.generators:
            self.say(summary_table(rows))
            self.say(f"hub: {summary.get('messages', '-')} commands, {summary.get('bytes', '-')} bytes "
                     f"in {summary.get('seconds', '-')} s, malformed {summary.get('malformed', '-')}, "
                     f"bad frames {summary.get('bad_frames', '-')}, exit code "
                     f"{'-' if self.hub_code is None else self.hub_code}")
        closed_at = (self.closed - self.hub_started) if self.closed else 0.0
        return RunResult(report, self.problems, summary.get("series", {}), closed_at)

    def _judge(self, summary: dict, results: List[GeneratorResult]):
        problems = self.problems
        if self.interrupted:
            problems.append("the run was interrupted")
        for r in results:
            name = f"generator of device {r.device} ([{r.group}])"
            if not r.registered:
                boxes = f": {'; '.join(r.message_boxes)}" if r.message_boxes else ""
                problems.append(f"{name} did not register at the hub{boxes}")
            if not r.killed and r.exit_code not in (0, None):
                problems.append(f"{name} ended with exit code {r.exit_code}")
        if self.hub is None or not summary:
            if self.generators:
                problems.append("the hub wrote no summary")
            return
        if self.hub_code not in (0, None):
            problems.append(f"the hub ended with exit code {self.hub_code}")
        if summary.get("messages", 0) == 0:
            problems.append("no traffic arrived at the hub")
        if summary.get("malformed", 0):
            problems.append(f"{summary['malformed']} malformed commands")
        if summary.get("bad_frames", 0):
            problems.append(f"{summary['bad_frames']} bad frames")
        if summary.get("drivers", 0):
            problems.append(f"{summary['drivers']} drivers were still registered when the hub ended")
