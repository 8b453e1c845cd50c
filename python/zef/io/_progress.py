"""How much of a large file has been read, reported on a stream."""

from __future__ import annotations

from collections.abc import Iterator
from typing import IO, TextIO

__all__ = ["ReadingProgress"]


class ReadingProgress:
    """Reports on a stream how much of a large file has been read."""

    def __init__(self, path: str, size: int, stream: TextIO) -> None:
        self.path, self.size, self.stream = path, size, stream
        self.tty = stream.isatty()
        self.shown = -1

    def follow(self, rows: Iterator[tuple[int, list[str]]], raw: IO[bytes]) -> Iterator[tuple[int, list[str]]]:
        for row in rows:
            self.show(raw.tell())
            yield row

    def show(self, position: int) -> None:
        percent = min(100, position * 100 // max(self.size, 1))
        step = percent if self.tty else percent // 25 * 25
        if step <= self.shown:
            return
        self.shown = step
        megabytes = self.size / 1e6
        text = f"reading {self.path}: {step}% of {megabytes:.1f} MB"
        if self.tty:
            self.stream.write("\r" + text)
        else:
            self.stream.write(text + "\n")
        self.stream.flush()

    def finish(self) -> None:
        self.show(self.size)
        if self.tty:
            self.stream.write("\n")
            self.stream.flush()
