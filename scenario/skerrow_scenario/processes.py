"""The processes of a run: a private desktop, the hub and the generators.

Each process's stderr goes to a file of the run directory, so that no pipe
can fill and stall it; the hub's stdout is read by a thread, because its
answers to commands are awaited one at a time.
"""

import os
import queue
import shutil
import signal
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass
from typing import Dict, List, Optional

from .generatorlines import GeneratorLine, last_closing
from .scenariofile import Group, Span

# How long the desktop's window station stays after its last client. Short,
# so that the run directory can go soon after the run.
STATION_LINGER_MS = "300"


def wait_until(condition, seconds: float, step: float = 0.05) -> bool:
    """Polls condition until it holds or the bound passes; its last value."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() >= deadline:
            return condition()
        time.sleep(step)
    return True


def _alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


class RunDirectory:
    """A directory of the run's files with the private desktop inside it."""

    def __init__(self, keep: bool = False):
        self.path = tempfile.mkdtemp(prefix="skerrowScenario-")  # mode 0700
        self.desktop = os.path.join(self.path, "desktop")
        os.mkdir(self.desktop, 0o700)
        self.keep = keep

    def file(self, name: str) -> str:
        return os.path.join(self.path, name)

    def environment(self, show: bool) -> Dict[str, str]:
        env = dict(os.environ)
        env["RK_DESKTOP"] = self.desktop
        # A generator that cannot start reports its message box and ends
        # instead of waiting for a click nobody gives.
        env["RK_ANSWER_MESSAGE_BOXES"] = "1"
        env["RK_WINSTATION_LINGER_MS"] = STATION_LINGER_MS
        if not show:
            env["QT_QPA_PLATFORM"] = "offscreen"
        return env

    def station_pid(self) -> Optional[int]:
        try:
            with open(os.path.join(self.desktop, "winstation.pid")) as stream:
                return int(stream.read().split()[0])
        except (OSError, ValueError, IndexError):
            return None

    def close(self):
        """Waits for the desktop's window station to leave (it does once its
        clients have gone), ends it if it stays, and removes the directory."""
        pid = self.station_pid()
        if pid is not None and not wait_until(lambda: not _alive(pid), 10):
            try:
                os.kill(pid, signal.SIGTERM)
            except OSError:
                pass
            wait_until(lambda: not _alive(pid), 5)
        if not self.keep:
            shutil.rmtree(self.path, ignore_errors=True)


def _field(lines: List[str], word: str, key: str) -> str:
    """The value of key=value on the line that begins with word; "" without one."""
    items = next((line.split()[1:] for line in lines if line.startswith(word + " ")), [])
    return dict(item.split("=", 1) for item in items if "=" in item).get(key, "")


@dataclass
class HubStatus:
    """The hub's answer to its status command."""
    devices: List[int]  # registered now
    malformed: Optional[int]  # malformed texts so far; None if the hub did not count them
    started_utc: Optional[float]  # when the hub's run began; None if it did not say


