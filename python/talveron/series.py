"""A series of replicates, as talveron-batch runs it: run_series, and its
result, a Series (a ScenarioSeries when run with scheduled changes, the
trace's statistics or genotype samples)."""

import os

from talveron import _progress, _talveron, _values, frames, scenarios
from talveron._interrupt import STOPPED, stopped
from talveron.simulation import ADULT_DTYPE

__all__ = ["run_series", "Series", "ScenarioSeries"]


def run_series(*, seed=None, replicates=2, generations=5000, record="timed", span=10,
               trace=False, jobs=None, progress=None, changes=None, stats=False,
               sample_every=None, **parameters):
    """Run a series of replicates, as talveron-batch does, and return its
    Series: the records, the trace and the data file's bytes.

    seed         base seed; replicate k is seeded with seed + k - 1 (default:
                 from the clock, kept in Series.seed)
    replicates   replicates in the series, 1 to 1000000000 (default 2)
    generations  generations per replicate, 1 to 1000000000 (default 5000)
    record       "timed" (the generations at which the criteria are first met),
                 or the averaged variable of the left habitat: "total",
                 "preference", "specialization", "mating"; "none"
    span         averaging span in generations (default 10)
    trace        keep the census of every generation (Series.trace)
    jobs         replicates run at once (default: one per core); the results
                 are the same for any number
    progress     show a progress bar (tqdm when installed, else a line on
                 standard error); default: when interactive (a notebook, a
                 terminal's interpreter)
    parameters   the model's, by name, as talveron.parameters() lists them
    changes      scheduled changes: [(generation, {name: value, ...}), ...],
                 each applied before the Reproduction of its generation in
                 every replicate (talveron-batch --change GEN:NAME=VALUE)
    stats        the trace gains F_ST, gene diversity and Cramer's V per
                 generation (NaN where undefined); needs trace=True
    sample_every genotype samples of every N-th generation and the last (0:
                 the last only), as Series.genotypes and Series.samples

    Numbers may be Python's or numpy's; a whole-valued decimal (4.0) passes
    for a whole number. Bad values raise ValueError naming the value and
    what is allowed; an unknown keyword or a value of the wrong type raises
    TypeError. Ctrl+C stops at the end of the running generation and
    raises talveron.Interrupted (a KeyboardInterrupt) whose `series` holds
    every complete record, as the batch command's FILE.partial does.

    >>> s = talveron.run_series(seed=2026, replicates=4, generations=200,
    ...                         record="timed", trace=True, density=4,
    ...                         selectionFactor=0.8, progress=False)
    >>> s.records[["replicate", "seed", "A", "C", "E"]]
       replicate  seed   A   C   E
    0          1  2026  26  34  31
    1          2  2027  28  37  35
    2          3  2028  18  25  24
    3          4  2029  25  32  30
    >>> s.trace[s.trace.replicate == 1].shape
    (400, 13)
    >>> s.save("series.txt", trace="series.trace")
    ['series.txt', 'series.trace']
    """
    trace = _values.flag("run_series", "trace", trace)
    stats = _values.flag("run_series", "stats", stats)
    show = _progress.choose(progress, "run_series")
    plan = _values.plan("run_series", seed, replicates, generations, record, span, parameters)
    jobs_text = _values.jobs("run_series", jobs)
    scenario = bool(changes) or stats or sample_every is not None
    if scenario:
        plan = _scenario_plan(plan, trace, changes, stats, sample_every)
    samples = [] if sample_every is not None else None
    bar = _progress.Progress(show, plan.replicates * plan.generations, "series")
    # The statistics widen the trace: it comes as the trace file's text.
    form = ((_talveron.TraceForm.text if stats else _talveron.TraceForm.rows) if trace
            else _talveron.TraceForm.none)
    try:
        data, rows, records, stop = _talveron.run_series(plan, form, jobs_text,
                                                         bar if show else None, samples)
    except BaseException:
        bar.close()
        raise
    bar.close(done=bar.total if stop is None else None)
    if scenario:
        genotypes, individuals = (scenarios.samples_frames(samples, ADULT_DTYPE)
                                  if samples is not None else (None, None))
        series = ScenarioSeries(plan, record, data, None if stats else rows, records, changes,
                                trace_text=rows if stats else None, genotypes=genotypes,
                                samples=individuals, raw_samples=samples)
    else:
        series = Series(plan, record, data, rows, records)
    if stop is not None:
        raise stopped(stop, f"{STOPPED}; its Series (.series) holds the {records} complete "
                            f"records of {plan.replicates}", series=series) from None
    return series


