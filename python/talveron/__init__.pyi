# Types of the package's public names, each declared in its module's stub.
from typing import List

from talveron import frames as frames
from talveron import plots as plots
from talveron import scenarios as scenarios
from talveron._interrupt import Interrupted as Interrupted
from talveron.frames import criteria_legend as criteria_legend
from talveron.series import ScenarioSeries as ScenarioSeries
from talveron.series import Series as Series
from talveron.series import run_series as run_series
from talveron.settings import parameters as parameters
from talveron.settings import settings_text as settings_text
from talveron.simulation import ADULT_DTYPE as ADULT_DTYPE
from talveron.simulation import Simulation as Simulation
from talveron.study import Study as Study
from talveron.study import StudyCell as StudyCell
from talveron.study import run_study as run_study
from talveron.study import wilson_interval as wilson_interval

__version__: str
__all__ = ["parameters", "criteria_legend", "run_series", "Series", "run_study", "Study",
           "StudyCell", "Simulation", "Interrupted", "settings_text", "wilson_interval",
           "ScenarioSeries", "ADULT_DTYPE", "__version__"]
