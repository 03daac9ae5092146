"""The files of a series as pandas DataFrames: the records of a data file,
the trace, and a study's summary.

>>> import talveron.frames as frames
>>> records = frames.records_frame(open("series.txt", "rb").read(), "timed", seed=2026)
"""

import numpy as np
import pandas as pd

from talveron.plots import TRACE_COLUMNS

TIMED_COLUMNS = list("ABCDEFGHI")
LEGEND = "A\tB\tC\tD\tE\tF\tG\tH\tI"


def records_frame(data, record, seed):
    """The records of a data file (its bytes) as a DataFrame.

    Timed criteria ("timed"): one row per replicate with its replicate
    number, its seed (the base seed `seed` + replicate - 1) and the
    columns A to I. Running averages ("total", "preference",
    "specialization", "mating"): one row per completed span with the
    replicate on whose line it stands, the span's number on that line (from
    1) and its average; a span a replicate leaves unfinished is completed
    by the next and stands on its line. "none": no rows.

    >>> records_frame(s.data_file, "timed", seed=2026).columns.tolist()
    ['replicate', 'seed', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I']
    """
    lines = data.decode("ascii").split("\r")
    if lines and lines[-1] == "":
        lines.pop()
    if record == "timed":
        start = lines.index(LEGEND) + 2  # the legend and an empty line
        values = np.array([[int(v) for v in line.split("\t")] for line in lines[start:]],
                          dtype=np.int64).reshape(-1, 9)
        frame = pd.DataFrame(values, columns=TIMED_COLUMNS)
        replicates = np.arange(1, len(frame) + 1, dtype=np.int64)
        frame.insert(0, "seed", np.uint64(seed) + (replicates - 1).astype(np.uint64))
        frame.insert(0, "replicate", replicates)
        return frame
    rows = []
    if record != "none":
        start = next(i for i, line in enumerate(lines)
                     if line.startswith("FOLLOWING AVERAGES ARE SHOWN")) + 1
        while start < len(lines) and lines[start].startswith("average "):
            start += 1
        for replicate, line in enumerate(lines[start:], start=1):
            fields = [f for f in line.split("\t") if f]
            rows.extend((replicate, span, int(f)) for span, f in enumerate(fields, start=1))
    return pd.DataFrame(np.array(rows, dtype=np.int64).reshape(-1, 3),
                        columns=["replicate", "span", "average"])


def trace_frame(rows):
    """A trace's rows (a 2-D int32 array of the trace's 13 columns) as a
    DataFrame that uses the array itself, without a copy.

    >>> trace_frame(np.zeros((2, 13), dtype=np.int32)).columns[:4].tolist()
    ['replicate', 'generation', 'habitat', 'adults']
    """
    return pd.DataFrame(rows, columns=TRACE_COLUMNS, copy=False)


def summary_frame(path):
    """A study's summary.tsv as a DataFrame, the cell number as a number.

    >>> summary_frame("results/summary.tsv")[["cell", "speciation_share"]]
    """
    return pd.read_csv(path, sep="\t")
