"""Talveron in Python: the speciation model's series, studies and single
replicates, run in this process by the same engine as talveron-batch, with
results as pandas DataFrames.

Every result is the batch command's, byte for byte and draw for draw: a
series' data file equals the one talveron-batch writes with the same seed
and settings. Runs release the interpreter and use `jobs` threads (default:
one per core); Ctrl+C stops at the end of the running generation and raises
KeyboardInterrupt.

>>> import talveron
>>> s = talveron.run_series(seed=2026, replicates=5, generations=2000, density=4)
>>> s.records[["replicate", "C", "E", "I"]]
>>> s.save("series.txt")               # the file talveron-batch --seed 2026 ... writes
>>> talveron.parameters()              # every model parameter, its default and range
"""

import copy
import difflib
import numbers
import os
import time

import numpy as np

from talveron import _talveron, frames, plots, scenarios

__version__ = _talveron.version
__all__ = ["parameters", "run_series", "Series", "run_study", "Study", "StudyCell", "Simulation",
           "settings_text", "wilson_interval", "ADULT_DTYPE", "__version__"]

# name, default, minimum, maximum, kind, meaning, allowed (in words)
_TABLE = {row[0]: row for row in _talveron.parameter_table()}
_RECORDS = ["timed", "total", "preference", "specialization", "mating", "none"]

# An adult as Simulation.adults() gives it: its place and every locus.
ADULT_DTYPE = np.dtype([("habitat", "u1"), ("x", "u1"), ("y", "u1"), ("sex", "?"),
                        ("habitatPref", "u1"), ("habitatSpec", "u1"), ("matingPrefType", "u1"),
                        ("matingPrefValue", "u1"), ("signalType", "u1"), ("signalValue", "u1"),
                        ("generalViability", "i1")] +
                       # The ten neutral genes as fields of their own, so that
                       # pd.DataFrame(sim.adults()) has a column for each.
                       [(f"neutral{g}", "u1") for g in range(10)])
assert ADULT_DTYPE.itemsize == _talveron.individual_size()


def parameters():
    """Every model parameter that can be set by name, as a DataFrame: name,
    default, minimum, maximum, kind (boolean, integer or decimal) and
    meaning. Pass them to run_series or Simulation as keywords.

    >>> p = talveron.parameters()
    >>> p.set_index("name").loc["density", ["default", "minimum", "maximum"]].tolist()
    ['1', 1.0, 8.0]
    """
    import pandas as pd
    rows = [row[:6] for row in _TABLE.values()]
    return pd.DataFrame(rows, columns=["name", "default", "minimum", "maximum", "kind", "meaning"])


def wilson_interval(successes, trials):
    """The 95% Wilson score interval of `successes` in `trials`, as
    summary.tsv gives it for the share of speciation.

    >>> low, high = talveron.wilson_interval(8, 10)
    >>> round(low, 3), round(high, 3)
    (0.49, 0.943)
    """
    _whole("wilson_interval", "successes", successes)
    _whole("wilson_interval", "trials", trials)
    if not 0 <= successes <= trials:
        raise ValueError(f"successes={successes}, trials={trials}: allowed are whole numbers "
                         "with 0 <= successes <= trials")
    return _talveron.wilson_interval(int(successes), int(trials))


# --- checking what is given --------------------------------------------------------

def _whole(function, name, value, none=False):
    """A whole number as text, TypeError for anything else."""
    if value is None and none:
        return ""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{function}(): {name} must be a whole number"
                        f"{' or None' if none else ''}, not {type(value).__name__}")
    return str(int(value))


def _parameter_texts(function, given):
    """The model parameters given as keywords, each as the batch command's
    --set reads it. Unknown names are refused with the closest known ones."""
    texts = []
    for name, value in given.items():
        row = _TABLE.get(name)
        if row is None:
            close = difflib.get_close_matches(name, list(_TABLE), n=3)
            hint = f" (did you mean {' or '.join(repr(c) for c in close)}?)" if close else ""
            raise TypeError(f"{function}() got an unexpected keyword argument {name!r}{hint}; "
                            "the parameters are listed by talveron.parameters()")
        kind = row[4]
        if kind == "boolean":
            if not isinstance(value, numbers.Integral):
                raise TypeError(f"{function}(): {name} takes True or False (or 0 or 1), "
                                f"not {type(value).__name__}")
            text = str(int(value))
        elif kind == "integer":
            if isinstance(value, bool) or not isinstance(value, numbers.Integral):
                raise TypeError(f"{function}(): {name} takes a whole number, "
                                f"not {type(value).__name__}")
            text = str(int(value))
        else:
            if isinstance(value, bool) or not isinstance(value, numbers.Real):
                raise TypeError(f"{function}(): {name} takes a decimal number, "
                                f"not {type(value).__name__}")
            text = repr(float(value))
        texts.append((name, text))
    return texts


