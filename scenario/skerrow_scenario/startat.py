"""--start-at: a run that begins at an agreed wall-clock moment, so that
runs on several workstations (their clocks kept by NTP) load the system at
once and their seconds line up when merged."""

import argparse
import time
from datetime import datetime, timezone
from typing import Callable, Optional

# Further ahead than this is taken for a mistake rather than waited for.
LONGEST_WAIT = 24 * 3600.0


def parse_start_at(text: str) -> float:
    """Unix seconds, or ISO 8601 with its offset (2026-12-09T21:00:00Z);
    argparse's error when it is neither."""
    try:
        return float(text) if text.replace(".", "", 1).isdigit() else _iso(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(f"not a moment: {text!r} ({error}); give Unix seconds or ISO 8601 "
                                         "with its offset, e.g. 2026-12-09T21:00:00Z") from None


def _iso(text: str) -> float:
    moment = datetime.fromisoformat(text)
    if moment.tzinfo is None:
        raise ValueError("no offset: say Z for UTC")
    return moment.timestamp()


def start_problem(moment: Optional[float], now: Optional[float] = None) -> Optional[str]:
    """Why the run cannot wait for moment, or None: a run that began late
    would not line up with the others, so a moment passed is refused."""
    if moment is None:
        return None
    now = time.time() if now is None else now
    if moment < now:
        return f"the start time {utc_text(moment)} passed {now - moment:.1f} s ago"
    if moment - now > LONGEST_WAIT:
        return f"the start time {utc_text(moment)} is more than {LONGEST_WAIT / 3600:g} hours ahead"
    return None


def wait_until(moment: float, clock: Callable[[], float] = time.time,
               sleep: Callable[[float], None] = time.sleep):
    """Sleeps until the wall clock reads moment, in steps, so that a clock
    stepped meanwhile (NTP) is followed."""
    while True:
        left = moment - clock()
        if left <= 0:
            return
        sleep(min(left, 1.0))


def utc_text(moment: float) -> str:
    return datetime.fromtimestamp(moment, timezone.utc).isoformat(timespec="milliseconds")
