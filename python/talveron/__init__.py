"""Talveron in Python: the speciation model's series, studies and single
replicates, run in this process by the same engine as talveron-batch, with
results as pandas DataFrames.

Every result is the batch command's, byte for byte and draw for draw: a
series' data file equals the one talveron-batch writes with the same seed
and settings. Runs release the interpreter and use `jobs` threads (default:
one per core), and show their progress when someone watches. Ctrl+C stops
at the end of the running generation and raises KeyboardInterrupt
(talveron.Interrupted) holding every complete record.

>>> import talveron
>>> s = talveron.run_series(seed=2026, replicates=3, generations=300, density=4,
...                         progress=False)
>>> s.records[["replicate", "A", "C", "E", "I"]]      # <NA>: C never met
   replicate   A     C   E  I
0          1  34    47  42  1
1          2  35  <NA>  35  2
2          3  35    51  45  1
>>> s.save("series.txt")               # the file talveron-batch --seed 2026 ... writes
['series.txt']
"""

import concurrent.futures
import json
import os
import time

import numpy as np

from talveron import _progress, _talveron, _values, frames, plots, scenarios
from talveron.frames import criteria_legend

__version__ = _talveron.version
__all__ = ["parameters", "criteria_legend", "run_series", "Series", "run_study", "Study",
           "StudyCell", "Simulation", "Interrupted", "settings_text", "wilson_interval",
           "ScenarioSeries", "ADULT_DTYPE", "__version__"]

# An adult as Simulation.adults() gives it: its place and every locus, a
# field each, so that pandas.DataFrame(sim.adults()) has a column each.
ADULT_DTYPE = np.dtype([("habitat", "u1"), ("x", "u1"), ("y", "u1"), ("sex", "?"),
                        ("habitatPref", "u1"), ("habitatSpec", "u1"), ("matingPrefType", "u1"),
                        ("matingPrefValue", "u1"), ("signalType", "u1"), ("signalValue", "u1"),
                        ("generalViability", "i1")] +
                       [(f"neutral{i}", "u1") for i in range(10)])
assert ADULT_DTYPE.itemsize == _talveron.individual_size()


class Interrupted(KeyboardInterrupt):
    """Ctrl+C (in a notebook, Interrupt) stopped a run at the end of a
    generation. Nothing complete is lost: `series` is the Series of the
    complete records (run_series), `study` the Study of the folder with its
    complete cells (run_study, which resume=True continues), `simulation`
    the Simulation at the generation reached (Simulation.step).

    >>> try:
    ...     raise Interrupted("stopped", series=None)
    ... except KeyboardInterrupt as stop:
    ...     print(stop, stop.series)
    stopped None
    """

    def __init__(self, message, *, series=None, study=None, simulation=None):
        super().__init__(message)
        self.series = series
        self.study = study
        self.simulation = simulation


def _stopped(stop, message, **attached):
    """The exception to raise for what stopped a run (Ctrl+C, or an error
    raised by a signal handler), with what was complete attached."""
    if isinstance(stop, KeyboardInterrupt):
        return Interrupted(message, **attached)
    for name, value in attached.items():
        try:
            setattr(stop, name, value)
        except AttributeError:
            pass
    return stop


def parameters():
    """Every model parameter that can be set by name, as a DataFrame: name,
    default, minimum, maximum (numbers), kind (boolean, integer or decimal)
    and meaning. Pass them to run_series or Simulation as keywords.

    >>> p = talveron.parameters().set_index("name")
    >>> p.loc["density", ["default", "minimum", "maximum", "kind"]].tolist()
    [1.0, 1.0, 8.0, 'integer']
    """
    import pandas as pd
    rows = [(row[0], float(_values.typed(row[0], row[1])), *row[2:6])
            for row in _values.TABLE.values()]
    return pd.DataFrame(rows, columns=["name", "default", "minimum", "maximum", "kind", "meaning"])


def wilson_interval(successes, trials):
    """The 95% Wilson score interval of `successes` in `trials`, as
    summary.tsv gives it for the share of speciation.

    >>> low, high = talveron.wilson_interval(8, 10)
    >>> round(low, 3), round(high, 3)
    (0.49, 0.943)
    """
    successes_text = _values.whole_text("wilson_interval", "successes", successes)
    trials_text = _values.whole_text("wilson_interval", "trials", trials)
    try:
        s, t = int(successes_text), int(trials_text)
    except ValueError:
        s, t = -1, 0
    if not 0 <= s <= t:
        raise ValueError(f"successes={successes_text}, trials={trials_text}: allowed are whole "
                         "numbers with 0 <= successes <= trials")
    return _talveron.wilson_interval(s, t)


