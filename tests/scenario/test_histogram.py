"""The ns64 time histogram and the generator lines that carry it."""

import os
import random
import sys
import tempfile
import unittest
from fractions import Fraction

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scenario"))

from skerrow_scenario.generatorlines import last_closing, parse_second  # noqa: E402
from skerrow_scenario.histogram import Histogram, bucket_index, bucket_value, pooled  # noqa: E402
from skerrow_scenario.series import generator_seconds, hub_second  # noqa: E402

TIMES = ("answer_ns_min={} answer_ns_max={} answer_buckets={} "
         "response_ns_min={} response_ns_max={} response_buckets={}")
CLOSING = ("SkerrowDriver: run: commands=7 seconds=2.00 rate=3.50 answer_ms_p50=0.001 answer_ms_p99=0.001 "
           "answer_ms_max=0.001 failures=1 response_ms_p50=0.001 response_ms_p99=0.001 response_ms_max=0.001 "
           "ticks=9 late_ticks=2 skipped_ticks=1 omitted=3 " + TIMES.format(640, 1_500, "640,1:3,59:2",
                                                                              0, 0, "-"))


def second_line(utc: float, late_ticks: int, response_ns: int) -> str:
    index = bucket_index(response_ns)
    return (f"SkerrowDriver: second: utc={utc:.3f} seconds=1.00 commands=1 failures=0 ticks=1 "
            f"late_ticks={late_ticks} skipped_ticks=0 omitted=0 "
            + TIMES.format(5, 5, "5", response_ns, response_ns, index))


def fed(values) -> Histogram:
    histogram = Histogram()
    for value in values:
        histogram.add(value)
    return histogram


class Buckets(unittest.TestCase):
    def test_every_value_lies_in_its_bucket_within_one_part_in_64(self):
        for value in (0, 63, 64, 127, 128, 1000, 999_999, 2**40 + 12345):
            with self.subTest(value=value):
                self.assertLessEqual(abs(bucket_value(bucket_index(value)) - value), value / 64)
        self.assertEqual(bucket_index(1000), 317)
        self.assertEqual(bucket_value(317), 1003.5)

    def test_a_line_encoding_decodes_to_its_buckets(self):
        histogram = Histogram.decode("640,1:3,59:2", 640, 1_500)
        self.assertEqual(histogram.buckets, {640: 1, 641: 3, 700: 2})
        self.assertEqual(histogram.count, 6)
        self.assertEqual(Histogram.decode("-", 0, 0).count, 0)

    def test_a_broken_encoding_is_refused(self):
        for encoding in ("640,0", "640,1:0", "x", "3,", "-1", "5:"):
            with self.subTest(encoding=encoding), self.assertRaises(ValueError):
                Histogram.decode(encoding, 0, 10)


class Pooling(unittest.TestCase):
    def test_two_pooled_histograms_equal_one_fed_every_value(self):
        draw = random.Random(7)
        values = [int(draw.lognormvariate(12, 2)) for _ in range(5000)]
        together = pooled([fed(values[:1234]), fed(values[1234:])])
        alone = fed(values)
        self.assertEqual((together.buckets, together.min_ns, together.max_ns),
                         (alone.buckets, alone.min_ns, alone.max_ns))
        for q in (Fraction(1, 2), Fraction(99, 100), Fraction(999, 1000), Fraction(1)):
            self.assertEqual(together.quantile_ns(q), alone.quantile_ns(q))

    def test_quantiles_are_nearest_ranks_of_a_known_set(self):
        hundred = fed(range(1, 101))  # below 128 every value has a bucket of its own
        self.assertEqual([hundred.quantile_ns(Fraction(p, 1000)) for p in (500, 900, 990, 999, 1000)],
                         [50, 90, 99, 100, 100])
        self.assertEqual(hundred.quantile_ns(Fraction("0.07")), 7)  # in floats 0.07 * 100 exceeds 7
        self.assertIsNone(Histogram().quantile_ns(Fraction(1, 2)))

    def test_a_bucket_value_is_clamped_to_the_values_seen(self):
        self.assertEqual(fed([1000]).quantile_ns(Fraction(1, 2)), 1000)  # bucket middle 1003.5
        self.assertEqual(fed([1007]).quantile_ns(Fraction(1, 2)), 1007)
        self.assertEqual(fed([2_000_000]).quantile_ms(Fraction(1)), 2.0)


class GeneratorLines(unittest.TestCase):
    def test_the_closing_line_gives_counts_and_histograms(self):
        closing = last_closing("noise\n" + CLOSING + "\nmore noise\n")
        self.assertEqual([closing.count(k) for k in ("commands", "failures", "late_ticks", "skipped_ticks")],
                         [7, 1, 2, 1])
        self.assertEqual(closing.answer.buckets, {640: 1, 641: 3, 700: 2})
        self.assertEqual((closing.answer.min_ns, closing.answer.max_ns), (640, 1_500))
        self.assertEqual(closing.response.count, 0)

    def test_a_line_cut_short_is_not_taken(self):
        self.assertIsNone(last_closing(CLOSING.rsplit(" ", 1)[0]))
        self.assertIsNone(parse_second(second_line(100.0, 0, 1000).replace("late_ticks=0 ", "")))
        self.assertIsNone(parse_second(CLOSING))

    def test_a_second_line_goes_to_the_hub_second_holding_its_middle(self):
        self.assertEqual(hub_second(parse_second(second_line(1003.4, 0, 1)), 1000.0), 3)
        self.assertEqual(hub_second(parse_second(second_line(1003.6, 0, 1)), 1000.0), 4)

    def test_second_lines_of_a_group_are_pooled_per_hub_second(self):
        with tempfile.TemporaryDirectory() as folder:
            paths = [os.path.join(folder, name) for name in ("a", "b", "c")]
            lines = ([second_line(1001.9, 1, 1_000_000), second_line(1002.9, 0, 3_000_000)],
                     [second_line(1001.7, 2, 5_000_000)],
                     [second_line(1002.8, 4, 7_000_000)])
            for path, texts in zip(paths, lines):
                with open(path, "w") as stream:
                    stream.write("\n".join(["other output", *texts]) + "\n")
            seconds = generator_seconds([("g", paths[0]), ("g", paths[1]), ("h", paths[2])], 1000.0)
        self.assertEqual(seconds["g"][2], (0.000005, 0.000005, 5.0, 3))
        self.assertEqual(seconds["g"][3], (0.000005, 0.000005, 3.0, 0))
        self.assertEqual(seconds["h"], {3: (0.000005, 0.000005, 7.0, 4)})


if __name__ == "__main__":
    unittest.main()
