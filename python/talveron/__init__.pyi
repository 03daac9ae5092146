# Types of the package's public names, for editors and type checkers.
import concurrent.futures
import os
from typing import Any, Dict, List, Mapping, Optional, Sequence, SupportsFloat, SupportsInt, Tuple, Union

import numpy as np
import numpy.typing as npt
import pandas as pd  # type: ignore[import]

from talveron import frames as frames
from talveron import plots as plots
from talveron import scenarios as scenarios
from talveron.frames import criteria_legend as criteria_legend

__version__: str
__all__: List[str]

# A whole number: int, a numpy integer, or a decimal with a whole value.
Whole = Union[SupportsInt, SupportsFloat]
# A parameter's value: a number or a boolean (Python's or numpy's).
Value = Union[bool, np.bool_, SupportsFloat, SupportsInt]
PathName = Union[str, "os.PathLike[str]"]
# Scheduled changes: (generation, {name: value}) each.
Change = Tuple[Whole, Mapping[str, Value]]

ADULT_DTYPE: np.dtype[Any]

class Interrupted(KeyboardInterrupt):
    series: Optional[Series]
    study: Optional[Study]
    simulation: Optional[Simulation]
    def __init__(self, message: str, *, series: Optional[Series] = ..., study: Optional[Study] = ...,
                 simulation: Optional[Simulation] = ...) -> None: ...

def parameters() -> pd.DataFrame: ...
def wilson_interval(successes: Whole, trials: Whole) -> Tuple[float, float]: ...

def run_series(*, seed: Optional[Whole] = ..., replicates: Whole = ..., generations: Whole = ...,
               record: str = ..., span: Whole = ..., trace: bool = ..., jobs: Optional[Whole] = ...,
               progress: Optional[bool] = ..., changes: Optional[Sequence[Change]] = ...,
               stats: bool = ..., sample_every: Optional[Whole] = ...,
               **parameters: Value) -> Series: ...

class Series:
    seed: int
    replicates: int
    generations: int
    record: str
    span: int
    parameters: Dict[str, Union[int, float, bool]]
    data_file: bytes
    complete: bool
    replicates_done: int
    @property
    def records(self) -> pd.DataFrame: ...
    @property
    def trace(self) -> Optional[pd.DataFrame]: ...
    def trace_long(self) -> Optional[pd.DataFrame]: ...
    def save(self, path: PathName, trace: Optional[PathName] = ...) -> List[str]: ...

class ScenarioSeries(Series):
    changes: List[Change]
    genotypes: Optional[npt.NDArray[np.uint8]]
    samples: Optional[pd.DataFrame]
    def save_genotypes(self, path: PathName) -> List[str]: ...

def settings_text(settings: Mapping[str, Any]) -> str: ...

def run_study(settings: Union[Mapping[str, Any], PathName], out_dir: PathName, *,
              jobs: Optional[Whole] = ..., resume: bool = ..., progress: Optional[bool] = ...,
              executor: Optional[Union[concurrent.futures.Executor, Any]] = ...) -> Study: ...

class StudyCell:
    number: int
    parameters: Dict[str, Union[int, float, bool]]
    seed: int
    complete: bool
    data_path: str
    trace_path: Optional[str]
    genotype_paths: List[str]
    samples_path: Optional[str]
    @property
    def data_file(self) -> bytes: ...
    @property
    def records(self) -> pd.DataFrame: ...
    @property
    def trace(self) -> Optional[pd.DataFrame]: ...
    def trace_long(self) -> Optional[pd.DataFrame]: ...

class Study:
    out_dir: str
    seed: int
    varied: List[str]
    record: str
    generations: int
    span: int
    cells: List[StudyCell]
    @property
    def summary(self) -> pd.DataFrame: ...
    @property
    def records(self) -> pd.DataFrame: ...
    def plot(self) -> Dict[str, Any]: ...

class Simulation:
    parameters: Dict[str, Union[int, float, bool]]
    def __init__(self, *, seed: Optional[Whole] = ..., generations: Whole = ..., record: str = ...,
                 span: Whole = ..., **parameters: Value) -> None: ...
    @property
    def seed(self) -> int: ...
    @property
    def generation(self) -> int: ...
    @property
    def generations(self) -> int: ...
    @property
    def done(self) -> bool: ...
    def step(self, generations: Whole = ...) -> int: ...
    def census(self) -> pd.DataFrame: ...
    def adults(self) -> npt.NDArray[np.void]: ...
    def criteria(self) -> Dict[str, Optional[int]]: ...
    def draw_map(self, locus: str = ..., ax: Any = ...) -> Any: ...
    def set(self, **parameters: Value) -> None: ...
    def reseed(self, seed: Whole) -> None: ...
    def genotypes(self) -> Tuple[npt.NDArray[np.uint8], pd.DataFrame]: ...
    def save_genotypes(self, path: PathName) -> List[str]: ...
    def save(self, path: PathName) -> str: ...
    @classmethod
    def load(cls, path: PathName) -> Simulation: ...
    def __copy__(self) -> Simulation: ...
    def __deepcopy__(self, memo: Dict[int, Any]) -> Simulation: ...
