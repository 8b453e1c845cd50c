"""Helpers and data shared by the tests of the zef package."""

import contextlib
import math
import re
import threading
import time

# The three series of the README's short example: with seglen 2 and alphabet 3
# the words hold the rise-and-fall pattern "acca" in every series.
SERIES = [
    [0.0, 0.0, 5.0, 5.0, 5.0, 5.0, 0.0, 0.0, 1.0, 1.0, 2.0, 2.0],
    [1.0, 1.0, 2.0, 2.0, 0.0, 0.0, 5.0, 5.0, 5.0, 5.0, 0.0, 0.0],
    [0.0, 0.0, 5.0, 5.0, 5.0, 5.0, 0.0, 0.0, 2.0, 2.0, 1.0, 1.0],
]
# One rise-and-fall shape, and three series made of it: as it is, turned by
# half its length, and reversed.
SHAPE = list(SERIES[0])
SHAPE_SERIES = [SHAPE, SHAPE[6:] + SHAPE[:6], SHAPE[::-1]]

# The text of every length error of the module, as a regular expression.
LENGTH_ERROR = re.escape("cannot create std::vector larger than max_size()")
# The binding layer's TypeError for arguments that do not convert.
INCOMPATIBLE = "incompatible (function|constructor) arguments"

MOTIF_PROPERTIES = ("pattern", "indexes", "average_occurrences", "representative", "best_matches", "length", "naed")


def summary(motifs):
    """What identifies each motif of a result, comparable with == (NaN equal to NaN)."""
    return [(m.pattern, m.indexes, m.best_matches, m.length, repr(m.naed)) for m in motifs]


def same_values(a, b, tol=1e-12):
    """Equal lists of floats, NaN equal to NaN."""
    a, b = list(a), list(b)
    return len(a) == len(b) and all(
        (math.isnan(x) and math.isnan(y)) or math.isclose(x, y, rel_tol=tol, abs_tol=tol)
        for x, y in zip(a, b, strict=False)
    )


def write_csv(path, rows, delimiter=","):
    """Writes rows of cells (str as is, numbers by repr) as a delimited file."""
    text = "\n".join(delimiter.join(c if isinstance(c, str) else repr(c) for c in row) for row in rows)
    path.write_text(text + "\n")
    return path


# Badly behaved sequences.


class LenRaises(list):
    def __len__(self):
        raise RuntimeError("no length")


class LenRaisesAfterFirstCall:
    """Gives its length once, then refuses: reading it twice left an
    exception pending while Python code ran on (SystemError)."""

    def __init__(self, items):
        self.items, self.calls = items, 0

    def __len__(self):
        self.calls += 1
        if self.calls > 1:
            raise RuntimeError("asked twice")
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class ClaimsLength:
    """Claims a length it does not have: trusting it reserved terabytes."""

    def __init__(self, claimed, items):
        self.claimed, self.items = claimed, items

    def __len__(self):
        return self.claimed

    def __getitem__(self, i):
        return self.items[i]


@contextlib.contextmanager
def other_thread_ticks():
    """Counts, while the body runs, the ticks of a second Python thread: it ticks only when it gets to run."""
    ticks = [0]
    done = threading.Event()

    def count():
        while not done.is_set():
            ticks[0] += 1
            time.sleep(0.001)

    counter = threading.Thread(target=count)
    counter.start()
    try:
        yield ticks
    finally:
        done.set()
        counter.join()
