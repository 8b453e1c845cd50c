"""Small helpers shared by the tests of the zef package."""

import math


def same_values(a, b, tol=1e-12):
    """Equal lists of floats, NaN equal to NaN."""
    a, b = list(a), list(b)
    return len(a) == len(b) and all(
        (math.isnan(x) and math.isnan(y)) or math.isclose(x, y, rel_tol=tol, abs_tol=tol) for x, y in zip(a, b)
    )


def write_csv(path, rows, delimiter=","):
    """Writes rows of cells (str as is, numbers by repr) as a delimited file."""
    text = "\n".join(delimiter.join(c if isinstance(c, str) else repr(c) for c in row) for row in rows)
    path.write_text(text + "\n")
    return path
