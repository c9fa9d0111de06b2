"""Files that another process is still writing, read a whole line at a time."""

from typing import List


class GrowingFile:
    """The lines added to a file since the last look. A line still being
    written is left for the next look; a file not yet there has no lines."""

    def __init__(self, path: str):
        self.path = path
        self._offset = 0

    def new_lines(self) -> List[str]:
        try:
            with open(self.path, "rb") as stream:
                stream.seek(self._offset)
                data = stream.read()
        except OSError:
            return []
        end = data.rfind(b"\n") + 1
        self._offset += end
        return data[:end].decode("latin-1").splitlines()
