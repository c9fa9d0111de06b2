"""The command line of skerrowScenario."""

import argparse
import os
import sys
from typing import List, Optional

from .report import write_report
from .runner import RunOptions, ScenarioRun
from .scenariofile import MAX_GENERATORS, ScenarioError, read_scenario
from .startat import parse_start_at, start_problem, utc_text, wait_until
from .thresholds import Outcome
from .workstation import workstation_of

EXIT_OK, EXIT_FAILED, EXIT_USAGE, EXIT_THRESHOLDS = 0, 1, 2, 3

DESCRIPTION = """\
skerrowScenario - runs a load scenario: the stand-in hub and groups of Skerrow
Drivers sending traffic into it, with a live line, an end summary, thresholds
to hold, a JSON report, a chart and an HTML report to share.

It starts kivstandin on a private desktop (a fresh RK_DESKTOP directory of
mode 0700), then every generator of every group as the driver of its device
with its switches and /enable (offscreen unless --show; message boxes are
answered, so a failed start ends instead of waiting for a click). Once a
second it prints a live line: elapsed/total seconds, per group its commands
(from the hub's series) and its generators' response p99 (from their second
lines) in one wall-clock second, the one before the last that has passed, by
when every generator has written it; all commands; the generators the hub
holds of those in their window and the malformed texts so far (both from
its status command). A group with a window or bursts has its generators
started when each is due and ended through the hub's goodbye command, so
that each writes its closing line, unregisters and exits with 0.
At the end it has the hub announce its closing (the close command), waits
for every generator to end (the hub's grace plus 30 s, then ends those
left), and prints the summary per group and in all: generators, commands,
rate, failures, malformed texts, late and skipped ticks, exit codes, the
window each rate is taken over, and a table of answer and response times in
ms (the chosen percentiles and the maximum, with the commands behind them).
For each group with a window or bursts: when they ran on the hub's time
axis, and every other group's rate and response p50 and p99 in the hub's
seconds inside them beside those outside them. Then, if the scenario has
thresholds, a table of each condition, its
measured value and whether it held. kivstandin and skerrowDriver are taken
from the directory that holds this program.

With --start-at the run waits for an agreed wall-clock moment, so that runs
on several workstations load the system at once; skerrowScenario merge
(see skerrowScenario merge --help) reads their reports as one run."""

