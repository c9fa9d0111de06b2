"""skerrowScenario run as a user runs it: a scenario file in, its summary,
report, chart and exit code out."""

import json
import math
import os
import socket
import subprocess
import tempfile
import time
import unittest

RUNNER = os.path.join(os.environ["SKERROW_BIN"], "skerrowScenario")
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

TWO_GROUPS = """\
[scenario]
seconds=3
percentiles=50,99.9
[hub]
grace=10
[thresholds]
all.malformed == 0
steady.answer_p999_ms >= 0
steady.rate > 1000000
[steady]
devices=1-2
mpt=1,3
ms=0,64
tt=50,100
seed=7
[peaks]
devices=3
mpt=20,50
ms=100,200
tt=200,300
"""


class ScenarioRunner(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.addCleanup(self.work.cleanup)

    def file(self, name: str) -> str:
        return os.path.join(self.work.name, name)

    def run_scenario(self, text: str, *options: str) -> subprocess.CompletedProcess:
        with open(self.file("scenario.ini"), "w") as stream:
            stream.write(text)
        return subprocess.run([RUNNER, self.file("scenario.ini"), *options], capture_output=True,
                              text=True, timeout=180)

    def test_two_groups_send_into_the_hub_and_are_reported_judged_and_charted(self):
        done = self.run_scenario(TWO_GROUPS, "--report", self.file("report.json"),
                                 "--chart", self.file("chart.png"), "--html", self.file("report.html"))
        # A clean run whose only fault is the threshold it cannot reach.
        self.assertEqual(done.returncode, 3, done.stdout + done.stderr)
        self.assertIn("steady response", done.stdout)
        self.assertRegex(done.stdout, r"steady\.rate > 1000000 +[0-9.]+ +FAILED")
        with open(self.file("report.json")) as stream:
            report = json.load(stream)
        self.assertEqual((report["schema"], report["problems"], report["ok"]), (2, [], False))
        self.assertEqual([t["held"] for t in report["thresholds"]], [True, True, False])
        self.assertEqual(sorted(report["groups"]), ["peaks", "steady"])
        groups = report["groups"].values()
        self.assertTrue(all(group["registered"] == group["generators"] for group in groups))
        self.assertTrue(all(group["commands"] > 0 for group in groups))
        self.assertEqual(sum(group["commands"] for group in groups), report["hub"]["messages"])
        total = report["total"]
        self.assertEqual((total["exit_codes"], total["failures"]), ({"0": 3}, 0))
        for kind in ("answer_ms", "response_ms"):
            times = total[kind]
            self.assertGreater(times["commands"], 0)
            self.assertLessEqual(times["p50"], times["p999"])
            self.assertLessEqual(times["p999"], times["max"])
        for generator in report["generators"]:
            closing = generator["closing"]
            self.assertEqual(closing["answer"]["count"], closing["commands"] - closing["failures"])
        for name, series in report["series"].items():
            self.assertLessEqual(sum(series["commands"]), report["groups"][name]["commands"])
            self.assertTrue(any(p99 is not None for p99 in series["response_ms_p99"]))
        with open(self.file("chart.png"), "rb") as chart:
            self.assertEqual(chart.read(8), PNG_SIGNATURE)
        # The page to share holds the scenario as run; test_htmlbrowser draws one.
        self.assertEqual(report["scenario_text"], TWO_GROUPS)
        with open(self.file("report.html"), encoding="utf-8") as page:
            self.assertIn("steady.rate &gt; 1000000", page.read())

    def test_a_group_with_a_window_sends_only_inside_it_and_ends_cleanly_before_the_run(self):
        done = self.run_scenario("[scenario]\nseconds=6\n[steady]\ndevices=1\ntt=50,100\n"
                                 "[window]\ndevices=2-3\ntt=50,100\nstart=2\nstop=4\n",
                                 "--report", self.file("report.json"))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("beside [window]", done.stdout)
        # The window's generators had unregistered before the end.
        self.assertIn("closing: the hub announced it to 1 drivers", done.stdout)
        with open(self.file("report.json")) as stream:
            report = json.load(stream)
        [(start, end)] = report["inside_outside"]["window"]["windows"]
        self.assertLess(end, report["run"]["closed_at"] - 1)
        sending = [second for second, count in enumerate(report["series"]["window"]["commands"], start=1) if count]
        self.assertTrue(sending)
        # The hub's second k covers [k - 1, k).
        self.assertTrue(all(second - 1 < end and second > start for second in sending), (sending, start, end))
        for generator in report["generators"]:
            self.assertEqual(generator["exit_code"], 0)
            self.assertGreater(generator["closing"]["commands"], 0)
        shaped = [g for g in report["generators"] if g["group"] == "window"]
        self.assertTrue(all(g["goodbye_at"] is not None and g["registered_at"] < g["goodbye_at"] for g in shaped))
        self.assertEqual(report["hub"]["drivers"], 0)
        steady = report["inside_outside"]["window"]["groups"]["steady"]
        self.assertGreater(steady["inside"]["rate"], 0)
        self.assertGreater(steady["outside"]["rate"], 0)

    def test_a_refused_registration_fails_the_run_before_any_threshold(self):
        done = self.run_scenario("[scenario]\nseconds=1\n[hub]\nregister-reply=2\n[one]\ndevices=5\n"
                                 "[thresholds]\none.commands > 1000000\n")
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertRegex(done.stdout, r"one\.commands > 1000000 +0 +FAILED")
        self.assertIn("generator of device 5 ([one]) did not register", done.stderr)

    def test_a_run_starts_at_its_moment_and_records_its_workstation(self):
        with open(self.file("scenario.ini"), "w") as stream:
            stream.write("[scenario]\nseconds=1\n[one]\ndevices=5\ntt=50,100\n")
        # The rooted layout, in which the configuration library reads RK_WORKSTATION.
        env = {**os.environ, "RK_ROOT": self.work.name, "RK_SYSTEM": "telm", "RK_WORKSTATION": "7"}
        late = subprocess.run([RUNNER, self.file("scenario.ini"), "--start-at", str(time.time() - 5)],
                              capture_output=True, text=True, timeout=60, env=env)
        self.assertEqual((late.returncode, late.stdout), (2, ""), late.stderr)
        self.assertIn("passed", late.stderr)
        start = math.ceil(time.time()) + 2
        done = subprocess.run([RUNNER, self.file("scenario.ini"), "--start-at", str(start),
                               "--report", self.file("report.json")],
                              capture_output=True, text=True, timeout=180, env=env)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        with open(self.file("report.json")) as stream:
            report = json.load(stream)
        self.assertEqual(report["workstation"], {"number": 7, "host": socket.gethostname()})
        self.assertGreaterEqual(report["hub"]["started_utc"], start)

    def test_a_bad_scenario_names_its_file_section_and_key_and_starts_nothing(self):
        for text, where in (
            ("[scenario]\nseconds=1\n[burble]\ndevices=1\nmtp=1,3\n", "section [burble], key mtp"),
            ("[scenario]\nseconds=1\n[burble]\ndevices=1\ntt=500,20\n", "section [burble], key tt"),
            ("[scenario]\nseconds=1\n[a]\ndevices=1-3\n[b]\ndevices=3\n", "section [b], key devices"),
            ("[scenario]\nseconds=soon\n[a]\ndevices=1\n", "section [scenario], key seconds"),
            ("[scenario]\nseconds=1\n[a]\ndevices=1\n[thresholds]\na.speed > 1\n",
             "scenario.ini:6: section [thresholds]: unknown figure 'speed'"),
        ):
            with self.subTest(where=where):
                done = self.run_scenario(text)
                self.assertEqual(done.returncode, 2)
                self.assertIn(self.file("scenario.ini"), done.stderr)
                self.assertIn(where, done.stderr)
                self.assertEqual(done.stdout, "")


if __name__ == "__main__":
    unittest.main()
