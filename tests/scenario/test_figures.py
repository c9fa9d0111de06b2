"""A group's figures: the window its rate is taken over and what its
generators' closing lines add up to."""

import os
import sys
import unittest
from fractions import Fraction

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scenario"))

from skerrow_scenario.figures import GeneratorResult, figures_of, rate_window  # noqa: E402
from skerrow_scenario.generatorlines import last_closing  # noqa: E402


def closing(failures: int, late_ticks: int, answer: str) -> str:
    return (f"SkerrowDriver: run: commands=9 seconds=1.00 rate=9.00 failures={failures} ticks=5 "
            f"late_ticks={late_ticks} skipped_ticks=0 omitted=0 answer_ns_min=10 answer_ns_max=900 "
            f"answer_buckets={answer} response_ns_min=0 response_ns_max=0 response_buckets=-")


def generator(device: int, closing_line: str, commands: int) -> GeneratorResult:
    return GeneratorResult("g", device, [], 0, False, 0.5, last_closing(closing_line), [], commands=commands)


class RateWindow(unittest.TestCase):
    def test_the_window_counts_whole_hub_seconds_from_the_last_registration_to_closing(self):
        window = rate_window([0.4, 1.7], traffic_from=0.1, closed_at=10.2)
        self.assertEqual((window.whole_seconds, window.seconds), ((3, 10), 8))

    def test_without_every_registration_or_a_whole_second_the_whole_run_is_taken(self):
        for registered in ([0.4, None], [], [9.5]):
            with self.subTest(registered=registered):
                window = rate_window(registered, traffic_from=0.1, closed_at=10.2)
                self.assertIsNone(window.whole_seconds)
                self.assertAlmostEqual(window.seconds, 10.1)


class GroupFigures(unittest.TestCase):
    def test_closing_lines_are_pooled_and_summed_and_the_rate_counts_the_window(self):
        results = [generator(1, closing(1, 2, "10,5:2"), 30), generator(2, closing(0, 3, "20"), 50),
                   generator(3, "no closing line", 20)]
        window = rate_window([0.5, 0.5, 0.5], traffic_from=0.0, closed_at=5.5)  # seconds 2..5
        figures = figures_of("g", results, window, window_commands=40)
        self.assertEqual(figures.answer.buckets, {10: 1, 15: 2, 20: 1})
        self.assertEqual(figures.answer.quantile_ns(Fraction(1, 2)), 15)
        self.assertEqual((figures.failures, figures.ticks["late_ticks"], figures.commands), (1, 5, 100))
        self.assertEqual(figures.rate, 10.0)
        whole_run = figures_of("g", results[2:], rate_window([None], 0.0, 5.0), window_commands=0)
        self.assertEqual((whole_run.failures, whole_run.rate), (None, 4.0))
        self.assertIsNone(whole_run.threshold_values([])["answer_max_ms"])


if __name__ == "__main__":
    unittest.main()
