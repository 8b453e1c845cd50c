"""Reading series from files, and readying them for the miner.

Three formats are read:

- csv: cells separated by a delimiter (comma, semicolon or tab, guessed from
  the first line unless given), one series per row, or per column with
  `columns=True`. Blank cells, and cells reading NA, N/A, NaN or null, are
  missing points.
- text: one series per line, values separated by white space; missing points
  are written NaN or NA.
- npy: a NumPy array of one or two dimensions (rows are series); NaN marks a
  missing point. Needs NumPy.

In csv and text files, lines starting with `#` are comments, and a first line
whose cells are all words (no number among them) is a header. The first
`skip_columns` columns are not data: in a file of one series per row the first
of them names each series (a label, a class); in a file of one series per
column it labels each point (a date, a time).

The engine z-normalises each series over all of its points, so a single missing
point would spoil the whole series: `prepare` fills gaps inside a series by
linear interpolation, cuts missing points off both ends, and sets aside series
that hold no value or only one value, remembering where each point came from.
"""

from zef.io._dataset import DataError, Dataset, Prepared
from zef.io._prepare import prepare, znorm, znorm_stats
from zef.io._read import FORMATS, detect_format, parse_value, read_series

__all__ = [
    "FORMATS",
    "DataError",
    "Dataset",
    "Prepared",
    "detect_format",
    "parse_value",
    "prepare",
    "read_series",
    "znorm",
    "znorm_stats",
]
