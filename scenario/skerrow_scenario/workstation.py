"""Which workstation a run ran on, for the report: its number as the
configuration library gives it, else its host name.

The number comes from the family's own chain (environment, then the
system's and the hub's settings files), which only the library knows in
full; so the runner asks the library itself, from the shared library that
lies beside the programs it starts, rather than read the files again."""

import ctypes
import glob
import os
import socket
from typing import List, Optional

LIBRARY = "librkconfig.so.1"
# int getWorkstation() as the C++ compilers of this platform name it.
GET_WORKSTATION = "_Z14getWorkstationv"


def _libraries(bin_dir: str) -> List[str]:
    """Where the library may lie: beside the programs in a build tree,
    under the kit's prefix (lib/ or its multiarch folder), else wherever
    the loader finds it."""
    prefix = os.path.join(bin_dir, os.pardir)
    found = [os.path.join(bin_dir, LIBRARY), os.path.join(prefix, "lib", LIBRARY)]
    found += sorted(glob.glob(os.path.join(prefix, "lib", "*", LIBRARY)))
    return [path for path in found if os.path.exists(path)] + [LIBRARY]


def configured_number(bin_dir: str) -> Optional[int]:
    """The library's answer, None when no library can be loaded. 0 is its
    own answer for none configured."""
    for path in _libraries(bin_dir):
        try:
            library = ctypes.CDLL(path)
            function = getattr(library, GET_WORKSTATION)
        except (OSError, AttributeError):
            continue
        function.restype, function.argtypes = ctypes.c_int, []
        return int(function())
    return None


def workstation_of(bin_dir: str) -> dict:
    """The report's "workstation": number (None when none is configured
    or the library cannot be loaded) and host."""
    number = configured_number(bin_dir)
    return {"number": number or None, "host": socket.gethostname()}


def label_of(workstation: Optional[dict], fallback: str) -> str:
    """How a merge names the workstation: its number, else its host, else
    fallback (a report written before runs recorded either)."""
    workstation = workstation or {}
    if workstation.get("number"):
        return str(workstation["number"])
    return str(workstation.get("host") or fallback)
