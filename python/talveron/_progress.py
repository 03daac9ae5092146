"""Progress of a long run: a tqdm bar where tqdm is installed (a widget in
a notebook that has ipywidgets), otherwise a plain line on standard error
rewritten in place, like the batch command's."""

import sys
import time


def interactive():
    """Whether someone is watching: a notebook or IPython, or an
    interactive interpreter on a terminal."""
    shell = sys.modules.get("IPython")
    if shell is not None and getattr(shell, "get_ipython", lambda: None)() is not None:
        return True
    stderr = getattr(sys, "stderr", None)
    return bool(hasattr(sys, "ps1") and stderr is not None and stderr.isatty())


def _tqdm():
    try:
        import ipywidgets  # noqa: F401  (the notebook bar needs it)
        from tqdm.auto import tqdm
        return tqdm
    except ImportError:
        pass
    try:
        from tqdm import tqdm
        return tqdm
    except ImportError:
        return None


class Progress:
    """Counts generations run of `total`; called with the count so far.
    Shows nothing when `show` is false."""

    def __init__(self, show, total, what):
        self.show = show
        self.total = total
        self.what = what
        self._bar = None
        self._shown = 0
        self._last = 0.0
        self._line = False
        if show:
            tqdm = _tqdm()
            if tqdm is not None:
                self._bar = tqdm(total=total, desc=what, unit=" generations", unit_scale=True,
                                 leave=True, file=sys.stderr)

    def __call__(self, done):
        if not self.show:
            return
        done = min(int(done), self.total)
        if self._bar is not None:
            if done > self._shown:
                self._bar.update(done - self._shown)
                self._shown = done
            return
        now = time.monotonic()
        if now - self._last >= 0.5 or done == self.total:
            self._last = now
            share = 100.0 * done / self.total if self.total else 100.0
            sys.stderr.write(f"\r{self.what}: {done} of {self.total} generations ({share:.0f}%)")
            sys.stderr.flush()
            self._line = True

    def close(self, done=None):
        if not self.show:
            return
        if done is not None:
            self(done)
        if self._bar is not None:
            self._bar.close()
        elif self._line:
            sys.stderr.write("\n")
            sys.stderr.flush()


def choose(progress, function):
    """progress=None: shown when interactive; True or False as said."""
    if progress is None:
        return interactive()
    if not isinstance(progress, bool):
        raise TypeError(f"{function}(): progress must be True, False or None, "
                        f"not {type(progress).__name__}")
    return progress
