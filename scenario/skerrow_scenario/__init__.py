"""Load scenarios for the Skerrow Driver: groups of generators against the
stand-in hub, with live figures, an end summary, a JSON report and a chart."""
