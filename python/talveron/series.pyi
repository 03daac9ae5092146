# Types of a series and its result.
from typing import Dict, List, Optional, Sequence

import numpy as np
import numpy.typing as npt
import pandas as pd  # type: ignore[import]

from talveron import _talveron
from talveron._talveron import _Samples
from talveron._values import _Change, _Number, _PathName, _Value, _Whole

__all__ = ["run_series", "Series", "ScenarioSeries"]

def run_series(*, seed: Optional[_Whole] = ..., replicates: _Whole = ..., generations: _Whole = ...,
               record: str = ..., span: _Whole = ..., trace: bool = ..., jobs: Optional[_Whole] = ...,
               progress: Optional[bool] = ..., changes: Optional[Sequence[_Change]] = ...,
               stats: bool = ..., sample_every: Optional[_Whole] = ...,
               **parameters: _Value) -> Series: ...

class Series:
    seed: int
    replicates: int
    generations: int
    record: str
    span: int
    parameters: Dict[str, _Number]
    data_file: bytes
    complete: bool
    replicates_done: int
    # Made by run_series.
    def __init__(self, plan: _talveron.Plan, record: str, data_file: bytes,
                 trace_rows: Optional[npt.NDArray[np.int32]], replicates_done: int) -> None: ...
    @property
    def records(self) -> pd.DataFrame: ...
    @property
    def trace(self) -> Optional[pd.DataFrame]: ...
    def trace_long(self) -> Optional[pd.DataFrame]: ...
    def save(self, path: _PathName, trace: Optional[_PathName] = ...) -> List[str]: ...

class ScenarioSeries(Series):
    changes: List[_Change]
    genotypes: Optional[npt.NDArray[np.uint8]]
    samples: Optional[pd.DataFrame]
    # Made by run_series.
    def __init__(self, plan: _talveron.Plan, record: str, data_file: bytes,
                 trace_rows: Optional[npt.NDArray[np.int32]], replicates_done: int,
                 changes: Optional[Sequence[_Change]], *, trace_text: Optional[bytes] = ...,
                 genotypes: Optional[npt.NDArray[np.uint8]] = ..., samples: Optional[pd.DataFrame] = ...,
                 raw_samples: Optional[_Samples] = ...) -> None: ...
    def save_genotypes(self, path: _PathName) -> List[str]: ...
