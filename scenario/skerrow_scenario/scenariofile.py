"""Reading a scenario file: an INI file of a [scenario] section, an optional
[hub] section, an optional [thresholds] section and one section per group of
generators.

Everything is checked before any process starts, so that a mistake costs
nothing but a message naming the file, the section and the key.
"""

import re
from dataclasses import dataclass, field
from fractions import Fraction
from typing import Dict, List, Optional, Tuple

from .thresholds import Condition, figure_names, parse_condition

# The generator's own limits (the spin boxes of its form), so that a value it
# would clamp silently is refused here with its name.
PAIR_LIMITS = {"mpt": 1000, "ms": 1024, "s": 1024, "tt": 60000}
# When a group's generators run, in seconds from the run's start: a window
# (start, stop, ramp) or bursts (at, for, ramp).
SCHEDULE_KEYS = ("start", "stop", "ramp", "at", "for")
GROUP_KEYS = ("devices", *PAIR_LIMITS, "seed", *SCHEDULE_KEYS)
SCENARIO_KEYS = ("seconds", "percentiles")
DEFAULT_PERCENTILES = "50,90,99,99.9"
PERCENTILE = re.compile(r"([0-9]+)(?:\.([0-9]+))?")
# A section of conditions, one a line, not of keys.
THRESHOLDS = "thresholds"
NOT_GROUPS = ("scenario", "hub", THRESHOLDS)
# [hub] keys and the kivstandin option each becomes.
HUB_KEYS = {
    "devices": "--devices",
    "grace": "--grace",
    "driver-mode": "--driver-mode",
    "register-reply": "--register-reply",
}
# Each generator is a Qt process; more than this would swamp a workstation
# long before it loads the hub.
MAX_GENERATORS = 256
MAX_SECONDS = 1_000_000


def _digits(text: str) -> bool:
    """Decimal digits only: str.isdigit alone takes superscripts and other scripts' digits."""
    return text.isascii() and text.isdigit()


class ScenarioError(Exception):
    """A scenario file that cannot be run, and where it goes wrong."""

    def __init__(self, path: str, problem: str, section: Optional[str] = None,
                 key: Optional[str] = None, line: Optional[int] = None):
        self.path, self.problem = path, problem
        self.section, self.key, self.line = section, key, line
        super().__init__(str(self))

    def __str__(self) -> str:
        where = self.path
        if self.line is not None:
            where += f":{self.line}"
        if self.section is not None:
            where += f": section [{self.section}]"
        if self.key is not None:
            where += f", key {self.key}"
        return f"{where}: {self.problem}"


@dataclass(frozen=True)
class Percentile:
    """A percentile of the summary: label "99.9", figure name "p999"."""
    label: str
    fraction: Fraction  # of 1, exact, for nearest ranks

    @property
    def name(self) -> str:
        return "p" + self.label.replace(".", "")

    @classmethod
    def of(cls, text: str) -> Optional["Percentile"]:
        """The percentile written as text (decimal digits), None if it is not one in (0, 100]."""
        match = PERCENTILE.fullmatch(text)
        if not match:
            return None
        whole, decimals = match.group(1).lstrip("0") or "0", (match.group(2) or "").rstrip("0")
        label = f"{whole}.{decimals}" if decimals else whole
        fraction = Fraction(label) / 100
        return cls(label, fraction) if 0 < fraction <= 1 else None


# A span of the run in seconds from its start; an end of None is the run's end.
Span = Tuple[float, Optional[float]]


@dataclass
class Group:
    name: str
    devices: List[int]
    pairs: Dict[str, Tuple[int, int]] = field(default_factory=dict)
    seed: Optional[int] = None
    start: float = 0.0
    stop: Optional[float] = None
    ramp: float = 0.0
    bursts: List[float] = field(default_factory=list)  # at=
    burst_seconds: Optional[float] = None  # for=

    @property
    def shaped(self) -> bool:
        """Whether the group runs in windows of the run rather than all of it."""
        return bool(self.windows())

    def windows(self) -> List[Span]:
        """Its bursts, or its start/stop window; none when it runs from the start to the end."""
        if self.bursts:
            return [(at, at + self.burst_seconds) for at in self.bursts]
        if self.start > 0 or self.stop is not None:
            return [(self.start, self.stop)]
        return []

    def schedule_text(self) -> str:
        """When it runs, as the scenario file says it; empty for all of the run at once."""
        parts = []
        if self.bursts:
            parts.append(f"at {', '.join(f'{at:g}' for at in self.bursts)} s for {self.burst_seconds:g} s")
        elif self.shaped:
            parts.append(f"from {self.start:g} s" + ("" if self.stop is None else f" to {self.stop:g} s"))
        if self.ramp:
            parts.append(f"ramp {self.ramp:g} s")
        return " ".join(parts)

    def runs(self, index: int) -> List[Span]:
        """When the group's generator number index runs: once in its window,
        or once in each burst, a ramp's share later than the first."""
        offset = self.ramp * index / (len(self.devices) - 1) if len(self.devices) > 1 else 0.0
        return [(begin + offset, end) for begin, end in self.windows() or [(0.0, None)]]

    def switches(self, index: int) -> List[str]:
        """The generator switches of the group's generator number index."""
        result = [f"/{key}={low},{high}" for key, (low, high) in self.pairs.items()]
        if self.seed is not None:
            result.append(f"/seed={self.seed + index}")
        return result


