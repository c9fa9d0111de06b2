"""The command line of skerrowScenario merge: the reports of one scenario
run on several workstations, read as one run."""

import argparse
import dataclasses
import sys
from typing import List

from .cli import EXIT_USAGE, _verdict, output_problem, write_html_report
from .merge import SERIES_TIMES, MergeError, merge
from .report import write_report

DESCRIPTION = """\
skerrowScenario merge - reads the reports of one scenario, run on several
workstations (one hub each), as one run: prints the summary a run prints,
judges the scenario's thresholds on the whole and writes the merged report,
chart and HTML report.

Per workstation (its number as the configuration library gave it, else its
host name) a line of its own figures and where its hub's seconds begin on
the merged time axis. Then per group and in all: generators, commands and
rates added (each workstation's rate over its own window), failures,
malformed texts and ticks added, and answer and response times pooled
exactly from every generator's closing histograms, as a run pools its own.
The per-second series are laid on one axis by the wall-clock second each
hub started in (the hub's started_utc in the report; the hub's seconds are
the wall clock's), commands and late ticks added per second; a second's
answer and response times are """ + SERIES_TIMES + """
(the reports keep no histograms per second).

Refused with exit code 2: a report that cannot be read, reports of
different schema versions or of different scenarios (their content is
compared, not the file's path), a merged report, and two reports of one
workstation."""

EPILOG = """\
The merged report keeps a run's keys, with the times on the merged axis,
and adds:
  workstations  per report: workstation, number, host, report (its file),
                started_utc, series_origin_utc (the Unix second its hub
                started in), offset (its hub's second k is the merged
                second k + offset), traffic_from, closed_at, generators,
                commands, rate, failures, malformed, answer_ms, response_ms,
                thresholds_held of thresholds, problems, ok
  series_origin_utc  the Unix second the merged axis begins at
  series_times  how a second's times were merged
Each generator gains its workstation; hub holds the hubs' counts added and
their exit codes; inside_outside has the merged seconds and rates, its
response times are null. A group's window lists each workstation's.

Exit codes, as a run's:
  0  every run was clean and every threshold held on the whole
  1  a run failed (its problems are listed, by workstation); 1 wins over 3
  2  reports refused (see above) or a bad command line
  3  the runs went well but a threshold did not hold on the whole"""


def parse_arguments(argv: List[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="skerrowScenario merge", description=DESCRIPTION, epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("reports", metavar="REPORT.json", nargs="+",
                        help="a report of each workstation's run (--report)")
    parser.add_argument("--report", metavar="FILE", help="write the merged JSON report to FILE")
    parser.add_argument("--chart", metavar="FILE.png",
                        help="draw merged commands and response p99 per second per group to FILE.png")
    parser.add_argument("--html", metavar="FILE.html",
                        help="write the merged run as a self-contained HTML report to FILE.html")
    return parser.parse_args(argv)


def main(argv: List[str]) -> int:
    arguments = parse_arguments(argv)
    problem = output_problem(arguments)
    if problem:
        print(f"skerrowScenario: {problem}", file=sys.stderr)
        return EXIT_USAGE
    try:
        result = merge(arguments.reports)
    except MergeError as error:
        print(f"skerrowScenario: merge refused: {error}", file=sys.stderr)
        return EXIT_USAGE
    print(result.summary)
    problems = list(result.problems)
    if arguments.report:
        write_report(arguments.report, result.report)
        print(f"skerrowScenario: merged report in {arguments.report}")
    if arguments.chart:
        if any(entry["commands"] for entry in result.report["series"].values()):
            from .chart import draw_chart
            # Its title says whose load it is; the legend's generators are a workstation's.
            workstations = len(result.report["workstations"])
            scenario = dataclasses.replace(result.scenario,
                                           path=f"{result.scenario.path} on {workstations} workstations")
            draw_chart(arguments.chart, scenario, result.report["series"], result.closed_at, result.windows)
            print(f"skerrowScenario: chart in {arguments.chart}")
        else:
            problems.append("no chart: no report holds a series")
    if arguments.html:
        write_html_report(arguments.html, result.report)
    return _verdict(problems, result.outcomes)
