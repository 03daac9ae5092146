# Types of a study's cells run by an executor.
import concurrent.futures
from typing import Any, Callable, Dict, Optional, Tuple

from talveron import _talveron
from talveron._talveron import _Samples

def run_cell(settings: Dict[str, Any]) -> Tuple[bytes, bytes, float, Optional[_Samples]]: ...
def as_executor(executor: Any) -> concurrent.futures.Executor: ...
def run_cells_on(folder: _talveron.StudyFolder, executor: concurrent.futures.Executor,
                 bar: Callable[[int], None]) -> Optional[KeyboardInterrupt]: ...