# --- checking what is given --------------------------------------------------------

def _plan(function, seed, replicates, generations, record, span, given):
    if not isinstance(record, str):
        raise TypeError(f"{function}(): record must be a string ({', '.join(_values.RECORDS)}), "
                        f"not {type(record).__name__}")
    seed_text = _values.whole_text(function, "seed", seed, none=True)
    if seed is None:
        seed_text = str(time.time_ns())  # as the batch command takes it from the clock
    return _talveron.make_plan(seed_text, _values.whole_text(function, "replicates", replicates),
                               _values.whole_text(function, "generations", generations), record,
                               _values.whole_text(function, "span", span),
                               _values.parameter_texts(function, given))


def _jobs(function, jobs):
    return _values.whole_text(function, "jobs", jobs, none=True)


def _flag(function, name, value):
    if not _values.is_bool(value):
        raise TypeError(f"{function}(): {name} must be True or False, not {type(value).__name__}")
    return bool(value)


_STOPPED = "stopped at the end of the running generation"


# --- a series --------------------------------------------------------------------

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
    trace = _flag("run_series", "trace", trace)
    stats = _flag("run_series", "stats", stats)
    show = _progress.choose(progress, "run_series")
    plan = _plan("run_series", seed, replicates, generations, record, span, parameters)
    jobs_text = _jobs("run_series", jobs)
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
        raise _stopped(stop, f"{_STOPPED}; its Series (.series) holds the {records} complete "
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


def _save_genotypes(path, replicates, samples, parameters, changes):
    """The genotype files of `samples` (replicate, generation, adults) at
    `path`, as talveron-batch --genotypes writes them, their headers naming
    `parameters` and `changes` (as Plan.settings() gives them); the paths
    written."""
    if not isinstance(path, (str, os.PathLike)):
        raise TypeError(f"save_genotypes(): path must be a file name, not {type(path).__name__}")
    return _talveron.save_genotypes(os.fspath(path), replicates, samples, parameters, changes)


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
        return _save_genotypes(path, self.replicates, self._raw_samples,
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


def _simulation_from_state(state):
    """An unpickled Simulation."""
    if not isinstance(state, bytes):
        state = json.dumps(state).encode()  # an earlier talveron's pickle held its recipe
    _refuse_recipe(state, "pickle")
    return Simulation._from_state(state, "pickle")


def _refuse_recipe(state, source):
    """ValueError for a Simulation saved by an earlier talveron, as the JSON
    recipe of format version 1 that was run again on loading."""
    if not state.lstrip()[:1] == b"{":
        return
    try:
        document = json.loads(state.decode("utf-8"))
    except (UnicodeDecodeError, ValueError):
        return
    if not isinstance(document, dict) or document.get("format") != "talveron simulation":
        return
    version = document.get("version")
    raise ValueError(f"{source}: a saved talveron Simulation of format version {version!r}; this talveron reads "
                     f"version {_talveron.state_format_version}")


# --- a study ---------------------------------------------------------------------

_SETTINGS_KEYS = ["seed", "replicates", "generations", "record", "span", "trace", "stats", "genotypes",
                  "sample-every"]
# Seeds from here on do not fit a TOML integer; settings files take them quoted.
_TOML_INTEGER_LIMIT = 2 ** 63


def _key(*path):
    return "settings" + "".join(f"[{k!r}]" for k in path)


def _toml_string(text):
    return json.dumps(text)  # a TOML basic string: the same escapes


def _toml_name(name):
    bare = name and all(c.isalnum() and c.isascii() or c in "_-" for c in name)
    return name if bare else _toml_string(name)


def _top_value(name, value):
    """A top-level setting as TOML, checked for its type; values out of
    range are written as given, for the core to refuse in its words."""
    where = _key(name)
    if name in ("seed", "replicates", "generations", "span", "sample-every"):
        text = _values.whole_text("run_study", where, value)
        if name == "seed" and text.isdigit() and int(text) >= _TOML_INTEGER_LIMIT:
            return _toml_string(text)
        return text
    if name == "record":
        if not isinstance(value, str):
            raise TypeError(f"run_study(): {where} must be a string "
                            f"({', '.join(_values.RECORDS)}), not {type(value).__name__}")
        return _toml_string(value)
    if name in ("trace", "stats", "genotypes"):
        return "true" if _flag("run_study", where, value) else "false"
    raise ValueError(f"{where}: unknown setting; allowed are "
                     f"{', '.join(_SETTINGS_KEYS)}, 'set', 'change' and 'vary'"
                     f"{_values.did_you_mean(name)}")


def _parameter_toml(where, name, value):
    """A parameter's value as TOML, as the user gave it: True and False as
    true and false, numbers as numbers."""
    text = _values.parameter_value("run_study", name, value, where)
    if _values.is_bool(value):
        return "true" if value else "false"
    return text


def _settings_lines(settings):
    """The TOML lines of a settings dict and, per line, the key it holds."""
    if not isinstance(settings, dict):
        raise TypeError(f"settings must be a dict, not {type(settings).__name__}")
    lines, keys, tables, changes = [], [], [], []
    for name, value in settings.items():
        if not isinstance(name, str):
            raise TypeError(f"run_study(): settings keys must be strings, not {type(name).__name__}")
        if name == "change":
            changes = _change_entries(value)
        elif name in ("set", "vary"):
            if not isinstance(value, dict):
                raise TypeError(f"run_study(): {_key(name)} must be a dict of parameters, "
                                f"not {type(value).__name__}")
            tables.append((name, value))
        else:
            lines.append(f"{name} = {_top_value(name, value)}")
            keys.append(f"{_key(name)}={value!r}")
    # [set], the [[change]] tables, then [vary], which may name the changes.
    tables.sort(key=lambda table: table[0] == "vary")
    for table, entries in tables:
        if table == "vary":
            _change_lines(changes, lines, keys)
            changes = []
        lines.append(f"[{table}]")
        keys.append(_key(table))
        for name, value in entries.items():
            where = _key(table, name)
            if not isinstance(name, str):
                raise TypeError(f"run_study(): {_key(table)} keys must be parameter names, "
                                f"not {type(name).__name__}")
            if table == "vary" and name.startswith("change."):
                items = _values.sequence("run_study", where, value)
                parameter = name.rsplit(".", 1)[-1]
                if parameter == "generation" or parameter not in _values.TABLE:
                    texts = [_values.whole_text("run_study", f"{where}[{i}]", item)
                             for i, item in enumerate(items)]
                else:
                    texts = [_parameter_toml(f"{where}[{i}]", parameter, item)
                             for i, item in enumerate(items)]
                lines.append(f"{_toml_string(name)} = [{', '.join(texts)}]")
                keys.append(where)
                continue
            if name not in _values.TABLE:
                raise ValueError(f"{where}: unknown parameter"
                                 f"{_values.did_you_mean(name)}; the parameters are listed by "
                                 "talveron.parameters()")
            if table == "set":
                text = _parameter_toml(where, name, value)
            else:
                items = _values.sequence("run_study", where, value)
                text = "[" + ", ".join(_parameter_toml(f"{where}[{i}]", name, item)
                                       for i, item in enumerate(items)) + "]"
            lines.append(f"{_toml_name(name)} = {text}")
            keys.append(where)
    _change_lines(changes, lines, keys)
    return lines, keys


def _change_entries(value):
    """A settings dict's "change" list, checked for its form."""
    form = 'a list of {"generation": G, "set": {name: value}}'
    if isinstance(value, (str, bytes, dict)) or not isinstance(value, (list, tuple)):
        raise TypeError(f"run_study(): {_key('change')} must be {form}, not {type(value).__name__}")
    for number, change in enumerate(value):
        if (not isinstance(change, dict) or set(change) != {"generation", "set"}
                or not isinstance(change["set"], dict)):
            raise TypeError(f"run_study(): {_key('change', number)} must be "
                            f'{{"generation": G, "set": {{name: value}}}}, not {change!r}')
    return list(value)


def _change_lines(changes, lines, keys):
    """The [[change]] tables of a settings dict's "change" list."""
    for number, change in enumerate(changes):
        lines.append("[[change]]")
        keys.append(_key("change", number))
        where = _key("change", number, "generation")
        lines.append(f"generation = {_values.whole_text('run_study', where, change['generation'])}")
        keys.append(where)
        values = []
        for name, value in change["set"].items():
            if not isinstance(name, str) or name not in _values.TABLE:
                raise ValueError(f"{_key('change', number, 'set', name)}: unknown parameter"
                                 f"{_values.did_you_mean(str(name))}; the parameters are listed "
                                 "by talveron.parameters()")
            values.append(f"{_toml_name(name)} = "
                          f"{_parameter_toml(_key('change', number, 'set', name), name, value)}")
        lines.append(f"set = {{ {', '.join(values)} }}")
        keys.append(_key("change", number, "set"))


def settings_text(settings):
    """The TOML text of a settings dict, as talveron-batch --settings and
    --study read it: seed, replicates, generations, record, span, trace, and
    the dicts "set" (parameters) and "vary" (a list, range or array of
    values per parameter), and "change": a list of {"generation": G, "set":
    {name: value}} ([[change]] tables), varied in "vary" as
    "change.N.generation" or "change.N.NAME".

    >>> import numpy as np
    >>> print(talveron.settings_text({"seed": 2**64 - 1, "replicates": 2.0,
    ...                               "vary": {"density": range(2, 4),
    ...                                        "selectionFactor": np.linspace(0, 1, 3)}}))
    seed = "18446744073709551615"
    replicates = 2
    [vary]
    density = [2, 3]
    selectionFactor = [0.0, 0.5, 1.0]
    <BLANKLINE>
    """
    return "\n".join(_settings_lines(settings)[0]) + "\n"


def _name_keys(message, name, keys):
    """A core message about a generated settings text ("settings:LINE: ..."),
    reworded to name the user's key instead of the line."""
    prefix = name + ":"
    if not message.startswith(prefix):
        return message
    line_text, _, rest = message[len(prefix):].partition(": ")
    if not line_text.isdigit() or not 1 <= int(line_text) <= len(keys):
        return message
    key = keys[int(line_text) - 1]
    short = key[len("settings['"):].split("'")[0]  # "seed" of "settings['seed']=..."
    if rest.startswith(short + ": "):  # "seed: allowed is ..."
        rest = rest[len(short) + 2:]
    return f"{key}: {rest}"


def _run_cell(settings):
    """Runs one cell's series where an executor puts it (a process, a
    thread, another machine): returns its data file, its trace's text (or
    b""), its time in seconds and its genotype samples (or None)."""
    started = time.monotonic()
    plan = _talveron.make_plan(settings["seed"], settings["replicates"], settings["generations"],
                               settings["record"], settings["span"],
                               [tuple(p) for p in settings["parameters"]])
    every = settings.get("sample_every")
    if settings.get("changes") or settings.get("stats") or every is not None:
        plan = _talveron.plan_with(plan, [(g, [tuple(p) for p in s]) for g, s in settings["changes"]],
                                   bool(settings["stats"]), -1 if every is None else int(every))
    form = _talveron.TraceForm.text if settings["trace"] else _talveron.TraceForm.none
    samples = [] if every is not None else None
    data, trace, _, stop = _talveron.run_series(plan, form, "1", None, samples)
    if stop is not None:
        raise stop
    return data, trace or b"", time.monotonic() - started, samples


def _as_executor(executor):
    """A concurrent.futures.Executor, or a Dask distributed Client's."""
    if isinstance(executor, concurrent.futures.Executor):
        return executor
    if hasattr(executor, "get_executor"):  # distributed.Client
        return executor.get_executor()
    raise TypeError(f"run_study(): executor must be a concurrent.futures.Executor or a "
                    f"distributed.Client, not {type(executor).__name__}")


def _run_cells_on(folder, executor, bar):
    """Every unfinished cell of `folder` as a task of `executor`; each
    cell's files are written here as its result arrives. Returns the
    KeyboardInterrupt that stopped it, or None."""
    pending = {}
    done = 0
    try:
        for number, *_ in folder.cells():
            if not folder.cell_complete(number):
                settings = folder.cell_settings(number)
                pending[executor.submit(_run_cell, settings)] = (number, settings)
        for future in concurrent.futures.as_completed(list(pending)):
            number, settings = pending.pop(future)
            data, trace, seconds, samples = future.result()
            folder.write_cell(number, data, trace, seconds, samples)
            done += int(settings["replicates"]) * int(settings["generations"])
            bar(done)
    except KeyboardInterrupt as stop:
        for future in pending:
            future.cancel()
        return stop
    except BaseException:
        for future in pending:
            future.cancel()
        raise
    return None


def run_study(settings, out_dir, *, jobs=None, resume=False, progress=None, executor=None):
    """Run a study, as talveron-batch --study does: a series for every
    combination of the values listed under "vary" (the first changing
    slowest), each in out_dir/cell-N.txt, with summary.tsv and manifest.json.

    settings  a settings file (TOML, as for --study) or a dict of the same
              keys: seed, replicates, generations, record, span, trace,
              stats, genotypes and sample-every (each cell's genotype
              samples as VCF files in out_dir), the list "change" and the
              dicts "set" and "vary" (lists, ranges or numpy arrays)
    out_dir   the study's folder, created when missing
    jobs      replicates run at once (default: one per core); with an
              executor, each cell runs on one thread of its worker
    resume    go on with a stopped study in out_dir: complete cells are kept
    progress  show a progress bar; default: when interactive
    executor  run the cells elsewhere: a concurrent.futures.Executor (a
              ProcessPoolExecutor) or a Dask distributed.Client; each cell
              is one task, and its files are written here as it returns

    The files are byte for byte those of talveron-batch --study (the
    manifest names this package as the program), with or without an
    executor. A bad value raises ValueError naming its key
    (settings['vary']['density']: ...). Ctrl+C stops at the end of the
    running generation, marks the manifest "stopped" and raises
    talveron.Interrupted (a KeyboardInterrupt) whose `study` holds the
    complete cells; resume=True goes on.

    >>> st = talveron.run_study({"seed": 42, "replicates": 3, "generations": 300,
    ...                          "vary": {"selectionFactor": [0.2, 0.8]}},
    ...                         out_dir="results", progress=False)
    >>> st.summary[["selectionFactor", "E_met", "speciation_share"]]
       selectionFactor  E_met  speciation_share
    0              0.2      3               0.0
    1              0.8      3               1.0
    >>> st.cells[0].parameters
    {'selectionFactor': 0.2}
    """
    keys = []
    if isinstance(settings, dict):
        lines, keys = _settings_lines(settings)
        text, name = "\n".join(lines) + "\n", "settings"
    elif isinstance(settings, (str, os.PathLike)):
        name = os.fspath(settings)
        with open(name, encoding="utf-8") as f:
            text = f.read()
    else:
        raise TypeError(f"run_study(): settings must be a dict or a file name, "
                        f"not {type(settings).__name__}")
    if not isinstance(out_dir, (str, os.PathLike)):
        raise TypeError(f"run_study(): out_dir must be a folder name, not {type(out_dir).__name__}")
    out_dir = os.fspath(out_dir)
    if not out_dir:
        raise ValueError("out_dir='': a folder name is needed")
    resume = _flag("run_study", "resume", resume)
    show = _progress.choose(progress, "run_study")
    jobs_text = _jobs("run_study", jobs)
    if executor is not None:
        executor = _as_executor(executor)
    description = f"talveron.run_study({name!r}, out_dir={out_dir!r}" + \
                  (", resume=True" if resume else "") + ")"
    try:
        folder = _talveron.StudyFolder(text, name, out_dir, resume, description)
    except ValueError as e:
        message = _name_keys(str(e), name, keys) if keys else str(e)
        message = message.replace("--out-dir ", "out_dir=").replace("--resume", "resume=True")
        raise ValueError(message) from None
    status = "failed"
    try:
        cells = folder.cells()
        todo = sum(1 for number, *_ in cells if not folder.cell_complete(number))
        first = folder.cell_settings(1)
        total = todo * int(first["replicates"]) * int(first["generations"])
        bar = _progress.Progress(show, total, "study")
        try:
            if executor is None:
                status = "ran"  # the core writes the manifest's end itself
                stop = folder.run(jobs_text, bar if show else None)
            else:
                stop = _run_cells_on(folder, executor, bar)
                status = "stopped" if stop is not None else "complete"
        except BaseException:
            bar.close()
            raise
        bar.close(done=bar.total if stop is None else None)
        study = Study(out_dir, folder.seed, folder.axes, cells, folder.record,
                      [folder.cell_complete(number) for number, *_ in cells],
                      int(first["generations"]), int(first["span"]))
    finally:
        folder.close(status)
    if stop is not None:
        raise _stopped(stop, f"{_STOPPED}; complete cells are in {out_dir} (.study), "
                             "run_study(..., resume=True) goes on", study=study) from None
    return study


class StudyCell:
    """One cell of a study: its number, the values of the varied parameters
    (as numbers), its base seed, its files (data_path, trace_path, and with
    genotypes = true genotype_paths, a VCF file per replicate, and
    samples_path, their table), and whether it is complete.

    >>> st = talveron.run_study({"seed": 42, "replicates": 3, "generations": 300,
    ...                          "vary": {"selectionFactor": [0.2, 0.8]}},
    ...                         out_dir="results", progress=False)
    >>> cell = st.cells[0]
    >>> cell.number, cell.parameters, cell.seed, cell.complete
    (1, {'selectionFactor': 0.2}, 42, True)
    >>> cell.records[["replicate", "seed", "E", "I"]]      # its data file's records
       replicate  seed   E  I
    0          1    42  23  2
    1          2    43  27  2
    2          3    44  20  2
    """

    def __init__(self, study, number, values, seed, data_name, trace_name, genotype_names,
                 samples_name, complete):
        self.number = number
        self.parameters = {name: _values.typed(name, value)
                           for name, value in zip(study.varied, values)}
        self.seed = seed
        self.complete = complete
        self.data_path = os.path.join(study.out_dir, data_name)
        self.trace_path = os.path.join(study.out_dir, trace_name) if trace_name else None
        # With genotypes = true: each replicate's VCF file, and the samples table.
        self.genotype_paths = [os.path.join(study.out_dir, name) for name in genotype_names]
        self.samples_path = os.path.join(study.out_dir, samples_name) if samples_name else None
        self._study = study

    @property
    def data_file(self):
        """The cell's data file, as bytes."""
        with open(self.data_path, "rb") as f:
            return f.read()

    @property
    def records(self):
        """The cell's records as a DataFrame, as Series.records."""
        study = self._study
        return frames.records_frame(self.data_file, study.record, self.seed,
                                    study.generations, study.span)

    @property
    def trace(self):
        """The cell's trace as a DataFrame, as Series.trace, or None without
        trace = true."""
        if self.trace_path is None:
            return None
        return scenarios.trace_frame(self.trace_path)

    def trace_long(self):
        """The cell's trace in long format, as Series.trace_long()."""
        trace = self.trace
        return None if trace is None else frames.trace_long(trace)

    def __repr__(self):
        return f"<talveron.StudyCell {self.number} {self.parameters} seed={self.seed}>"


class Study:
    """The result of run_study: its folder, seed, varied parameters, the
    summary, the cells and all their records.

    out_dir   the folder of the study's files
    seed      the study's seed (cell c has base seed seed + (c - 1) x replicates)
    varied    the names of the varied parameters
    summary   DataFrame: summary.tsv
    records   DataFrame: every complete cell's records, with the cell's number
              and its varied parameters as columns
    cells     list of StudyCell
    plot()    the pictures of scripts/plot-study, one per varied parameter

    >>> st = talveron.run_study({"seed": 42, "replicates": 3, "generations": 300,
    ...                          "vary": {"selectionFactor": [0.2, 0.8]}},
    ...                         out_dir="results", progress=False)
    >>> st.records.groupby("selectionFactor")["E"].mean()
    selectionFactor
    0.2    23.333333
    0.8    41.666667
    Name: E, dtype: Float64
    >>> figures = st.plot()
    """

    def __init__(self, out_dir, seed, varied, cells, record, complete, generations, span):
        self.out_dir = out_dir
        self.seed = seed
        self.varied = list(varied)
        self.record = record
        self.generations = generations
        self.span = span
        self.cells = [StudyCell(self, *cell, complete=done) for cell, done in zip(cells, complete)]

    @property
    def summary(self):
        """summary.tsv as a DataFrame: a row per complete cell."""
        return frames.summary_frame(os.path.join(self.out_dir, "summary.tsv"), self.varied)

    @property
    def records(self):
        """Every complete cell's records in one DataFrame: the cell's number
        and varied parameters first, then the columns of Series.records."""
        import pandas as pd
        parts = []
        for cell in self.cells:
            if not cell.complete:
                continue
            part = cell.records
            for position, (name, value) in enumerate([("cell", cell.number),
                                                       *cell.parameters.items()]):
                part.insert(position, name, value)
            parts.append(part)
        frame = pd.concat(parts, ignore_index=True) if parts else pd.DataFrame()
        if self.record == "timed":
            frame.attrs["criteria"] = criteria_legend()
        return frame

    def plot(self):
        """The summary's pictures, as scripts/plot-study draws them: a dict
        of matplotlib figures by varied parameter.

        >>> st = talveron.run_study({"seed": 42, "replicates": 3, "generations": 300,
        ...                          "vary": {"selectionFactor": [0.2, 0.8]}},
        ...                         out_dir="results", progress=False)
        >>> figures = st.plot()
        >>> talveron.plots.save_figure(figures["selectionFactor"], "share")
        ['share.png', 'share.svg']
        """
        path = os.path.join(self.out_dir, "summary.tsv")
        return dict(plots.study_figures(*plots.read_summary(path), path))

    def __repr__(self):
        return f"<talveron.Study {self.out_dir!r}: {len(self.cells)} cells, seed {self.seed}>"


# --- one replicate -------------------------------------------------------------------

class Simulation:
    """One replicate, step by step: replicate 1 of a series with base seed
    `seed`, the same draws and census as that series' trace. Safe to use
    from several threads (a plot refreshed beside a running simulation):
    each call waits for the one before it.

    Simulation(seed=None, generations=5000, record="timed", span=10, **parameters)

    step(n=1)    run n generations (fewer when the end comes first); returns
                 how many ran. Ctrl+C stops at the end of a generation and
                 raises talveron.Interrupted; the generations run stay run.
    generation   generations run so far; done: all `generations` have run
    census()     DataFrame: the trace's two lines (habitat 0 and 1) of the
                 current generation; before the first, the founders
    adults()     numpy structured array (ADULT_DTYPE): habitat, x, y, sex
                 and every locus of every adult; pandas.DataFrame(a) works
    criteria()   dict: the generation each criterion A..E was first met, or None
    draw_map()   the map of both habitats, as the desktop program draws it

    >>> sim = talveron.Simulation(seed=7, density=4)
    >>> sim.step(100)
    100
    >>> sim.census()[["habitat", "adults", "spec0", "spec1"]]
      habitat  adults  spec0  spec1
    0       0     476    458      9
    1       1     482      4    469
    >>> sim.criteria()
    {'A': 37, 'B': 39, 'C': 53, 'D': 15, 'E': 47}
    """

    def __init__(self, *, seed=None, generations=5000, record="timed", span=10, **parameters):
        plan = _plan("Simulation", seed, 1, generations, record, span, parameters)
        self._core = _talveron.Simulation(plan)
        self.parameters = {name: _values.typed(name, text)
                           for name, text in plan.settings()["parameters"]}

    @classmethod
    def _from_state(cls, state, source):
        """A Simulation where `state` (bytes of _core.state()) stood."""
        sim = cls.__new__(cls)
        sim._core = _talveron.Simulation.from_state(state, source)
        sim.parameters = {name: _values.typed(name, text) for name, text in sim._core.parameters()}
        return sim

    seed = property(lambda self: self._core.seed, doc="The replicate's seed.")
    generation = property(lambda self: self._core.generation, doc="Generations run so far.")
    generations = property(lambda self: self._core.generations, doc="Generations of the replicate.")
    done = property(lambda self: self._core.done, doc="Whether every generation has run.")

    def step(self, generations=1):
        """Run `generations` generations (1 by default), fewer when the
        replicate ends first; returns how many ran.

        >>> sim = talveron.Simulation(seed=7, density=4)
        >>> while not sim.done:
        ...     _ = sim.step(2500)
        >>> sim.generation
        5000
        """
        text = _values.whole_text("step", "generations", generations)
        if not text.isdigit():
            raise ValueError(f"generations={text}: allowed is a whole number from 0")
        ran, stop = self._core.step(int(text))
        if stop is not None:
            raise _stopped(stop, f"{_STOPPED}; the simulation (.simulation) is at generation "
                                 f"{self.generation}", simulation=self) from None
        return ran

    def census(self):
        """The census of the current generation: the trace's two lines, as a
        DataFrame with the trace's columns; at generation 0, the founders'.

        >>> talveron.Simulation(seed=7).census().set_index("habitat")["adults"]
        habitat
        0    154
        1    137
        Name: adults, dtype: int32
        """
        return frames.trace_frame(self._core.census())

    def adults(self):
        """Every adult, in the order of the adult list, as a numpy structured
        array of ADULT_DTYPE: habitat, x (0..31), y (0..39), sex (True male)
        and the loci habitatPref, habitatSpec, matingPrefType,
        matingPrefValue, signalType, signalValue, generalViability and the ten
        neutral genes neutral0..neutral9; pd.DataFrame(sim.adults()) makes a
        DataFrame of it.

        >>> sim = talveron.Simulation(seed=7, density=4)
        >>> sim.step(100)
        100
        >>> a = sim.adults()
        >>> int((a["habitat"] == 0).sum())        # adults in habitat 0
        476
        >>> import pandas as pd
        >>> pd.DataFrame(a).columns[:4].tolist()
        ['habitat', 'x', 'y', 'sex']
        """
        raw = self._core.adults()
        return raw.view(ADULT_DTYPE).reshape(len(raw))

    def criteria(self):
        """The generation at which each criterion A..E was first met in both
        habitats, or None while it has not been.

        >>> sim = talveron.Simulation(seed=7, density=4)
        >>> sim.step(100)
        100
        >>> sim.criteria()["E"]
        47
        """
        return self._core.criteria()

    def draw_map(self, locus="all", ax=None):
        """The map of both habitats as the desktop program draws it (see
        talveron.plots.map_figure); returns the figure.

        >>> sim = talveron.Simulation(seed=7, density=4)
        >>> sim.step(100)
        100
        >>> fig = sim.draw_map()
        """
        return plots.map_figure(self.adults(), locus=locus, ax=ax,
                                title=f"generation {self.generation}, seed {self.seed}")

    def set(self, **parameters):
        """Set parameters from the next generation on, as a scheduled change
        at that generation would (talveron-batch --change): stepped to G - 1,
        set, stepped on is the series with the change at G.

        >>> sim = talveron.Simulation(seed=7, generations=300, density=2)
        >>> sim.step(199)
        199
        >>> sim.set(natalDispersalRate=10, matingDispersalRate=10)
        >>> sim.parameters["natalDispersalRate"]
        10
        """
        texts = _values.parameter_texts("set", parameters)
        self._core.set(texts)
        self.parameters.update({name: _values.typed(name, text) for name, text in texts})

    def reseed(self, seed):
        """A new stream of random numbers from here on, for a branch: a copy
        reseeded goes its own way; a copy not reseeded continues exactly as
        the original.

        >>> import copy
        >>> sim = talveron.Simulation(seed=7, generations=300, density=2)
        >>> sim.step(50)
        50
        >>> branch = copy.deepcopy(sim)
        >>> branch.reseed(99)
        >>> _ = sim.step(10), branch.step(10)
        >>> sim.census()["adults"].tolist() == branch.census()["adults"].tolist()
        False
        """
        text = _values.whole_text("reseed", "seed", seed)
        if not text.isdigit() or int(text) >= 2 ** 64:
            raise ValueError(f"seed={text}: allowed is a whole number from 0 to 18446744073709551615")
        self._core.reseed(int(text))

    def __copy__(self):
        return self._from_state(self._core.state(), "copy")

    def __deepcopy__(self, memo):
        return self._from_state(self._core.state(), "copy")

    def __reduce__(self):
        return (_simulation_from_state, (self._core.state(),))

    def save(self, path):
        """Write the whole state to `path`: load() gives a Simulation where
        this one stands, and stepped on, the two go on exactly alike. The
        file holds the settings, the adults and the young, the map, the
        counts, the environment's state, the criteria and averages so far,
        the parameters set and the generator where it stands (a versioned
        binary file: 21 bytes an adult and 2.5 KB of map, about 12 KB at
        density 2); loading reads it back without running a generation, as
        fast for generation 2000 as for 0. The file is written beside its
        name and put in place once complete.

        >>> sim = talveron.Simulation(seed=7, generations=300, density=2)
        >>> sim.step(100)
        100
        >>> sim.save("isolated-100.state")
        'isolated-100.state'
        """
        path = os.fspath(path)
        scenarios.save_text(path, self._core.state())
        return path

    @classmethod
    def load(cls, path):
        """A Simulation saved by save(), where it stood. ValueError naming
        the file when it is not a saved Simulation, comes from another
        format version, or is cut short or damaged.

        >>> talveron.Simulation(seed=7, generations=300, density=2).save("start.state")
        'start.state'
        >>> talveron.Simulation.load("start.state")
        <talveron.Simulation seed=7 generation 0 of 300>
        """
        path = os.fspath(path)
        with open(path, "rb") as f:
            state = f.read()
        _refuse_recipe(state, path)
        return cls._from_state(state, path)

    def genotypes(self):
        """The adults' genotypes: a numpy array, individuals x 17 loci in
        the order of the VCF's records (talveron.scenarios.GENOTYPE_LOCI),
        and a DataFrame of the individuals (habitat, x, y, sex).

        >>> sim = talveron.Simulation(seed=7, generations=300, density=2)
        >>> sim.step(10)
        10
        >>> genotypes, individuals = sim.genotypes()
        >>> genotypes.shape == (len(individuals), 17)
        True
        >>> individuals.columns.tolist()
        ['habitat', 'x', 'y', 'sex']
        """
        return scenarios.genotypes(self.adults())

    def save_genotypes(self, path):
        """Write the adults' genotypes as a VCF file (bgzip-compressed, with
        its tabix index) and the samples table beside it, as
        talveron-batch --genotypes writes a sampled generation: one haploid
        sample per adult, named r1_g<generation>_h<habitat>_x<x>_y<y>_<f|m>.
        `path` ends in .vcf.gz; the table is PATH.samples.tsv (.vcf.gz
        replaced), with the lists PATH.habitat0.txt, PATH.habitat1.txt and
        PATH.sex.txt. The header names the parameters in force and no
        scheduled changes. Returns the paths written.

        >>> sim = talveron.Simulation(seed=7, generations=300, density=2)
        >>> sim.step(10)
        10
        >>> sim.save_genotypes("g10.vcf.gz")  # doctest: +NORMALIZE_WHITESPACE
        ['g10.vcf.gz', 'g10.vcf.gz.tbi', 'g10.samples.tsv', 'g10.habitat0.txt', 'g10.habitat1.txt',
         'g10.sex.txt']
        """
        adults = self._core.adults()
        return _save_genotypes(path, 1, [(1, self.generation, adults)], self._core.parameters(), [])

    def __repr__(self):
        return (f"<talveron.Simulation seed={self.seed} generation {self.generation} "
                f"of {self.generations}>")
