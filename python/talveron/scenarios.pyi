# Types of the helpers of changes, statistics and genotype samples.
from typing import Any, List, Tuple, Union

import numpy as np
import numpy.typing as npt
import pandas as pd  # type: ignore[import]

GENOTYPE_LOCI: List[str]

def genotypes(adults: npt.NDArray[np.void]) -> Tuple[npt.NDArray[np.uint8], pd.DataFrame]: ...
def samples_frames(samples: List[Tuple[int, int, npt.NDArray[np.uint8]]],
                   adult_dtype: np.dtype[Any]) -> Tuple[npt.NDArray[np.uint8], pd.DataFrame]: ...
def trace_frame(text: Union[bytes, str]) -> pd.DataFrame: ...
def save_text(path: str, text: bytes) -> None: ...