class Series:
    """The result of run_series.

    seed, replicates, generations, record, span  the series' settings
    parameters  every model parameter's value, as numbers
    data_file   bytes: exactly the data file talveron-batch writes for them
    complete    False when Ctrl+C stopped the series: then it holds the
                records of `replicates_done` replicates, as FILE.partial does
    records     DataFrame: per replicate its seed and the columns A..I (timed),
                or per completed span its replicate, number, average and the
                generations it covers
    trace       DataFrame of the census of every generation (replicate,
                generation, habitat, adults, spec0..2, pref0..2, mate0..2),
                or None when the series ran without trace=True
    trace_long()  the trace with a row per locus and allele

    >>> s = talveron.run_series(seed=7, replicates=3, generations=300, trace=True,
    ...                         progress=False)
    >>> s.records["I"].value_counts()     # 1 speciation, 2 fad (<NA>: E not met)
    2    2
    1    1
    Name: I, dtype: Int64
    >>> s.save("series.txt", trace="series.trace")
    ['series.txt', 'series.trace']
    """

    def __init__(self, plan, record, data_file, trace_rows, replicates_done):
        settings = plan.settings()
        self.seed = plan.seed
        self.replicates = plan.replicates
        self.generations = plan.generations
        self.record = record
        self.span = int(settings["span"])
        self.parameters = {name: _values.typed(name, text) for name, text in settings["parameters"]}
        self.data_file = data_file
        self.replicates_done = replicates_done
        self.complete = replicates_done == plan.replicates
        self._trace_rows = trace_rows
        self._traced = trace_rows is not None
        self._records = None
        self._trace = None

    @property
    def records(self):
        """The data file's records as a DataFrame (see talveron.frames.records_frame)."""
        if self._records is None:
            self._records = frames.records_frame(self.data_file, self.record, self.seed,
                                                 self.generations, self.span)
        return self._records

    @property
    def trace(self):
        """The trace as a DataFrame (int32 counts, habitat categorical), or
        None without trace=True; built once."""
        if not self._traced:
            return None
        if self._trace is None:
            self._trace = frames.trace_frame(self._trace_rows)
            self._trace_rows = None  # the frame holds the numbers now
        return self._trace

    def trace_long(self):
        """The trace with a row per generation, habitat, locus and allele
        (see talveron.frames.trace_long), or None without trace=True.

        >>> s = talveron.run_series(seed=7, replicates=3, generations=300, trace=True,
        ...                         progress=False)
        >>> s.trace_long().groupby(["locus", "allele"])["count"].sum().loc["mate"]
        allele
        0    83222
        1    81440
        2     8908
        Name: count, dtype: int32
        """
        return None if not self._traced else frames.trace_long(self.trace)

    def save(self, path, trace=None):
        """Write the data file to `path` (and the trace to `trace`), the
        same files as the batch command's, with the same safety: each is
        written as NAME.partial and takes its name only when both are
        complete, so an older file stays as it was until then. Returns the
        paths written.

        >>> s = talveron.run_series(seed=7, replicates=2, generations=100, trace=True,
        ...                         progress=False)
        >>> s.save("series.txt", trace="series.trace")
        ['series.txt', 'series.trace']
        """
        path = os.fspath(path)
        trace_path = "" if trace is None else os.fspath(trace)
        if trace_path and not self._traced:
            raise ValueError(f"trace={trace!r}: this series ran without trace=True")
        if not path:
            raise ValueError("path='': a file name is needed")
        rows = None
        if trace_path:
            rows = self._trace_rows if self._trace_rows is not None else frames.trace_rows(self._trace)
        _talveron.save_series(path, self.data_file, trace_path, rows)
        return [path] + ([trace_path] if trace_path else [])

    def __repr__(self):
        done = "" if self.complete else f" ({self.replicates_done} complete)"
        return (f"<talveron.Series seed={self.seed} replicates={self.replicates}{done} "
                f"generations={self.generations} record={self.record!r}"
                f"{' with trace' if self._traced else ''}>")