def _plan(function, seed, replicates, generations, record, span, given):
    if not isinstance(record, str):
        raise TypeError(f"{function}(): record must be a string ({', '.join(_RECORDS)}), "
                        f"not {type(record).__name__}")
    seed_text = _whole(function, "seed", seed, none=True)
    if seed is None:
        seed_text = str(time.time_ns())  # as the batch command takes it from the clock
    return _talveron.make_plan(seed_text, _whole(function, "replicates", replicates),
                               _whole(function, "generations", generations), record,
                               _whole(function, "span", span), _parameter_texts(function, given))


def _jobs(function, jobs):
    return _whole(function, "jobs", jobs, none=True)


def _interrupted():
    return KeyboardInterrupt("stopped at the end of the running generation")


# --- a series --------------------------------------------------------------------

def run_series(*, seed=None, replicates=2, generations=5000, record="timed", span=10,
               trace=False, jobs=None, changes=None, stats=False, sample_every=None, **parameters):
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
    parameters   the model's, by name, as talveron.parameters() lists them
    changes      scheduled changes: [(generation, {name: value, ...}), ...],
                 each applied before the Reproduction of its generation in
                 every replicate (talveron-batch --change GEN:NAME=VALUE)
    stats        the trace gains F_ST, gene diversity and Cramer's V per
                 generation (NaN where undefined); needs trace=True
    sample_every genotype samples of every N-th generation and the last (0:
                 the last only), as Series.genotypes and Series.samples

    Bad values raise ValueError naming the value and what is allowed; an
    unknown keyword or a value of the wrong type raises TypeError. Ctrl+C
    stops at the end of the running generation and raises KeyboardInterrupt.

    >>> s = talveron.run_series(seed=2026, replicates=20, generations=5000,
    ...                         record="timed", trace=True, density=4,
    ...                         selectionFactor=0.8)
    >>> s.records.head()
    >>> s.trace[s.trace.replicate == 1]
    >>> s.save("series.txt", trace="series.trace")
    """
    if not isinstance(trace, bool):
        raise TypeError(f"run_series(): trace must be True or False, not {type(trace).__name__}")
    plan = _plan("run_series", seed, replicates, generations, record, span, parameters)
    jobs_text = _jobs("run_series", jobs)
    if changes or stats or sample_every is not None:
        return _scenario_series(plan, record, span, trace, jobs_text, changes, stats, sample_every,
                                parameters)
    try:
        data, rows = _talveron.run_series(plan, trace, jobs_text)
    except KeyboardInterrupt:
        raise _interrupted() from None
    settings = {"seed": plan.seed, "replicates": plan.replicates, "generations": plan.generations,
                "record": record, "span": int(span)}
    return Series(settings, dict(parameters), data, rows)


class Series:
    """The result of run_series.

    seed, replicates, generations, record, span  the series' settings
    parameters  the model parameters given (the others are at their defaults)
    data_file   bytes: exactly the data file talveron-batch writes for them
    records     DataFrame: per replicate its seed and the columns A..I (timed),
                or per completed span its replicate, number and average
    trace       DataFrame of the census of every generation (replicate,
                generation, habitat, adults, spec0..2, pref0..2, mate0..2),
                or None when the series ran without trace=True

    >>> s = talveron.run_series(seed=7, replicates=3, generations=1000, trace=True)
    >>> s.records["I"].value_counts()      # 1 speciation, 2 fad, 0 not met
    >>> s.save("series.txt", trace="series.trace")
    """

    def __init__(self, settings, parameters, data_file, trace_rows):
        self.seed = settings["seed"]
        self.replicates = settings["replicates"]
        self.generations = settings["generations"]
        self.record = settings["record"]
        self.span = settings["span"]
        self.parameters = parameters
        self.data_file = data_file
        self._trace_rows = trace_rows
        self._records = None
        self._trace = None

    @property
    def records(self):
        """The data file's records as a DataFrame (see talveron.frames.records_frame)."""
        if self._records is None:
            self._records = frames.records_frame(self.data_file, self.record, self.seed)
        return self._records

    @property
    def trace(self):
        """The trace as a DataFrame, or None; built once, over the array the
        run filled, without copying it."""
        if self._trace_rows is None:
            return None
        if self._trace is None:
            self._trace = frames.trace_frame(self._trace_rows)
        return self._trace

    def save(self, path, trace=None):
        """Write the data file to `path` (and the trace to `trace`), the
        same files as the batch command's, with the same safety: each is
        written as NAME.partial and takes its name only when both are
        complete, so an older file stays as it was until then. Returns the
        paths written.

        >>> s.save("series.txt", trace="series.trace")
        ['series.txt', 'series.trace']
        """
        path = os.fspath(path)
        trace_path = "" if trace is None else os.fspath(trace)
        if trace_path and self._trace_rows is None:
            raise ValueError(f"trace={trace!r}: this series ran without trace=True")
        if not path:
            raise ValueError("path='': a file name is needed")
        _talveron.save_series(path, self.data_file, trace_path, self._trace_rows)
        return [path] + ([trace_path] if trace_path else [])

    def __repr__(self):
        return (f"<talveron.Series seed={self.seed} replicates={self.replicates} "
                f"generations={self.generations} record={self.record!r}"
                f"{' with trace' if self._trace_rows is not None else ''}>")


