"""What the package's callers give, turned into the text the batch command
reads: Python and numpy numbers, whole-valued decimals for whole numbers,
any sequence for a study's lists. A value of the wrong type raises
TypeError here; a value out of range is passed on as text, so that the
core refuses it with the batch command's words (ValueError)."""

import difflib
import numbers
import time

import numpy as np

from talveron import _talveron

# name, default, minimum, maximum, kind, meaning, allowed (in words)
TABLE = {row[0]: row for row in _talveron.parameter_table()}
RECORDS = ["timed", "total", "preference", "specialization", "mating", "none"]

# Decimals beyond this are not exact whole numbers.
_EXACT = 2 ** 53


def is_bool(value):
    return isinstance(value, (bool, np.bool_))


def _decimal_text(value):
    """A decimal as the batch command reads it back: the shortest text of
    the double (repr), so that the core rounds it as it rounds --set."""
    return repr(float(value))


def whole_text(function, name, value, none=False):
    """A whole number as text. Python and numpy integers, and decimals with
    a whole value (2.0, as R passes numbers), are whole; another decimal
    gives its own text, which the core then refuses in its usual words.
    Anything else raises TypeError."""
    if value is None and none:
        return ""
    if not is_bool(value):
        if isinstance(value, numbers.Integral):
            return str(int(value))
        if isinstance(value, numbers.Real):
            number = float(value)
            if number.is_integer() and abs(number) <= _EXACT:
                return str(int(number))
            return _decimal_text(number)
    raise TypeError(f"{function}(): {name} must be a whole number"
                    f"{' or None' if none else ''}, not {type(value).__name__}")


def did_you_mean(name):
    """A hint naming the known parameters closest to `name`, or nothing."""
    close = difflib.get_close_matches(name, list(TABLE), n=3)
    hint = f" (did you mean {' or '.join(repr(c) for c in close)}?)" if close else ""
    return hint


def parameter_value(function, name, value, label=None):
    """A model parameter's value as text for --set: booleans as 0 or 1,
    whole numbers as such (a whole-valued decimal too), decimals as the
    shortest text of the double. Raises TypeError for a value of another
    type, naming the value as `label` (default: the parameter's name)."""
    kind = TABLE[name][4]
    label = label or name
    if kind == "boolean":
        if is_bool(value):
            return "1" if value else "0"
        if isinstance(value, numbers.Real):
            return whole_text(function, label, value)
        raise TypeError(f"{function}(): {label} takes True or False (or 0 or 1), "
                        f"not {type(value).__name__}")
    if kind == "integer":
        if not is_bool(value) and isinstance(value, numbers.Real):
            return whole_text(function, label, value)
        raise TypeError(f"{function}(): {label} takes a whole number, not {type(value).__name__}")
    if not is_bool(value) and isinstance(value, numbers.Real):
        if isinstance(value, numbers.Integral):
            return str(int(value))
        return _decimal_text(value)
    raise TypeError(f"{function}(): {label} takes a decimal number, not {type(value).__name__}")


def parameter_texts(function, given):
    """The model parameters given as keywords, each as the batch command's
    --set reads it. Unknown names are refused with the closest known ones."""
    texts = []
    for name, value in given.items():
        if name not in TABLE:
            raise TypeError(f"{function}() got an unexpected keyword argument {name!r}"
                            f"{did_you_mean(name)}; "
                            "the parameters are listed by talveron.parameters()")
        texts.append((name, parameter_value(function, name, value)))
    return texts


def typed(name, text):
    """A parameter's value from its text, as the number it is: int for
    whole numbers, bool for booleans, float for decimals. A study's axis
    of a change (change.1.generation, change.1.NAME) as its generation or
    its parameter."""
    if name.startswith("change."):
        last = name.rsplit(".", 1)[-1]
        return int(text) if last == "generation" else typed(last, text)
    kind = TABLE[name][4] if name in TABLE else "decimal"
    if kind == "boolean":
        return text in ("1", "true")
    if kind == "integer":
        return int(text)
    return float(text)


def sequence(function, key, value):
    """A study's list of values: a list, tuple, range, numpy array, pandas
    Series or any other iterable but text."""
    if isinstance(value, (str, bytes, dict)) or (isinstance(value, np.ndarray) and value.ndim != 1):
        raise TypeError(f"{function}(): {key} takes a list of values, not {type(value).__name__}")
    try:
        return list(value)
    except TypeError:
        raise TypeError(f"{function}(): {key} takes a list of values, "
                        f"not {type(value).__name__}") from None


def plan(function, seed, replicates, generations, record, span, given):
    """A series' plan from what `function` was given, checked by the core:
    the seed (None: from the clock), the counts, the record and the model
    parameters given as keywords."""
    if not isinstance(record, str):
        raise TypeError(f"{function}(): record must be a string ({', '.join(RECORDS)}), "
                        f"not {type(record).__name__}")
    seed_text = whole_text(function, "seed", seed, none=True)
    if seed is None:
        seed_text = str(time.time_ns())  # as the batch command takes it from the clock
    return _talveron.make_plan(seed_text, whole_text(function, "replicates", replicates),
                               whole_text(function, "generations", generations), record,
                               whole_text(function, "span", span),
                               parameter_texts(function, given))


def jobs(function, value):
    """The number of threads as text; "" for one per core (None)."""
    return whole_text(function, "jobs", value, none=True)


def flag(function, name, value):
    """A setting that is True or False (Python's or numpy's)."""
    if not is_bool(value):
        raise TypeError(f"{function}(): {name} must be True or False, not {type(value).__name__}")
    return bool(value)