@dataclass
class Scenario:
    path: str
    seconds: float
    hub: Dict[str, str]
    groups: List[Group]
    percentiles: List[Percentile]
    thresholds: List[Condition]

    def hub_arguments(self) -> List[str]:
        arguments: List[str] = []
        for key, value in self.hub.items():
            arguments += [HUB_KEYS[key], value]
        return arguments

    def generator_count(self) -> int:
        return sum(len(group.devices) for group in self.groups)

    def as_dict(self) -> dict:
        return {
            "file": self.path,
            "seconds": self.seconds,
            "hub": dict(self.hub),
            "groups": {
                g.name: {"devices": g.devices,
                         "pairs": {k: list(v) for k, v in g.pairs.items()},
                         "seed": g.seed, "start": g.start, "stop": g.stop, "ramp": g.ramp,
                         "at": g.bursts, "for": g.burst_seconds}
                for g in self.groups
            },
            "percentiles": [float(p.label) for p in self.percentiles],
            "thresholds": [c.text for c in self.thresholds],
        }


@dataclass
class _Section:
    name: str
    line: int
    keys: Dict[str, Tuple[str, int]] = field(default_factory=dict)
    lines: List[Tuple[str, int]] = field(default_factory=list)  # [thresholds]: whole lines


def _read_sections(path: str, text: str) -> List[_Section]:
    """Sections in file order. Names of sections and keys are taken without
    regard to letter case, as the family's profile files take them."""
    sections: List[_Section] = []
    seen: Dict[str, _Section] = {}
    current: Optional[_Section] = None
    for number, raw in enumerate(text.splitlines(), start=1):
        line = raw.strip()
        if not line or line[0] in ";#":
            continue
        if line.startswith("["):
            if not line.endswith("]") or not line[1:-1].strip():
                raise ScenarioError(path, f"not a section header: {line}", line=number)
            name = line[1:-1].strip().lower()
            if name in seen:
                raise ScenarioError(path, f"the section appears twice (first on line {seen[name].line})",
                                    section=name, line=number)
            current = seen[name] = _Section(name, number)
            sections.append(current)
            continue
        if current is not None and current.name == THRESHOLDS:
            current.lines.append((line, number))
            continue
        if "=" not in line:
            raise ScenarioError(path, f"neither [section] nor key=value: {line}",
                                section=current.name if current else None, line=number)
        key, value = (part.strip() for part in line.split("=", 1))
        key = key.lower()
        if current is None:
            raise ScenarioError(path, "a key before the first section", key=key, line=number)
        if not key:
            raise ScenarioError(path, f"a value without a key: {line}", section=current.name, line=number)
        if key in current.keys:
            raise ScenarioError(path, f"the key appears twice (first on line {current.keys[key][1]})",
                                section=current.name, key=key, line=number)
        current.keys[key] = (value, number)
    return sections


