"""One replicate, step by step: the Simulation, its adults as numpy
records, its state saved, loaded, copied and pickled."""

import json
import os

import numpy as np

from talveron import _talveron, _values, frames, plots, scenarios
from talveron._interrupt import STOPPED, stopped

__all__ = ["Simulation", "ADULT_DTYPE"]

# An adult as Simulation.adults() gives it: its place and every locus, a
# field each, so that pandas.DataFrame(sim.adults()) has a column each.
ADULT_DTYPE = np.dtype([("habitat", "u1"), ("x", "u1"), ("y", "u1"), ("sex", "?"),
                        ("habitatPref", "u1"), ("habitatSpec", "u1"), ("matingPrefType", "u1"),
                        ("matingPrefValue", "u1"), ("signalType", "u1"), ("signalValue", "u1"),
                        ("generalViability", "i1")] +
                       [(f"neutral{i}", "u1") for i in range(10)])
assert ADULT_DTYPE.itemsize == _talveron.individual_size()


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
        plan = _values.plan("Simulation", seed, 1, generations, record, span, parameters)
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
            raise stopped(stop, f"{STOPPED}; the simulation (.simulation) is at generation "
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
        return scenarios.save_genotypes(path, 1, [(1, self.generation, adults)],
                                        self._core.parameters(), [])

    def __repr__(self):
        return (f"<talveron.Simulation seed={self.seed} generation {self.generation} "
                f"of {self.generations}>")


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


# A pickled Simulation names this function where it has always been,
# talveron._simulation_from_state, so that pickles read the same across versions.
_simulation_from_state.__module__ = "talveron"
