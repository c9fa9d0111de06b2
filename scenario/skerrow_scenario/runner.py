"""One run of a scenario: the hub, the generators, the live line, closing,
and the figures gathered afterwards."""

import math
import os
import signal
import sys
import time
from dataclasses import dataclass, field
from datetime import datetime, timezone
from typing import Dict, List, Optional, TextIO, Tuple

from . import processes
from .figures import Figures, GeneratorResult, Stretch, figures_of, stretches_window
from .hubfiles import HubSeries, malformed_of, read_summary, registration_times, series_origin
from .live import LiveLine, ResponseTail
from .processes import Generator, Hub, HubStatus, RunDirectory
from .report import inside_outside_tables, report_dict, summary_tables
from .scenariofile import Scenario
from .series import (Split, SplitPools, generator_seconds, group_series, inside_outside, last_pooled_second,
                     split_seconds)
from .thresholds import Outcome, evaluate, outcome_table

HUB_START_SECONDS = 15
# On top of the hub's grace: Qt's start-up and a loaded machine.
GENERATOR_END_SECONDS = 30
HUB_END_SECONDS = 30
DEFAULT_GRACE = 5.0
# The hub writes a second's series rows within a quarter second after it.
LIVE_OFFSET = 0.5
# How often a generator that waits (for its device to be free, or to be
# registered so that it can be told goodbye) is looked at again.
SCHEDULE_STEP = 0.1
# A registration the hub took a little before the runner's own reading of a
# start: the two clocks are read apart.
CLOCK_SLACK = 0.05


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
    outcomes: List[Outcome] = field(default_factory=list)
    # Per group its series over the hub's seconds; empty when the hub wrote none.
    series: Dict[str, Dict[str, list]] = field(default_factory=dict)
    closed_at: float = 0.0  # when closing was announced, on the series' time axis
    # Per group that runs in windows or bursts, when they ran, on the series' time axis.
    windows: Dict[str, List[Tuple[float, float]]] = field(default_factory=dict)


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
        self.hub_series: Optional[HubSeries] = None
        self.hub_code: Optional[int] = None
        self.hub_started = 0.0
        self.hub_started_utc = time.time()
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
        self.hub_started, self.hub_started_utc = time.monotonic(), time.time()
        self.hub_series = HubSeries(self.hub.series_file, self.scenario.groups)
        if not self.hub.wait_ready(HUB_START_SECONDS):
            detail = "; ".join(self.hub.last_words(3)) or "no word from it"
            self.problems.append(f"the hub did not start: {detail}")
            return
        groups = ", ".join(f"[{g.name}] {len(g.devices)}{f' {g.schedule_text()}' if g.schedule_text() else ''}"
                           for g in self.scenario.groups)
        self.say(f"skerrowScenario: {self.scenario.path}: {self.scenario.generator_count()} generators "
                 f"({groups}) for {self.scenario.seconds:g} s"
                 f"{' on the display' if self.options.show else ''}")
        for group in self.scenario.groups:
            for index in range(len(group.devices)):
                for run in range(len(group.runs(index))):
                    self.generators.append(Generator(group, index, run, run_dir))
        self.traffic_started = time.monotonic()
        try:
            self._live(env)
        except (KeyboardInterrupt, _Interrupted):
            self.interrupted = True
        self._close()

    def _live(self, env: Dict[str, str]):
        live = LiveLine(self.scenario, self.out)
        responses = ResponseTail([(g.group, g.error_file) for g in self.generators])
        # Until the hub tells when it started, the runner's own reading is close.
        origin = series_origin(self.hub_started_utc)
        shown, p99 = None, {}
        end = self.traffic_started + self.scenario.seconds
        next_line = self._next_second()
        try:
            while True:
                waiting = self._follow_schedule(env)
                now = time.monotonic()
                if now >= min(next_line, end):
                    self.hub_series.read()
                    status = self.hub.status()
                    if status is not None and status.started_utc is not None:
                        origin = series_origin(status.started_utc)
                    responses.read(origin)
                    second = self._shown_second(origin)
                    if second != shown:
                        shown, p99 = second, responses.take_p99(second)
                    live.show(self._live_text(live, second, p99, status, end))
                    if now >= end:
                        return
                    if self._ended_early():
                        live.finish()
                        self.say("skerrowScenario: every generator has ended; closing early")
                        return
                    next_line = self._next_second()
                wake = min(next_line, end, self._next_due(waiting))
                time.sleep(max(wake - time.monotonic(), 0))
        finally:
            live.finish()

    @staticmethod
    def _next_second() -> float:
        """Just after the next of the hub's seconds, which are the wall
        clock's, has been written, so that every line shows a second of its
        own; on the monotonic clock."""
        wall = time.time()
        return time.monotonic() + math.floor(wall - LIVE_OFFSET) + 1 + LIVE_OFFSET - wall

    def _follow_schedule(self, env: Dict[str, str]) -> bool:
        """Starts the generators whose run is due and has the hub say goodbye
        to those whose run has ended. A device's next burst waits until its
        last generator has gone, and so unregistered; a goodbye waits until
        the generator is registered. Whether any of them is waiting."""
        elapsed = time.monotonic() - self.traffic_started
        waiting = False
        for generator in self.generators:
            if generator.launched is None and generator.planned[0] <= elapsed:
                if self._device_busy(generator):
                    waiting = True
                else:
                    generator.start(self.binary("skerrowDriver"), env)
            elif generator.due_to_end(elapsed):
                if self.hub.say_goodbye(generator.device):
                    generator.told_goodbye = time.monotonic()
                else:
                    waiting = True
        return waiting

    def _device_busy(self, generator: Generator) -> bool:
        return any(other.device == generator.device and other.running() for other in self.generators)

    def _next_due(self, waiting: bool) -> float:
        """When the schedule next asks for something, on the monotonic clock."""
        if waiting:
            return time.monotonic() + SCHEDULE_STEP
        moments = [g.planned[0] for g in self.generators if g.launched is None]
        moments += [g.planned[1] for g in self.generators
                    if g.planned[1] is not None and g.told_goodbye is None and g.running()]
        return self.traffic_started + min(moments, default=math.inf)

    def _ended_early(self) -> bool:
        """Every generator has been started and has gone, and one went by
        itself: nothing would send for the rest of the run."""
        return (all(g.launched is not None and not g.running() for g in self.generators)
                and any(g.told_goodbye is None for g in self.generators))

    def _live_text(self, live: LiveLine, second: int, p99: Dict[str, Optional[float]],
                   status: Optional[HubStatus], end: float) -> str:
        # The devices whose generator is in its run now.
        due = {g.device for g in self.generators if g.launched is not None and g.told_goodbye is None}
        held = None if status is None else len(due.intersection(status.devices))
        elapsed = min(time.monotonic(), end) - self.traffic_started
        return live.text(elapsed, self._rates_in(second), p99, (held, len(due)),
                         None if status is None else status.malformed)

    @staticmethod
    def _shown_second(origin: int) -> int:
        """The hub's second the live line shows: the one before the last
        that has passed, for which the hub has written its rows and every
        generator its second line (a generator writes it within a second)."""
        return math.floor(time.time() - LIVE_OFFSET) - origin - 1

    def _rates_in(self, second: int) -> Dict[str, int]:
        return {g.name: self.hub_series.in_seconds(g.name, second, second) for g in self.scenario.groups}

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

    def _hub_time(self, moment: float, origin: int) -> float:
        """A moment of the monotonic clock on the series' time axis, which
        begins at the wall clock's second the hub started in."""
        return self.hub_started_utc + (moment - self.hub_started) - origin

    def _at(self, moment: Optional[float], origin: int) -> Optional[float]:
        return None if moment is None else self._hub_time(moment, origin)

    def _results(self, summary: dict, started_utc: float, origin: int) -> List[GeneratorResult]:
        registered = registration_times(summary, started_utc)
        per_device = summary.get("devices", {})
        results = []
        for g in self.generators:
            counts = per_device.get(str(g.device), {})
            results.append(GeneratorResult(
                group=g.group, device=g.device, arguments=g.arguments, exit_code=g.exit_code,
                killed=g.killed, registered_at=self._registration_of(g, registered.get(g.device, []), origin),
                closing=g.closing(), message_boxes=g.message_boxes(), commands=int(counts.get("messages", 0)),
                bytes=int(counts.get("bytes", 0)), malformed=malformed_of(summary, [g.device]), run=g.run,
                planned=g.planned, started_at=self._at(g.launched, origin),
                goodbye_at=self._at(g.told_goodbye, origin)))
        return results

    def _registration_of(self, generator: Generator, times: List[float], origin: int) -> Optional[float]:
        """The generator's registration among its device's: the first the hub
        took after it started and before the device's next generator started."""
        if generator.launched is None:
            return None
        later = [g.launched for g in self.generators
                 if g.device == generator.device and g.launched is not None and g.launched > generator.launched]
        after = self._hub_time(generator.launched, origin) - CLOCK_SLACK
        before = self._hub_time(min(later), origin) - CLOCK_SLACK if later else math.inf
        return next((t for t in times if after <= t < before), None)

    @staticmethod
    def _by_run(members: List[GeneratorResult]) -> List[List[GeneratorResult]]:
        """A group's generators per run: its one window, or each of its bursts."""
        return [[r for r in members if r.run == run] for run in sorted({r.run for r in members})]

    def _rows(self, results: List[GeneratorResult], traffic_from: float, closed_at: float,
              summary: dict) -> List[Figures]:
        """Per group and in all, each with the window its rate is taken over:
        a group's window, or each of its bursts, from its last generator
        registered to their goodbye or closing; all from the generators that
        start with the run to closing."""
        def stretches(members: List[GeneratorResult]) -> List[Stretch]:
            return [([r.registered_at for r in run], max(r.goodbye_at or closed_at for r in run))
                    for run in self._by_run(members)]

        def in_window(window, names: List[str]) -> int:
            if window.spans is None:
                return 0
            return sum(self.hub_series.in_seconds(name, *span) for name in names for span in window.spans)

        rows = []
        for group in self.scenario.groups:
            members = [r for r in results if r.group == group.name]
            ends = "its goodbye" if group.stop is not None or group.bursts else "closing"
            note = f"{'in each burst ' if group.bursts else ''}from every generator registered to {ends}"
            window = stretches_window(stretches(members), traffic_from, closed_at, note)
            rows.append(figures_of(group.name, members, window, in_window(window, [group.name])))
        # Every generator, when none starts with the run.
        starters = [r.registered_at for r in results if r.planned[0] == 0] or [r.registered_at for r in results]
        note = "from every generator registered to closing"
        if len(starters) < len(results):
            note = "from every generator that starts with the run registered to closing"
        window = stretches_window([(starters, closed_at)], traffic_from, closed_at, note)
        names = [g.name for g in self.scenario.groups]
        rows.append(figures_of("all", results, window, in_window(window, names),
                               malformed=summary.get("malformed")))
        return rows

    def _windows(self, results: List[GeneratorResult], closed_at: float) -> Dict[str, List[Tuple[float, float]]]:
        """When each group that runs in windows or bursts could send: per
        window or burst from its first generator registered (a generator
        takes a while to start) to its last told goodbye."""
        def began(run: List[GeneratorResult]) -> float:
            return min([r.registered_at for r in run if r.registered] or [r.started_at for r in run])

        windows = {}
        for group in self.scenario.groups:
            started = [r for r in results if r.group == group.name and r.started_at is not None]
            if group.shaped:
                windows[group.name] = [(began(run), max(r.goodbye_at or closed_at for r in run))
                                       for run in self._by_run(started)]
        return windows

    def _series(self, origin: int, closed_at: float, splits: List[Split]) -> Tuple[Dict[str, Dict[str, list]],
                                                                                 SplitPools]:
        pools = SplitPools(splits)
        pooled = generator_seconds([(g.group, g.error_file) for g in self.generators], origin, pools)
        seconds = max(self.hub_series.last_second, last_pooled_second(pooled), math.ceil(closed_at))
        return group_series([g.name for g in self.scenario.groups], self.hub_series, pooled, seconds), pools

    def _result(self) -> RunResult:
        summary = read_summary(self.hub.summary_file)
        self.hub_series.read()
        started_utc = float(summary.get("started_utc", self.hub_started_utc))
        origin = series_origin(started_utc)
        traffic_from = self._hub_time(self.traffic_started or self.hub_started, origin)
        closed_at = self._hub_time(self.closed or time.monotonic(), origin)
        results = self._results(summary, started_utc, origin)
        rows = self._rows(results, traffic_from, closed_at, summary)
        percentiles = self.scenario.percentiles
        outcomes = evaluate(self.scenario.thresholds,
                            {row.name: row.threshold_values(percentiles) for row in rows})
        # Inside and outside are taken over the seconds the whole run is measured over.
        first, last = rows[-1].window.whole_seconds or (math.ceil(traffic_from) + 1, math.floor(closed_at))
        windows = self._windows(results, closed_at)
        splits = [split_seconds(name, spans, first, last) for name, spans in windows.items()]
        series, pools = self._series(origin, closed_at, splits)
        sides = inside_outside(splits, {name: entry["commands"] for name, entry in series.items()}, pools)
        self._judge(summary, results)
        if self.generators:
            self._print_summary(rows, summary, sides)
        if outcomes:
            self.say(outcome_table(outcomes))
        run = {"seconds": round(max(closed_at - traffic_from, 0.0), 3), "traffic_from": round(traffic_from, 3),
               "closed_at": round(closed_at, 3), "interrupted": self.interrupted}
        started = datetime.fromtimestamp(self.hub_started_utc, timezone.utc).isoformat(timespec="milliseconds")
        report = report_dict(self.scenario, run, rows, results, series, outcomes,
                             {**summary, "exit_code": self.hub_code}, self.problems, started, sides)
        return RunResult(report, self.problems, outcomes, series if self.hub_series.last_second else {}, closed_at,
                         windows)

    def _print_summary(self, rows: List[Figures], summary: dict, sides: Dict[str, dict]):
        self.say(summary_tables(rows, self.scenario.percentiles))
        if sides:
            self.say(inside_outside_tables(self.scenario, sides))
        self.say(f"hub: {summary.get('messages', '-')} commands, {summary.get('bytes', '-')} bytes "
                 f"in {summary.get('seconds', '-')} s, malformed {summary.get('malformed', '-')}, "
                 f"bad frames {summary.get('bad_frames', '-')}, exit code "
                 f"{'-' if self.hub_code is None else self.hub_code}")

    def _judge(self, summary: dict, results: List[GeneratorResult]):
        problems = self.problems
        if self.interrupted:
            problems.append("the run was interrupted")
        bursts = {g.name for g in self.scenario.groups if g.bursts}
        for r in results:
            name = f"generator of device {r.device} ([{r.group}]{f', burst {r.run + 1}' if r.group in bursts else ''})"
            if r.started_at is None:
                if not self.interrupted:
                    problems.append(f"{name} was not started")
                continue
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
