"""The report to share: one HTML file that opens offline in any browser,
with the summary tables, the thresholds, interactive charts of the series
and of each group's percentile spectrum, the hub's summary and the scenario
file's text.

It is drawn from the report dict alone (what --report writes, with the
scenario's text under "scenario_text"), so that a report read back from its
JSON renders the same. Chart.js comes from Debian's libjs-chart.js and is
copied into the file: nothing is fetched when the page opens, and the page
forbids itself any fetch (its Content-Security-Policy)."""

import html
import json
import math
import os
from fractions import Fraction
from typing import Dict, List, Optional, Tuple

from .histogram import Histogram, pooled
from .report import seconds_text

# The UMD build, which needs no module loader: it defines window.Chart.
CHART_JS = "/usr/share/javascript/chart.js/chart.min.js"
CHART_JS_PACKAGE = "libjs-chart.js"

# From the median to the tail: where waits behind others begin to show.
SPECTRUM: Tuple[Tuple[str, Fraction], ...] = (
    ("p50", Fraction(1, 2)), ("p75", Fraction(3, 4)), ("p90", Fraction(9, 10)),
    ("p95", Fraction(95, 100)), ("p99", Fraction(99, 100)), ("p99.9", Fraction(999, 1000)),
    ("p99.99", Fraction(9999, 10000)))
TIME_KINDS = ("answer", "response")
# One colour per group, the same in every chart; "all" is drawn in black.
PALETTE = ("#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2",
           "#7f7f7f", "#bcbd22", "#17becf")


class HtmlReportError(Exception):
    pass


def chart_js_problem(path: Optional[str] = None) -> Optional[str]:
    """Why the HTML report cannot be written here, or None: checked before
    a run, so that a missing library costs no run."""
    path = path or CHART_JS
    if os.access(path, os.R_OK):
        return None
    return (f"cannot write an HTML report: no Chart.js at {path} "
            f"(install Debian's {CHART_JS_PACKAGE}: apt-get install {CHART_JS_PACKAGE}, or bash scripts/setup.sh)")


def write_html(path: str, report: dict, chart_js: Optional[str] = None):
    """Writes the page for the report dict; chart_js: the library to copy
    in (default: Debian's)."""
    chart_js = chart_js or CHART_JS
    problem = chart_js_problem(chart_js)
    if problem:
        raise HtmlReportError(problem)
    with open(chart_js, encoding="utf-8") as stream:
        library = stream.read()
    page = render_html(report, library)
    with open(path, "w", encoding="utf-8") as stream:
        stream.write(page)


def _e(value) -> str:
    return html.escape("" if value is None else str(value), quote=True)


def script_json(value) -> str:
    """JSON to place inside a <script> element: no "</script>" or "<!--"
    can end or bend the element, since <, > and & only occur in strings."""
    text = json.dumps(value, allow_nan=False, separators=(",", ":"))
    return text.replace("&", "\\u0026").replace("<", "\\u003c").replace(">", "\\u003e")


def _inline_script(library: str) -> str:
    lowered = library.lower()
    if "</script" in lowered or "<!--" in lowered:
        raise HtmlReportError("the Chart.js build holds text that would end its <script> element")
    return library


# --- figures drawn from the report dict ---------------------------------------------------------

def group_rows(report: dict) -> List[Tuple[str, dict]]:
    return [*report.get("groups", {}).items(), ("all", report.get("total", {}))]


