"""Scheduled changes, the trace's statistics and genotype samples from
Python: the parts of run_series(changes=..., stats=..., sample_every=...)
and of Simulation.set() and Simulation.genotypes(), and the genotype files
that both write.

A change at generation G applies before the Reproduction of generation G in
every replicate, as talveron-batch --change G:NAME=VALUE does; a Simulation
stepped to G - 1, set and stepped on gives the same census.
"""

import io
import numbers
import os

import numpy as np
import pandas as pd

from talveron import _talveron, frames

# The loci of a genotype, in the order of the VCF's records.
GENOTYPE_LOCI = (["habitatPref", "habitatSpec", "matingPrefType", "matingPrefValue", "signalType",
                  "signalValue", "generalViability"] + [f"neutral{g}" for g in range(10)])


def change_texts(function, changes, parameter_texts):
    """[(generation, {name: value})] as the binding takes it: each value as
    --set reads it. TypeError for a malformed list."""
    texts = []
    for entry in changes or []:
        if (not isinstance(entry, (tuple, list)) or len(entry) != 2 or isinstance(entry[0], bool)
                or not isinstance(entry[0], numbers.Integral) or not isinstance(entry[1], dict)):
            raise TypeError(f"{function}(): changes takes a list of (generation, {{name: value}}), "
                            f"not {entry!r}")
        texts.append((int(entry[0]), parameter_texts(function, entry[1])))
    return texts


def genotypes(adults):
    """Adults (a structured array of ADULT_DTYPE) as a genotype array,
    individuals x 17 loci (GENOTYPE_LOCI), and a DataFrame of the
    individuals: habitat, x, y, sex ("f" or "m")."""
    array = np.empty((len(adults), len(GENOTYPE_LOCI)), dtype=np.uint8)
    for column, locus in enumerate(GENOTYPE_LOCI):
        array[:, column] = adults[locus].astype(np.uint8)
    individuals = pd.DataFrame({"habitat": adults["habitat"].astype(np.int64),
                                "x": adults["x"].astype(np.int64), "y": adults["y"].astype(np.int64),
                                "sex": np.where(adults["sex"], "m", "f")})
    return array, individuals


def samples_frames(samples, adult_dtype):
    """The samples of a series, [(replicate, generation, adults bytes)], as
    one genotype array and a DataFrame with replicate and generation."""
    arrays, frames = [], []
    for replicate, generation, raw in samples:
        adults = raw.view(adult_dtype).reshape(len(raw))
        array, individuals = genotypes(adults)
        individuals.insert(0, "generation", generation)
        individuals.insert(0, "replicate", replicate)
        arrays.append(array)
        frames.append(individuals)
    if not arrays:
        return np.empty((0, len(GENOTYPE_LOCI)), dtype=np.uint8), pd.DataFrame(
            columns=["replicate", "generation", "habitat", "x", "y", "sex"])
    return np.concatenate(arrays), pd.concat(frames, ignore_index=True)


def trace_frame(text):
    """A trace (its text, or the path of its file), with or without
    statistics, as a DataFrame: the census columns as Series.trace has them
    (int32 counts, habitat categorical), then the statistics (NA reads as
    NaN)."""
    source = io.BytesIO(text) if isinstance(text, bytes) else text
    frame = pd.read_csv(source, sep="\t", dtype={c: np.int32 for c in frames.TRACE_COLUMNS})
    census = frames.trace_frame(frame[frames.TRACE_COLUMNS].to_numpy(dtype=np.int32))
    if len(frame.columns) == len(frames.TRACE_COLUMNS):
        return census
    return pd.concat([census, frame.drop(columns=frames.TRACE_COLUMNS)], axis=1)


def save_genotypes(path, replicates, samples, parameters, changes):
    """The genotype files of `samples` (replicate, generation, adults) at
    `path`, as talveron-batch --genotypes writes them, their headers naming
    `parameters` and `changes` (as Plan.settings() gives them); the paths
    written."""
    if not isinstance(path, (str, os.PathLike)):
        raise TypeError(f"save_genotypes(): path must be a file name, not {type(path).__name__}")
    return _talveron.save_genotypes(os.fspath(path), replicates, samples, parameters, changes)


def save_text(path, text):
    """`text` (bytes) to `path`, beside its name until complete."""
    partial = path + ".partial"
    try:
        with open(partial, "wb") as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.replace(partial, path)
    except BaseException:
        # A file that was there stays as it was; the partial one goes.
        if os.path.exists(partial):
            os.remove(partial)
        raise
