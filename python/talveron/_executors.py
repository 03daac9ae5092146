"""A study's cells run by an executor: each cell's series is a task that
runs where the executor puts it (a process, a thread, another machine),
and its files are written here, in the study's folder, as it returns."""

import concurrent.futures
import time

from talveron import _talveron


def run_cell(settings):
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


def as_executor(executor):
    """A concurrent.futures.Executor, or a Dask distributed Client's."""
    if isinstance(executor, concurrent.futures.Executor):
        return executor
    if hasattr(executor, "get_executor"):  # distributed.Client
        return executor.get_executor()
    raise TypeError(f"run_study(): executor must be a concurrent.futures.Executor or a "
                    f"distributed.Client, not {type(executor).__name__}")


def run_cells_on(folder, executor, bar):
    """Every unfinished cell of `folder` as a task of `executor`; each
    cell's files are written here as its result arrives. Returns the
    KeyboardInterrupt that stopped it, or None."""
    pending = {}
    done = 0
    try:
        for number, *_ in folder.cells():
            if not folder.cell_complete(number):
                settings = folder.cell_settings(number)
                pending[executor.submit(run_cell, settings)] = (number, settings)
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