def _scenario_series(plan, record, span, trace, jobs_text, changes, stats, sample_every, parameters):
    if not isinstance(stats, bool):
        raise TypeError(f"run_series(): stats must be True or False, not {type(stats).__name__}")
    if stats and not trace:
        raise ValueError("stats=True adds columns to the trace: give trace=True too")
    every = -1 if sample_every is None else int(_whole("run_series", "sample_every", sample_every))
    if every < -1 or (sample_every is not None and every < 0):
        raise ValueError(f"sample_every={sample_every}: allowed is a whole number from 0")
    plan = _talveron.plan_with(plan, scenarios.change_texts("run_series", changes, _parameter_texts),
                               stats, every)
    jobs = int(jobs_text) if jobs_text else _talveron.available_cores()
    try:
        data, trace_text, samples = _talveron.run_with_samples(plan, trace, jobs)
    except KeyboardInterrupt:
        raise _interrupted() from None
    settings = {"seed": plan.seed, "replicates": plan.replicates, "generations": plan.generations,
                "record": record, "span": int(span)}
    series = ScenarioSeries(settings, dict(parameters), data, None)
    series.changes = list(changes or [])
    series._trace_text = trace_text
    series.genotypes, series.samples = (scenarios.samples_frames(samples, ADULT_DTYPE)
                                        if sample_every is not None else (None, None))
    return series


class ScenarioSeries(Series):
    """A Series run with changes, statistics or samples: as Series, and

    changes    the scheduled changes it ran with
    genotypes  numpy array, sampled individuals x 17 loci (talveron.scenarios.GENOTYPE_LOCI)
    samples    DataFrame of the sampled individuals: replicate, generation,
               habitat, x, y, sex, row for row with genotypes
    """

    @property
    def trace(self):
        if self._trace_text is None:
            return None
        if self._trace is None:
            self._trace = scenarios.trace_frame(self._trace_text)
        return self._trace

    def save(self, path, trace=None):
        path = os.fspath(path)
        if trace is not None and self._trace_text is None:
            raise ValueError(f"trace={trace!r}: this series ran without trace=True")
        _talveron.save_series(path, self.data_file, "", None)
        if trace is None:
            return [path]
        scenarios.save_text(os.fspath(trace), self._trace_text)
        return [path, os.fspath(trace)]


def _simulation_from_state(document):
    recipe, generation = scenarios.recipe_of_document(document, "pickle")
    return scenarios.replay(Simulation, recipe, generation)


# --- a study ---------------------------------------------------------------------

