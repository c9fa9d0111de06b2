"""Runs of one scenario on several workstations, one hub each, read as one
result: commands and rates added, times pooled exactly from every
generator's closing histograms (as a run pools its own), thresholds
judged again on the whole, and the per-second series laid on one time
axis by the wall-clock second each hub started in.

A merged report keeps the keys of a run's report, so that the summary, the
HTML report and the chart read it as they read a run's, and adds
"workstations": one entry per report merged."""

import json
import math
import os
from collections import Counter
from dataclasses import dataclass, field
from datetime import datetime, timezone
from typing import Callable, Dict, List, Optional, Tuple

from .figures import TICK_KEYS, Figures
from .histogram import Histogram, pooled
from .report import SCHEMA, inside_outside_tables, summary_tables
from .scenariofile import Group, Percentile, Scenario
from .series import TIME_KEYS, SplitPools, inside_outside, split_seconds
from .thresholds import Condition, Outcome, evaluate, figure_names, outcome_table, parse_condition
from .workstation import label_of

# The hub's counts that add up over workstations.
HUB_COUNTS = ("messages", "bytes", "malformed", "bad_frames", "registrations_dropped", "drivers")
# What the report's series of a second gives for its times: no second's
# histograms are kept, so the merge takes the highest of the workstations'
# values, at or above what pooling them would give.
SERIES_TIMES = "the highest of the workstations' values in the second"


class MergeError(Exception):
    """Reports that cannot be read as one run, and why."""


@dataclass
class Source:
    """One workstation's report and where its seconds fall on the merged axis."""
    path: str
    report: dict
    label: str
    origin: int  # the wall-clock second (Unix) its hub started in: its series' time axis begins there
    shift: int = 0  # its hub's second k is the merged axis' second k + shift

    def moment(self, value: Optional[float]) -> Optional[float]:
        """A moment on its series' time axis, on the merged one."""
        return None if value is None else round(value + self.shift, 3)


@dataclass
class MergeResult:
    report: dict
    scenario: Scenario
    problems: List[str] = field(default_factory=list)
    outcomes: List[Outcome] = field(default_factory=list)
    closed_at: float = 0.0
    windows: Dict[str, List[Tuple[float, float]]] = field(default_factory=dict)
    summary: str = ""


def read_report(path: str) -> dict:
    try:
        with open(path, encoding="utf-8") as stream:
            report = json.load(stream)
    except (OSError, ValueError) as error:
        raise MergeError(f"{path}: cannot read it as a report: {error}") from None
    if not isinstance(report, dict):
        raise MergeError(f"{path}: not a report (a JSON object)")
    return report


def series_origin(report: dict, path: str) -> int:
    """The wall-clock second the run's series counts from. The runner took
    it from the hub's own start (in its summary); the report's started_utc
    is the runner's reading around the hub's launch and may fall in the
    second before, so it serves only when the hub wrote no summary."""
    started = (report.get("hub") or {}).get("started_utc")
    if isinstance(started, (int, float)) and math.isfinite(started):
        return math.floor(started)
    text = report.get("started_utc")
    try:
        moment = datetime.fromisoformat(str(text))
    except ValueError:
        raise MergeError(f"{path}: no start time to place its seconds by (started_utc {text!r})") from None
    if moment.tzinfo is None:
        moment = moment.replace(tzinfo=timezone.utc)
    return math.floor(moment.timestamp())


def _scenario_content(report: dict) -> dict:
    """The scenario as run, whatever file it was read from."""
    return {key: value for key, value in (report.get("scenario") or {}).items() if key != "file"}


