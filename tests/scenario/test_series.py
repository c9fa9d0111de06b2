"""What the other groups did inside a shaped group's windows and outside
them, from per-second series made up here."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scenario"))

from skerrow_scenario.histogram import Histogram  # noqa: E402
from skerrow_scenario.series import SplitPools, inside_outside, split_seconds  # noqa: E402


def responses(*values_ns: int) -> Histogram:
    histogram = Histogram()
    for value in values_ns:
        histogram.add(value)
    return histogram


class InsideOutside(unittest.TestCase):
    def test_a_second_touched_by_a_window_is_inside_and_the_rest_of_the_range_outside(self):
        split = split_seconds("peaks", [(2.5, 4.2), (8.0, 9.0)], first=2, last=10)
        self.assertEqual((split.inside, split.outside), ([3, 4, 5, 9], [2, 6, 7, 8, 10]))

    def test_rates_count_each_side_and_times_pool_every_command_of_its_seconds(self):
        split = split_seconds("peaks", [(2.0, 4.0)], first=1, last=6)  # inside: 3, 4
        pools = SplitPools([split])
        for second in range(1, 7):
            inside = second in (3, 4)
            # Inside, one slow command among many fast ones in each second.
            pools.add(second, "steady", responses(*[1000] * 60, 9_000_000) if inside else responses(500, 700))
            pools.add(second, "peaks", responses(50_000_000))
        commands = {"steady": [10, 10, 40, 60, 10, 10], "peaks": [0, 0, 500, 500, 0]}
        sides = inside_outside([split], commands, pools)["peaks"]
        self.assertEqual(list(sides["groups"]), ["steady"])
        inside, outside = sides["groups"]["steady"]["inside"], sides["groups"]["steady"]["outside"]
        self.assertEqual((inside["seconds"], inside["commands"], inside["rate"]), (2, 100, 50.0))
        self.assertEqual((outside["seconds"], outside["commands"], outside["rate"]), (4, 40, 10.0))
        # Within a bucket (1.6 %); of the 122 commands inside, the 99th percentile's rank 121 is a slow one.
        self.assertEqual((inside["responses"], outside["responses"]), (122, 8))
        for measured, expected in ((inside["response_ms_p50"], 0.001), (inside["response_ms_p99"], 9.0),
                                   (outside["response_ms_p50"], 0.0005), (outside["response_ms_p99"], 0.0007)):
            self.assertAlmostEqual(measured, expected, delta=expected * 0.016)


if __name__ == "__main__":
    unittest.main()
