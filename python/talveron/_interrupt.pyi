# Types of what a stopped run raises.
from typing import Optional

from talveron.series import Series
from talveron.simulation import Simulation
from talveron.study import Study

STOPPED: str

class Interrupted(KeyboardInterrupt):
    series: Optional[Series]
    study: Optional[Study]
    simulation: Optional[Simulation]
    def __init__(self, message: str, *, series: Optional[Series] = ..., study: Optional[Study] = ...,
                 simulation: Optional[Simulation] = ...) -> None: ...

def stopped(stop: BaseException, message: str, *, series: Optional[Series] = ...,
            study: Optional[Study] = ..., simulation: Optional[Simulation] = ...) -> BaseException: ...
