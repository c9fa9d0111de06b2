"""The figures of a finished run: per generator, per group and in all; the
end summary table and the JSON report."""

import json
from collections import Counter
from dataclasses import dataclass, field
from typing import Dict, List, Optional

from .scenariofile import Scenario

ANSWER_KEYS = ("answer_ms_p50", "answer_ms_p99", "answer_ms_max")


@dataclass
class GeneratorResult:
    group: str
    device: int
    arguments: List[str]
    exit_code: Optional[int]
    killed: bool
    registered: bool
    closing: Optional[Dict[str, float]]
    message_boxes: List[str]
    commands: int = 0  # as the hub counted them
    bytes: int = 0
    malformed: int = 0  # of the malformed texts the hub showed

    def as_dict(self) -> dict:
        return {
            "group": self.group, "device": self.device, "arguments": self.arguments,
            "exit_code": self.exit_code, "killed": self.killed, "registered": self.registered,
            "commands": self.commands, "bytes": self.bytes, "malformed": self.malformed,
            "closing": self.closing, "message_boxes": self.message_boxes,
        }


@dataclass
class Figures:
    """One row of the table: a group, or all groups."""
    name: str
    generators: int = 0
    registered: int = 0
    commands: int = 0
    bytes: int = 0
    rate: float = 0.0
    answer_ms: Dict[str, Optional[float]] = field(default_factory=dict)
    failures: Optional[int] = None
    malformed: int = 0
    exit_codes: Dict[str, int] = field(default_factory=dict)

    def as_dict(self) -> dict:
        return {
            "generators": self.generators, "registered": self.registered,
            "commands": self.commands, "bytes": self.bytes, "rate": round(self.rate, 3),
            **{key: self.answer_ms.get(key) for key in ANSWER_KEYS},
            "failures": self.failures, "malformed": self.malformed, "exit_codes": self.exit_codes,
        }


def exit_code_text(result: GeneratorResult) -> str:
    if result.killed:
        return "killed"
    return "running" if result.exit_code is None else str(result.exit_code)


def figures_of(name: str, results: List[GeneratorResult], seconds: float,
               malformed: Optional[int] = None) -> Figures:
    """A group's or the run's figures. A group's answer times are its worst
    generator's: percentiles of different generators cannot be merged."""
    figures = Figures(name, generators=len(results))
    figures.registered = sum(r.registered for r in results)
    figures.commands = sum(r.commands for r in results)
    figures.bytes = sum(r.bytes for r in results)
    figures.rate = figures.commands / seconds if seconds > 0 else 0.0
    closings = [r.closing for r in results if r.closing]
    for key in ANSWER_KEYS:
        values = [c[key] for c in closings if key in c]
        figures.answer_ms[key] = max(values) if values else None
    failures = [c["failures"] for c in closings if "failures" in c]
    figures.failures = sum(failures) if failures else None
    figures.malformed = sum(r.malformed for r in results) if malformed is None else malformed
    figures.exit_codes = dict(sorted(Counter(exit_code_text(r) for r in results).items()))
    return figures


def _number(value, decimals: int = 1) -> str:
    if value is None:
        return "-"
    return f"{value:.{decimals}f}" if isinstance(value, float) else str(value)


def _codes(codes: Dict[str, int]) -> str:
    return ", ".join(f"{code} x{count}" for code, count in codes.items()) or "-"


def summary_table(rows: List[Figures]) -> str:
    header = ["group", "generators", "commands", "rate/s", "p50 ms", "p99 ms", "max ms",
              "failures", "malformed", "exit codes"]
    lines = [header]
    for row in rows:
        lines.append([
            row.name, str(row.generators), str(row.commands), f"{row.rate:.1f}",
            *(_number(row.answer_ms.get(key), 2) for key in ANSWER_KEYS),
            _number(row.failures), str(row.malformed), _codes(row.exit_codes),
        ])
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    text = []
    for line in lines:
        cells = [line[0].ljust(widths[0])]
        cells += [cell.rjust(width) for cell, width in zip(line[1:-1], widths[1:-1])]
        cells.append(line[-1])
        text.append("  ".join(cells).rstrip())
    return "\n".join(text)


def report_dict(scenario: Scenario, run_seconds: float, rows: List[Figures],
                results: List[GeneratorResult], hub: dict, problems: List[str],
                interrupted: bool) -> dict:
    return {
        "scenario": scenario.as_dict(),
        "run": {"seconds": round(run_seconds, 3), "interrupted": interrupted},
        "groups": {row.name: row.as_dict() for row in rows[:-1]},
        "total": rows[-1].as_dict(),
        "generators": [r.as_dict() for r in results],
        "hub": hub,
        "problems": problems,
        "ok": not problems,
    }


def write_report(path: str, report: dict):
    with open(path, "w", encoding="utf-8") as stream:
        json.dump(report, stream, indent=1)
        stream.write("\n")