EPILOG = f"""\
Scenario file (INI; names of sections, keys, groups and figures in any letter
case; ; or # begins a comment line):
  [scenario]
  seconds=30           how long traffic runs (required; --seconds overrides it)
  percentiles=50,95,99,99.9
                       optional: the percentiles of the times table, each in
                       (0,100] (default 50,90,99,99.9); 99.9 is the figure p999
  [hub]                optional; each key becomes a kivstandin option:
  devices=4094           --devices N: the device limit
  grace=5                --grace N: seconds the hub waits for drivers after closing
  driver-mode=on         --driver-mode on|off
  register-reply=V       --register-reply V: every registration answers V
  [thresholds]         optional; one condition a line, GROUP.FIGURE OP NUMBER:
  all.malformed == 0     GROUP: a group or all; OP: < <= > >= == !=
  burble.response_p99_ms < 50
  peaks.rate >= 50       FIGURE: rate, commands, failures, malformed,
                         late_ticks, skipped_ticks, and answer_P_ms and
                         response_P_ms for each chosen percentile P (p50,
                         p999...) and max. A figure without a value (no
                         commands, no closing line) fails its condition.
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
  When the generators run, in seconds from the run's start (optional; without
  these they run from the start to the end):
  start=5 stop=15        a window: they start at start and the hub says
                         goodbye to each at stop
  at=4,10,16 for=3       bursts: at each second a generator per device starts,
                         told goodbye for seconds later; a device's bursts may
                         not overlap (its next burst starts a new generator once
                         the last has ended); not with start or stop
  ramp=4                 the generators of the window or of each burst start
                         spread evenly over 4 s (the last 4 s after the first)
  A window or burst ends by the run's end (seconds or --seconds); a stop not
  after start, a ramp that outlasts its window, at without for or for without
  at, and negative or non-numeric seconds are refused.

Figures: commands are the hub's counts per device. A rate is taken over a
window: from the moment every generator of the group (for all: of those
that start with the run) had registered (the hub's registration times) to
announcing closing, counting the hub's per-second series over the whole
seconds in it; for a group with a window or bursts, from each one's last
registration to its goodbye, over the whole seconds of them all. If a
group never fully registered, or no whole second lies in between, the rate
is every command over the whole run (from starting the generators to
closing), and the summary says so. Answer time: around a generator's send;
response time: from when its tick was due to the answer (a skipped tick's
commands count with the time they waited). Both are pooled exactly from the
generators' histograms on their closing lines ("SkerrowDriver: run: ...");
percentiles are nearest-rank, within 1.6 %. Failures, late ticks (fired
more than a tick time after due) and skipped ticks are summed from the same
lines, "-" when no generator wrote one. Malformed: the hub's count per
device; the "all" row has its full count. Inside and outside: a window or
burst lasts from its first generator registered to its last goodbye; the
hub's seconds of the all window that overlap one, even in part, are
inside, the rest outside; a rate counts the hub's series in them, response
p50 and p99 pool the generators' second lines of them exactly.

Report (--report FILE, JSON):
  schema       2
  started_utc  when the run began (ISO 8601, UTC)
  scenario     the file read: seconds, hub, groups, percentiles, thresholds
  run          seconds, traffic_from, closed_at (seconds from the start of
               the wall-clock second the hub started in: the hub's second N
               covers N-1 to N), interrupted
  groups       name -> figures;  total: the figures of all
               figures: generators, registered, commands, bytes, rate,
               window (from, to, seconds, whole_seconds: the first and the
               last second counted, spans: [first, last] of each stretch
               counted, measured, note),
               failures, malformed, ticks, late_ticks, skipped_ticks,
               omitted, answer_ms and response_ms (commands, each
               percentile, max), exit_codes (code -> generators)
  series       group -> per second of the hub: commands, answer_ms_p50,
               answer_ms_p99, response_ms_p99 (null: no line), late_ticks
  inside_outside  group with a window or bursts -> windows ([from, to] on
               the series' time axis), inside_seconds, outside_seconds,
               groups: every other group -> inside and outside: seconds,
               commands, rate, responses, response_ms_p50, response_ms_p99
  thresholds   per condition: condition, line, group, figure, operator,
               limit, value (null: none), held
  generators   one per device and burst: group, device, run (its burst,
               from 0), planned ([start, stop] from the run's start; null:
               the end), started_at, goodbye_at (null: at closing),
               arguments, exit_code, killed, registered, registered_at,
               commands, bytes, malformed (the hub's, for the device),
               closing (the closing line's figures and its answer and response
               histograms: min_ns, max_ns, count, buckets [[index, count]]
               of 64 a doubling), message_boxes
  hub          the hub's summary and its exit_code
  problems, ok (no problem and every threshold held)
  scenario_text  the scenario file's text as read
  workstation  where it ran: number (the hub's summary "workstation", as
               the configuration library gives it to the hub; null: none
               configured) and host

Chart (--chart FILE.png): above, commands per second over the hub's run, one
line per group (from the hub's series); below, on the same time axis, each
group's response p99 per second (log scale); closing marked on both, and
each window or burst shaded in its group's colour.

HTML report (--html FILE.html): one self-contained file to share, drawn from
the report's keys alone: the summary tables, the thresholds, interactive
charts of commands and response p99 per second per group and of each
group's percentile spectrum (answer and response times at p50, p75, p90,
p95, p99, p99.9, p99.99 and max, pooled from the generators' closing
histograms), the hub's summary and the scenario file's text. It opens
offline: Chart.js is copied into it from Debian's libjs-chart.js
(/usr/share/javascript/chart.js/chart.min.js), and without that file the
option is refused (exit code 2) before anything starts.

Exit codes:
  0  every generator registered and ended with 0, traffic arrived, nothing
     was malformed (no malformed command, no bad frame), every threshold held
  1  the run failed: a generator did not register, ended otherwise or had to
     be ended, no traffic, anything malformed, drivers left registered, the
     hub failed, or the run was interrupted (Ctrl-C, SIGTERM: it still closes
     and reports); 1 wins over 3
  2  a bad command line or scenario file (the message names the file, the
     section and the key, or the line of a condition); nothing is started
  3  the run went well but a threshold did not hold"""


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
        usage="%(prog)s SCENARIO.ini [options]\n       %(prog)s merge REPORT.json... [options]",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("scenario", metavar="SCENARIO.ini", help="the scenario file")
    parser.add_argument("--seconds", type=_positive_seconds, metavar="N",
                        help="run traffic for N seconds instead of the file's seconds")
    parser.add_argument("--show", action="store_true",
                        help="show the generators on the display (DISPLAY) instead of offscreen")
    parser.add_argument("--report", metavar="FILE", help="write the JSON report to FILE")
    parser.add_argument("--chart", metavar="FILE.png",
                        help="draw commands and response p99 per second per group to FILE.png")
    parser.add_argument("--html", metavar="FILE.html",
                        help="write a self-contained HTML report with interactive charts to FILE.html")
    parser.add_argument("--keep", action="store_true",
                        help="keep the run's directory (the hub's files, each generator's stderr) and say where")
    parser.add_argument("--start-at", type=parse_start_at, metavar="TIME",
                        help="start the hub at this wall-clock moment (Unix seconds, or ISO 8601 with its "
                             "offset: 2026-12-09T21:00:00Z), after every check; refused once it has passed")
    return parser.parse_args(argv)


