"""Per-second series per group on the hub's seconds: the hub's commands,
and the answer and response times and late ticks pooled from the
generators' second lines; and, for a group that runs in windows or bursts,
what every other group did in the seconds inside them and outside."""

import heapq
import math
from dataclasses import dataclass, field
from fractions import Fraction
from typing import Dict, Iterator, List, Optional, Sequence, Tuple

from .generatorlines import GeneratorLine, parse_second
from .histogram import Histogram
from .hubfiles import HubSeries

P50, P99 = Fraction(1, 2), Fraction(99, 100)
# A second's pooled figures: these times, then its late ticks.
TIME_KEYS = ("answer_ms_p50", "answer_ms_p99", "response_ms_p99")
SecondFigures = Tuple[Optional[float], Optional[float], Optional[float], int]


def hub_second(line: GeneratorLine, origin: int) -> int:
    """The hub's second (counted from 1) that holds the line's interval.
    Both count the wall clock's seconds, so an interval lies inside one of
    the hub's; its middle is taken all the same, in case the clocks differ
    by a little."""
    middle = line.figures["utc"] - line.figures["seconds"] / 2 - origin
    return math.floor(middle) + 1


@dataclass
class _SecondPool:
    answer: Histogram = field(default_factory=Histogram)
    response: Histogram = field(default_factory=Histogram)
    late_ticks: int = 0

    def add(self, line: GeneratorLine):
        self.answer.pool(line.answer)
        self.response.pool(line.response)
        self.late_ticks += line.count("late_ticks")

    def figures(self) -> SecondFigures:
        return (self.answer.quantile_ms(P50), self.answer.quantile_ms(P99),
                self.response.quantile_ms(P99), self.late_ticks)


def _second_lines(path: str, group: str, origin: int) -> Iterator[Tuple[int, str, GeneratorLine]]:
    """A generator's second lines with their hub seconds, never going back,
    so that a wall clock stepped back cannot unsort the merge."""
    try:
        stream = open(path, "rb")
    except OSError:
        return
    previous = 1
    with stream:
        for raw in stream:
            line = parse_second(raw.decode("latin-1"))
            if line is not None:
                previous = max(previous, hub_second(line, origin))
                yield previous, group, line


@dataclass
class Split:
    """The hub's seconds of a run split by a group's windows (its start/stop
    window or its bursts, on the series' time axis): those that overlap one
    even in part are inside, the rest outside."""
    group: str
    windows: List[Tuple[float, float]]
    inside: List[int]
    outside: List[int]


def split_seconds(group: str, windows: List[Tuple[float, float]], first: int, last: int) -> Split:
    """The split of the hub's seconds first..last; second k covers [k - 1, k)."""
    inside, outside = [], []
    for second in range(first, last + 1):
        overlaps = any(second - 1 < end and second > start for start, end in windows)
        (inside if overlaps else outside).append(second)
    return Split(group, windows, inside, outside)


SIDES = ("inside", "outside")


class SplitPools:
    """Per split, side and other group, the response histograms of the
    group's second lines in that side's seconds, pooled as the seconds go
    by: the side's percentiles are those of every command in it."""

    def __init__(self, splits: List[Split]):
        self._sides: Dict[int, List[Tuple[str, str]]] = {}
        for split in splits:
            for side in SIDES:
                for second in getattr(split, side):
                    self._sides.setdefault(second, []).append((split.group, side))
        self._pools: Dict[Tuple[str, str, str], Histogram] = {}

    def add(self, second: int, group: str, response: Histogram):
        for shaped, side in self._sides.get(second, ()):
            if group != shaped:
                self._pools.setdefault((shaped, side, group), Histogram()).pool(response)

    def response(self, shaped: str, side: str, group: str) -> Histogram:
        return self._pools.get((shaped, side, group), Histogram())


def _side_figures(seconds: Sequence[int], commands: List[int], response: Histogram) -> dict:
    counted = sum(commands[second - 1] for second in seconds if second <= len(commands))
    return {"seconds": len(seconds), "commands": counted,
            "rate": round(counted / len(seconds), 3) if seconds else None,
            "responses": response.count, "response_ms_p50": _ms(response.quantile_ms(P50)),
            "response_ms_p99": _ms(response.quantile_ms(P99))}


def inside_outside(splits: List[Split], commands: Dict[str, List[int]], pools: SplitPools) -> Dict[str, dict]:
    """Per shaped group: its windows, the seconds inside and outside them,
    and every other group's commands, rate and response p50 and p99 in each.
    commands: per group, the hub's commands per second from second 1."""
    result = {}
    for split in splits:
        others = {group: {side: _side_figures(getattr(split, side), counts, pools.response(split.group, side, group))
                          for side in SIDES}
                  for group, counts in commands.items() if group != split.group}
        result[split.group] = {"windows": [[round(a, 3), round(b, 3)] for a, b in split.windows],
                               "inside_seconds": split.inside, "outside_seconds": split.outside,
                               "groups": others}
    return result


def generator_seconds(sources: List[Tuple[str, str]], origin: int,
                      splits: Optional[SplitPools] = None) -> Dict[str, Dict[int, SecondFigures]]:
    """Per group and hub second, the figures of its generators' second
    lines pooled, and each second's response histograms added to splits.
    sources: (group, stderr file) per generator. The files are read side by
    side in time order, so that only one second's histograms are held at a
    time however long the run."""
    result: Dict[str, Dict[int, SecondFigures]] = {group: {} for group, _ in sources}
    pools: Dict[str, _SecondPool] = {}
    current = 0
    merged = heapq.merge(*(_second_lines(path, group, origin) for group, path in sources),
                         key=lambda item: item[0])
    for second, group, line in merged:
        if second != current:
            _close_second(pools, current, result, splits)
            current = second
        pools.setdefault(group, _SecondPool()).add(line)
    _close_second(pools, current, result, splits)
    return result


def _close_second(pools: Dict[str, _SecondPool], second: int, result: Dict[str, Dict[int, SecondFigures]],
                  splits: Optional[SplitPools]):
    for group, pool in pools.items():
        result[group][second] = pool.figures()
        if splits is not None:
            splits.add(second, group, pool.response)
    pools.clear()


def _ms(value: Optional[float]) -> Optional[float]:
    return None if value is None else round(value, 6)


def group_series(groups: List[str], hub: HubSeries, pooled: Dict[str, Dict[int, SecondFigures]],
                 seconds: int) -> Dict[str, Dict[str, list]]:
    """Per group, its series over the hub's seconds 1..seconds: commands,
    the time figures (None in a second without a generator line) and late ticks."""
    result = {}
    for group in groups:
        figures = pooled.get(group, {})
        rows = [figures.get(second, (None, None, None, 0)) for second in range(1, seconds + 1)]
        entry: Dict[str, list] = {"commands": hub.commands(group, seconds)}
        for index, key in enumerate(TIME_KEYS):
            entry[key] = [_ms(row[index]) for row in rows]
        entry["late_ticks"] = [row[3] for row in rows]
        result[group] = entry
    return result


def last_pooled_second(pooled: Dict[str, Dict[int, SecondFigures]]) -> int:
    return max((max(seconds, default=0) for seconds in pooled.values()), default=0)
