# Types of the parameters' table and of a study's settings as TOML.
from typing import Any, Mapping

import pandas as pd  # type: ignore[import]

__all__ = ["parameters", "settings_text"]

def parameters() -> pd.DataFrame: ...
def settings_text(settings: Mapping[str, Any]) -> str: ...
