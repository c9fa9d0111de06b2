"""The figures of a finished run: per generator, and per group and in all
pooled from its generators, with the window each rate is taken over."""

import math
from collections import Counter
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple

from .generatorlines import GeneratorLine
from .histogram import Histogram, pooled
from .scenariofile import Percentile
from .thresholds import TIME_KINDS, time_figure

# The closing line's counts a group sums.
TICK_KEYS = ("ticks", "late_ticks", "skipped_ticks", "omitted")


@dataclass
class GeneratorResult:
    group: str
    device: int
    arguments: List[str]
    exit_code: Optional[int]
    killed: bool
    registered_at: Optional[float]  # on the series' time axis; None if never taken
    closing: Optional[GeneratorLine]
    message_boxes: List[str]
    commands: int = 0  # as the hub counted them for the device, over every run of it
    bytes: int = 0
    malformed: int = 0
    run: int = 0  # which of its group's runs: its burst, from 0
    planned: Tuple[float, Optional[float]] = (0.0, None)  # seconds from the run's start
    started_at: Optional[float] = None  # on the series' time axis
    goodbye_at: Optional[float] = None  # when the hub said goodbye to it alone; None: at closing

    @property
    def registered(self) -> bool:
        return self.registered_at is not None

    def as_dict(self) -> dict:
        closing = None
        if self.closing is not None:
            closing = {**self.closing.figures, "answer": self.closing.answer.as_dict(),
                       "response": self.closing.response.as_dict()}
        return {
            "group": self.group, "device": self.device, "arguments": self.arguments,
            "exit_code": self.exit_code, "killed": self.killed, "registered": self.registered,
            "registered_at": self.registered_at, "commands": self.commands, "bytes": self.bytes,
            "malformed": self.malformed, "closing": closing, "message_boxes": self.message_boxes,
            "run": self.run, "planned": list(self.planned), "started_at": _rounded(self.started_at),
            "goodbye_at": _rounded(self.goodbye_at),
        }


def _rounded(value: Optional[float]) -> Optional[float]:
    return None if value is None else round(value, 3)


@dataclass
class Window:
    """The time a rate is taken over, on the series' time axis: seconds from
    the start of the wall-clock second in which the hub started."""
    start: float
    end: float
    spans: Optional[List[Tuple[int, int]]]  # the hub's seconds counted, first-last each; None: the whole run
    note: str

    @property
    def whole_seconds(self) -> Optional[Tuple[int, int]]:
        """The first and the last of the hub's seconds counted."""
        return None if self.spans is None else (self.spans[0][0], self.spans[-1][1])

    @property
    def seconds(self) -> float:
        if self.spans is None:
            return self.end - self.start
        return sum(last - first + 1 for first, last in self.spans)

    def text(self) -> str:
        if self.spans is None:
            return f"the whole run, {self.seconds:.1f} s ({self.note})"
        spans = ", ".join(f"{a}-{b}" if a != b else str(a) for a, b in self.spans)
        return f"the hub's second{'s' if self.seconds > 1 else ''} {spans} ({self.note})"

    def as_dict(self) -> dict:
        return {"from": round(self.start, 3), "to": round(self.end, 3), "seconds": round(self.seconds, 3),
                "whole_seconds": None if self.whole_seconds is None else list(self.whole_seconds),
                "spans": None if self.spans is None else [list(span) for span in self.spans],
                "measured": self.spans is not None, "note": self.note}


# Generators that registered, and when their window ended (on the series' time axis).
Stretch = Tuple[List[Optional[float]], float]


def rate_window(registered_at: List[Optional[float]], traffic_from: float, closed_at: float) -> Window:
    """From the moment the last of the generators registered to closing,
    over the hub's whole seconds in between, so that neither the start-up
    nor a second cut short dilutes the rate; else the whole run."""
    return stretches_window([(registered_at, closed_at)], traffic_from, closed_at,
                            "from every generator registered to closing")