def spectrum(report: dict) -> Dict[str, Dict[str, dict]]:
    """Per group and in all, per kind of time: its commands and the values
    in ms at each SPECTRUM percentile and the maximum, pooled from the
    generators' closing histograms as the summary pools them."""
    per_group: Dict[str, Dict[str, List[Histogram]]] = {
        name: {kind: [] for kind in TIME_KINDS} for name, _ in group_rows(report)}
    for generator in report.get("generators", []):
        closing = generator.get("closing")
        if not closing:
            continue
        for name in (generator.get("group"), "all"):
            if name in per_group:
                for kind in TIME_KINDS:
                    per_group[name][kind].append(Histogram.from_dict(closing.get(kind, {})))
    result: Dict[str, Dict[str, dict]] = {}
    for name, kinds in per_group.items():
        result[name] = {}
        for kind, histograms in kinds.items():
            histogram = pooled(histograms)
            values = [histogram.quantile_ms(fraction) for _, fraction in SPECTRUM] + [histogram.max_ms()]
            result[name][kind] = {"commands": histogram.count, "ms": values}
    return result


def _finite(value) -> Optional[float]:
    return value if isinstance(value, (int, float)) and math.isfinite(value) else None


def _float(value) -> Optional[float]:
    return None if _finite(value) is None else float(value)


def chart_data(report: dict, spectra: Dict[str, Dict[str, dict]]) -> dict:
    """What the page's script draws: the hub's seconds (its second k covers
    k - 1 to k on the series' time axis), per group its series over them
    and its spectrum."""
    groups = []
    seconds = max((len(series.get("commands", [])) for series in report.get("series", {}).values()), default=0)

    def padded(values: list) -> List[Optional[float]]:
        return [_finite(v) for v in values[:seconds]] + [None] * (seconds - len(values))

    for index, (name, series) in enumerate(report.get("series", {}).items()):
        groups.append({
            "name": name, "colour": PALETTE[index % len(PALETTE)],
            "commands": padded(series.get("commands", [])),
            "response_p99": padded(series.get("response_ms_p99", [])),
        })
    colours = {group["name"]: group["colour"] for group in groups}
    return {
        "seconds": list(range(1, seconds + 1)),
        "closed_at": _finite(report.get("run", {}).get("closed_at")),
        "groups": groups,
        "spectrum_labels": [label for label, _ in SPECTRUM] + ["max"],
        # A group that runs in windows or bursts: when, shaded on the series.
        "shaded": [{"name": name, "colour": colours.get(name, "#000000"),
                    "windows": [[_finite(a), _finite(b)] for a, b in split.get("windows", [])]}
                   for name, split in report.get("inside_outside", {}).items()],
        "spectra": [{"name": name, "colour": colours.get(name, "#000000"),
                     "answer": [_finite(v) for v in kinds["answer"]["ms"]],
                     "response": [_finite(v) for v in kinds["response"]["ms"]]}
                    for name, kinds in spectra.items()],
    }


def _has_commands(data: dict) -> bool:
    return bool(data["seconds"]) and bool(data["groups"])


def _has_responses(data: dict) -> bool:
    return any(v is not None and v > 0 for group in data["groups"] for v in group["response_p99"])


def _has_spectrum(spectrum_entry: dict) -> bool:
    return any(v is not None and v > 0 for v in spectrum_entry["answer"] + spectrum_entry["response"])


def expected_charts(data: dict) -> int:
    """The charts the page draws: commands and response p99 per second
    where there are any, and a spectrum per group with times."""
    return (_has_commands(data) + _has_responses(data)
            + sum(1 for entry in data["spectra"] if _has_spectrum(entry)))


# --- HTML ---------------------------------------------------------------------------------------

def _number(value, decimals: int) -> str:
    if value is None:
        return "-"
    if isinstance(value, float):
        return f"{value:.{decimals}f}"
    return str(value)


def _table(header: List[str], rows: List[List[str]], caption: str = "", classes: str = "") -> str:
    """Cells are escaped here; the first column is a name, the rest numbers
    unless the table's classes say otherwise."""
    head = "".join(f"<th>{_e(cell)}</th>" for cell in header)
    body = "".join("<tr>" + "".join(f"<td>{_e(cell)}</td>" for cell in row) + "</tr>" for row in rows)
    caption_html = f"<caption>{_e(caption)}</caption>" if caption else ""
    return f'<table class="{_e(classes)}">{caption_html}<thead><tr>{head}</tr></thead><tbody>{body}</tbody></table>'


