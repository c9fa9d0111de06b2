"""Time histograms of layout "ns64": whole nanoseconds in 64 buckets per
doubling, the layout the generator writes. Pooling adds buckets, so a pooled
histogram is exactly the one a single generator would have kept for all the
values, and its percentiles are the true nearest-rank ones to within a
bucket (under 1.6 %)."""

import math
from fractions import Fraction
from typing import Dict, List, Optional

SUB_BUCKETS = 64
SUB_BITS = 6


def bucket_index(value_ns: int) -> int:
    if value_ns < SUB_BUCKETS:
        return value_ns
    shift = value_ns.bit_length() - 1 - SUB_BITS
    return (shift + 1) * SUB_BUCKETS + (value_ns >> shift) - SUB_BUCKETS


def bucket_value(index: int) -> float:
    """The value that stands for a bucket: the middle of its range."""
    if index < SUB_BUCKETS:
        return float(index)
    shift = index // SUB_BUCKETS - 1
    low = (SUB_BUCKETS + index % SUB_BUCKETS) << shift
    return low + ((1 << shift) - 1) / 2


# The bucket of the longest time a signed 64-bit count of nanoseconds holds.
LAST_INDEX = bucket_index((1 << 63) - 1)


class Histogram:
    __slots__ = ("buckets", "min_ns", "max_ns")

    def __init__(self):
        self.buckets: Dict[int, int] = {}
        self.min_ns: Optional[int] = None
        self.max_ns: Optional[int] = None

    def add(self, value_ns: int, count: int = 1):
        index = bucket_index(value_ns)
        self.buckets[index] = self.buckets.get(index, 0) + count
        self.min_ns = value_ns if self.min_ns is None else min(self.min_ns, value_ns)
        self.max_ns = value_ns if self.max_ns is None else max(self.max_ns, value_ns)

    def pool(self, other: "Histogram"):
        if not other.buckets:
            return
        for index, count in other.buckets.items():
            self.buckets[index] = self.buckets.get(index, 0) + count
        self.min_ns = other.min_ns if self.min_ns is None else min(self.min_ns, other.min_ns)
        self.max_ns = other.max_ns if self.max_ns is None else max(self.max_ns, other.max_ns)

    @property
    def count(self) -> int:
        return sum(self.buckets.values())

    def quantile_ns(self, q: Fraction) -> Optional[float]:
        """The nearest-rank value at q in (0, 1], clamped to the values seen.
        q is a Fraction, so that a rank such as 99.9 % of 1000 is exact."""
        total = self.count
        if total == 0:
            return None
        rank = max(1, math.ceil(Fraction(q) * total))
        running = 0
        for index in sorted(self.buckets):
            running += self.buckets[index]
            if running >= rank:
                return min(max(bucket_value(index), self.min_ns), self.max_ns)
        raise ValueError(f"not a quantile in (0, 1]: {q}")

    def quantile_ms(self, q: Fraction) -> Optional[float]:
        value = self.quantile_ns(q)
        return None if value is None else value / 1e6

    def max_ms(self) -> Optional[float]:
        return None if not self.buckets else self.max_ns / 1e6

    def as_dict(self) -> dict:
        """For the report: the sparse buckets as [[index, count], ...]."""
        return {"min_ns": self.min_ns, "max_ns": self.max_ns, "count": self.count,
                "buckets": [[index, self.buckets[index]] for index in sorted(self.buckets)]}

    @classmethod
    def from_dict(cls, figures: dict) -> "Histogram":
        """The histogram as_dict wrote, so that a report read back pools as
        the run did. Raises ValueError on buckets no generator could have
        written (a report may come from another machine)."""
        histogram = cls()
        for index, count in figures.get("buckets", []):
            if not 0 <= int(index) <= LAST_INDEX or int(count) < 1:
                raise ValueError(f"not a bucket of nanoseconds: [{index}, {count}]")
            histogram.buckets[int(index)] = histogram.buckets.get(int(index), 0) + int(count)
        if histogram.buckets:
            histogram.min_ns, histogram.max_ns = int(figures["min_ns"]), int(figures["max_ns"])
            if not 0 <= histogram.min_ns <= histogram.max_ns:
                raise ValueError(f"not a range of nanoseconds: {histogram.min_ns}..{histogram.max_ns}")
        return histogram

    @classmethod
    def decode(cls, encoding: str, min_ns: int, max_ns: int) -> "Histogram":
        """The histogram of a generator line's "P_buckets" (entries G or G:C,
        G the step from the previous index, C the count when not 1, "-" for
        none). Raises ValueError on anything else."""
        histogram = cls()
        if encoding == "-":
            return histogram
        index = -1
        for entry in encoding.split(","):
            step, colon, count = entry.partition(":")
            step_value = _whole(step)
            if index >= 0 and step_value == 0:
                raise ValueError(f"bucket entries out of order: {encoding!r}")
            index = step_value if index < 0 else index + step_value
            histogram.buckets[index] = _whole(count) if colon else 1
            if histogram.buckets[index] == 0:
                raise ValueError(f"a bucket counted 0: {encoding!r}")
        if not 0 <= min_ns <= max_ns:
            raise ValueError(f"not a range of nanoseconds: {min_ns}..{max_ns}")
        histogram.min_ns, histogram.max_ns = min_ns, max_ns
        return histogram


def _whole(text: str) -> int:
    if not (text.isascii() and text.isdigit()):
        raise ValueError(f"not a whole number: {text!r}")
    return int(text)


def pooled(histograms: List[Histogram]) -> Histogram:
    result = Histogram()
    for histogram in histograms:
        result.pool(histogram)
    return result