class _Reader:
    """Turns the sections into a scenario, raising on the first mistake."""

    def __init__(self, path: str):
        self.path = path

    def fail(self, section: _Section, key: Optional[str], problem: str):
        line = section.keys[key][1] if key in section.keys else section.line
        raise ScenarioError(self.path, problem, section=section.name, key=key, line=line)

    def refuse_unknown(self, section: _Section, known):
        for key in section.keys:
            if key not in known:
                self.fail(section, key, f"unknown key (known here: {', '.join(known)})")

    def whole(self, section: _Section, key: str, low: int, high: int, text: Optional[str] = None) -> int:
        value = section.keys[key][0] if text is None else text
        if not _digits(value):
            self.fail(section, key, f"not a whole number: {value!r}")
        number = int(value)
        if not low <= number <= high:
            self.fail(section, key, f"{number} is outside {low}..{high}")
        return number

    def positive_seconds(self, section: _Section, key: str) -> float:
        value = section.keys[key][0]
        try:
            seconds = float(value)
        except ValueError:
            seconds = float("nan")
        if not 0 < seconds <= MAX_SECONDS:
            self.fail(section, key, f"not a number of seconds above 0: {value!r}")
        return seconds

    def seconds_from_start(self, section: _Section, key: str, text: Optional[str] = None) -> float:
        value = section.keys[key][0] if text is None else text
        try:
            seconds = float(value)
        except ValueError:
            seconds = float("nan")
        if not 0 <= seconds <= MAX_SECONDS:
            self.fail(section, key, f"not a number of seconds from 0: {value!r}")
        return seconds

    def percentiles(self, section: _Section) -> List[Percentile]:
        text = section.keys["percentiles"][0] if "percentiles" in section.keys else DEFAULT_PERCENTILES
        chosen: List[Percentile] = []
        for item in (part.strip() for part in text.split(",")):
            percentile = Percentile.of(item)
            if percentile is None:
                self.fail(section, "percentiles", f"not a percentile above 0 and up to 100: {item!r}")
            if any(p.name == percentile.name for p in chosen):
                self.fail(section, "percentiles", f"{item} gives the figure {percentile.name} twice")
            chosen.append(percentile)
        return chosen

    def thresholds(self, section: Optional[_Section], groups: List[str],
                   percentiles: List[Percentile]) -> List[Condition]:
        if section is None:
            return []
        figures = figure_names([p.name for p in percentiles])
        conditions = []
        for text, line in section.lines:
            try:
                conditions.append(parse_condition(text, line, [*groups, "all"], figures))
            except ValueError as error:
                raise ScenarioError(self.path, f"{error}: {text}", section=THRESHOLDS, line=line) from None
        return conditions

    def pair(self, section: _Section, key: str) -> Tuple[int, int]:
        value = section.keys[key][0]
        parts = [p.strip() for p in value.split(",")]
        if len(parts) != 2:
            self.fail(section, key, f"not a pair MIN,MAX: {value!r}")
        low, high = (self.whole(section, key, 0, PAIR_LIMITS[key], p) for p in parts)
        if low > high:
            self.fail(section, key, f"MIN {low} is above MAX {high}")
        return low, high

    def devices(self, section: _Section) -> List[int]:
        if "devices" not in section.keys:
            self.fail(section, None, "a group needs a key devices (a number, a range A-B or a list of those)")
        value = section.keys["devices"][0]
        devices: List[int] = []
        for item in (p.strip() for p in value.split(",")):
            ends = [e.strip() for e in item.split("-")]
            if len(ends) > 2 or not all(_digits(e) for e in ends):
                self.fail(section, "devices", f"not a device number or range A-B: {item!r}")
            low, high = int(ends[0]), int(ends[-1])
            if low < 1:
                self.fail(section, "devices", f"device numbers begin at 1: {item!r}")
            if low > high:
                self.fail(section, "devices", f"the range {item} runs backwards")
            if high - low >= MAX_GENERATORS:
                self.fail(section, "devices", f"the range {item} holds more than {MAX_GENERATORS} devices")
            for device in range(low, high + 1):
                if device in devices:
                    self.fail(section, "devices", f"device {device} is named twice")
                devices.append(device)
        return devices

    def group(self, section: _Section, run_end: "_RunEnd") -> Group:
        if section.name == "all":
            self.fail(section, None, "a group cannot be called all: the name stands for every group")
        self.refuse_unknown(section, GROUP_KEYS)
        group = Group(section.name, self.devices(section))
        for key in PAIR_LIMITS:
            if key in section.keys:
                group.pairs[key] = self.pair(section, key)
        if "seed" in section.keys:
            group.seed = self.whole(section, "seed", 0, 2**31 - 1 - len(group.devices))
        if "at" in section.keys or "for" in section.keys:
            self.bursts(section, group, run_end)
        else:
            self.window(section, group, run_end)
        return group

    def window(self, section: _Section, group: Group, run_end: "_RunEnd"):
        keys = section.keys
        if "start" in keys:
            group.start = self.seconds_from_start(section, "start")
            if group.start >= run_end.seconds:
                self.fail(section, "start", f"start={group.start:g} is not before {run_end}")
        if "stop" in keys:
            group.stop = self.seconds_from_start(section, "stop")
            if group.stop <= group.start:
                self.fail(section, "stop", f"stop={group.stop:g} is not after start={group.start:g}")
            if group.stop > run_end.seconds:
                self.fail(section, "stop", f"stop={group.stop:g} is past {run_end}")
        if "ramp" in keys:
            group.ramp = self.seconds_from_start(section, "ramp")
            end = run_end.seconds if group.stop is None else group.stop
            if group.start + group.ramp >= end:
                self.fail(section, "ramp", f"its last generator would start at {group.start + group.ramp:g} s, "
                                           f"not before its window ends at {end:g} s")

    def bursts(self, section: _Section, group: Group, run_end: "_RunEnd"):
        """Bursts: at=S1,S2,... and for=S. One generator per device runs
        each burst, so that a device's bursts must not overlap."""
        keys = section.keys
        for given, needed in (("at", "for"), ("for", "at")):
            if needed not in keys:
                self.fail(section, given, f"{given} needs {needed}: bursts at=S1,S2,... each lasting for=S seconds")
        for key in ("start", "stop"):
            if key in keys:
                self.fail(section, key, f"{key} does not go with at and for: each burst starts at its second "
                                        "and stops for seconds later")
        length = self.seconds_from_start(section, "for")
        if length == 0:
            self.fail(section, "for", "a burst lasts more than 0 seconds")
        starts = sorted(self.seconds_from_start(section, "at", item.strip()) for item in keys["at"][0].split(","))
        for earlier, later in zip(starts, starts[1:]):
            if later < earlier + length:
                self.fail(section, "at", f"the bursts at {earlier:g} and {later:g} overlap (each lasts for={length:g} "
                                         "s): a device's next burst begins once its last has ended")
        if starts[-1] + length > run_end.seconds:
            self.fail(section, "at", f"the burst at {starts[-1]:g} lasts to {starts[-1] + length:g} s, past {run_end}")
        if "ramp" in keys:
            group.ramp = self.seconds_from_start(section, "ramp")
            if group.ramp >= length:
                self.fail(section, "ramp", f"ramp={group.ramp:g} leaves no time of a burst of for={length:g} s "
                                           "to its last generator")
        group.bursts, group.burst_seconds = starts, length

    def hub(self, section: Optional[_Section]) -> Dict[str, str]:
        if section is None:
            return {}
        self.refuse_unknown(section, HUB_KEYS)
        options: Dict[str, str] = {}
        for key, (value, _) in section.keys.items():
            if key == "devices":
                self.whole(section, key, 0, 2**31 - 1)
            elif key == "grace":
                try:
                    grace = float(value)
                except ValueError:
                    grace = -1.0
                if not 0 <= grace <= 3600:
                    self.fail(section, key, f"not a number of seconds from 0 to 3600: {value!r}")
            elif key == "driver-mode" and value not in ("on", "off"):
                self.fail(section, key, f"on or off, not {value!r}")
            elif key == "register-reply":
                digits = value[1:] if value.startswith("-") else value
                if not _digits(digits) or abs(int(value)) >= 2**31:
                    self.fail(section, key, f"not a whole number: {value!r}")
            options[key] = value
        return options