def load_sources(paths: List[str]) -> List[Source]:
    """The reports, checked to be of one scenario and one schema, each from
    a workstation of its own; MergeError saying which is not."""
    if not paths:
        raise MergeError("no report to merge")
    reports = [(path, read_report(path)) for path in paths]
    schemas = {path: report.get("schema") for path, report in reports}
    if len(set(map(repr, schemas.values()))) > 1:
        raise MergeError("reports of different schema versions: "
                         + ", ".join(f"{path} has {schema}" for path, schema in schemas.items()))
    for path, report in reports:
        if report.get("schema") != SCHEMA:
            raise MergeError(f"{path}: report schema {report.get('schema')!r}; this merge reads schema {SCHEMA}")
        if "workstations" in report:
            raise MergeError(f"{path}: already a merged report; merge the workstations' own reports")
        if not isinstance(report.get("scenario"), dict) or not report["scenario"].get("groups"):
            raise MergeError(f"{path}: holds no scenario")
    first_path, first = reports[0]
    content = _scenario_content(first)
    for path, report in reports[1:]:
        other = _scenario_content(report)
        if other != content:
            keys = sorted(key for key in set(content) | set(other) if content.get(key) != other.get(key))
            raise MergeError(f"{path} ran another scenario than {first_path} (they differ in {', '.join(keys)}); "
                             "only runs of one scenario merge")
    sources, seen = [], {}
    for path, report in reports:
        label = label_of(report.get("workstation"), os.path.basename(path))
        if label in seen:
            raise MergeError(f"{seen[label]} and {path} both come from workstation {label}: "
                             "merge one run per workstation")
        seen[label] = path
        sources.append(Source(path, report, label, series_origin(report, path)))
    start = min(source.origin for source in sources)
    for source in sources:
        source.shift = source.origin - start
    return sources


def _percentile(value) -> Percentile:
    for text in (repr(float(value)), f"{float(value):g}"):
        percentile = Percentile.of(text)
        if percentile is not None:
            return percentile
    raise MergeError(f"not a percentile: {value!r}")


def scenario_of(report: dict) -> Scenario:
    """The scenario as the report holds it, its thresholds read again (on
    the lines the run gave them)."""
    content = report["scenario"]
    groups = []
    for name, g in content["groups"].items():
        groups.append(Group(name=name, devices=list(g.get("devices", [])),
                            pairs={key: tuple(pair) for key, pair in (g.get("pairs") or {}).items()},
                            seed=g.get("seed"), start=float(g.get("start") or 0.0), stop=g.get("stop"),
                            ramp=float(g.get("ramp") or 0.0), bursts=list(g.get("at") or []),
                            burst_seconds=g.get("for")))
    percentiles = [_percentile(value) for value in content.get("percentiles", [])]
    lines = [outcome.get("line", 0) for outcome in report.get("thresholds", [])]
    figures = figure_names([p.name for p in percentiles])
    names = [*(g.name for g in groups), "all"]
    conditions: List[Condition] = []
    for index, text in enumerate(content.get("thresholds", [])):
        line = lines[index] if index < len(lines) else 0
        try:
            conditions.append(parse_condition(text, line, names, figures))
        except ValueError as error:
            raise MergeError(f"the scenario's threshold {text!r} cannot be read: {error}") from None
    return Scenario(path=str(content.get("file", "")), seconds=float(content.get("seconds", 0)),
                    hub=dict(content.get("hub") or {}), groups=groups, percentiles=percentiles,
                    thresholds=conditions)


class _SummedWindow:
    """The window of a rate that is the sum of the workstations' rates,
    each taken over its own window, told on the merged time axis."""

    def __init__(self, sources: List[Source], windows: List[dict]):
        self.parts = [(source, window) for source, window in zip(sources, windows)]
        shifted = [(s.moment(w.get("from")), s.moment(w.get("to"))) for s, w in self.parts]
        self.start = min((a for a, _ in shifted if a is not None), default=None)
        self.end = max((b for _, b in shifted if b is not None), default=None)

    @staticmethod
    def _spans(source: Source, window: dict) -> Optional[List[List[int]]]:
        spans = window.get("spans")
        if spans is None and window.get("whole_seconds"):
            spans = [window["whole_seconds"]]
        return None if spans is None else [[a + source.shift, b + source.shift] for a, b in spans]

    @property
    def whole_seconds(self) -> Optional[Tuple[int, int]]:
        spans = [span for s, w in self.parts for span in (self._spans(s, w) or [])]
        if not spans:
            return None
        return min(a for a, _ in spans), max(b for _, b in spans)

    def text(self) -> str:
        each = []
        for source, window in self.parts:
            spans = self._spans(source, window)
            if spans is None:
                each.append(f"{source.label}: the whole run ({window.get('note', '')})")
            else:
                each.append(f"{source.label}: " + ", ".join(f"{a}-{b}" if a != b else str(a) for a, b in spans))
        whose = f"{len(self.parts)} workstations' rates" if len(self.parts) != 1 else "one workstation's rate"
        return f"the sum of {whose}, each over its own window (the merged axis' seconds of {'; '.join(each)})"

    def as_dict(self) -> dict:
        whole = self.whole_seconds
        return {"from": self.start, "to": self.end, "seconds": None,
                "whole_seconds": None if whole is None else list(whole), "spans": None,
                "measured": all(self._spans(s, w) is not None for s, w in self.parts),
                "note": "the sum of the workstations' rates, each over its own window",
                "workstations": {s.label: {**w, "spans": self._spans(s, w)} for s, w in self.parts}}


