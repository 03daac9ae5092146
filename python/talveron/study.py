"""A study, as talveron-batch --study runs it: a series for every
combination of the varied values, each cell's files in one folder, with
the summary and the manifest; run_study, its Study and their StudyCells,
and wilson_interval, the summary's interval of the share of speciation."""

import os

from talveron import _executors, _progress, _talveron, _values, frames, plots, scenarios
from talveron._interrupt import STOPPED, stopped
from talveron.frames import criteria_legend
from talveron.settings import _settings_lines

__all__ = ["run_study", "Study", "StudyCell", "wilson_interval"]


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
    resume = _values.flag("run_study", "resume", resume)
    show = _progress.choose(progress, "run_study")
    jobs_text = _values.jobs("run_study", jobs)
    if executor is not None:
        executor = _executors.as_executor(executor)
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
                stop = _executors.run_cells_on(folder, executor, bar)
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
        raise stopped(stop, f"{STOPPED}; complete cells are in {out_dir} (.study), "
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
