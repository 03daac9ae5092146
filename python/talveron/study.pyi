# Types of a study and its result.
import concurrent.futures
from typing import Any, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import pandas as pd  # type: ignore[import]

from talveron._values import _Number, _PathName, _Whole

__all__ = ["run_study", "Study", "StudyCell", "wilson_interval"]

def run_study(settings: Union[Mapping[str, Any], _PathName], out_dir: _PathName, *,
              jobs: Optional[_Whole] = ..., resume: bool = ..., progress: Optional[bool] = ...,
              executor: Optional[Union[concurrent.futures.Executor, Any]] = ...) -> Study: ...

class StudyCell:
    number: int
    parameters: Dict[str, _Number]
    seed: int
    complete: bool
    data_path: str
    trace_path: Optional[str]
    genotype_paths: List[str]
    samples_path: Optional[str]
    # Made by Study, from what the study's folder says of the cell.
    def __init__(self, study: Study, number: int, values: Sequence[str], seed: int, data_name: str,
                 trace_name: str, genotype_names: Sequence[str], samples_name: str,
                 complete: bool) -> None: ...
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
    # Made by run_study.
    def __init__(self, out_dir: str, seed: int, varied: Sequence[str],
                 cells: Sequence[Tuple[int, List[str], int, str, str, List[str], str]], record: str,
                 complete: Sequence[bool], generations: int, span: int) -> None: ...
    @property
    def summary(self) -> pd.DataFrame: ...
    @property
    def records(self) -> pd.DataFrame: ...
    def plot(self) -> Dict[str, Any]: ...

def wilson_interval(successes: _Whole, trials: _Whole) -> Tuple[float, float]: ...