def _sum_or_none(values: List[Optional[int]]) -> Optional[int]:
    present = [value for value in values if value is not None]
    return sum(present) if present else None


def _histogram(generators: List[dict], kind: str) -> Histogram:
    return pooled([Histogram.from_dict(g["closing"][kind]) for g in generators
                   if g.get("closing") and g["closing"].get(kind)])


def merged_figures(name: str, sources: List[Source], generators: List[dict]) -> Figures:
    """A group's (or all's) figures over every workstation: its rows'
    counts and rates added, its generators' closing histograms pooled."""
    rows = [(source.report.get("groups", {}).get(name) if name != "all" else source.report.get("total")) or {}
            for source in sources]
    figures = Figures(name, _SummedWindow(sources, [row.get("window") or {} for row in rows]))
    for key in ("generators", "registered", "commands", "bytes", "malformed"):
        setattr(figures, key, sum(int(row.get(key) or 0) for row in rows))
    figures.rate = sum(float(row.get("rate") or 0.0) for row in rows)
    figures.failures = _sum_or_none([row.get("failures") for row in rows])
    figures.ticks = {key: _sum_or_none([row.get(key) for row in rows]) for key in TICK_KEYS}
    codes: Counter = Counter()
    for row in rows:
        codes.update({code: int(count) for code, count in (row.get("exit_codes") or {}).items()})
    figures.exit_codes = dict(sorted(codes.items()))
    figures.answer = _histogram(generators, "answer")
    figures.response = _histogram(generators, "response")
    return figures


def merged_series(sources: List[Source], groups: List[str]) -> Dict[str, Dict[str, list]]:
    """Per group, the series on the merged axis: commands and late ticks
    added per second, the time figures the highest of the workstations'."""
    length = max((len(entry.get("commands", [])) + source.shift
                  for source in sources for entry in (source.report.get("series") or {}).values()), default=0)
    result = {}
    for group in groups:
        entry: Dict[str, list] = {"commands": [0] * length, **{key: [None] * length for key in TIME_KEYS},
                                  "late_ticks": [0] * length}
        for source in sources:
            own = (source.report.get("series") or {}).get(group, {})
            for key in ("commands", "late_ticks"):
                for index, value in enumerate(own.get(key, [])):
                    entry[key][index + source.shift] += int(value or 0)
            for key in TIME_KEYS:
                for index, value in enumerate(own.get(key, [])):
                    if value is not None:
                        current = entry[key][index + source.shift]
                        entry[key][index + source.shift] = value if current is None else max(current, value)
        result[group] = entry
    return result


def _merged_windows(sources: List[Source], scenario: Scenario) -> Dict[str, List[Tuple[float, float]]]:
    """Per group that runs in windows or bursts, its windows on the merged
    axis: every workstation's, those that overlap (the same burst on
    workstations that started together) taken as one."""
    windows: Dict[str, List[Tuple[float, float]]] = {}
    for group in scenario.groups:
        if not group.shaped:
            continue
        spans = [(source.moment(a), source.moment(b)) for source in sources
                 for a, b in ((source.report.get("inside_outside") or {}).get(group.name) or {}).get("windows", [])]
        joined: List[Tuple[float, float]] = []
        for start, end in sorted(span for span in spans if None not in span):
            if joined and start <= joined[-1][1]:
                joined[-1] = (joined[-1][0], max(joined[-1][1], end))
            else:
                joined.append((start, end))
        windows[group.name] = joined
    return windows