def _toml_value(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        return repr(float(value))
    if isinstance(value, str):
        return '"' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'
    if isinstance(value, (list, tuple)):
        return "[" + ", ".join(_toml_value(v) for v in value) + "]"
    raise TypeError(f"run_study(): a settings value must be a number, True/False, a string or "
                    f"a list, not {type(value).__name__}")


def settings_text(settings):
    """The TOML text of a settings dict, as talveron-batch --settings and
    --study read it: seed, replicates, generations, record, span, trace, and
    the tables "set" (parameters) and "vary" (lists of values), and
    "change": a list of {"generation": G, "set": {name: value}} ([[change]]
    tables), varied in "vary" as "change.N.generation" or "change.N.NAME".

    >>> print(talveron.settings_text({"seed": 1, "replicates": 2,
    ...                               "vary": {"density": [2, 4]}}))
    seed = 1
    replicates = 2
    [vary]
    density = [2, 4]
    """
    if not isinstance(settings, dict):
        raise TypeError(f"settings must be a dict, not {type(settings).__name__}")
    lines, tables = [], []
    for key, value in settings.items():
        if not isinstance(key, str):
            raise TypeError(f"settings keys must be strings, not {type(key).__name__}")
        if key == "change" and isinstance(value, (list, tuple)):
            continue  # the [[change]] tables, after the others
        if isinstance(value, dict):
            tables.append((key, value))
        else:
            lines.append(f"{key} = {_toml_value(value)}")
    for key, table in tables:
        if key == "vary":
            continue
        lines.append(f"[{key}]")
        for name, value in table.items():
            lines.append(f"{name} = {_toml_value(value)}")
    lines += scenarios.change_tables(settings.get("change"), _toml_value)
    for key, table in tables:
        if key != "vary":
            continue
        lines.append(f"[{key}]")
        for name, value in table.items():
            lines.append(f"{scenarios.toml_key(name)} = {_toml_value(value)}")
    return "\n".join(lines) + "\n"


def run_study(settings, out_dir, *, jobs=None, resume=False):
    """Run a study, as talveron-batch --study does: a series for every
    combination of the values listed under "vary" (the first changing
    slowest), each in out_dir/cell-N.txt, with summary.tsv and manifest.json.

    settings  a settings file (TOML, as for --study) or a dict of the same
              keys: seed, replicates, generations, record, span, trace, and
              the tables "set" and "vary"
    out_dir   the study's folder, created when missing
    jobs      replicates run at once (default: one per core)
    resume    go on with a stopped study in out_dir: complete cells are kept

    The files are byte for byte those of talveron-batch --study (the
    manifest names this package as the program). Ctrl+C stops at the end of
    the running generation, marks the manifest "stopped" and raises
    KeyboardInterrupt; resume=True goes on.

    >>> st = talveron.run_study({"seed": 42, "replicates": 10, "generations": 2000,
    ...                          "vary": {"selectionFactor": [0.2, 0.5, 0.8]}},
    ...                         out_dir="results")
    >>> st.summary[["selectionFactor", "speciation_share"]]
    >>> st.cells[0].parameters
    {'selectionFactor': '0.2'}
    """
    if isinstance(settings, dict):
        text, name = settings_text(settings), "settings"
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
    if not isinstance(resume, bool):
        raise TypeError(f"run_study(): resume must be True or False, not {type(resume).__name__}")
    jobs_text = _jobs("run_study", jobs)
    description = f"talveron.run_study({name!r}, out_dir={out_dir!r}" + \
                  (", resume=True" if resume else "") + ")"
    try:
        seed, axes, cells, record = _talveron.run_study(text, name, out_dir, jobs_text, resume,
                                                        description)
    except ValueError as e:
        message = str(e).replace("--out-dir ", "out_dir=").replace("--resume", "resume=True")
        raise ValueError(message) from None
    except KeyboardInterrupt:
        raise KeyboardInterrupt(f"stopped at the end of the running generation; complete cells "
                                f"are in {out_dir}, run_study(..., resume=True) goes on") from None
    return Study(out_dir, seed, axes, cells, record)


class StudyCell:
    """One cell of a study: its number, the values of the varied parameters
    (as the settings list them), its base seed and its files.

    >>> cell = st.cells[0]
    >>> cell.number, cell.parameters, cell.seed
    (1, {'selectionFactor': '0.2'}, 42)
    >>> cell.records                      # its data file's records
    """

    def __init__(self, study, number, values, seed, data_name, trace_name):
        self.number = number
        self.parameters = dict(zip(study.varied, values))
        self.seed = seed
        self.data_path = os.path.join(study.out_dir, data_name)
        self.trace_path = os.path.join(study.out_dir, trace_name) if trace_name else None
        self._record = study.record

    @property
    def data_file(self):
        """The cell's data file, as bytes."""
        with open(self.data_path, "rb") as f:
            return f.read()

    @property
    def records(self):
        """The cell's records as a DataFrame, as Series.records."""
        return frames.records_frame(self.data_file, self._record, self.seed)

    @property
    def trace(self):
        """The cell's trace as a DataFrame, or None without trace = true."""
        if self.trace_path is None:
            return None
        import pandas as pd
        return pd.read_csv(self.trace_path, sep="\t")

    def __repr__(self):
        return f"<talveron.StudyCell {self.number} {self.parameters} seed={self.seed}>"


class Study:
    """The result of run_study: its folder, seed, varied parameters, the
    summary and the cells.

    out_dir   the folder of the study's files
    seed      the study's seed (cell c has base seed seed + (c - 1) x replicates)
    varied    the names of the varied parameters
    summary   DataFrame: summary.tsv
    cells     list of StudyCell
    plot()    the pictures of scripts/plot-study, one per varied parameter

    >>> st.summary[["cell", "speciation_share", "speciation_low", "speciation_high"]]
    >>> figures = st.plot()
    """

    def __init__(self, out_dir, seed, varied, cells, record):
        self.out_dir = out_dir
        self.seed = seed
        self.varied = list(varied)
        self.record = record
        self.cells = [StudyCell(self, *cell) for cell in cells]

    @property
    def summary(self):
        """summary.tsv as a DataFrame: a row per complete cell."""
        return frames.summary_frame(os.path.join(self.out_dir, "summary.tsv"))

    def plot(self):
        """The summary's pictures, as scripts/plot-study draws them: a dict
        of matplotlib figures by varied parameter.

        >>> figures = st.plot()
        >>> talveron.plots.save_figure(figures["selectionFactor"], "share")
        """
        path = os.path.join(self.out_dir, "summary.tsv")
        return dict(plots.study_figures(*plots.read_summary(path), path))

    def __repr__(self):
        return f"<talveron.Study {self.out_dir!r}: {len(self.cells)} cells, seed {self.seed}>"


# --- one replicate -------------------------------------------------------------------

class Simulation:
    """One replicate, step by step: replicate 1 of a series with base seed
    `seed`, the same draws and census as that series' trace.

    Simulation(seed=None, generations=5000, record="timed", span=10, **parameters)

    step(n=1)    run n generations (fewer when the end comes first); returns
                 how many ran. Ctrl+C stops at the end of a generation and
                 raises KeyboardInterrupt.
    generation   generations run so far; done: all `generations` have run
    census()     DataFrame: the trace's two lines (habitat 0 and 1) of the
                 current generation
    adults()     numpy structured array (ADULT_DTYPE): habitat, x, y, sex
                 and every locus of every adult
    criteria()   dict: the generation each criterion A..E was first met, or None
    draw_map()   the map of both habitats, as the desktop program draws it

    >>> sim = talveron.Simulation(seed=7, density=4)
    >>> sim.step(100)
    100
    >>> sim.census()[["habitat", "adults", "spec0", "spec1"]]
    >>> sim.criteria()
    {'A': 37, 'B': 39, 'C': 53, 'D': 15, 'E': 47}
    """

    def __init__(self, *, seed=None, generations=5000, record="timed", span=10, **parameters):
        plan = _plan("Simulation", seed, 1, generations, record, span, parameters)
        self._core = _talveron.Simulation(plan)
        self.parameters = dict(parameters)
        self._recipe = scenarios.new_recipe(plan.seed, generations, record, span, parameters)

    seed = property(lambda self: self._core.seed, doc="The replicate's seed.")
    generation = property(lambda self: self._core.generation, doc="Generations run so far.")
    generations = property(lambda self: self._core.generations, doc="Generations of the replicate.")
    done = property(lambda self: self._core.done, doc="Whether every generation has run.")

    def step(self, generations=1):
        """Run `generations` generations (1 by default), fewer when the
        replicate ends first; returns how many ran.

        >>> while not sim.done:
        ...     sim.step(500)
        """
        text = _whole("step", "generations", generations)
        if int(text) < 0:
            raise ValueError(f"generations={text}: allowed is a whole number from 0")
        try:
            return self._core.step(int(text))
        except KeyboardInterrupt:
            raise _interrupted() from None

    def census(self):
        """The census of the current generation: the trace's two lines, as a
        DataFrame with the trace's columns.

        >>> sim.census().set_index("habitat")["adults"]
        """
        return frames.trace_frame(self._core.census())

    def adults(self):
        """Every adult, in the order of the adult list, as a numpy structured
        array of ADULT_DTYPE: habitat, x (0..31), y (0..39), sex (True male)
        and the loci habitatPref, habitatSpec, matingPrefType,
        matingPrefValue, signalType, signalValue, generalViability and the ten
        neutral genes neutral0 .. neutral9; pd.DataFrame(sim.adults()) makes
        a DataFrame of it.

        >>> a = sim.adults()
        >>> (a["habitat"] == 0).sum()        # adults in habitat 0
        """
        raw = self._core.adults()
        return raw.view(ADULT_DTYPE).reshape(len(raw))

    def criteria(self):
        """The generation at which each criterion A..E was first met in both
        habitats, or None while it has not been.

        >>> sim.criteria()["E"]
        """
        return self._core.criteria()

    def draw_map(self, locus="all", ax=None):
        """The map of both habitats as the desktop program draws it (see
        talveron.plots.map_figure); returns the figure.

        >>> fig = sim.draw_map()
        """
        return plots.map_figure(self.adults(), locus=locus, ax=ax,
                                title=f"generation {self.generation}, seed {self.seed}")

    def set(self, **parameters):
        """Set parameters from the next generation on, as a scheduled change
        at that generation would (talveron-batch --change): stepped to G - 1,
        set, stepped on is the series with the change at G.

        >>> sim.step(2000)
        >>> sim.set(natalDispersalRate=10, matingDispersalRate=10)
        """
        self._core.set(_parameter_texts("set", parameters))
        self.parameters.update(parameters)
        self._recipe["events"].append(("set", self.generation, dict(parameters)))

    def reseed(self, seed):
        """A new stream of random numbers from here on, for a branch: a copy
        reseeded goes its own way; a copy not reseeded continues exactly as
        the original.

        >>> branch = copy.deepcopy(sim)
        >>> branch.reseed(99)
        """
        text = _whole("reseed", "seed", seed)
        self._core.reseed(int(text))
        self._recipe["events"].append(("reseed", self.generation, int(text)))

    def __deepcopy__(self, memo):
        return scenarios.replay(Simulation, copy.deepcopy(self._recipe), self.generation)

    def __reduce__(self):
        return (_simulation_from_state, (scenarios.state_document(self._recipe, self.generation),))

    def save(self, path):
        """Write the state to `path` (JSON, versioned): load() gives a
        Simulation where this one stands. The file holds the seed, the
        settings and every set() and reseed() with its generation; loading
        runs them again, so it takes as long as the generations so far.

        >>> sim.save("isolated-2000.json")
        """
        import json
        path = os.fspath(path)
        scenarios.save_text(path, json.dumps(scenarios.state_document(self._recipe, self.generation),
                                             indent=1).encode())
        return path

    @classmethod
    def load(cls, path):
        """A Simulation saved by save(), where it stood. ValueError when the
        file is not a saved Simulation or comes from another format version.

        >>> sim = talveron.Simulation.load("isolated-2000.json")
        """
        import json
        path = os.fspath(path)
        try:
            with open(path, "rb") as f:
                document = json.loads(f.read().decode("utf-8"))
        except (UnicodeDecodeError, json.JSONDecodeError):
            raise ValueError(f"{path}: not a saved talveron Simulation (not JSON)") from None
        recipe, generation = scenarios.recipe_of_document(document, path)
        return scenarios.replay(cls, recipe, generation)

    def genotypes(self):
        """The adults' genotypes: a numpy array, individuals x 17 loci in
        the order of the VCF's records (talveron.scenarios.GENOTYPE_LOCI),
        and a DataFrame of the individuals (habitat, x, y, sex).

        >>> genotypes, individuals = sim.genotypes()
        """
        return scenarios.genotypes(self.adults())

    def __repr__(self):
        return (f"<talveron.Simulation seed={self.seed} generation {self.generation} "
                f"of {self.generations}>")
