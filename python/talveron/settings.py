"""The settings of series and studies: the model's parameters, which
run_series and Simulation take by name, and a study's settings dict as
the TOML text that talveron-batch --settings and --study read."""

import json

from talveron import _values

__all__ = ["parameters", "settings_text"]


def parameters():
    """Every model parameter that can be set by name, as a DataFrame: name,
    default, minimum, maximum (numbers), kind (boolean, integer or decimal)
    and meaning. Pass them to run_series or Simulation as keywords.

    >>> p = talveron.parameters().set_index("name")
    >>> p.loc["density", ["default", "minimum", "maximum", "kind"]].tolist()
    [1.0, 1.0, 8.0, 'integer']
    """
    import pandas as pd
    rows = [(row[0], float(_values.typed(row[0], row[1])), *row[2:6])
            for row in _values.TABLE.values()]
    return pd.DataFrame(rows, columns=["name", "default", "minimum", "maximum", "kind", "meaning"])


_SETTINGS_KEYS = ["seed", "replicates", "generations", "record", "span", "trace", "stats", "genotypes",
                  "sample-every"]
# Seeds from here on do not fit a TOML integer; settings files take them quoted.
_TOML_INTEGER_LIMIT = 2 ** 63


def _key(*path):
    return "settings" + "".join(f"[{k!r}]" for k in path)


def _toml_string(text):
    return json.dumps(text)  # a TOML basic string: the same escapes


def _toml_name(name):
    bare = name and all(c.isalnum() and c.isascii() or c in "_-" for c in name)
    return name if bare else _toml_string(name)


def _top_value(name, value):
    """A top-level setting as TOML, checked for its type; values out of
    range are written as given, for the core to refuse in its words."""
    where = _key(name)
    if name in ("seed", "replicates", "generations", "span", "sample-every"):
        text = _values.whole_text("run_study", where, value)
        if name == "seed" and text.isdigit() and int(text) >= _TOML_INTEGER_LIMIT:
            return _toml_string(text)
        return text
    if name == "record":
        if not isinstance(value, str):
            raise TypeError(f"run_study(): {where} must be a string "
                            f"({', '.join(_values.RECORDS)}), not {type(value).__name__}")
        return _toml_string(value)
    if name in ("trace", "stats", "genotypes"):
        return "true" if _values.flag("run_study", where, value) else "false"
    raise ValueError(f"{where}: unknown setting; allowed are "
                     f"{', '.join(_SETTINGS_KEYS)}, 'set', 'change' and 'vary'"
                     f"{_values.did_you_mean(name)}")


def _parameter_toml(where, name, value):
    """A parameter's value as TOML, as the user gave it: True and False as
    true and false, numbers as numbers."""
    text = _values.parameter_value("run_study", name, value, where)
    if _values.is_bool(value):
        return "true" if value else "false"
    return text