def _scenario_plan(plan, trace, changes, stats, sample_every):
    """The plan with the scheduled changes, the statistics and the samples."""
    if stats and not trace:
        raise ValueError("stats=True adds columns to the trace: give trace=True too")
    every = -1
    if sample_every is not None:
        text = _values.whole_text("run_series", "sample_every", sample_every)
        if not text.isdigit():
            raise ValueError(f"sample_every={text}: allowed is a whole number from 0")
        every = int(text)
    return _talveron.plan_with(plan, scenarios.change_texts("run_series", changes,
                                                            _values.parameter_texts),
                               stats, every)


class ScenarioSeries(Series):
    """A Series run with changes, statistics or samples: as Series, and

    changes    the scheduled changes it ran with
    genotypes  numpy array, sampled individuals x 17 loci (talveron.scenarios.GENOTYPE_LOCI),
               or None without sample_every
    samples    DataFrame of the sampled individuals: replicate, generation,
               habitat, x, y, sex, row for row with genotypes (or None)

    Stopped by Ctrl+C, it holds the trace and the samples of the complete
    replicates, as Series does their records.

    >>> s = talveron.run_series(seed=3, replicates=1, generations=40, trace=True, stats=True,
    ...                         changes=[(21, {"natalDispersalRate": 30})], sample_every=20,
    ...                         progress=False)
    >>> s.changes
    [(21, {'natalDispersalRate': 30})]
    >>> s.trace.columns[:4].tolist(), len(s.trace)
    (['replicate', 'generation', 'habitat', 'adults'], 80)
    >>> sorted(s.samples.generation.unique().tolist()), s.genotypes.shape[1]
    ([20, 40], 17)
    >>> s.save_genotypes("samples.vcf.gz")  # doctest: +NORMALIZE_WHITESPACE
    ['samples.vcf.gz', 'samples.vcf.gz.tbi', 'samples.samples.tsv', 'samples.habitat0.txt',
     'samples.habitat1.txt', 'samples.sex.txt']
    """

    def __init__(self, plan, record, data_file, trace_rows, replicates_done, changes, *,
                 trace_text=None, genotypes=None, samples=None, raw_samples=None):
        super().__init__(plan, record, data_file, trace_rows, replicates_done)
        self.changes = list(changes or [])
        self._settings = plan.settings()  # the texts the genotype files name
        self.genotypes = genotypes
        self.samples = samples
        self._raw_samples = raw_samples
        self._trace_text = trace_text
        if trace_text is not None:
            self._traced = True

    @property
    def trace(self):
        """The trace as a DataFrame (with the statistics' columns when run
        with stats=True, NaN where undefined), or None without trace=True."""
        if self._trace_text is None:
            return super().trace
        if self._trace is None:
            self._trace = scenarios.trace_frame(self._trace_text)
        return self._trace

    def trace_long(self):
        """The census part of the trace in long format, as Series.trace_long()."""
        if self._trace_text is None:
            return super().trace_long()
        return frames.trace_long(self.trace[frames.TRACE_COLUMNS])

    def save_genotypes(self, path):
        """Write the genotype samples as talveron-batch --genotypes FILE.vcf.gz
        writes them, byte for byte: each replicate's VCF file (FILE.vcf.gz
        for one replicate, FILE-rK.vcf.gz for several), bgzip-compressed,
        with its tabix index, the samples table FILE.samples.tsv, and the
        lists FILE.habitat0.txt, FILE.habitat1.txt and FILE.sex.txt.
        Returns the paths written."""
        if self._raw_samples is None:
            raise ValueError("save_genotypes(): this series ran without sample_every=")
        return scenarios.save_genotypes(path, self.replicates, self._raw_samples,
                                        self._settings["parameters"], self._settings["changes"])

    def save(self, path, trace=None):
        """As Series.save: the data file and, if given, the trace file."""
        if self._trace_text is None:
            return super().save(path, trace)
        path = os.fspath(path)
        if not path:
            raise ValueError("path='': a file name is needed")
        _talveron.save_series(path, self.data_file, "", None)
        if trace is None:
            return [path]
        scenarios.save_text(os.fspath(trace), self._trace_text)
        return [path, os.fspath(trace)]
