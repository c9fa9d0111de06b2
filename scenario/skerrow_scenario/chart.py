"""The chart: above, commands per second over the run, one line per group
(the hub's counts); below, on the same time axis, each group's response
p99 per second (pooled from its generators' second lines); on both, the
windows and bursts in which a group ran shaded in its colour. Imported only
when a chart is asked for, so that a run without one needs no matplotlib."""

from typing import Dict, List, Optional, Tuple

import matplotlib

matplotlib.use("Agg")  # no display: the chart only goes to a file
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.ticker import LogFormatter  # noqa: E402

from .scenariofile import Scenario  # noqa: E402


def draw_chart(path: str, scenario: Scenario, series: Dict[str, Dict[str, list]], closed_at: float,
               windows: Optional[Dict[str, List[Tuple[float, float]]]] = None):
    """Writes the chart as PNG. series: per group, its "commands" and
    "response_ms_p99" per second of the hub's run; closed_at: when closing
    was announced, and windows: per group that runs in windows or bursts,
    when they ran, both on the series' time axis, marked on both panels."""
    figure, (rates, responses) = plt.subplots(2, 1, figsize=(10, 8), dpi=100, sharex=True,
                                              gridspec_kw={"height_ratios": [3, 2]})
    colours = {group.name: f"C{index % 10}" for index, group in enumerate(scenario.groups)}
    _draw_rates(rates, scenario, series, colours)
    _draw_responses(responses, scenario, series, colours)
    for axes in (rates, responses):
        _shade_windows(axes, windows or {}, colours)
        if closed_at > 0:
            axes.axvline(closed_at, color="grey", linestyle="--", linewidth=1, label="closing announced")
        axes.grid(True, alpha=0.3)
        axes.legend(loc="best", fontsize="small")
    rates.set_title(f"Skerrow Driver load: {scenario.path.rsplit('/', 1)[-1]}")
    responses.set_xlabel("seconds from the start of the wall-clock second the hub started in")
    figure.tight_layout()
    figure.savefig(path, format="png")
    plt.close(figure)


def _seconds(values: List) -> List[float]:
    """The middle of each of the hub's seconds: its second k covers [k - 1, k)."""
    return [second - 0.5 for second in range(1, len(values) + 1)]


def _shade_windows(axes, windows: Dict[str, List[Tuple[float, float]]], colours: Dict[str, str]):
    for name, spans in windows.items():
        for index, (start, end) in enumerate(spans):
            axes.axvspan(start, end, color=colours[name], alpha=0.12, linewidth=0,
                         label=f"[{name}] registered to goodbye" if index == 0 else None)


def _draw_rates(axes, scenario: Scenario, series: Dict[str, Dict[str, list]], colours: Dict[str, str]):
    peak_low, peak_high = None, 0
    for group in scenario.groups:
        counts = series[group.name]["commands"]
        axes.plot(_seconds(counts), counts, label=_label(group.name, len(group.devices)),
                  drawstyle="steps-mid", linewidth=1.5, color=colours[group.name])
        top = max(counts, default=0)
        peak_high = max(peak_high, top)
        if top > 0:
            peak_low = top if peak_low is None else min(peak_low, top)
    # Groups far apart in rate would leave the low ones flat on the axis.
    if peak_low and peak_high / peak_low > 50:
        axes.set_yscale("symlog", linthresh=1)
        axes.set_ylabel("commands per second\n(log scale above 1)")
    else:
        axes.set_ylabel("commands per second")
        axes.set_ylim(bottom=0)


def _draw_responses(axes, scenario: Scenario, series: Dict[str, Dict[str, list]], colours: Dict[str, str]):
    """Response times span from microseconds to seconds of a blocked send,
    so the scale is logarithmic; a second without a line leaves a gap."""
    drawn = False
    for group in scenario.groups:
        p99 = [float("nan") if value is None else value for value in series[group.name]["response_ms_p99"]]
        axes.plot(_seconds(p99), p99, label=f"[{group.name}]", marker=".", markersize=3, linewidth=1,
                  color=colours[group.name])
        drawn = drawn or any(value > 0 for value in p99)
    if drawn:  # a log scale with nothing on it only warns
        axes.set_yscale("log")
        # Plain numbers: powers of ten would label a narrow range 3.05x10^0.
        axes.yaxis.set_major_formatter(LogFormatter())
        axes.yaxis.set_minor_formatter(LogFormatter(labelOnlyBase=False, minor_thresholds=(2, 0.5)))
    axes.set_ylabel("response p99 per second, ms\n(log scale)" if drawn else "response p99 per second, ms")


def _label(name: str, size: int) -> str:
    return f"[{name}] ({size} generator{'' if size == 1 else 's'})"
