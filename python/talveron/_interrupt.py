"""What a run that Ctrl+C stopped raises: talveron.Interrupted, holding
every complete result."""

# The words that every stopped run's message begins with.
STOPPED = "stopped at the end of the running generation"


class Interrupted(KeyboardInterrupt):
    """Ctrl+C (in a notebook, Interrupt) stopped a run at the end of a
    generation. Nothing complete is lost: `series` is the Series of the
    complete records (run_series), `study` the Study of the folder with its
    complete cells (run_study, which resume=True continues), `simulation`
    the Simulation at the generation reached (Simulation.step).

    >>> try:
    ...     raise Interrupted("stopped", series=None)
    ... except KeyboardInterrupt as stop:
    ...     print(stop, stop.series)
    stopped None
    """

    def __init__(self, message, *, series=None, study=None, simulation=None):
        super().__init__(message)
        self.series = series
        self.study = study
        self.simulation = simulation


# A traceback names it as users catch it, talveron.Interrupted.
Interrupted.__module__ = "talveron"


def stopped(stop, message, **attached):
    """The exception to raise for what stopped a run (Ctrl+C, or an error
    raised by a signal handler), with what was complete attached."""
    if isinstance(stop, KeyboardInterrupt):
        return Interrupted(message, **attached)
    for name, value in attached.items():
        try:
            setattr(stop, name, value)
        except AttributeError:
            pass
    return stop
