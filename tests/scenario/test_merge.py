"""skerrowScenario merge on reports made here from one of a real run: what
the merged figures are, where each run's seconds land, and which reports
are refused. No process is started."""

import contextlib
import copy
import io
import json
import math
import os
import sys
import tempfile
import unittest
from fractions import Fraction

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scenario"))

from skerrow_scenario import cli, htmlreport, merge, startat  # noqa: E402
from skerrow_scenario.histogram import bucket_value  # noqa: E402

FIXTURE = os.path.join(HERE, "data", "two-groups-report.json")
# Holds on each run alone (711 commands), not on the two together.
ALL_COMMANDS = "all.commands < 1000"


def fixture() -> dict:
    with open(FIXTURE, encoding="utf-8") as stream:
        report = json.load(stream)
    report["scenario"]["thresholds"] = [ALL_COMMANDS]
    report["thresholds"] = [{"condition": ALL_COMMANDS, "line": 6, "held": True, "value": 711}]
    return report


def second_workstation(report: dict) -> dict:
    """The run again on workstation 2, its hub started two wall-clock
    seconds later, and its generators' times doubled, so that the pools
    of the two differ."""
    other = copy.deepcopy(report)
    other["workstation"] = {"number": 2, "host": "beta"}
    # The runner's reading lies in the second before its hub's own start.
    other["hub"]["started_utc"] = math.floor(report["hub"]["started_utc"]) + 2.001
    other["started_utc"] = "2026-12-09T20:24:12.999+00:00"
    other["scenario"]["file"] = "/elsewhere/two-groups.ini"
    for generator in other["generators"]:
        for kind in ("answer", "response"):
            histogram = generator["closing"][kind]
            histogram["buckets"] = [[index + 64, count] for index, count in histogram["buckets"]]
            histogram["min_ns"], histogram["max_ns"] = histogram["min_ns"] * 2, histogram["max_ns"] * 2 + 1
    return other


def nearest_rank_ms(generators: list, kind: str, q: Fraction) -> float:
    """The percentile of every command of the generators, taken from their
    buckets laid out one value per command, clamped to the values seen."""
    values = sorted(bucket_value(index) for g in generators for index, count in g["closing"][kind]["buckets"]
                    for _ in range(count))
    low = min(g["closing"][kind]["min_ns"] for g in generators)
    high = max(g["closing"][kind]["max_ns"] for g in generators)
    return min(max(values[max(1, math.ceil(q * len(values))) - 1], low), high) / 1e6