def _codes(codes: dict) -> str:
    return ", ".join(f"{code} x{count}" for code, count in (codes or {}).items()) or "-"


def _group_table(report: dict) -> str:
    header = ["group", "generators", "commands", "rate/s", "failures", "malformed", "late ticks",
              "skipped ticks", "exit codes"]
    rows = [[name, _number(row.get("generators"), 0), _number(row.get("commands"), 0),
             _number(_float(row.get("rate")), 1), _number(row.get("failures"), 0),
             _number(row.get("malformed"), 0), _number(row.get("late_ticks"), 0),
             _number(row.get("skipped_ticks"), 0), _codes(row.get("exit_codes"))]
            for name, row in group_rows(report)]
    return _table(header, rows, classes="last-text")


def window_text(window: dict) -> str:
    note = window.get("note", "")
    spans = window.get("spans") or ([window["whole_seconds"]] if window.get("whole_seconds") else None)
    if spans:
        text = ", ".join(f"{first}-{last}" if first != last else str(first) for first, last in spans)
        plural = "s" if sum(last - first + 1 for first, last in spans) > 1 else ""
        return f"the hub's second{plural} {text} ({note})"
    return f"the whole run, {_number(_float(window.get('seconds')), 1)} s ({note})"


def _window_list(report: dict) -> str:
    names: Dict[str, List[str]] = {}
    for name, row in group_rows(report):
        names.setdefault(window_text(row.get("window", {})), []).append(name)
    items = "".join(f"<li>rate/s of {_e(', '.join(group))}: {_e(text)}</li>" for text, group in names.items())
    return f'<ul class="windows">{items}</ul>'


def _inside_outside(report: dict) -> str:
    """Per group that runs in windows or bursts: when it ran, and every
    other group's rate and response times inside its windows and outside."""
    parts = []
    for shaped, split in report.get("inside_outside", {}).items():
        ran = ", ".join(f"{_number(_float(a), 1)}-{_number(_float(b), 1)} s" for a, b in split.get("windows", []))
        parts.append(f"<p>[{_e(shaped)}] ran in the hub's {_e(ran or 'no time')}; the hub's seconds "
                     f"{_e(seconds_text(split.get('inside_seconds', [])))} inside, "
                     f"{_e(seconds_text(split.get('outside_seconds', [])))} outside</p>")
        rows = []
        for name, sides in split.get("groups", {}).items():
            row = [name]
            for side in ("inside", "outside"):
                figures = sides.get(side, {})
                row += [_number(figures.get("seconds"), 0), _number(_float(figures.get("rate")), 1),
                        _number(_float(figures.get("response_ms_p50")), 3),
                        _number(_float(figures.get("response_ms_p99")), 3)]
            rows.append(row)
        parts.append(_table([f"beside [{shaped}]", "inside s", "rate/s", "p50 ms", "p99 ms",
                             "outside s", "rate/s", "p50 ms", "p99 ms"], rows))
    return "".join(parts)


def _percentile_labels(report: dict) -> Dict[str, str]:
    """Figure name to column label: p999 to p99.9, as the scenario chose."""
    labels = {}
    for value in report.get("scenario", {}).get("percentiles", []):
        label = f"{value:g}"
        labels["p" + label.replace(".", "")] = "p" + label
    return labels


def _times_table(report: dict) -> str:
    rows = group_rows(report)
    names: List[str] = []
    for _, row in rows:
        for kind in TIME_KINDS:
            for key in row.get(f"{kind}_ms", {}):
                if key not in ("commands", "max") and key not in names:
                    names.append(key)
    labels = _percentile_labels(report)
    header = ["times in ms", "commands", *(labels.get(name, name) for name in names), "max"]
    lines = []
    for name, row in rows:
        for kind in TIME_KINDS:
            times = row.get(f"{kind}_ms", {})
            lines.append([f"{name} {kind}", _number(times.get("commands"), 0),
                          *(_number(times.get(key), 3) for key in names), _number(times.get("max"), 3)])
    return _table(header, lines)


