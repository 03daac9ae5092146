"""The files of a series as pandas DataFrames: the records of a data file,
the trace (wide and long), a study's summary, and what the criteria
columns mean.

Every frame has one dtype per column, whatever made it (a Series, a
StudyCell, a Simulation): counts and generations are numbers, a criterion
never met is missing (pd.NA, in nullable "Int64" columns) rather than 0,
and habitat is categorical (0 left, 1 right). The data file's bytes keep
their 0s; only the frames read them as missing.

>>> import numpy as np
>>> trace_frame(np.zeros((2, 13), dtype=np.int32)).dtypes["habitat"]
CategoricalDtype(categories=[0, 1], ordered=False)
"""

import numpy as np
import pandas as pd

from talveron.plots import TRACE_COLUMNS

TIMED_COLUMNS = list("ABCDEFGHI")
LEGEND = "A\tB\tC\tD\tE\tF\tG\tH\tI"

# What each column of timed records holds; a record's value is missing
# where the criterion was never met (the data file writes 0).
CRITERIA = {
    "A": "first generation at which more than 50% of the adults in both habitats prefer "
         "the habitat they live in",
    "B": "first generation at which more than 50% in both habitats are specialized to the "
         "habitat they live in",
    "C": "first generation at which more than 95% in both habitats are specialized to the "
         "habitat they live in",
    "D": "first generation at which one mating-preference type (red 0 or blue 1) is held "
         "by more than 50% in both habitats",
    "E": "first generation at which one mating-preference type is held by more than 95% "
         "in both habitats",
    "F": "predominant mating preference of the left habitat when E was met: 1 red, 2 blue",
    "G": "when E was met: 1 speciation (the habitats prefer different types), 2 a fad "
         "(both prefer the same)",
    "H": "as F",
    "I": "as G",
}

# The loci of the trace's counts, in the long format's order.
TRACE_LOCI = {"spec": "habitat specialization", "pref": "habitat preference",
              "mate": "mating-preference type"}


def criteria_legend():
    """What the columns A to I of timed records mean, as a dict; records
    frames carry it as frame.attrs["criteria"] too.

    >>> criteria_legend()["C"]
    'first generation at which more than 95% in both habitats are specialized to the habitat they live in'
    """
    return dict(CRITERIA)


def records_frame(data, record, seed, generations=None, span=None):
    """The records of a data file (its bytes) as a DataFrame.

    Timed criteria ("timed"): one row per replicate with its replicate
    number, its seed (the base seed `seed` + replicate - 1) and the
    columns A to I ("Int64": missing where not met; see criteria_legend).

    Running averages ("total", "preference", "specialization", "mating"):
    one row per completed span with the replicate on whose line it stands,
    the span's number on that line (from 1) and its average. With the
    series' `generations` per replicate and `span`, the generations it
    covers too: from_replicate, from_generation, to_replicate and
    to_generation (a span a replicate leaves unfinished is completed by the
    next and stands on its line). "none": no rows.

    >>> data = talveron.run_series(seed=3, replicates=2, generations=15, record="total",
    ...                            span=10, progress=False).data_file
    >>> r = records_frame(data, "total", seed=3, generations=15, span=10)
    >>> r[["replicate", "span", "average"]]
       replicate  span  average
    0          1     1       81
    1          2     1       81
    2          2     2       84
    >>> r[["from_replicate", "from_generation", "to_replicate", "to_generation"]]
       from_replicate  from_generation  to_replicate  to_generation
    0               1                1             1             10
    1               1               11             2              5
    2               2                6             2             15
    """
    lines = data.decode("ascii").split("\r")
    if lines and lines[-1] == "":
        lines.pop()
    if record == "timed":
        start = lines.index(LEGEND) + 2  # the legend and an empty line
        values = np.array([[int(v) for v in line.split("\t")] for line in lines[start:]],
                          dtype=np.int64).reshape(-1, 9)
        frame = pd.DataFrame({column: pd.array(np.where(values[:, i] == 0, pd.NA, values[:, i]),
                                               dtype="Int64")
                              for i, column in enumerate(TIMED_COLUMNS)})
        replicates = np.arange(1, len(frame) + 1, dtype=np.int64)
        frame.insert(0, "seed", np.uint64(seed) + (replicates - 1).astype(np.uint64))
        frame.insert(0, "replicate", replicates)
        frame.attrs["criteria"] = criteria_legend()
        return frame
    rows = []
    if record != "none":
        start = next(i for i, line in enumerate(lines)
                     if line.startswith("FOLLOWING AVERAGES ARE SHOWN")) + 1
        while start < len(lines) and lines[start].startswith("average "):
            start += 1
        for replicate, line in enumerate(lines[start:], start=1):
            fields = [f for f in line.split("\t") if f]
            rows.extend((replicate, number, int(f)) for number, f in enumerate(fields, start=1))
    values = np.array(rows, dtype=np.int64).reshape(-1, 3)
    frame = pd.DataFrame(values, columns=["replicate", "span", "average"])
    if generations is not None and span is not None:
        # The k-th span of the series covers its generations (k-1)*span+1 to k*span.
        k = np.arange(len(frame), dtype=np.int64)
        first = k * span
        last = first + span - 1
        frame["from_replicate"] = first // generations + 1
        frame["from_generation"] = first % generations + 1
        frame["to_replicate"] = last // generations + 1
        frame["to_generation"] = last % generations + 1
    return frame


