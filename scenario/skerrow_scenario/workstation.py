"""Which workstation a run ran on, for the report: its number as the hub
gives it in its summary (the hub serves one workstation and asks the
configuration library), else its host name."""

import socket
from typing import Optional


def workstation_of(hub_summary: Optional[dict]) -> dict:
    """The report's "workstation": number (None when none is configured or
    the hub wrote no summary) and host."""
    number = (hub_summary or {}).get("workstation")
    return {"number": number if isinstance(number, int) and number > 0 else None, "host": socket.gethostname()}


def label_of(workstation: Optional[dict], fallback: str) -> str:
    """How a merge names the workstation: its number, else its host, else
    fallback (a report written before runs recorded either)."""
    workstation = workstation or {}
    if workstation.get("number"):
        return str(workstation["number"])
    return str(workstation.get("host") or fallback)
