"""The live line: once a second, how far the run is, what each group sends
and how long its commands waited, how many generators the hub holds and
whether anything was malformed."""

import os
import sys
from typing import Dict, List, Optional, TextIO, Tuple

from .generatorlines import parse_second
from .growing import GrowingFile
from .histogram import Histogram
from .scenariofile import Scenario
from .series import P99, hub_second


class ResponseTail:
    """The generators' second lines as their stderr files grow, pooled per
    group and hub second, so that the live line shows a group's response p99
    of the same second as its rate. Seconds already shown are dropped."""

    def __init__(self, files: List[Tuple[str, str]]):
        self._files = [(group, GrowingFile(path)) for group, path in files]
        self._pools: Dict[int, Dict[str, Histogram]] = {}

    def read(self, origin: int):
        for group, growing in self._files:
            for text in growing.new_lines():
                line = parse_second(text)
                if line is not None:
                    second = self._pools.setdefault(hub_second(line, origin), {})
                    second.setdefault(group, Histogram()).pool(line.response)

    def take_p99(self, second: int) -> Dict[str, Optional[float]]:
        """Each group's response p99 in the hub's second; that second and
        those before it are forgotten."""
        pools = self._pools.get(second, {})
        for old in [s for s in self._pools if s <= second]:
            del self._pools[old]
        return {group: pool.quantile_ms(P99) for group, pool in pools.items()}


def _p99(value: Optional[float]) -> str:
    """About three digits, so that the line stays short from microseconds to seconds."""
    if value is None:
        return "-"
    decimals = 0 if value >= 100 else 1 if value >= 10 else 2
    return f"{value:.{decimals}f}ms"


class LiveLine:
    """Writes the live line; on a terminal it rewrites one line in place."""

    def __init__(self, scenario: Scenario, out: TextIO = sys.stdout):
        self.scenario = scenario
        self.out = out
        self.in_place = out.isatty() and os.environ.get("TERM") != "dumb"
        self._shown = False
        self._last = ""

    def text(self, elapsed: float, rates: Dict[str, int], p99: Dict[str, Optional[float]],
             registered: Tuple[Optional[int], int], malformed: Optional[int]) -> str:
        """registered: of the generators in their run now, how many the hub holds, and how many they are."""
        parts = [f"{elapsed:5.0f}/{self.scenario.seconds:g} s"]
        for group in self.scenario.groups:
            parts.append(f"{group.name} {rates[group.name]}/s p99 {_p99(p99.get(group.name))}")
        parts.append(f"all {sum(rates.values())}/s")
        held, due = registered
        parts.append(f"registered {'?' if held is None else held}/{due}")
        parts.append(f"malformed {'?' if malformed is None else malformed}")
        return " | ".join(parts)

    def show(self, text: str):
        """Writes the line, unless it says what the line before said."""
        if text == self._last:
            return
        self._last = text
        if self.in_place:
            self.out.write("\r\033[K" + text)
        else:
            self.out.write(text + "\n")
        self.out.flush()
        self._shown = True

    def finish(self):
        """Ends a line rewritten in place, so that what follows starts below it."""
        if self.in_place and self._shown:
            self.out.write("\n")
            self.out.flush()
        self._shown = False
