"""Reading [thresholds] and percentiles= from a scenario file, and judging
conditions against a run's figures."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scenario"))

from skerrow_scenario.scenariofile import ScenarioError, read_scenario  # noqa: E402
from skerrow_scenario.thresholds import evaluate  # noqa: E402

HEAD = "[scenario]\nseconds=5\n"
GROUPS = "[burble]\ndevices=1-2\n[peaks]\ndevices=3\n"


class ScenarioFile(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.path = os.path.join(folder.name, "scenario.ini")

    def read(self, text: str):
        with open(self.path, "w") as stream:
            stream.write(text)
        return read_scenario(self.path)

    def refusal(self, text: str) -> str:
        with self.assertRaises(ScenarioError) as caught:
            self.read(text)
        return str(caught.exception)

    def test_conditions_are_read_whole_lines_in_any_letter_case(self):
        scenario = self.read(HEAD + "[thresholds]\n; a comment\nall.malformed == 0\n"
                             "# another\nBurble.Response_P99_ms<50\npeaks.rate >= 5e1\n" + GROUPS)
        self.assertEqual([(c.group, c.figure, c.operator, c.limit, c.line) for c in scenario.thresholds],
                         [("all", "malformed", "==", 0, 5), ("burble", "response_p99_ms", "<", 50, 7),
                          ("peaks", "rate", ">=", 50, 8)])

    def test_a_bad_condition_is_refused_with_its_line_and_text(self):
        for line in ("all.rate 5", "all.rate = 5", "rate > 5", "nobody.rate > 5", "all.speed > 5",
                     "all.rate > fast", "all.rate > nan", "all.answer_p95_ms < 1"):
            with self.subTest(line=line):
                message = self.refusal(HEAD + GROUPS + "[thresholds]\nall.failures == 0\n" + line + "\n")
                self.assertIn(f"{self.path}:9: section [thresholds]", message)
                self.assertIn(line, message)

    def test_chosen_percentiles_name_the_time_figures(self):
        scenario = self.read("[scenario]\nseconds=5\npercentiles=95, 99.90,100\n[thresholds]\n"
                             "all.answer_p95_ms < 1\nall.response_p999_ms < 9\nall.response_p100_ms < 9\n"
                             + GROUPS)
        self.assertEqual([p.name for p in scenario.percentiles], ["p95", "p999", "p100"])
        self.assertEqual(len(scenario.thresholds), 3)
        only_p99 = HEAD + "percentiles=99\n" + GROUPS + "[thresholds]\nall.answer_p50_ms < 1\n"
        self.assertIn("unknown figure 'answer_p50_ms'", self.refusal(only_p99))

    def test_bad_or_twice_given_percentiles_are_refused(self):
        for value in ("0", "100.5", "x", "-5", "99,99.0", "99.9,9.99", "50,"):
            with self.subTest(value=value):
                message = self.refusal(f"[scenario]\nseconds=5\npercentiles={value}\n" + GROUPS)
                self.assertIn("section [scenario], key percentiles", message)

    def test_a_group_cannot_take_the_name_all(self):
        self.assertIn("section [all]", self.refusal(HEAD + "[all]\ndevices=1\n"))


class Judging(unittest.TestCase):
    def test_each_condition_holds_or_fails_on_its_value_and_fails_without_one(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "scenario.ini")
            with open(path, "w") as stream:
                stream.write(HEAD + GROUPS + "[thresholds]\nall.malformed == 0\npeaks.rate >= 500\n"
                             "burble.answer_p99_ms < 2\nall.late_ticks != 3\nburble.failures <= 0\n")
            conditions = read_scenario(path).thresholds
        values = {"all": {"malformed": 0, "late_ticks": 3},
                  "peaks": {"rate": 499.9},
                  "burble": {"answer_p99_ms": 1.5, "failures": None}}
        self.assertEqual([o.held for o in evaluate(conditions, values)], [True, False, True, False, False])


if __name__ == "__main__":
    unittest.main()
