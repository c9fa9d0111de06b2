"""The end summary's tables and the JSON report of a finished run."""

import json
from typing import Dict, List, Optional

from .figures import Figures, GeneratorResult
from .scenariofile import Percentile, Scenario
from .thresholds import TIME_KINDS, Outcome

SCHEMA = 2


def _number(value, decimals: int = 1) -> str:
    if value is None:
        return "-"
    return f"{value:.{decimals}f}" if isinstance(value, float) else str(value)


def _codes(codes: Dict[str, int]) -> str:
    return ", ".join(f"{code} x{count}" for code, count in codes.items()) or "-"


def _table(lines: List[List[str]], last_left: bool) -> str:
    """Columns: the first left-aligned, the rest right-aligned, the last
    left-aligned too when it is free text."""
    widths = [max(len(line[i]) for line in lines) for i in range(len(lines[0]))]
    text = []
    for line in lines:
        right = line[1:-1] if last_left else line[1:]
        cells = [line[0].ljust(widths[0])] + [cell.rjust(width) for cell, width in zip(right, widths[1:])]
        if last_left:
            cells.append(line[-1])
        text.append("  ".join(cells).rstrip())
    return "\n".join(text)


def group_table(rows: List[Figures]) -> str:
    header = ["group", "generators", "commands", "rate/s", "failures", "malformed",
              "late ticks", "skipped ticks", "exit codes"]
    lines = [header]
    for row in rows:
        lines.append([
            row.name, str(row.generators), str(row.commands), f"{row.rate:.1f}",
            _number(row.failures), str(row.malformed), _number(row.ticks.get("late_ticks")),
            _number(row.ticks.get("skipped_ticks")), _codes(row.exit_codes),
        ])
    return _table(lines, last_left=True)


def window_lines(rows: List[Figures]) -> str:
    """What each rate counts, one line for the rows that share a window."""
    names: Dict[str, List[str]] = {}
    for row in rows:
        names.setdefault(row.window.text(), []).append(row.name)
    return "\n".join(f"rate/s of {', '.join(group)}: {text}" for text, group in names.items())


def times_table(rows: List[Figures], percentiles: List[Percentile]) -> str:
    header = ["times in ms", "commands", *(f"p{p.label}" for p in percentiles), "max"]
    lines = [header]
    for row in rows:
        for kind in TIME_KINDS:
            times = row.times(kind, percentiles)
            lines.append([f"{row.name} {kind}", str(times["commands"]),
                          *(_number(times[p.name], 3) for p in percentiles), _number(times["max"], 3)])
    return _table(lines, last_left=False)


def inside_outside_tables(scenario: Scenario, sides: Dict[str, dict]) -> str:
    """Per group that runs in windows or bursts, when it ran on the hub's
    time axis, then every other group's rate and response p50 and p99 in
    the seconds inside those windows beside those outside them."""
    text = []
    for shaped, split in sides.items():
        group = next(g for g in scenario.groups if g.name == shaped)
        ran = ", ".join(f"{start:.1f}-{end:.1f} s" for start, end in split["windows"])
        text.append(f"[{shaped}] ({group.schedule_text()}) registered to goodbye in the hub's {ran}: its seconds "
                    f"{seconds_text(split['inside_seconds'])} inside, {seconds_text(split['outside_seconds'])} "
                    "outside")
        lines = [[f"beside [{shaped}]", "inside s", "rate/s", "p50 ms", "p99 ms",
                  "outside s", "rate/s", "p50 ms", "p99 ms"]]
        for name, figures in split["groups"].items():
            line = [name]
            for side in ("inside", "outside"):
                side_figures = figures[side]
                line += [str(side_figures["seconds"]), _number(side_figures["rate"]),
                         _number(side_figures["response_ms_p50"], 3), _number(side_figures["response_ms_p99"], 3)]
            lines.append(line)
        text.append(_table(lines, last_left=False))
    return "\n".join(text)


def seconds_text(seconds: List[int]) -> str:
    """Seconds as runs: 2-4, 9, 12-14; "none" for none."""
    runs: List[List[int]] = []
    for second in seconds:
        if runs and runs[-1][1] == second - 1:
            runs[-1][1] = second
        else:
            runs.append([second, second])
    return ", ".join(f"{a}-{b}" if a != b else str(a) for a, b in runs) or "none"


def summary_tables(rows: List[Figures], percentiles: List[Percentile]) -> str:
    return "\n".join((group_table(rows), window_lines(rows), times_table(rows, percentiles)))


def report_dict(scenario: Scenario, run: dict, rows: List[Figures], results: List[GeneratorResult],
                series: Dict[str, Dict[str, list]], outcomes: List[Outcome], hub: dict,
                problems: List[str], started_utc: Optional[str], sides: Optional[Dict[str, dict]] = None) -> dict:
    return {
        "schema": SCHEMA,
        "started_utc": started_utc,
        "scenario": scenario.as_dict(),
        "run": run,
        "groups": {row.name: row.as_dict(scenario.percentiles) for row in rows[:-1]},
        "total": rows[-1].as_dict(scenario.percentiles),
        "series": series,
        "inside_outside": sides or {},
        "thresholds": [outcome.as_dict() for outcome in outcomes],
        "generators": [r.as_dict() for r in results],
        "hub": hub,
        "problems": problems,
        "ok": not problems and all(outcome.held for outcome in outcomes),
    }


def write_report(path: str, report: dict):
    with open(path, "w", encoding="utf-8") as stream:
        json.dump(report, stream, indent=1)
        stream.write("\n")