def _measured(value) -> str:
    if value is None:
        return "-"
    return str(value) if isinstance(value, int) else f"{value:.3f}"


def _thresholds_table(report: dict) -> str:
    outcomes = report.get("thresholds", [])
    if not outcomes:
        return "<p>The scenario sets no thresholds.</p>"
    rows = [[o.get("condition", ""), _measured(o.get("value")),
             "held" if o.get("held") else "FAILED" + (" (no value: nothing measured)" if o.get("value") is None else "")]
            for o in outcomes]
    return _table(["threshold", "measured", "result"], rows, classes="last-text verdicts")


def _spectrum_table(spectra: Dict[str, Dict[str, dict]]) -> str:
    header = ["times in ms", "commands", *(label for label, _ in SPECTRUM), "max"]
    rows = [[f"{name} {kind}", _number(figures["commands"], 0), *(_number(v, 3) for v in figures["ms"])]
            for name, kinds in spectra.items() for kind, figures in kinds.items()]
    return _table(header, rows)


def _scalar(value) -> bool:
    return value is None or isinstance(value, (str, int, float, bool))


def _hub_table(hub: dict) -> str:
    """Every key of the hub's summary: plain values in the table, lists and
    tables folded, as the hub wrote them."""
    if not hub:
        return "<p>The hub wrote no summary.</p>"
    rows = []
    for key, value in hub.items():
        if _scalar(value):
            cell = _e(json.dumps(value) if value is None or isinstance(value, bool) else value)
        else:
            size = len(value) if hasattr(value, "__len__") else 0
            cell = (f"<details><summary>{size} entr{'y' if size == 1 else 'ies'}</summary>"
                    f"<pre>{_e(json.dumps(value, indent=1))}</pre></details>")
        rows.append(f"<tr><th>{_e(key)}</th><td>{cell}</td></tr>")
    return f'<table class="keys"><tbody>{"".join(rows)}</tbody></table>'


def _exit_code(generator: dict) -> str:
    if generator.get("killed"):
        return "killed"
    return "running" if generator.get("exit_code") is None else str(generator["exit_code"])


def _generators_table(report: dict) -> str:
    """One row per generator: how it ran and what its closing line said."""
    generators = report.get("generators", [])
    rows = []
    for g in generators:
        closing = g.get("closing") or {}
        registered = g.get("registered_at")
        rows.append([
            g.get("group", ""), _number(g.get("device"), 0), _number(_exit_code(g), 0),
            "no" if registered is None else f"{registered:.3f}", _number(g.get("commands"), 0),
            _number(g.get("malformed"), 0), _number(closing.get("failures"), 0),
            _number(_float(closing.get("answer_ms_p99")), 3), _number(_float(closing.get("response_ms_p99")), 3),
            " ".join(str(a) for a in g.get("arguments", [])) + "".join(
                f" | message box: {box}" for box in g.get("message_boxes", []))])
    table = _table(["group", "device", "exit code", "registered at s", "commands", "malformed", "failures",
                    "answer p99 ms", "response p99 ms", "arguments"], rows, classes="last-text")
    return (f"<details><summary>{len(generators)} generator{'' if len(generators) == 1 else 's'}</summary>"
            f"{table}</details>")


# The keys the page shows in sections of their own; any other key of the
# report (a newer runner's) is listed as it stands, so that none is lost.
SHOWN_KEYS = {"schema", "started_utc", "scenario", "run", "groups", "total", "series", "inside_outside", "thresholds",
              "generators", "hub", "problems", "ok", "scenario_text", "workstation", "workstations",
              "series_origin_utc", "series_times"}


