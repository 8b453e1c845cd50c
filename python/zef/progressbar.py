"""A progress bar on a stream for the stages of `zef.mine` and `zef.discover`, shown only for long work."""

from __future__ import annotations

import time
from typing import TextIO

__all__ = ["ProgressBar"]

# Work shorter than this shows no bar at all.
DELAY = 1.0
# A terminal's bar is redrawn at most this often (seconds).
REDRAW = 0.1
WIDTH = 24

LABELS = {
    "discretise": "discretising series",
    "mine": "mining patterns",
    "filter": "filtering redundant patterns",
    "map": "ranking motifs",
    "collect": "mapping the best motifs",
    "prepare": "detrending series",
    "candidates": "taking candidate shapes",
    "screen": "screening candidates",
    "refine": "refining candidates",
    "occurrences": "finding occurrences",
}


class ProgressBar:
    """A callback for `zef.mine(progress=...)` or `zef.discover(progress=...)` that draws a bar on `stream`.

    On a terminal the bar is redrawn in place; elsewhere (when asked for) it
    writes a line for each stage and each quarter of it. Nothing is drawn
    before DELAY seconds have passed; close() clears the bar.

    Parameters
    ----------
    stream : text stream
        Where the bar is drawn (stderr, as a rule).

    Examples
    --------
    >>> import io
    >>> import zef
    >>> from zef.progressbar import ProgressBar
    >>> bar = ProgressBar(io.StringIO())
    >>> motifs = zef.mine([[1.0, 2.0, 3.0, 2.0]] * 4, 0.5, 1, 3, progress=bar)
    >>> bar.close()
    """

    def __init__(self, stream: TextIO) -> None:
        self.stream = stream
        self.tty = stream.isatty()
        self.start = time.monotonic()
        self.drawn = 0.0
        self.shown: tuple[str, int] | None = None
        self.width = 0

    def __call__(self, stage: str, done: int, total: int) -> None:
        now = time.monotonic()
        if now - self.start < DELAY:
            return
        label = LABELS.get(stage, stage)
        if total:
            share = min(done, total) / total
            filled = int(share * WIDTH)
            text = f"{label}: [{'#' * filled}{'.' * (WIDTH - filled)}] {done:,} of {total:,}"
        else:
            share = 0.0
            text = f"{label}: level {done}" if done else f"{label}: ..."
        if self.tty:
            if now - self.drawn < REDRAW and done != total:
                return
            self.stream.write("\r" + text.ljust(self.width))
            self.width = len(text)
        else:
            step = (stage, int(share * 4))
            if step == self.shown:
                return
            self.shown = step
            self.stream.write(text + "\n")
        self.drawn = now
        self.stream.flush()

    def close(self) -> None:
        """Clears a bar drawn on a terminal."""
        if self.tty and self.width:
            self.stream.write("\r" + " " * self.width + "\r")
            self.stream.flush()
            self.width = 0
