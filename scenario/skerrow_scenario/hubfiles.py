"""What the hub writes for the runner: its summary JSON (--summary) and its
CSV series of commands per device and second (--series)."""

import json
import math
from typing import Dict, List

from .growing import GrowingFile
from .scenariofile import Group

# Replies by which the hub refuses a registration.
REFUSALS = (1, 2, 3)


def read_summary(path: str) -> dict:
    """The hub's summary, empty when it wrote none (or none whole)."""
    try:
        with open(path, encoding="utf-8") as stream:
            summary = json.load(stream)
    except (OSError, ValueError):
        return {}
    return summary if isinstance(summary, dict) else {}


def series_origin(started_utc: float) -> int:
    """The wall clock's second in which the hub started: the hub's series
    counts the wall clock's seconds from it, second k covering [k - 1, k)
    on the time axis that begins there."""
    return math.floor(started_utc)


def registration_times(summary: dict, started_utc: float) -> Dict[int, List[float]]:
    """Per device, when the hub took its registrations, in order, on the
    series' time axis (its registration times count from the hub's start)."""
    offset = started_utc - series_origin(started_utc)
    times: Dict[int, List[float]] = {}
    for entry in summary.get("registrations", []):
        if entry.get("reply") not in REFUSALS:
            times.setdefault(int(entry["device"]), []).append(float(entry["time"]) + offset)
    return times


def malformed_of(summary: dict, devices: List[int]) -> int:
    counts = summary.get("malformed_devices", {})
    return sum(int(counts.get(str(device), 0)) for device in devices)


class HubSeries:
    """The hub's series file as it grows, summed per group as it is read:
    a long run with many devices keeps a number per group and second, not
    per device. The file is sparse (a device without commands in a second
    has no row); its header and any torn row are passed over."""

    def __init__(self, path: str, groups: List[Group]):
        self._file = GrowingFile(path)
        self._group_of = {str(device): g.name for g in groups for device in g.devices}
        self._commands: Dict[str, List[int]] = {g.name: [] for g in groups}  # [second - 1]
        self.last_second = 0

    def read(self):
        for line in self._file.new_lines():
            fields = line.split(",")
            if len(fields) != 4 or not all(f.isascii() and f.isdigit() for f in (fields[0], fields[2])):
                continue
            second = int(fields[0])
            self.last_second = max(self.last_second, second)
            group = self._group_of.get(fields[1])
            if second < 1 or group is None:
                continue
            counts = self._commands[group]
            if len(counts) < second:
                counts.extend([0] * (second - len(counts)))
            counts[second - 1] += int(fields[2])

    def commands(self, group: str, seconds: int) -> List[int]:
        """The group's commands in each second from 1 to seconds."""
        counts = self._commands[group][:seconds]
        return counts + [0] * (seconds - len(counts))

    def in_seconds(self, group: str, first: int, last: int) -> int:
        return sum(self._commands[group][first - 1:last])
