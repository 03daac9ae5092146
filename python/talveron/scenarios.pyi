# Types of the helpers of changes, statistics and genotype samples.
from typing import Any, Callable, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt
import pandas as pd  # type: ignore[import]

from talveron._talveron import _Samples
from talveron._values import _PathName

GENOTYPE_LOCI: List[str]

def change_texts(function: str, changes: Optional[Sequence[Any]],
                 parameter_texts: Callable[[str, Mapping[str, Any]], List[Tuple[str, str]]]
                 ) -> List[Tuple[int, List[Tuple[str, str]]]]: ...
def genotypes(adults: npt.NDArray[np.void]) -> Tuple[npt.NDArray[np.uint8], pd.DataFrame]: ...
def samples_frames(samples: _Samples,
                   adult_dtype: np.dtype[Any]) -> Tuple[npt.NDArray[np.uint8], pd.DataFrame]: ...
def trace_frame(text: Union[bytes, str]) -> pd.DataFrame: ...
def save_genotypes(path: _PathName, replicates: int, samples: _Samples,
                   parameters: List[Tuple[str, str]],
                   changes: List[Tuple[int, List[Tuple[str, str]]]]) -> List[str]: ...
def save_text(path: str, text: bytes) -> None: ...
