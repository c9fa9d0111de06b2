"""When a group's generators run: start, stop and ramp, or bursts at and for,
checked before anything starts."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scenario"))

from skerrow_scenario.scenariofile import ScenarioError, read_scenario  # noqa: E402


class Schedule(unittest.TestCase):
    def setUp(self):
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        self.path = os.path.join(work.name, "shape.ini")

    def group(self, keys: str, seconds=None):
        with open(self.path, "w") as stream:
            stream.write(f"[scenario]\nseconds=20\n[steady]\ndevices=1\n[peaks]\ndevices=7-9\n{keys}\n")
        return read_scenario(self.path, seconds).groups[1]

    def test_a_window_ramps_its_generators_and_bursts_come_in_order(self):
        ramped = self.group("start=2\nstop=12.5\nramp=4")
        self.assertEqual([ramped.runs(i) for i in range(3)], [[(2, 12.5)], [(4, 12.5)], [(6, 12.5)]])
        bursts = self.group("at=10,3\nfor=2")
        self.assertEqual((bursts.windows(), bursts.runs(2)), ([(3, 5), (10, 12)], [(3, 5), (10, 12)]))
        self.assertFalse(self.group("ramp=3").shaped)
        self.assertEqual(self.group("start=5").windows(), [(5, None)])

    def test_a_schedule_that_cannot_run_is_refused_naming_its_key(self):
        for keys, key, problem in (
            ("start=-1", "start", "not a number of seconds from 0: '-1'"),
            ("stop=soon", "stop", "not a number of seconds from 0: 'soon'"),
            ("start=5\nstop=5", "stop", "stop=5 is not after start=5"),
            ("stop=21", "stop", "stop=21 is past the run's end at 20 s"),
            ("start=20", "start", "start=20 is not before the run's end at 20 s"),
            ("start=2\nstop=6\nramp=4", "ramp", "its last generator would start at 6 s"),
            ("at=3", "at", "at needs for"),
            ("for=3", "for", "for needs at"),
            ("at=3\nfor=2\nstop=9", "stop", "stop does not go with at and for"),
            ("at=3,8,4\nfor=2", "at", "the bursts at 3 and 4 overlap"),
            ("at=3,19\nfor=2", "at", "the burst at 19 lasts to 21 s, past the run's end at 20 s"),
            ("at=3,x\nfor=2", "at", "not a number of seconds from 0: 'x'"),
            ("at=3\nfor=0", "for", "a burst lasts more than 0 seconds"),
            ("at=3\nfor=2\nramp=2", "ramp", "ramp=2 leaves no time"),
        ):
            with self.subTest(keys=keys):
                with self.assertRaises(ScenarioError) as refused:
                    self.group(keys)
                self.assertIn(f"{self.path}:", str(refused.exception))
                self.assertIn(f"section [peaks], key {key}: {problem}", str(refused.exception))
        with self.assertRaises(ScenarioError) as shortened:
            self.group("at=3,12\nfor=2", seconds=10)
        self.assertIn("past the run's end at 10 s (--seconds)", str(shortened.exception))


if __name__ == "__main__":
    unittest.main()