@dataclass
class _RunEnd:
    """The end of the run that windows and bursts must fit in, and where its seconds came from."""
    seconds: float
    overridden: bool

    def __str__(self) -> str:
        return f"the run's end at {self.seconds:g} s{' (--seconds)' if self.overridden else ''}"


def read_scenario(path: str, seconds: Optional[float] = None) -> Scenario:
    """The scenario in the file at path; seconds, when given, replaces the
    file's run time (which the file must have all the same)."""
    try:
        with open(path, encoding="utf-8") as stream:
            text = stream.read()
    except (OSError, UnicodeDecodeError) as error:
        raise ScenarioError(path, f"cannot read it: {error}") from None
    reader = _Reader(path)
    sections = {s.name: s for s in _read_sections(path, text)}
    if "scenario" not in sections:
        raise ScenarioError(path, "no [scenario] section (it holds seconds=N)", section="scenario")
    head = sections["scenario"]
    reader.refuse_unknown(head, SCENARIO_KEYS)
    if "seconds" not in head.keys:
        reader.fail(head, "seconds", "missing: how long the traffic runs, in seconds")
    file_seconds = reader.positive_seconds(head, "seconds")
    percentiles = reader.percentiles(head)
    hub = reader.hub(sections.get("hub"))
    run_end = _RunEnd(file_seconds if seconds is None else seconds, seconds is not None)
    groups = [reader.group(s, run_end) for name, s in sections.items() if name not in NOT_GROUPS]
    if not groups:
        raise ScenarioError(path, "no group: every section other than [scenario], [hub] and "
                                  "[thresholds] is one")
    owner: Dict[int, str] = {}
    for group in groups:
        for device in group.devices:
            if device in owner:
                reader.fail(sections[group.name], "devices", f"device {device} is in [{owner[device]}] too")
            owner[device] = group.name
    if len(owner) > MAX_GENERATORS:
        raise ScenarioError(path, f"{len(owner)} generators; at most {MAX_GENERATORS} run at once")
    thresholds = reader.thresholds(sections.get(THRESHOLDS), [g.name for g in groups], percentiles)
    return Scenario(path, run_end.seconds, hub, groups, percentiles, thresholds)