class MergeCase(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.addCleanup(self.work.cleanup)

    def write(self, name: str, report: dict) -> str:
        path = os.path.join(self.work.name, name)
        with open(path, "w", encoding="utf-8") as stream:
            json.dump(report, stream)
        return path

    def run_merge(self, *arguments: str):
        out, err = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            code = cli.main(["merge", *arguments], self.work.name)
        return code, out.getvalue(), err.getvalue()


class Figures(MergeCase):
    def setUp(self):
        super().setUp()
        one = fixture()
        one["workstation"] = {"number": 1, "host": "alpha"}
        self.reports = [one, second_workstation(one)]
        self.paths = [self.write("one.json", self.reports[0]), self.write("two.json", self.reports[1])]

    def test_two_runs_give_the_figures_of_their_pooled_data_and_are_judged_on_the_whole(self):
        code, out, _ = self.run_merge(*self.paths, "--report", os.path.join(self.work.name, "merged.json"))
        self.assertEqual(code, 3, out)
        with open(os.path.join(self.work.name, "merged.json"), encoding="utf-8") as stream:
            merged = json.load(stream)
        one, two = self.reports
        for name, row in [*merged["groups"].items(), ("all", merged["total"])]:
            rows = [r["groups"][name] if name != "all" else r["total"] for r in self.reports]
            generators = [g for r in self.reports for g in r["generators"] if name in ("all", g["group"])]
            with self.subTest(group=name):
                self.assertEqual(row["commands"], sum(r["commands"] for r in rows))
                self.assertAlmostEqual(row["rate"], sum(r["rate"] for r in rows), places=3)
                for kind in ("answer", "response"):
                    times = row[f"{kind}_ms"]
                    self.assertEqual(times["commands"], sum(g["closing"][kind]["count"] for g in generators))
                    for key, q in (("p50", Fraction(1, 2)), ("p99", Fraction(99, 100)), ("p999", Fraction(999, 1000))):
                        self.assertAlmostEqual(times[key], nearest_rank_ms(generators, kind, q), delta=1e-6)
                    self.assertEqual(times["max"], max(g["closing"][kind]["max_ns"] for g in generators) / 1e6)
        self.assertEqual([(t["condition"], t["value"], t["held"]) for t in merged["thresholds"]],
                         [(ALL_COMMANDS, 1422, False)])
        self.assertRegex(out, r"all\.commands < 1000 +1422 +FAILED")
        self.assertEqual([w["workstation"] for w in merged["workstations"]], ["1", "2"])
        self.assertEqual(merged["hub"]["messages"], one["hub"]["messages"] + two["hub"]["messages"])

    def test_each_run_lands_on_the_merged_axis_by_the_second_its_hub_started_in(self):
        merged = merge.merge(self.paths).report
        one, two = (r["series"]["peaks"]["commands"] for r in self.reports)
        # The second run's hub started two wall-clock seconds later,
        # though its runner's own reading lies only one later.
        self.assertEqual([w["offset"] for w in merged["workstations"]], [0, 2])
        expected = [a + b for a, b in zip(one + [0, 0], [0, 0] + two)]
        self.assertEqual(merged["series"]["peaks"]["commands"], expected)
        p99 = merged["series"]["steady"]["response_ms_p99"]
        self.assertEqual(p99[3], max(self.reports[0]["series"]["steady"]["response_ms_p99"][3],
                                     self.reports[1]["series"]["steady"]["response_ms_p99"][1]))
        self.assertEqual(merged["run"]["closed_at"], round(self.reports[1]["run"]["closed_at"] + 2, 3))
        shifted = [g["registered_at"] for g in merged["generators"] if g["workstation"] == "2"]
        self.assertEqual(shifted, [round(g["registered_at"] + 2, 3) for g in self.reports[1]["generators"]])

    def test_a_merged_report_renders_as_a_run_does(self):
        merged = merge.merge(self.paths).report
        page = htmlreport.render_html(merged, "window.Chart = null;")
        self.assertIn("1422", page)
        self.assertIn('<section id="workstations">', page)
        self.assertIn('data-charts-expected="5"', page)


class Refusals(MergeCase):
    def refused(self, *reports: dict) -> str:
        paths = [self.write(f"{index}.json", report) for index, report in enumerate(reports)]
        code, out, err = self.run_merge(*paths, "--report", os.path.join(self.work.name, "merged.json"))
        self.assertEqual(code, 2, out + err)
        self.assertFalse(os.path.exists(os.path.join(self.work.name, "merged.json")))
        return err

    def test_another_scenario_is_refused_whatever_its_file_is_called(self):
        one = fixture()
        other = second_workstation(one)
        other["scenario"]["groups"]["peaks"]["pairs"]["mpt"] = [20, 60]
        err = self.refused(one, other)
        self.assertIn("1.json ran another scenario than", err)
        self.assertIn("differ in groups", err)

    def test_another_schema_is_refused(self):
        one = fixture()
        other = second_workstation(one)
        other["schema"] = 3
        self.assertIn("different schema versions", self.refused(one, other))

    def test_two_runs_of_one_workstation_are_refused(self):
        one = fixture()
        one["workstation"] = {"number": None, "host": "beta"}
        other = second_workstation(one)
        other["workstation"] = {"number": None, "host": "beta"}
        self.assertIn("both come from workstation beta", self.refused(one, other))

    def test_a_report_whose_figures_no_run_could_write_is_named_and_refused(self):
        one = fixture()
        other = second_workstation(one)
        other["generators"][0]["closing"]["answer"]["buckets"] = [[-1, 5]]
        self.assertIn("1.json: not a report as skerrowScenario writes it", self.refused(one, other))
        other = second_workstation(one)
        other["groups"] = 5
        self.assertIn("1.json: not a report as skerrowScenario writes it", self.refused(one, other))


class StartAt(unittest.TestCase):
    def test_a_moment_is_read_in_either_form_and_refused_once_passed(self):
        self.assertEqual(startat.parse_start_at("2026-12-09T21:00:00Z"), 1796850000.0)
        self.assertEqual(startat.parse_start_at("1796850000.5"), 1796850000.5)
        with self.assertRaises(Exception):
            startat.parse_start_at("2026-12-09T21:00:00")  # no offset: whose 21:00?
        self.assertIsNone(startat.start_problem(1000.0, now=999.0))
        self.assertIn("passed 1.0 s ago", startat.start_problem(1000.0, now=1001.0))

    def test_the_wait_ends_at_the_moment_and_not_before(self):
        now = [100.0]
        slept = []

        def sleep(seconds):
            slept.append(seconds)
            now[0] += seconds

        startat.wait_until(102.5, clock=lambda: now[0], sleep=sleep)
        self.assertEqual((now[0], slept), (102.5, [1.0, 1.0, 0.5]))


if __name__ == "__main__":
    unittest.main()