def _settings_lines(settings):
    """The TOML lines of a settings dict and, per line, the key it holds."""
    if not isinstance(settings, dict):
        raise TypeError(f"settings must be a dict, not {type(settings).__name__}")
    lines, keys, tables, changes = [], [], [], []
    for name, value in settings.items():
        if not isinstance(name, str):
            raise TypeError(f"run_study(): settings keys must be strings, not {type(name).__name__}")
        if name == "change":
            changes = _change_entries(value)
        elif name in ("set", "vary"):
            if not isinstance(value, dict):
                raise TypeError(f"run_study(): {_key(name)} must be a dict of parameters, "
                                f"not {type(value).__name__}")
            tables.append((name, value))
        else:
            lines.append(f"{name} = {_top_value(name, value)}")
            keys.append(f"{_key(name)}={value!r}")
    # [set], the [[change]] tables, then [vary], which may name the changes.
    tables.sort(key=lambda table: table[0] == "vary")
    for table, entries in tables:
        if table == "vary":
            _change_lines(changes, lines, keys)
            changes = []
        lines.append(f"[{table}]")
        keys.append(_key(table))
        for name, value in entries.items():
            where = _key(table, name)
            if not isinstance(name, str):
                raise TypeError(f"run_study(): {_key(table)} keys must be parameter names, "
                                f"not {type(name).__name__}")
            if table == "vary" and name.startswith("change."):
                items = _values.sequence("run_study", where, value)
                parameter = name.rsplit(".", 1)[-1]
                if parameter == "generation" or parameter not in _values.TABLE:
                    texts = [_values.whole_text("run_study", f"{where}[{i}]", item)
                             for i, item in enumerate(items)]
                else:
                    texts = [_parameter_toml(f"{where}[{i}]", parameter, item)
                             for i, item in enumerate(items)]
                lines.append(f"{_toml_string(name)} = [{', '.join(texts)}]")
                keys.append(where)
                continue
            if name not in _values.TABLE:
                raise ValueError(f"{where}: unknown parameter"
                                 f"{_values.did_you_mean(name)}; the parameters are listed by "
                                 "talveron.parameters()")
            if table == "set":
                text = _parameter_toml(where, name, value)
            else:
                items = _values.sequence("run_study", where, value)
                text = "[" + ", ".join(_parameter_toml(f"{where}[{i}]", name, item)
                                       for i, item in enumerate(items)) + "]"
            lines.append(f"{_toml_name(name)} = {text}")
            keys.append(where)
    _change_lines(changes, lines, keys)
    return lines, keys


def _change_entries(value):
    """A settings dict's "change" list, checked for its form."""
    form = 'a list of {"generation": G, "set": {name: value}}'
    if isinstance(value, (str, bytes, dict)) or not isinstance(value, (list, tuple)):
        raise TypeError(f"run_study(): {_key('change')} must be {form}, not {type(value).__name__}")
    for number, change in enumerate(value):
        if (not isinstance(change, dict) or set(change) != {"generation", "set"}
                or not isinstance(change["set"], dict)):
            raise TypeError(f"run_study(): {_key('change', number)} must be "
                            f'{{"generation": G, "set": {{name: value}}}}, not {change!r}')
    return list(value)


def _change_lines(changes, lines, keys):
    """The [[change]] tables of a settings dict's "change" list."""
    for number, change in enumerate(changes):
        lines.append("[[change]]")
        keys.append(_key("change", number))
        where = _key("change", number, "generation")
        lines.append(f"generation = {_values.whole_text('run_study', where, change['generation'])}")
        keys.append(where)
        values = []
        for name, value in change["set"].items():
            if not isinstance(name, str) or name not in _values.TABLE:
                raise ValueError(f"{_key('change', number, 'set', name)}: unknown parameter"
                                 f"{_values.did_you_mean(str(name))}; the parameters are listed "
                                 "by talveron.parameters()")
            values.append(f"{_toml_name(name)} = "
                          f"{_parameter_toml(_key('change', number, 'set', name), name, value)}")
        lines.append(f"set = {{ {', '.join(values)} }}")
        keys.append(_key("change", number, "set"))


def settings_text(settings):
    """The TOML text of a settings dict, as talveron-batch --settings and
    --study read it: seed, replicates, generations, record, span, trace, and
    the dicts "set" (parameters) and "vary" (a list, range or array of
    values per parameter), and "change": a list of {"generation": G, "set":
    {name: value}} ([[change]] tables), varied in "vary" as
    "change.N.generation" or "change.N.NAME".

    >>> import numpy as np
    >>> print(talveron.settings_text({"seed": 2**64 - 1, "replicates": 2.0,
    ...                               "vary": {"density": range(2, 4),
    ...                                        "selectionFactor": np.linspace(0, 1, 3)}}))
    seed = "18446744073709551615"
    replicates = 2
    [vary]
    density = [2, 3]
    selectionFactor = [0.0, 0.5, 1.0]
    <BLANKLINE>
    """
    return "\n".join(_settings_lines(settings)[0]) + "\n"
