"""The generator's lines on its debug output (its stderr): once a second the
line of that second, and on closing the line of its whole run."""

from dataclasses import dataclass
from typing import Dict, Optional, Union

from .histogram import Histogram

CLOSING = "SkerrowDriver: run: "
SECOND = "SkerrowDriver: second: "
COUNT_KEYS = ("commands", "failures", "ticks", "late_ticks", "skipped_ticks", "omitted")
TIME_KINDS = ("answer", "response")

Number = Union[int, float]


@dataclass
class GeneratorLine:
    """One closing or second line: its plain figures (counts, seconds, the
    generator's own percentiles...) and its two time histograms."""
    figures: Dict[str, Number]
    answer: Histogram
    response: Histogram

    def count(self, key: str) -> int:
        return int(self.figures[key])


def _number(text: str) -> Number:
    if text.isascii() and text.isdigit():
        return int(text)
    return float(text)


def parse_line(text: str, prefix: str) -> Optional[GeneratorLine]:
    """The line's figures when text holds prefix and every key the line
    must have, None otherwise (another line, or one cut short)."""
    at = text.find(prefix)
    if at < 0:
        return None
    fields = dict(item.split("=", 1) for item in text[at + len(prefix):].split() if "=" in item)
    try:
        histograms = [Histogram.decode(fields.pop(f"{kind}_buckets"), int(fields.pop(f"{kind}_ns_min")),
                                       int(fields.pop(f"{kind}_ns_max"))) for kind in TIME_KINDS]
        figures = {key: _number(value) for key, value in fields.items()}
    except (KeyError, ValueError):
        return None
    if not all(isinstance(figures.get(key), int) for key in COUNT_KEYS):
        return None
    return GeneratorLine(figures, *histograms)


def parse_second(text: str) -> Optional[GeneratorLine]:
    line = parse_line(text, SECOND)
    if line is None or not {"utc", "seconds"} <= line.figures.keys():
        return None
    return line


def last_closing(output: str) -> Optional[GeneratorLine]:
    """The figures of the generator's last closing line in its debug output."""
    found = None
    for text in output.splitlines():
        found = parse_line(text, CLOSING) or found
    return found
