"""The command line of skerrowScenario."""

import argparse
import os
import sys
from typing import List, Optional

from .report import write_report
from .runner import RunOptions, ScenarioRun
from .scenariofile import MAX_GENERATORS, ScenarioError, read_scenario

EXIT_OK, EXIT_FAILED, EXIT_USAGE = 0, 1, 2

DESCRIPTION = """\
skerrowScenario - runs a load scenario: the stand-in hub and groups of Skerrow
Drivers sending traffic into it, with a live line, an end summary, a JSON
report and a chart.

It starts kivstandin on a private desktop (a fresh RK_DESKTOP directory of
mode 0700), then every generator of every group as the driver of its device
with its switches and /enable (offscreen unless --show; message boxes are
answered, so a failed start ends instead of waiting for a click). Once a
second it prints a live line: elapsed/total seconds, commands in the last
whole second per group and in all (from the hub's series), the generators
the hub holds (its status command) and the malformed commands so far (its
status line). At the end it has the hub announce its closing (the close
command), waits for every generator to end (the hub's grace plus 30 s, then
ends those left), and prints a table per group and in all: generators,
commands, rate, answer times p50/p99/max in ms, failures, malformed commands
and exit codes. kivstandin and skerrowDriver are taken from the directory
that holds this program."""

EPILOG = f"""\
Scenario file (INI; names of sections and keys in any letter case; ; or #
begins a comment line):
  [scenario]
  seconds=30           how long traffic runs (required; --seconds overrides it)
  [hub]                optional; each key becomes a kivstandin option:
  devices=4094           --devices N: the device limit
  grace=5                --grace N: seconds the hub waits for drivers after closing
  driver-mode=on         --driver-mode on|off
  register-reply=V       --register-reply V: every registration answers V
  [burble]             every other section is a group of generators:
  devices=1-6            its devices: a number, a range A-B or a comma list of
                         those; one generator per device, none in two groups
  mpt=1,3                messages per tick  MIN,MAX (0..1000)   -> /mpt=MIN,MAX
  ms=0,64                message size       MIN,MAX (0..1024)   -> /ms=MIN,MAX
  s=1,1024               slot range         MIN,MAX (0..1024)   -> /s=MIN,MAX
  tt=500,2000            tick time in ms    MIN,MAX (0..60000)  -> /tt=MIN,MAX
  seed=100               optional: the group's generator k (from 0, in device
                         order) gets /seed=SEED+k
  A pair left out keeps the generator's own setting. At most {MAX_GENERATORS} generators.

Figures: commands and rates are the hub's counts per device, the rate over
the time from starting the generators to announcing closing. Answer times and
failures come from each generator's closing line on its stderr
("SkerrowDriver: run: commands=N ... answer_ms_p50=A answer_ms_p99=B
answer_ms_max=C failures=F"); a group shows its worst generator's answer
times and the sum of its failures, "-" when no generator printed the line.
Malformed per group counts the malformed texts the hub showed (its first
100); the "all" row has the hub's full count.

Report (--report FILE, JSON): "scenario" (the file read), "run" ("seconds",
"interrupted"), "groups" (name -> figures), "total" (figures), "generators"
(group, device, arguments, exit_code, killed, registered, commands, bytes,
malformed, closing figures or null, message_boxes), "hub" (the hub's summary
with its "series" of commands and bytes per device and second, and
"exit_code"), "problems" (texts) and "ok". Figures: generators, registered,
commands, bytes, rate, answer_ms_p50, answer_ms_p99, answer_ms_max,
failures, malformed, exit_codes (code -> generators).

Chart (--chart FILE.png): commands per second over the hub's run, one line
per group (its devices summed from the hub's series), closing marked.

Exit codes:
  0  every generator registered and ended with 0, traffic arrived, nothing
     was malformed (no malformed command, no bad frame)
  1  the run failed: a generator did not register, ended otherwise or had to
     be ended, no traffic, anything malformed, drivers left registered, the
     hub failed, or the run was interrupted (Ctrl-C, SIGTERM: it still closes
     and reports)
  2  a bad command line or scenario file (the message names the file, the
     section and the key)"""


def _positive_seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not 0 < value <= 1_000_000:
        raise argparse.ArgumentTypeError(f"not a number of seconds above 0: {text!r}")
    return value


def parse_arguments(argv: List[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="skerrowScenario", description=DESCRIPTION, epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("scenario", metavar="SCENARIO.ini", help="the scenario file")
    parser.add_argument("--seconds", type=_positive_seconds, metavar="N",
                        help="run traffic for N seconds instead of the file's seconds")
    parser.add_argument("--show", action="store_true",
                        help="show the generators on the display (DISPLAY) instead of offscreen")
    parser.add_argument("--report", metavar="FILE", help="write the JSON report to FILE")
    parser.add_argument("--chart", metavar="FILE.png", help="draw commands per second per group to FILE.png")
    parser.add_argument("--keep", action="store_true",
                        help="keep the run's directory (the hub's files, each generator's stderr) and say where")
    return parser.parse_args(argv)


def _check_writable(path: Optional[str], what: str) -> Optional[str]:
    if path is None:
        return None
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder) or not os.access(folder, os.W_OK):
        return f"cannot write the {what} {path}: no writable directory {folder}"
    return None


def main(argv: List[str], bin_dir: str) -> int:
    arguments = parse_arguments(argv)
    try:
        scenario = read_scenario(arguments.scenario, arguments.seconds)
    except ScenarioError as error:
        print(f"skerrowScenario: {error}", file=sys.stderr)
        return EXIT_USAGE
    for problem in (_check_writable(arguments.report, "report"), _check_writable(arguments.chart, "chart")):
        if problem:
            print(f"skerrowScenario: {problem}", file=sys.stderr)
            return EXIT_USAGE
    if arguments.show and not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
        print("skerrowScenario: --show needs a display (DISPLAY is not set); try xvfb-run -a", file=sys.stderr)
        return EXIT_USAGE
    for name in ("kivstandin", "skerrowDriver"):
        if not os.access(os.path.join(bin_dir, name), os.X_OK):
            print(f"skerrowScenario: no {name} in {bin_dir} (build it first)", file=sys.stderr)
            return EXIT_FAILED

    result = ScenarioRun(scenario, RunOptions(bin_dir, show=arguments.show, keep=arguments.keep)).run()
    problems = result.problems
    if arguments.report:
        write_report(arguments.report, result.report)
        print(f"skerrowScenario: report in {arguments.report}")
    if arguments.chart:
        if result.series:
            from .chart import draw_chart
            draw_chart(arguments.chart, scenario, result.series, result.closed_at)
            print(f"skerrowScenario: chart in {arguments.chart}")
        else:
            problems.append("no chart: the hub wrote no series")
    for problem in problems:
        print(f"skerrowScenario: {problem}", file=sys.stderr)
    print("skerrowScenario: " + ("FAILED" if problems else "ok: every generator registered and ended with 0, "
                                 "nothing malformed"))
    return EXIT_FAILED if problems else EXIT_OK
