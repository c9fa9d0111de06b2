"""Thresholds: conditions on a run's figures, one a line of the scenario's
[thresholds] section (GROUP.FIGURE OP NUMBER), checked after the run."""

import math
import operator
import re
from dataclasses import dataclass
from typing import Dict, List, Optional

OPERATORS = {"<": operator.lt, "<=": operator.le, ">": operator.gt, ">=": operator.ge,
             "==": operator.eq, "!=": operator.ne}
COUNT_FIGURES = ("rate", "commands", "failures", "malformed", "late_ticks", "skipped_ticks")
TIME_KINDS = ("answer", "response")
# Two-character operators first, so that "<=" is not read as "<" and "=5".
CONDITION = re.compile(r"(?P<subject>.+?)\s*(?P<op><=|>=|==|!=|<|>)\s*(?P<limit>\S+)")
NUMBER = re.compile(r"[-+]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][-+]?[0-9]+)?")


def time_figure(kind: str, statistic: str) -> str:
    """The name of a time figure: answer_p99_ms, response_max_ms..."""
    return f"{kind}_{statistic}_ms"


def figure_names(percentile_names: List[str]) -> List[str]:
    times = [time_figure(kind, name) for kind in TIME_KINDS for name in (*percentile_names, "max")]
    return [*COUNT_FIGURES, *times]


@dataclass
class Condition:
    text: str
    line: int
    group: str
    figure: str
    operator: str
    limit: float

    def holds(self, value: float) -> bool:
        return OPERATORS[self.operator](value, self.limit)


def parse_condition(text: str, line: int, groups: List[str], figures: List[str]) -> Condition:
    """The condition of one line; ValueError saying what is wrong with it.
    groups: the scenario's groups and "all"; figures: the names allowed."""
    match = CONDITION.fullmatch(text)
    if not match:
        raise ValueError(f"not a condition GROUP.FIGURE OP NUMBER (OP one of {' '.join(OPERATORS)})")
    subject, limit = match.group("subject"), match.group("limit")
    group, dot, figure = subject.rpartition(".")
    group, figure = group.strip().lower(), figure.strip().lower()
    if not dot or not group:
        raise ValueError(f"no GROUP. before the figure {subject!r}")
    if group not in groups:
        raise ValueError(f"unknown group {group!r} (known: {', '.join(groups)})")
    if figure not in figures:
        raise ValueError(f"unknown figure {figure!r} (known: {', '.join(figures)})")
    if not NUMBER.fullmatch(limit) or not math.isfinite(float(limit)):
        raise ValueError(f"compares with {limit!r}, not a number")
    return Condition(text, line, group, figure, match.group("op"), float(limit))


@dataclass
class Outcome:
    condition: Condition
    value: Optional[float]

    @property
    def held(self) -> bool:
        return self.value is not None and self.condition.holds(self.value)

    def as_dict(self) -> dict:
        c = self.condition
        return {"condition": c.text, "line": c.line, "group": c.group, "figure": c.figure,
                "operator": c.operator, "limit": c.limit, "value": self.value, "held": self.held}


def evaluate(conditions: List[Condition], values: Dict[str, Dict[str, Optional[float]]]) -> List[Outcome]:
    """Each condition with its measured value; values: group -> figure -> value,
    None where nothing was measured (a condition on it fails)."""
    return [Outcome(c, values[c.group][c.figure]) for c in conditions]


def _measured(value: Optional[float]) -> str:
    if value is None:
        return "-"
    return str(value) if isinstance(value, int) else f"{value:.3f}"


def outcome_table(outcomes: List[Outcome]) -> str:
    rows = [(o.condition.text, _measured(o.value),
             "held" if o.held else "FAILED" + (" (no value: nothing measured)" if o.value is None else ""))
            for o in outcomes]
    rows.insert(0, ("threshold", "measured", "result"))
    first, second = (max(len(row[i]) for row in rows) for i in (0, 1))
    return "\n".join(f"{a.ljust(first)}  {b.rjust(second)}  {c}" for a, b, c in rows)
