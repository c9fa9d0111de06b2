"""The chart: commands per second over the run, one line per group, summed
over the group's devices from the hub's series."""

from typing import Dict, List

from .scenariofile import Scenario


def group_series(scenario: Scenario, series: dict) -> Dict[str, List[int]]:
    """Per group, its commands in each second of the hub's series."""
    seconds = int(series.get("seconds", 0))
    devices = series.get("devices", {})
    result = {}
    for group in scenario.groups:
        totals = [0] * seconds
        for device in group.devices:
            for i, count in enumerate(devices.get(str(device), {}).get("commands", [])[:seconds]):
                totals[i] += count
        result[group.name] = totals
    return result


def draw_chart(path: str, scenario: Scenario, series: dict, closed_at: float):
    """Writes the chart as PNG. closed_at: the second of the hub's run in
    which closing was announced, marked on the time axis."""
    import matplotlib
    matplotlib.use("Agg")  # no display: the chart only goes to a file
    import matplotlib.pyplot as plt

    lines = group_series(scenario, series)
    figure, axes = plt.subplots(figsize=(10, 5), dpi=100)
    peak_low, peak_high = None, 0
    for name, counts in lines.items():
        seconds = list(range(1, len(counts) + 1))
        axes.plot(seconds, counts, label=_label(scenario, name),
                  drawstyle="steps-mid", linewidth=1.5)
        top = max(counts, default=0)
        peak_high = max(peak_high, top)
        if top > 0:
            peak_low = top if peak_low is None else min(peak_low, top)
    # Groups far apart in rate would leave the low ones flat on the axis.
    if peak_low and peak_high / peak_low > 50:
        axes.set_yscale("symlog", linthresh=1)
        axes.set_ylabel("commands per second (log scale above 1)")
    else:
        axes.set_ylabel("commands per second")
        axes.set_ylim(bottom=0)
    if closed_at > 0:
        axes.axvline(closed_at, color="grey", linestyle="--", linewidth=1, label="closing announced")
    axes.set_xlabel("second of the run, counted from the hub's start")
    axes.set_title(f"Skerrow Driver load: {scenario.path.rsplit('/', 1)[-1]}, commands per second by group")
    axes.grid(True, alpha=0.3)
    axes.legend(loc="best")
    figure.tight_layout()
    figure.savefig(path, format="png")
    plt.close(figure)


def _label(scenario: Scenario, name: str) -> str:
    size = next(len(g.devices) for g in scenario.groups if g.name == name)
    return f"[{name}] ({size} generator{'' if size == 1 else 's'})"
