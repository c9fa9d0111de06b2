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
GROUP_KEYS = ("devices", *PAIR_LIMITS, "seed")
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


@dataclass
class Group:
    name: str
    devices: List[int]
    pairs: Dict[str, Tuple[int, int]] = field(default_factory=dict)
    seed: Optional[int] = None

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
                         "seed": g.seed}
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

    def group(self, section: _Section) -> Group:
        if section.name == "all":
            self.fail(section, None, "a group cannot be called all: the name stands for every group")
        self.refuse_unknown(section, GROUP_KEYS)
        group = Group(section.name, self.devices(section))
        for key in PAIR_LIMITS:
            if key in section.keys:
                group.pairs[key] = self.pair(section, key)
        if "seed" in section.keys:
            group.seed = self.whole(section, "seed", 0, 2**31 - 1 - len(group.devices))
        return group

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
    groups = [reader.group(s) for name, s in sections.items() if name not in NOT_GROUPS]
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
    return Scenario(path, file_seconds if seconds is None else seconds, hub, groups, percentiles, thresholds)