def _sides(windows: Dict[str, List[Tuple[float, float]]], series: Dict[str, Dict[str, list]],
           whole: Optional[Tuple[int, int]]) -> Dict[str, dict]:
    """Inside and outside over the merged axis: the seconds and rates are
    the merged series'; response times are left out (None), since the
    reports keep no histograms per second to pool."""
    if whole is None:
        return {}
    splits = [split_seconds(name, spans, whole[0], whole[1]) for name, spans in windows.items() if spans]
    sides = inside_outside(splits, {name: entry["commands"] for name, entry in series.items()}, SplitPools([]))
    for split in sides.values():
        for figures in split["groups"].values():
            for side in figures.values():
                side.update(responses=None, response_ms_p50=None, response_ms_p99=None)
    return sides


def _hub(sources: List[Source]) -> dict:
    hubs = [source.report.get("hub") or {} for source in sources]
    result = {"hubs": len(hubs)}
    for key in HUB_COUNTS:
        result[key] = sum(int(hub.get(key) or 0) for hub in hubs)
    codes = Counter("-" if hub.get("exit_code") is None else str(hub["exit_code"]) for hub in hubs)
    result["exit_codes"] = dict(sorted(codes.items()))
    return result


def _workstation_entry(source: Source, percentiles: List[Percentile]) -> dict:
    report, total = source.report, source.report.get("total") or {}
    run = report.get("run") or {}
    return {
        "workstation": source.label, "number": (report.get("workstation") or {}).get("number"),
        "host": (report.get("workstation") or {}).get("host"), "report": source.path,
        "started_utc": report.get("started_utc"), "series_origin_utc": source.origin, "offset": source.shift,
        "traffic_from": source.moment(run.get("traffic_from")), "closed_at": source.moment(run.get("closed_at")),
        "generators": total.get("generators"), "commands": total.get("commands"), "rate": total.get("rate"),
        "failures": total.get("failures"), "malformed": total.get("malformed"),
        "answer_ms": total.get("answer_ms"), "response_ms": total.get("response_ms"),
        "thresholds_held": sum(1 for o in report.get("thresholds", []) if o.get("held")),
        "thresholds": len(report.get("thresholds", [])),
        "problems": list(report.get("problems", [])), "ok": bool(report.get("ok")),
    }


def _number(value, decimals: int) -> str:
    if value is None:
        return "-"
    return f"{value:.{decimals}f}" if isinstance(value, float) else str(value)


def workstation_table(entries: List[dict], percentiles: List[Percentile]) -> str:
    """One line per workstation: when its run lay on the merged axis and
    its own totals."""
    p99 = next((p.name for p in percentiles if p.label == "99"), None)
    header = ["workstation", "offset s", "traffic s", "generators", "commands", "rate/s", "failures", "malformed"]
    header += ["answer p99 ms", "response p99 ms"] if p99 else []
    header.append("run")
    lines = [header]
    for e in entries:
        span = "-" if e["traffic_from"] is None else f"{e['traffic_from']:.1f}-{e['closed_at']:.1f}"
        line = [e["workstation"], str(e["offset"]), span, _number(e["generators"], 0), _number(e["commands"], 0),
                _number(e["rate"], 1), _number(e["failures"], 0), _number(e["malformed"], 0)]
        if p99:
            line += [_number((e["answer_ms"] or {}).get(p99), 3), _number((e["response_ms"] or {}).get(p99), 3)]
        line.append("ok" if e["ok"] else ("FAILED" if e["problems"] else "thresholds missed"))
        lines.append(line)
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    return "\n".join("  ".join([line[0].ljust(widths[0])] + [c.rjust(w) for c, w in zip(line[1:-1], widths[1:-1])]
                               + [line[-1]]).rstrip() for line in lines)


