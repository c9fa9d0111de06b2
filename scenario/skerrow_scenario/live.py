"""The live line: once a second, how far the run is, what each group sends,
how many generators the hub holds and whether anything was malformed."""

import os
import sys
from typing import Dict, List, Optional, TextIO

from .growing import GrowingFile
from .scenariofile import Scenario


class SeriesTail:
    """The hub's --series CSV as it grows: commands per device and second."""

    def __init__(self, path: str):
        self._file = GrowingFile(path)
        self._header = True
        self.commands: Dict[int, Dict[str, int]] = {}  # second -> device -> commands
        self.last_second = 0

    def read(self):
        for line in self._file.new_lines():
            if self._header:
                self._header = False
                continue
            fields = line.split(",")
            if len(fields) != 4 or not fields[0].isdigit() or not fields[2].isdigit():
                continue
            second = int(fields[0])
            self.commands.setdefault(second, {})[fields[1]] = int(fields[2])
            self.last_second = max(self.last_second, second)

    def in_second(self, second: int, devices: List[int]) -> int:
        counts = self.commands.get(second, {})
        return sum(counts.get(str(device), 0) for device in devices)


def _rate(value: int) -> str:
    return f"{value}/s"


class LiveLine:
    """Writes the live line; on a terminal it rewrites one line in place."""

    def __init__(self, scenario: Scenario, out: TextIO = sys.stdout):
        self.scenario = scenario
        self.out = out
        self.in_place = out.isatty() and os.environ.get("TERM") != "dumb"
        self._shown = False

    def text(self, elapsed: float, series: SeriesTail, registered: Optional[int],
             malformed: int) -> str:
        second = series.last_second
        parts = [f"{elapsed:5.0f}/{self.scenario.seconds:g} s"]
        total = 0
        for group in self.scenario.groups:
            commands = series.in_second(second, group.devices)
            total += commands
            parts.append(f"{group.name} {_rate(commands)}")
        parts.append(f"all {_rate(total)}")
        held = "?" if registered is None else str(registered)
        parts.append(f"registered {held}/{self.scenario.generator_count()}")
        parts.append(f"malformed {malformed}")
        return " | ".join(parts)

    def show(self, text: str):
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