def _other_keys(report: dict) -> str:
    items = "".join(f"<details><summary>{_e(key)}</summary><pre>{_e(json.dumps(value, indent=1))}</pre></details>"
                    for key, value in report.items() if key not in SHOWN_KEYS)
    return f'<section id="more"><h2>More in the report</h2>{items}</section>' if items else ""


def _verdict(report: dict) -> str:
    problems = report.get("problems", [])
    if report.get("ok"):
        text, state = "ok: every generator registered and ended with 0, nothing malformed", "ok"
        if report.get("thresholds"):
            text += ", thresholds held"
    elif problems:
        text, state = "FAILED", "failed"
    else:
        missed = sum(1 for o in report.get("thresholds", []) if not o.get("held"))
        text, state = f"THRESHOLDS MISSED: {missed} of {len(report.get('thresholds', []))} conditions did not hold", "missed"
    items = "".join(f"<li>{_e(p)}</li>" for p in problems)
    return f'<p class="verdict {state}">{_e(text)}</p>' + (f"<ul class=\"problems\">{items}</ul>" if items else "")


def _run_line(report: dict) -> str:
    run = report.get("run", {})
    scenario = report.get("scenario", {})
    generators = sum(row.get("generators", 0) for _, row in report.get("groups", {}).items())
    parts = [f"started {report.get('started_utc') or '-'}",
             f"{generators} generators in {len(report.get('groups', {}))} groups",
             f"traffic for {_number(_float(run.get('seconds')), 1)} s"]
    if scenario.get("seconds") is not None:
        parts.append(f"scenario {scenario['seconds']:g} s" if isinstance(scenario["seconds"], (int, float))
                     else f"scenario {scenario['seconds']} s")
    if run.get("interrupted"):
        parts.append("interrupted")
    if report.get("workstation"):
        where = report["workstation"]
        parts.append(f"workstation {where['number']}" if where.get("number") else f"host {where.get('host')}")
    if report.get("workstations"):
        parts.append(f"merged from {len(report['workstations'])} workstations")
    return "<p class=\"run\">" + _e("; ".join(parts)) + "</p>"


def _workstations(report: dict) -> str:
    """A merged run's workstations: where each one's seconds lie on the
    merged axis and its own totals."""
    entries = report.get("workstations")
    if not entries:
        return ""
    rows = [[e.get("workstation", ""), _number(e.get("offset"), 0),
             _number(_float(e.get("traffic_from")), 1) + "-" + _number(_float(e.get("closed_at")), 1),
             _number(e.get("generators"), 0), _number(e.get("commands"), 0), _number(_float(e.get("rate")), 1),
             _number(e.get("failures"), 0), _number(e.get("malformed"), 0),
             "ok" if e.get("ok") else ("FAILED" if e.get("problems") else "thresholds missed"),
             e.get("report", "")] for e in entries]
    table = _table(["workstation", "offset s", "traffic s", "generators", "commands", "rate/s", "failures",
                    "malformed", "run", "report"], rows, classes="last-text")
    return (f'<section id="workstations"><h2>Workstations</h2><p>Each workstation\'s hub second k is the merged '
            f"second k + offset. In the merged series a second's answer and response times are "
            f"{_e(report.get('series_times', ''))}.</p>{table}</section>")


def _canvas(chart_id: str, label: str) -> str:
    return (f'<div class="chart"><canvas id="{_e(chart_id)}" data-chart="1" role="img" '
            f'aria-label="{_e(label)}"></canvas></div>')


