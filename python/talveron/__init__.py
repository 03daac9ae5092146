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

from talveron import _talveron, frames, plots, scenarios
from talveron._interrupt import Interrupted
from talveron.frames import criteria_legend
from talveron.series import ScenarioSeries, Series, run_series
from talveron.settings import parameters, settings_text
from talveron.simulation import ADULT_DTYPE, Simulation
from talveron.simulation import _simulation_from_state  # noqa: F401  (what a pickled Simulation calls)
from talveron.study import Study, StudyCell, run_study, wilson_interval

__version__ = _talveron.version
__all__ = ["parameters", "criteria_legend", "run_series", "Series", "run_study", "Study",
           "StudyCell", "Simulation", "Interrupted", "settings_text", "wilson_interval",
           "ScenarioSeries", "ADULT_DTYPE", "__version__"]