def merge(paths: List[str]) -> MergeResult:
    """The reports at paths as one run; MergeError when they cannot be."""
    sources = load_sources(paths)
    # Each alone first, so that a report that is not as a run writes it is named.
    for source in sources:
        _guarded(lambda: _merged([source]), source.path)
    return _guarded(lambda: _merged(sources), ", ".join(paths))


def _guarded(merging: Callable[[], MergeResult], paths: str) -> MergeResult:
    try:
        return merging()
    except (KeyError, IndexError, TypeError, ValueError, AttributeError) as error:
        raise MergeError(f"{paths}: not a report as skerrowScenario writes it "
                         f"({type(error).__name__}: {error})") from None


def _merged(sources: List[Source]) -> MergeResult:
    first = sources[0].report
    scenario = scenario_of(first)
    percentiles = scenario.percentiles
    names = [g.name for g in scenario.groups]
    generators = [{**g, "workstation": source.label, "registered_at": source.moment(g.get("registered_at")),
                   "started_at": source.moment(g.get("started_at")), "goodbye_at": source.moment(g.get("goodbye_at"))}
                  for source in sources for g in source.report.get("generators", [])]
    rows = [merged_figures(name, sources, [g for g in generators if g.get("group") == name]) for name in names]
    rows.append(merged_figures("all", sources, generators))
    outcomes = evaluate(scenario.thresholds, {row.name: row.threshold_values(percentiles) for row in rows})
    series = merged_series(sources, names)
    windows = _merged_windows(sources, scenario)
    sides = _sides(windows, series, rows[-1].window.whole_seconds)
    runs = [source.report.get("run") or {} for source in sources]
    froms = [s.moment(r.get("traffic_from")) for s, r in zip(sources, runs) if r.get("traffic_from") is not None]
    closes = [s.moment(r.get("closed_at")) for s, r in zip(sources, runs) if r.get("closed_at") is not None]
    traffic_from, closed_at = min(froms, default=0.0), max(closes, default=0.0)
    problems = [f"workstation {source.label}: {problem}" for source in sources
                for problem in source.report.get("problems", [])]
    entries = [_workstation_entry(source, percentiles) for source in sources]
    earliest = min(sources, key=lambda s: (s.origin, str(s.report.get("started_utc"))))
    report = {
        "schema": SCHEMA,
        "started_utc": earliest.report.get("started_utc"),
        "scenario": first["scenario"],
        "run": {"seconds": round(max(closed_at - traffic_from, 0.0), 3), "traffic_from": traffic_from,
                "closed_at": closed_at, "interrupted": any(r.get("interrupted") for r in runs)},
        "groups": {row.name: row.as_dict(percentiles) for row in rows[:-1]},
        "total": rows[-1].as_dict(percentiles),
        "series": series,
        "inside_outside": sides,
        "thresholds": [outcome.as_dict() for outcome in outcomes],
        "generators": generators,
        "hub": _hub(sources),
        "problems": problems,
        "ok": not problems and all(outcome.held for outcome in outcomes),
        "scenario_text": first.get("scenario_text"),
        "workstations": entries,
        "series_origin_utc": earliest.origin,
        "series_times": SERIES_TIMES,
    }
    hub = report["hub"]
    text = [f"skerrowScenario: merged {len(sources)} runs of {scenario.path}: workstations "
            + ", ".join(source.label for source in sources),
            workstation_table(entries, percentiles),
            f"offset s: where each hub's seconds begin on the merged axis, whose second 1 began at "
            f"{datetime.fromtimestamp(earliest.origin, timezone.utc).isoformat()}",
            summary_tables(rows, percentiles)]
    if sides:
        text.append(inside_outside_tables(scenario, sides))
    text.append(f"hubs: {hub['hubs']}, {hub['messages']} commands, {hub['bytes']} bytes, malformed "
                f"{hub['malformed']}, bad frames {hub['bad_frames']}, exit codes "
                + ", ".join(f"{code} x{count}" for code, count in hub["exit_codes"].items()))
    if outcomes:
        text.append(outcome_table(outcomes))
    return MergeResult(report, scenario, problems, outcomes, closed_at, windows, "\n".join(text))