def output_problem(arguments: argparse.Namespace) -> Optional[str]:
    """Why the --report, --chart or --html asked for cannot be written, before
    anything starts; None when they can."""
    return next((problem for problem in (
        _check_writable(arguments.report, "report"), _check_writable(arguments.chart, "chart"),
        _check_writable(arguments.html, "HTML report"), _html_problem(arguments.html)) if problem), None)


def _check_writable(path: Optional[str], what: str) -> Optional[str]:
    if path is None:
        return None
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder) or not os.access(folder, os.W_OK):
        return f"cannot write the {what} {path}: no writable directory {folder}"
    return None


def main(argv: List[str], bin_dir: str) -> int:
    if argv[:1] == ["merge"]:
        from .mergecli import main as merge_main
        return merge_main(argv[1:])
    arguments = parse_arguments(argv)
    try:
        scenario = read_scenario(arguments.scenario, arguments.seconds)
    except ScenarioError as error:
        print(f"skerrowScenario: {error}", file=sys.stderr)
        return EXIT_USAGE
    problem = output_problem(arguments)
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

    scenario_text = _text_of(arguments.scenario)
    problem = start_problem(arguments.start_at)
    if problem:
        print(f"skerrowScenario: {problem}", file=sys.stderr)
        return EXIT_USAGE
    if arguments.start_at is not None:
        print(f"skerrowScenario: waiting to start at {utc_text(arguments.start_at)}", flush=True)
        try:
            wait_until(arguments.start_at)
        except KeyboardInterrupt:
            print("skerrowScenario: interrupted while waiting to start; nothing was started", file=sys.stderr)
            return EXIT_FAILED
    result = ScenarioRun(scenario, RunOptions(bin_dir, show=arguments.show, keep=arguments.keep)).run()
    problems = result.problems
    result.report["scenario_text"] = scenario_text
    result.report["workstation"] = workstation_of(result.report.get("hub"))
    if arguments.report:
        write_report(arguments.report, result.report)
        print(f"skerrowScenario: report in {arguments.report}")
    if arguments.chart:
        if result.series:
            from .chart import draw_chart
            draw_chart(arguments.chart, scenario, result.series, result.closed_at, result.windows)
            print(f"skerrowScenario: chart in {arguments.chart}")
        else:
            problems.append("no chart: the hub wrote no series")
    if arguments.html:
        write_html_report(arguments.html, result.report)
    return _verdict(problems, result.outcomes)


def write_html_report(path: str, report: dict):
    from .htmlreport import write_html
    write_html(path, report)
    print(f"skerrowScenario: HTML report in {path}")


def _html_problem(path: Optional[str]) -> Optional[str]:
    if path is None:
        return None
    from .htmlreport import chart_js_problem
    return chart_js_problem()


def _text_of(path: str) -> str:
    """The scenario file as it was run, for the reports."""
    with open(path, encoding="utf-8", errors="replace") as stream:
        return stream.read()


def _verdict(problems: List[str], outcomes: List[Outcome]) -> int:
    """Says how the run went and gives its exit code: a failed run before
    missed thresholds, which only count when the run itself went well."""
    for problem in problems:
        print(f"skerrowScenario: {problem}", file=sys.stderr)
    missed = [o for o in outcomes if not o.held]
    if problems:
        print("skerrowScenario: FAILED")
        return EXIT_FAILED
    if missed:
        print(f"skerrowScenario: THRESHOLDS MISSED: {len(missed)} of {len(outcomes)} conditions did not hold: "
              + "; ".join(o.condition.text for o in missed))
        return EXIT_THRESHOLDS
    held = ", thresholds held" if outcomes else ""
    print(f"skerrowScenario: ok: every generator registered and ended with 0, nothing malformed{held}")
    return EXIT_OK