class Hub:
    """kivstandin, with commands on its stdin and their answers read back."""

    def __init__(self, binary: str, arguments: List[str], env: Dict[str, str], run: RunDirectory):
        self.ready_file = run.file("hub.ready")
        self.summary_file = run.file("hub.summary.json")
        self.series_file = run.file("hub.series.csv")
        self.error_file = run.file("hub.err")
        self.stdout: List[str] = []
        self._answers: "queue.Queue[str]" = queue.Queue()
        self._unanswered = 0  # commands given up on whose answers are still to be read
        command = [binary, "--ready", self.ready_file, "--summary", self.summary_file,
                   "--series", self.series_file, *arguments]
        with open(self.error_file, "wb") as errors:
            self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                            stderr=errors, env=env, text=True, encoding="latin-1",
                                            bufsize=1)
        self._reader = threading.Thread(target=self._read_stdout, daemon=True)
        self._reader.start()

    def _read_stdout(self):
        for line in self.process.stdout:
            line = line.rstrip("\n")
            self.stdout.append(line)
            self._answers.put(line)

    def wait_ready(self, seconds: float) -> bool:
        """Whether the hub's window exists (it writes the ready file whole, by renaming)."""
        wait_until(lambda: os.path.exists(self.ready_file) or self.process.poll() is not None, seconds)
        return os.path.exists(self.ready_file)

    def command(self, line: str, seconds: float = 10) -> List[str]:
        """Every line the command printed, its "ok"/"error" line last; empty
        when the hub has gone or said nothing within the bound."""
        try:
            self.process.stdin.write(line + "\n")
            self.process.stdin.flush()
        except (BrokenPipeError, ValueError, OSError):
            return []
        lines: List[str] = []
        deadline = time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            try:
                answer = self._answers.get(timeout=max(left, 0)) if left > 0 else None
            except queue.Empty:
                answer = None
            if answer is None:
                # Its answer may still come: it must not be taken for the next command's.
                self._unanswered += 1
                return []
            lines.append(answer)
            if answer.startswith("ok ") or answer.startswith("error "):
                if self._unanswered == 0:
                    return lines
                self._unanswered -= 1
                lines = []

    def last_words(self, count: int) -> List[str]:
        """The last lines of the hub's stderr, to show why it did not start."""
        try:
            with open(self.error_file, "rb") as stream:
                return stream.read().decode("latin-1").splitlines()[-count:]
        except OSError:
            return []

    def status(self) -> Optional[HubStatus]:
        """What the hub holds now, or None when it did not answer."""
        lines = self.command("status", seconds=2)
        if not lines or not lines[-1].startswith("ok status"):
            return None
        devices = [int(line.split()[1]) for line in lines if line.startswith("driver ")]
        malformed = _field(lines, "counts", "malformed")
        started = _field(lines, "run", "started_utc")
        try:
            started_utc = float(started) if started else None
        except ValueError:
            started_utc = None
        return HubStatus(devices, int(malformed) if malformed.isdigit() else None, started_utc)

    def say_goodbye(self, device: int) -> bool:
        """Has the hub send its closing message to the device's driver alone;
        False when no driver holds the device (yet) or the hub did not answer."""
        lines = self.command(f"goodbye {device}", seconds=2)
        return bool(lines) and lines[-1] == f"ok goodbye {device}"

    def announce_closing(self) -> Optional[int]:
        """Asks the hub to announce its closing; the drivers told, or None."""
        lines = self.command("close")
        if lines and lines[-1].startswith("ok close "):
            return int(lines[-1].split()[2])
        return None

    def wait(self, seconds: float) -> Optional[int]:
        try:
            code = self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            return None
        self._reader.join(timeout=5)
        return code

    def stop(self):
        """Ends the hub if it is still running (it was started here)."""
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for stream in (self.process.stdin, self.process.stdout):
            try:
                stream.close()
            except OSError:
                pass


class Generator:
    """One skerrowDriver, the driver of one device of its group in one of
    the group's runs (its window, or one of its bursts), started when its
    run is due."""

    def __init__(self, group: Group, index: int, run: int, run_dir: RunDirectory):
        self.group = group.name
        self.device = group.devices[index]
        self.run = run
        self.planned: Span = group.runs(index)[run]
        self.arguments = [*group.switches(index), "/enable", str(self.device)]
        self.error_file = run_dir.file(f"generator-{self.device}{f'-{run + 1}' if group.bursts else ''}.err")
        self.process: Optional[subprocess.Popen] = None
        self.launched: Optional[float] = None  # monotonic
        self.told_goodbye: Optional[float] = None  # monotonic, when the hub said goodbye to it alone
        self.exit_code: Optional[int] = None
        self.killed = False

    def start(self, binary: str, env: Dict[str, str]):
        self.launched = time.monotonic()
        with open(self.error_file, "wb") as errors:
            self.process = subprocess.Popen([binary, *self.arguments], stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=errors, env=env)

    def running(self) -> bool:
        if self.process is not None and self.exit_code is None:
            self.exit_code = self.process.poll()
        return self.process is not None and self.exit_code is None

    def due_to_end(self, elapsed: float) -> bool:
        """Whether its run has ended and it still runs without having been told."""
        end = self.planned[1]
        return end is not None and end <= elapsed and self.told_goodbye is None and self.running()

    def kill(self):
        if self.running():
            self.process.kill()
            self.exit_code = self.process.wait()
            self.killed = True

    def debug_output(self) -> str:
        try:
            with open(self.error_file, "rb") as stream:
                return stream.read().decode("latin-1")
        except OSError:
            return ""

    def closing(self) -> Optional[GeneratorLine]:
        return last_closing(self.debug_output())

    def message_boxes(self) -> List[str]:
        return [line.split(": ", 1)[1] for line in self.debug_output().splitlines()
                if line.startswith("message box answered: ")]


def wait_for_generators(generators: List[Generator], seconds: float) -> List[Generator]:
    """Waits for every generator to end by itself; ends those still running
    after the bound and returns them."""
    wait_until(lambda: not any(g.running() for g in generators), seconds, step=0.1)
    late = [g for g in generators if g.running()]
    for generator in late:
        generator.kill()
    return late