def stretches_window(stretches: List[Stretch], traffic_from: float, closed_at: float, note: str) -> Window:
    """As rate_window, over each stretch of a group that runs in windows or
    bursts: from its last generator registered to its end. Stretches
    without a whole second add none; if none has one, the whole run."""
    spans = []
    for registered_at, end in stretches:
        if not registered_at or None in registered_at:
            return Window(traffic_from, closed_at, None, "not every generator registered")
        # The hub's second k covers [k - 1, k).
        first, last = math.ceil(max(registered_at)) + 1, math.floor(end)
        if first <= last:
            spans.append((first, last))
    if not spans:
        start = max(max(registered) for registered, _ in stretches)
        return Window(traffic_from, closed_at, None, f"no whole second between the last registration at "
                                                     f"{start:.3f} s and the end at {stretches[-1][1]:.3f} s")
    return Window(max(stretches[0][0]), stretches[-1][1], spans, note)


def exit_code_text(result: GeneratorResult) -> str:
    if result.killed:
        return "killed"
    return "running" if result.exit_code is None else str(result.exit_code)


def _sum_or_none(closings: List[GeneratorLine], key: str) -> Optional[int]:
    """A count summed over the closing lines; None when no generator wrote one."""
    return sum(c.count(key) for c in closings) if closings else None


@dataclass
class Figures:
    """One group, or all groups, with its generators' histograms pooled."""
    name: str
    window: Window
    generators: int = 0
    registered: int = 0
    commands: int = 0
    bytes: int = 0
    rate: float = 0.0
    failures: Optional[int] = None
    malformed: int = 0
    ticks: Dict[str, Optional[int]] = field(default_factory=dict)
    exit_codes: Dict[str, int] = field(default_factory=dict)
    answer: Histogram = field(default_factory=Histogram)
    response: Histogram = field(default_factory=Histogram)

    def times(self, kind: str, percentiles: List[Percentile]) -> Dict[str, Optional[float]]:
        """One kind of time in ms: its commands, the chosen percentiles and the maximum."""
        histogram = self.answer if kind == "answer" else self.response
        values: Dict[str, Optional[float]] = {"commands": histogram.count}
        for percentile in percentiles:
            values[percentile.name] = histogram.quantile_ms(percentile.fraction)
        values["max"] = histogram.max_ms()
        return values

    def threshold_values(self, percentiles: List[Percentile]) -> Dict[str, Optional[float]]:
        values: Dict[str, Optional[float]] = {
            "rate": self.rate, "commands": self.commands, "failures": self.failures,
            "malformed": self.malformed, "late_ticks": self.ticks.get("late_ticks"),
            "skipped_ticks": self.ticks.get("skipped_ticks")}
        for kind in TIME_KINDS:
            times = self.times(kind, percentiles)
            for statistic in (*(p.name for p in percentiles), "max"):
                values[time_figure(kind, statistic)] = times[statistic]
        return values

    def as_dict(self, percentiles: List[Percentile]) -> dict:
        times = {f"{kind}_ms": {key: value if key == "commands" or value is None else round(value, 6)
                                for key, value in self.times(kind, percentiles).items()}
                 for kind in TIME_KINDS}
        return {
            "generators": self.generators, "registered": self.registered,
            "commands": self.commands, "bytes": self.bytes, "rate": round(self.rate, 3),
            "window": self.window.as_dict(), "failures": self.failures, "malformed": self.malformed,
            **self.ticks, **times, "exit_codes": self.exit_codes,
        }


def figures_of(name: str, results: List[GeneratorResult], window: Window, window_commands: int,
               malformed: Optional[int] = None) -> Figures:
    """A group's or the run's figures. window_commands: the hub's count in
    the window's whole seconds (unused for a whole-run window, whose rate
    is every command over the run's time)."""
    closings = [r.closing for r in results if r.closing is not None]
    figures = Figures(name, window, generators=len(results))
    figures.registered = sum(r.registered for r in results)
    # The hub counts per device: a device's runs share its counts.
    devices = {r.device: r for r in results}.values()
    figures.commands = sum(r.commands for r in devices)
    figures.bytes = sum(r.bytes for r in devices)
    counted = figures.commands if window.whole_seconds is None else window_commands
    figures.rate = counted / window.seconds if window.seconds > 0 else 0.0
    figures.failures = _sum_or_none(closings, "failures")
    figures.malformed = sum(r.malformed for r in devices) if malformed is None else malformed
    figures.ticks = {key: _sum_or_none(closings, key) for key in TICK_KEYS}
    figures.exit_codes = dict(sorted(Counter(exit_code_text(r) for r in results).items()))
    figures.answer = pooled([c.answer for c in closings])
    figures.response = pooled([c.response for c in closings])
    return figures