def render_html(report: dict, library: str) -> str:
    spectra = spectrum(report)
    data = chart_data(report, spectra)
    name = os.path.basename(str(report.get("scenario", {}).get("file", "scenario")))
    title = f"Skerrow Driver load: {name}"
    series_charts = (_canvas("chart-commands", "commands per second per group") if _has_commands(data)
                     else "<p>The hub wrote no series.</p>")
    series_charts += (_canvas("chart-response", "response p99 per second per group") if _has_responses(data)
                      else "<p>No generator wrote a second line with times.</p>")
    spectrum_charts = "".join(
        f"<figure><figcaption>{_e(s['name'])}</figcaption>"
        f"{_canvas('chart-spectrum-' + str(index), 'percentile spectrum of ' + s['name'])}</figure>"
        for index, s in enumerate(data["spectra"]) if _has_spectrum(s))
    scenario_text = report.get("scenario_text")
    scenario_html = (f"<pre class=\"scenario\">{_e(scenario_text)}</pre>" if scenario_text is not None
                     else "<p>The report holds no scenario text.</p>")
    return f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{_e(title)}</title>
<script>{_RECORD_ERRORS}</script>
<style>{_STYLE}</style>
</head>
<body data-charts-expected="{expected_charts(data)}">
<header>
<h1>{_e(title)}</h1>
{_run_line(report)}
{_verdict(report)}
<p class="file">{_e(report.get("scenario", {}).get("file", ""))}</p>
</header>
<div id="script-errors" hidden></div>
{_workstations(report)}
<section id="summary"><h2>Summary</h2>
{_group_table(report)}
{_window_list(report)}
{_times_table(report)}
{_inside_outside(report)}
</section>
<section id="thresholds"><h2>Thresholds</h2>
{_thresholds_table(report)}
</section>
<section id="series"><h2>Over the run</h2>
<p>Commands per second, a bar per group and second (the hub's counts); below, each group's response p99 per second
(pooled from its generators' second lines, log scale). The dashed line marks when closing was announced;
a shaded span, when a group that runs in windows or bursts ran.</p>
{series_charts}
</section>
<section id="spectrum"><h2>Percentile spectrum</h2>
<p>Answer and response times in ms, pooled from every generator's closing histograms (nearest rank, within 1.6 %).</p>
{_spectrum_table(spectra)}
<div class="spectra">{spectrum_charts}</div>
</section>
<section id="generators"><h2>Generators</h2>
{_generators_table(report)}
</section>
{_other_keys(report)}
<section id="hub"><h2>The hub</h2>
{_hub_table(report.get("hub", {}))}
</section>
<section id="scenario"><h2>Scenario</h2>
{scenario_html}
</section>
<footer>Written by skerrowScenario; report schema {_e(report.get("schema"))}. Charts: Chart.js, MIT License.</footer>
<script type="application/json" id="chart-data">{script_json(data)}</script>
<script>{_inline_script(library)}</script>
<script>{_DRAW}</script>
</body>
</html>
"""


# Before anything else runs, so that a failure of the library itself is
# seen: every error and every fetch the page's policy blocked is listed on
# the root element, where a headless browser's dump shows it, and in a
# banner once the page has loaded.
_RECORD_ERRORS = """
window.reportProblems = [];
function recordProblem(text) {
  window.reportProblems.push(text);
  document.documentElement.setAttribute('data-script-errors', window.reportProblems.join(' | '));
  var banner = document.getElementById('script-errors');
  if (banner) { banner.hidden = false; banner.textContent = 'This page failed to draw: ' + window.reportProblems.join('; '); }
}
window.addEventListener('error', function (e) {
  recordProblem((e.message || 'error') + (e.filename ? ' (' + e.filename + ':' + e.lineno + ')' : ''));
});
document.addEventListener('securitypolicyviolation', function (e) {
  recordProblem('blocked by the page policy: ' + e.blockedURI + ' (' + e.violatedDirective + ')');
});
"""

_STYLE = """
body { font: 14px/1.4 system-ui, sans-serif; margin: 1.5em auto; max-width: 1100px; padding: 0 1em; color: #222; }
h1 { font-size: 1.5em; margin-bottom: .2em; } h2 { font-size: 1.2em; border-bottom: 1px solid #ccc; margin-top: 1.6em; }
table { border-collapse: collapse; margin: .6em 0; font-variant-numeric: tabular-nums; }
th, td { padding: .2em .7em; border-bottom: 1px solid #e4e4e4; text-align: right; white-space: nowrap; }
th:first-child, td:first-child { text-align: left; }
table.last-text td:last-child, table.last-text th:last-child { text-align: left; }
table.keys th { text-align: left; font-weight: normal; color: #555; } table.keys td { text-align: left; }
thead th { background: #f3f3f3; }
tbody tr:last-child td { border-bottom: none; }
.verdicts td:last-child { font-weight: bold; }
.verdict { font-weight: bold; padding: .3em .6em; display: inline-block; border-radius: 3px; }
.verdict.ok { background: #e3f4e3; color: #1d6b1d; } .verdict.failed { background: #fbe3e3; color: #9b1c1c; }
.verdict.missed { background: #fdf1d8; color: #8a5a00; }
.run, .file { color: #555; margin: .2em 0; }
#script-errors { background: #fbe3e3; color: #9b1c1c; padding: .5em; }
.chart { position: relative; height: 300px; margin: .8em 0; }
.spectra { display: grid; grid-template-columns: repeat(auto-fill, minmax(340px, 1fr)); gap: 1em; }
.spectra figure { margin: 0; } .spectra figcaption { font-weight: bold; }
.spectra .chart { height: 240px; }
pre { background: #f6f6f6; padding: .7em; overflow-x: auto; }
ul.windows { color: #444; margin: .3em 0; }
footer { margin-top: 2em; color: #777; font-size: .9em; }
"""

# Draws every chart without animation, so that each is complete when its
# constructor returns, then counts the charts that show points on painted
# canvases into data-charts-drawn: a reader (or a test) compares it with
# data-charts-expected.
_DRAW = """
(function () {
  var data = JSON.parse(document.getElementById('chart-data').textContent);
  Chart.defaults.animation = false;
  Chart.defaults.maintainAspectRatio = false;
  Chart.register({ id: 'renderedMark', afterRender: function (chart) { chart.canvas.setAttribute('data-rendered', '1'); } });
  // The series charts place the hub's second k (k - 1 to k on the time
  // axis) at index k - 1, so a moment t lies at index t - 0.5.
  var closing = {
    id: 'closing',
    beforeDatasetsDraw: function (chart, args, options) {
      var area = chart.chartArea, ctx = chart.ctx, scale = chart.scales.x;
      ctx.save(); ctx.beginPath(); ctx.rect(area.left, area.top, area.right - area.left, area.bottom - area.top); ctx.clip();
      (options.shaded || []).forEach(function (group) {
        ctx.fillStyle = group.colour; ctx.globalAlpha = 0.12;
        group.windows.forEach(function (w) {
          if (w[0] === null || w[1] === null) { return; }
          var left = scale.getPixelForValue(w[0] - 0.5), right = scale.getPixelForValue(w[1] - 0.5);
          ctx.fillRect(left, area.top, right - left, area.bottom - area.top);
        });
      });
      ctx.restore();
    },
    afterDatasetsDraw: function (chart, args, options) {
      if (options.at === null || options.at === undefined) { return; }
      var x = chart.scales.x.getPixelForValue(options.at - 0.5), area = chart.chartArea, ctx = chart.ctx;
      if (!(x >= area.left && x <= area.right)) { return; }
      ctx.save(); ctx.strokeStyle = '#888'; ctx.setLineDash([5, 4]); ctx.beginPath();
      ctx.moveTo(x, area.top); ctx.lineTo(x, area.bottom); ctx.stroke(); ctx.restore();
    }
  };
  function kept(values, keep) {
    return values.map(function (v) { return (v === null || v === undefined || !keep(v)) ? null : v; });
  }
  var secondsAxis = { type: 'category', offset: true,
                      title: { display: true, text: "the hub's second (second k: from k - 1 to k s after the start of the wall-clock second the hub started in)" } };
  var together = { mode: 'index', intersect: false };
  if (document.getElementById('chart-commands')) {
    var peaks = data.groups.map(function (g) { return Math.max.apply(null, [0].concat(g.commands.filter(function (v) { return v !== null; }))); });
    var positive = peaks.filter(function (v) { return v > 0; });
    // Groups far apart in rate would leave the low ones flat on the axis;
    // on a log scale a second without commands has no bar.
    var logRates = positive.length > 1 && Math.max.apply(null, positive) / Math.min.apply(null, positive) > 50;
    new Chart(document.getElementById('chart-commands'), {
      type: 'bar',
      data: { labels: data.seconds, datasets: data.groups.map(function (g) {
        return { label: '[' + g.name + ']', data: kept(g.commands, function (v) { return !logRates || v > 0; }),
                 borderColor: g.colour, backgroundColor: g.colour, categoryPercentage: 0.9, barPercentage: 1.0 };
      }) },
      options: { interaction: together,
                 plugins: { closing: { at: data.closed_at, shaded: data.shaded }, title: { display: true, text: 'commands per second' } },
                 scales: { x: secondsAxis,
                           y: logRates ? { type: 'logarithmic', title: { display: true, text: 'commands (log scale)' } }
                                       : { type: 'linear', min: 0, title: { display: true, text: 'commands' } } } },
      plugins: [closing]
    });
  }
  if (document.getElementById('chart-response')) {
    new Chart(document.getElementById('chart-response'), {
      type: 'line',
      data: { labels: data.seconds, datasets: data.groups.map(function (g) {
        return { label: '[' + g.name + ']', data: kept(g.response_p99, function (v) { return v > 0; }),
                 borderColor: g.colour, backgroundColor: g.colour, pointRadius: 2.5, borderWidth: 1, clip: false };
      }) },
      options: { interaction: together,
                 plugins: { closing: { at: data.closed_at, shaded: data.shaded }, title: { display: true, text: 'response p99 per second' } },
                 scales: { x: secondsAxis,
                           y: { type: 'logarithmic', title: { display: true, text: 'ms (log scale)' } } } },
      plugins: [closing]
    });
  }
  data.spectra.forEach(function (s, index) {
    var canvas = document.getElementById('chart-spectrum-' + index);
    if (!canvas) { return; }
    var positive = function (values) { return values.map(function (v) { return v !== null && v > 0 ? v : null; }); };
    new Chart(canvas, {
      type: 'line',
      data: { labels: data.spectrum_labels, datasets: [
        { label: 'answer', data: positive(s.answer), borderColor: s.colour, backgroundColor: s.colour, borderDash: [4, 3], pointRadius: 3, clip: false },
        { label: 'response', data: positive(s.response), borderColor: s.colour, backgroundColor: s.colour, pointRadius: 3, clip: false }] },
      options: { plugins: { title: { display: false } },
                 scales: { y: { type: 'logarithmic', title: { display: true, text: 'ms (log scale)' } } } }
    });
  });
  function painted(canvas) {
    var pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    for (var i = 3; i < pixels.length; i += 4) { if (pixels[i] !== 0) { return true; } }
    return false;
  }
  var drawn = 0;
  document.querySelectorAll('canvas[data-chart]').forEach(function (canvas) {
    var chart = Chart.getChart(canvas);
    if (!chart || canvas.getAttribute('data-rendered') !== '1' || !canvas.width || !canvas.height) { return; }
    var shown = chart.data.datasets.reduce(function (n, dataset, i) {
      return n + chart.getDatasetMeta(i).data.filter(function (e) { return !e.skip && isFinite(e.x) && isFinite(e.y); }).length;
    }, 0);
    if (shown > 0 && painted(canvas)) { drawn += 1; }
  });
  document.body.setAttribute('data-charts-drawn', String(drawn));
})();
"""
