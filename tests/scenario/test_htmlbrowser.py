"""The HTML report opened in a real headless browser, offline: the page of a
real run must draw every chart and raise no script error, and a failing
script must show in what the test reads. Skipped (exit code 77 for CTest)
where no chromium is installed."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from html import unescape

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scenario"))

from skerrow_scenario import htmlreport  # noqa: E402
from test_htmlreport import INSIDE_OUTSIDE  # noqa: E402

REPORT = os.path.join(HERE, "data", "two-groups-report.json")
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
SKIP_CODE = 77


def attribute(dom: str, element: str, name: str):
    tag = re.search(rf"<{element}\b[^>]*>", dom)
    value = tag and re.search(rf'\s{name}="([^"]*)"', tag.group(0))
    return unescape(value.group(1)) if value else None


@unittest.skipUnless(CHROMIUM, "no chromium installed (bash scripts/setup.sh installs it)")
class InBrowser(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.addCleanup(self.work.cleanup)
        with open(REPORT, encoding="utf-8") as stream:
            self.report = json.load(stream)
        self.report["scenario_text"] = "[scenario]\nseconds=4\n"
        # Its window is shaded on the series charts.
        self.report["inside_outside"] = INSIDE_OUTSIDE

    def dom_of(self, chart_js=None) -> str:
        """The page's DOM once its scripts have run. No network is needed:
        the page forbids itself any fetch, and every violation is recorded."""
        page = os.path.join(self.work.name, "report.html")
        htmlreport.write_html(page, self.report, chart_js)
        done = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             f"--user-data-dir={os.path.join(self.work.name, 'profile')}", "--window-size=1200,900",
             "--dump-dom", "file://" + page],
            capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr[-2000:])
        return done.stdout

    def test_a_real_report_draws_every_chart_without_an_error(self):
        dom = self.dom_of()
        self.assertIsNone(attribute(dom, "html", "data-script-errors"))
        self.assertEqual(attribute(dom, "body", "data-charts-expected"), "5")
        self.assertEqual(attribute(dom, "body", "data-charts-drawn"), "5")
        self.assertIn("steady response", dom)

    def test_a_script_that_fails_is_seen_and_draws_nothing(self):
        broken = os.path.join(self.work.name, "broken.js")
        with open(broken, "w") as stream:
            stream.write("throw new Error('the library did not load');")
        dom = self.dom_of(broken)
        self.assertIn("the library did not load", attribute(dom, "html", "data-script-errors") or "")
        self.assertIsNone(attribute(dom, "body", "data-charts-drawn"))


if __name__ == "__main__":
    if CHROMIUM is None:
        print("skipped: no chromium installed (bash scripts/setup.sh installs it)")
        sys.exit(SKIP_CODE)
    unittest.main()