def trace_frame(rows):
    """A trace's rows (a 2-D int32 array of the trace's 13 columns) as a
    DataFrame: int32 counts, habitat categorical.

    >>> trace_frame(np.zeros((2, 13), dtype=np.int32)).columns[:4].tolist()
    ['replicate', 'generation', 'habitat', 'adults']
    """
    frame = pd.DataFrame(np.asarray(rows, dtype=np.int32), columns=TRACE_COLUMNS, copy=False)
    frame["habitat"] = pd.Categorical.from_codes(np.asarray(rows)[:, 2].astype(np.int8),
                                                 categories=[0, 1])
    return frame


def trace_rows(frame):
    """The 2-D int32 array of a trace frame's 13 columns, as the trace file
    holds them."""
    columns = [frame[c].cat.codes if c == "habitat" else frame[c] for c in TRACE_COLUMNS]
    return np.ascontiguousarray(np.column_stack([np.asarray(c, dtype=np.int32) for c in columns]))


def trace_long(trace):
    """A trace in long format: a row per generation, habitat, locus and
    allele with its count of adults (and the habitat's adults), for
    plotting with seaborn or plotnine.

    >>> t = talveron.run_series(seed=1, replicates=1, generations=1, trace=True,
    ...                         progress=False).trace_long()
    >>> t.head(3)
       replicate  generation habitat  adults locus  allele  count
    0          1           1       0      75  spec       0      0
    1          1           1       0      75  spec       1      1
    2          1           1       0      75  spec       2     74
    >>> len(t)                               # 2 habitats x 3 loci x 3 alleles
    18
    """
    counts = [f"{locus}{allele}" for locus in TRACE_LOCI for allele in range(3)]
    values = trace[counts].to_numpy(dtype=np.int32)
    rows = len(trace)
    habitat = np.asarray(trace["habitat"].cat.codes if hasattr(trace["habitat"], "cat")
                         else trace["habitat"], dtype=np.int8)
    frame = pd.DataFrame({
        "replicate": np.repeat(trace["replicate"].to_numpy(), 9),
        "generation": np.repeat(trace["generation"].to_numpy(), 9),
        "habitat": pd.Categorical.from_codes(np.repeat(habitat, 9), categories=[0, 1]),
        "adults": np.repeat(trace["adults"].to_numpy(), 9),
        "locus": pd.Categorical.from_codes(np.tile(np.repeat(np.arange(3, dtype=np.int8), 3), rows),
                                           categories=list(TRACE_LOCI)),
        "allele": np.tile(np.array([0, 1, 2], dtype=np.int32), 3 * rows),
        "count": values.reshape(-1),
    })
    return frame


def summary_frame(path, parameters=()):
    """A study's summary.tsv as a DataFrame: the varied parameters as their
    numbers (`parameters`: their names), counts as whole numbers, and
    medians missing (pd.NA) where no replicate met the criterion.

    >>> st = talveron.run_study({"seed": 4, "replicates": 2, "generations": 50,
    ...                          "vary": {"density": [1, 2]}}, "summary-example",
    ...                         progress=False)
    >>> summary_frame("summary-example/summary.tsv", ["density"]).dtypes["A_median"]
    Float64Dtype()
    """
    from talveron._values import TABLE
    frame = pd.read_csv(path, sep="\t", dtype=str, keep_default_na=False)
    for column in frame.columns:
        text = frame[column]
        if column in parameters and column in TABLE:
            kind = TABLE[column][4]
            if kind == "boolean":
                frame[column] = text.isin(["1", "true"])
            elif kind == "integer":
                frame[column] = text.astype(np.int64)
            else:
                frame[column] = text.astype(np.float64)
        elif column.endswith("_median") or column in ("mean", "sd", "last"):
            frame[column] = pd.array(pd.to_numeric(text.mask(text == "")), dtype="Float64")
        else:
            frame[column] = pd.to_numeric(text, errors="ignore")
    return frame
