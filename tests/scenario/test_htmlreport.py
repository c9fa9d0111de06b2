"""The HTML report's page without a browser: what it pools, what it escapes
and when it is refused. The report is one of a real two-group run."""

import contextlib
import io
import json
import os
import re
import sys
import tempfile
import unittest
from unittest import mock

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scenario"))

from skerrow_scenario import cli, htmlreport  # noqa: E402

REPORT = os.path.join(HERE, "data", "two-groups-report.json")
HOSTILE = "</script><img src=x onerror=alert(1)><!-- &amp;"


def load_report() -> dict:
    with open(REPORT, encoding="utf-8") as stream:
        return json.load(stream)


def side(seconds: int, rate: float, p50: float, p99: float) -> dict:
    return {"seconds": seconds, "commands": int(seconds * rate), "rate": rate, "responses": 9,
            "response_ms_p50": p50, "response_ms_p99": p99}


# As the runner gives it for a group that ran in a window.
INSIDE_OUTSIDE = {"peaks": {"windows": [[1.2, 3.4]], "inside_seconds": [2, 3, 4], "outside_seconds": [1, 5],
                            "groups": {"steady": {"inside": side(3, 60.0, 0.2, 3.5),
                                                  "outside": side(2, 70.0, 0.1, 1.25)}}}}


class Spectrum(unittest.TestCase):
    def test_it_pools_the_closing_histograms_as_the_summary_did(self):
        report = load_report()
        spectra = htmlreport.spectrum(report)
        labels = [label for label, _ in htmlreport.SPECTRUM] + ["max"]
        for name, row in htmlreport.group_rows(report):
            for kind in htmlreport.TIME_KINDS:
                with self.subTest(group=name, kind=kind):
                    summary, values = row[f"{kind}_ms"], spectra[name][kind]
                    self.assertEqual(values["commands"], summary["commands"])
                    for label, key in (("p50", "p50"), ("p99", "p99"), ("p99.9", "p999"), ("max", "max")):
                        self.assertAlmostEqual(values["ms"][labels.index(label)], summary[key], delta=1e-6)
                    self.assertEqual(values["ms"], sorted(values["ms"]))


class Page(unittest.TestCase):
    def render(self, report: dict) -> str:
        return htmlreport.render_html(report, "window.Chart = null;")

    def test_every_text_is_escaped_and_the_data_cannot_end_its_script(self):
        report = load_report()
        report["series"][HOSTILE] = report["series"].pop("peaks")
        report["scenario_text"] = HOSTILE
        report["problems"] = [HOSTILE]
        page = self.render(report)
        self.assertNotIn("<img", page)
        self.assertNotIn("<!--", page)
        self.assertEqual(page.count("</script>"), page.count("<script"))
        embedded = re.search(r'<script type="application/json" id="chart-data">(.*?)</script>', page, re.S)
        data = json.loads(embedded.group(1))
        self.assertEqual(data, json.loads(json.dumps(htmlreport.chart_data(report, htmlreport.spectrum(report)))))
        self.assertEqual(data["groups"][1]["name"], HOSTILE)

    def test_it_loads_nothing_and_counts_the_charts_it_draws(self):
        page = self.render(load_report())
        self.assertIsNone(re.search(r"\b(src|href)\s*=", page))
        self.assertIn("default-src 'none'", page)
        # Commands, response p99, and a spectrum for each group and all.
        self.assertIn('data-charts-expected="5"', page)
        self.assertEqual(len(re.findall(r"<canvas ", page)), 5)

    def test_every_generator_and_every_key_of_a_newer_report_is_shown(self):
        report = load_report()
        report["shapes_to_come"] = {"burst": HOSTILE}
        page = self.render(report)
        self.assertIn("<summary>3 generators</summary>", page)
        self.assertIn("/mpt=20,50 /ms=100,200", page)
        self.assertIn("<summary>shapes_to_come</summary>", page)
        self.assertNotIn("<img", page)

    def test_a_shaped_group_sets_the_others_inside_its_windows_beside_outside(self):
        report = load_report()
        report["inside_outside"] = INSIDE_OUTSIDE
        page = self.render(report)
        self.assertIn("ran in the hub's 1.2-3.4 s; the hub's seconds 2-4 inside, 1, 5 outside", page)
        self.assertIn("<tr><td>steady</td><td>3</td><td>60.0</td><td>0.200</td><td>3.500</td>"
                      "<td>2</td><td>70.0</td><td>0.100</td><td>1.250</td></tr>", page)
        self.assertNotIn('id="more"', page)

    def test_a_burst_groups_rate_names_each_of_its_bursts_seconds(self):
        report = load_report()
        report["groups"]["peaks"]["window"]["spans"] = [[6, 7], [12, 13]]
        self.assertIn("rate/s of peaks: the hub&#x27;s seconds 6-7, 12-13", self.render(report))

    def test_a_run_that_never_got_going_still_renders_and_expects_no_chart(self):
        report = load_report()
        report.update(series={}, hub={}, problems=["the hub did not start"], ok=False)
        for generator in report["generators"]:
            generator["closing"] = None
        page = self.render(report)
        self.assertIn('data-charts-expected="0"', page)
        self.assertIn("The hub wrote no series.", page)
        self.assertIn("<li>the hub did not start</li>", page)

    def test_a_library_that_would_end_its_element_is_refused(self):
        with self.assertRaises(htmlreport.HtmlReportError):
            htmlreport.render_html(load_report(), "var s = '</SCRIPT>';")


class Refused(unittest.TestCase):
    def test_without_chart_js_html_is_refused_before_anything_starts(self):
        with tempfile.TemporaryDirectory() as work:
            scenario = os.path.join(work, "s.ini")
            with open(scenario, "w") as stream:
                stream.write("[scenario]\nseconds=1\n[g]\ndevices=1\n")
            page, errors = os.path.join(work, "r.html"), io.StringIO()
            with mock.patch.object(htmlreport, "CHART_JS", os.path.join(work, "none.js")), \
                    contextlib.redirect_stderr(errors):
                # No programs to start in work: reaching them would end with 1.
                code = cli.main([scenario, "--html", page], work)
            self.assertEqual(code, cli.EXIT_USAGE)
            self.assertIn("libjs-chart.js", errors.getvalue())
            self.assertFalse(os.path.exists(page))


if __name__ == "__main__":
    unittest.main()
