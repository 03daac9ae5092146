"""What scripts/plot-study and scripts/plot-trace share: the package's
drawing helpers (python/talveron/plots.py, loaded from the source tree
without the package's compiled part), their options, the files of
scheduled changes that plot-trace marks, and the pictures of one column of
a study's summary that plot-study draws.

Runs with Debian's interpreter, which sees python3-matplotlib.
"""

import argparse
import importlib.util
import math
import os
import re
import sys


def _load_plots():
    path = os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "python", "talveron",
                        "plots.py")
    spec = importlib.util.spec_from_file_location("talveron_plots", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


# Not compiled to a __pycache__ beside them: that would change the checkout.
sys.dont_write_bytecode = True
plots = _load_plots()


# --- options ---------------------------------------------------------------------

def formats(text):
    """--format's list: png, svg and pdf, comma-separated.

    >>> formats("svg, PDF,svg")
    ['svg', 'pdf']
    """
    chosen = list(dict.fromkeys(f.strip().lower().lstrip(".") for f in text.split(",") if f.strip()))
    wrong = [f for f in chosen if f not in plots.FORMATS]
    if wrong or not chosen:
        raise argparse.ArgumentTypeError(f"'{text}': the formats are png, svg and pdf, "
                                         "comma-separated")
    return chosen


def change(text):
    """--change's GEN:NAME=VALUE.

    >>> change("151:natalDispersalRate=50")
    (151, 'natalDispersalRate', '50')
    """
    found = re.fullmatch(r"\s*([0-9]+)\s*:\s*([A-Za-z_][A-Za-z0-9_]*)\s*=\s*(\S+)\s*", text)
    if not found or int(found.group(1)) < 1:
        raise argparse.ArgumentTypeError(f"'{text}': a change is GEN:NAME=VALUE, GEN from 1")
    return int(found.group(1)), found.group(2), found.group(3)


# --- scheduled changes -------------------------------------------------------------

def _change_value(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return str(value)


def read_changes(path):
    """The scheduled changes of a settings or study file (.toml, its
    [[change]] tables) or of a run record (.json, its "changes" list of
    {"generation", "set": {NAME: VALUE}} or {"generation", "name", "value"}),
    as [(generation, [(name, value text), ...])] in the order of the
    generations.

    >>> import tempfile
    >>> with tempfile.NamedTemporaryFile("w", suffix=".toml") as f:
    ...     _ = f.write("[[change]]\\ngeneration = 2001\\nset = { natalDispersalRate = 10 }\\n")
    ...     f.flush()
    ...     read_changes(f.name)
    [(2001, [('natalDispersalRate', '10')])]
    """
    import json
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as e:
        raise plots.InputError(f"cannot read {path}: {e.strerror}") from None
    if path.lower().endswith(".json"):
        try:
            document = json.loads(raw.decode("utf-8"))
        except (UnicodeDecodeError, ValueError) as e:
            raise plots.InputError(f"{path}: not JSON: {e}") from None
        listed = document.get("changes", []) if isinstance(document, dict) else None
        what = '"changes"'
    else:
        import tomllib
        try:
            document = tomllib.loads(raw.decode("utf-8"))
        except (UnicodeDecodeError, tomllib.TOMLDecodeError) as e:
            raise plots.InputError(f"{path}: not a settings file: {e}") from None
        listed = document.get("change", [])
        what = "[[change]]"
    if not isinstance(listed, list):
        raise plots.InputError(f"{path}: {what} is not a list of changes")
    by_generation = {}
    for number, change in enumerate(listed, start=1):
        generation = change.get("generation") if isinstance(change, dict) else None
        if isinstance(generation, bool) or not isinstance(generation, int) or generation < 1:
            raise plots.InputError(f"{path}: change {number} has no generation (a whole number from 1)")
        if "set" in change and isinstance(change["set"], dict) and change["set"]:
            pairs = list(change["set"].items())
        elif isinstance(change.get("name"), str) and "value" in change:
            pairs = [(change["name"], change["value"])]
        else:
            raise plots.InputError(f"{path}: change {number} (generation {generation}) sets no parameter")
        for name, value in pairs:
            if not isinstance(value, (bool, int, float, str)):
                raise plots.InputError(f"{path}: change {number}: {name} is not set to a value")
            by_generation.setdefault(generation, []).append((name, _change_value(value)))
    return sorted(by_generation.items())


# --- one column of a study's summary -------------------------------------------------

# The column a study's picture shows by default: the share of replicates
# that ended in speciation; a summary written before end states were
# recorded has the share classified when criterion E was met instead.
DEFAULT_COLUMNS = ["speciation_at_end_share", "speciation_share", "mean"]


def default_column(header):
    """The column to draw when none is asked for, and a note when it is not
    the first choice (an older summary), else None.

    >>> default_column(["cell", "x", "replicates", "speciation_share", "speciation_at_end_share"])
    ('speciation_at_end_share', None)
    >>> default_column(["cell", "x", "replicates", "speciation_share"])[1][:58]
    'an older study: its summary has no speciation_at_end_share'
    """
    for column in DEFAULT_COLUMNS:
        if column in header:
            if column == DEFAULT_COLUMNS[0]:
                return column, None
            what = ("the replicates classified when criterion E was met"
                    if column == "speciation_share" else "the mean of the averaged variable")
            return column, (f"an older study: its summary has no {DEFAULT_COLUMNS[0]}, so this is "
                            f"{column}, {what}")
    raise plots.InputError(f"the summary has none of the columns {', '.join(DEFAULT_COLUMNS)}")


def interval_columns(header, column):
    """The columns holding the lower and upper end of `column`'s interval
    (COLUMN_low and COLUMN_high, or for a share STEM_low and STEM_high), or
    None when the summary has none.

    >>> interval_columns(["speciation_share", "speciation_low", "speciation_high"], "speciation_share")
    ('speciation_low', 'speciation_high')
    >>> interval_columns(["mean", "sd"], "mean") is None
    True
    """
    pairs = [(column + "_low", column + "_high")]
    if column.endswith("_share"):
        stem = column[:-len("_share")]
        pairs.append((stem + "_low", stem + "_high"))
    for low, high in pairs:
        if low in header and high in header:
            return low, high
    return None


def drawable_columns(parameters, rows):
    """The columns of a summary that a picture can show: all but the cell's
    number and the varied parameters."""
    return [c for c in rows[0] if c != "cell" and c not in parameters]


def _share_like(column):
    return any(column.endswith(e) for e in ("_share", "_low", "_high"))


def format_value(value, column):
    """A summary value as a picture writes it: shares with two decimals,
    whole numbers as they are, others with one or two decimals.

    >>> format_value(0.6667, "speciation_share"), format_value(920.0, "E_median")
    ('0.67', '920')
    """
    if math.isnan(value):
        return "no value"
    if _share_like(column):
        return f"{value:.2f}"
    if value == int(value):
        return str(int(value))
    return f"{value:.2f}" if abs(value) < 10 else f"{value:.1f}"


def _ordered_values(rows, parameter):
    """A parameter's values in numeric order when they are all numbers,
    else in the order they first appear."""
    values = list(dict.fromkeys(row[parameter] for row in rows))
    try:
        return sorted(values, key=float)
    except ValueError:
        return values


def _column_values(rows, column, path):
    return [plots.summary_number(r, column, path, optional=True) for r in rows]


def heatmap_figure(parameters, rows, column, path="summary.tsv", note=None):
    """A study of two varied parameters as a grid: the first parameter's
    values up the side, the second's along the bottom, each cell coloured by
    `column` and holding its value and, where the summary has one, its
    interval below it. Cells where the column is empty (a median of no
    replicate) are grey and say so. Returns the figure.

    Ids in the SVG: heatmap (the grid), value-N and interval-N (the texts of
    cell N).
    """
    if len(parameters) != 2:
        raise ValueError(f"a heatmap needs two varied parameters, the study has {len(parameters)}")
    plt = plots._pyplot()
    import numpy as np
    header = list(rows[0])
    if column not in drawable_columns(parameters, rows):
        raise plots.InputError(f"{path} has no column {column} to draw")
    interval = interval_columns(header, column)
    # A share's count of replicates is written beside it: speciation_share's
    # in speciation, speciation_at_end_share's in speciation_at_end.
    count = column[:-len("_share")] if column.endswith("_share") else None
    if count not in header or "replicates" not in header:
        count = None
    y_param, x_param = parameters
    xs, ys = _ordered_values(rows, x_param), _ordered_values(rows, y_param)
    grid = np.full((len(ys), len(xs)), np.nan)
    for row, value in zip(rows, _column_values(rows, column, path)):
        grid[ys.index(row[y_param]), xs.index(row[x_param])] = value
    fig, ax = plt.subplots(figsize=(max(5.5, 1.3 * len(xs) + 2.5), max(4.0, 0.8 * len(ys) + 2.0)),
                           layout="constrained")
    cmap = plt.get_cmap("viridis").copy()
    cmap.set_bad("#d9d9d9")
    known = grid[~np.isnan(grid)]
    if _share_like(column):
        low, high = 0.0, 1.0
    elif known.size:
        low, high = float(known.min()), float(known.max())
        if low == high:
            low, high = low - 0.5, high + 0.5
    else:
        low, high = 0.0, 1.0
    image = ax.imshow(np.ma.masked_invalid(grid), cmap=cmap, vmin=low, vmax=high, origin="lower",
                      aspect="auto", interpolation="nearest")
    image.set_gid("heatmap")
    colourbar = fig.colorbar(image, ax=ax)
    colourbar.set_label(column)
    for row in rows:
        i, j = ys.index(row[y_param]), xs.index(row[x_param])
        value = grid[i, j]
        if math.isnan(value):
            ink = "black"
        else:
            r, g, b, _ = cmap((value - low) / (high - low))
            ink = "black" if 0.299 * r + 0.587 * g + 0.114 * b > 0.5 else "white"
        two_lines = interval is not None and not math.isnan(value)
        text = format_value(value, column)
        if count is not None and not math.isnan(value):
            text += f" ({row[count]} of {row['replicates']})"
        ax.text(j, i + (0.12 if two_lines else 0.0), text, ha="center",
                va="center", color=ink, fontsize="medium", gid=f"value-{row['cell']}")
        if two_lines:
            lo = plots.summary_number(row, interval[0], path)
            hi = plots.summary_number(row, interval[1], path)
            ax.text(j, i - 0.16, f"[{format_value(lo, column)}, {format_value(hi, column)}]",
                    ha="center", va="center", color=ink, fontsize="small",
                    gid=f"interval-{row['cell']}")
    ax.set_xticks(range(len(xs)), xs)
    ax.set_yticks(range(len(ys)), ys)
    ax.set_xlabel(x_param)
    ax.set_ylabel(y_param)
    title = column + (" (95% Wilson interval)" if interval and _share_like(column) else
                      f" ({interval[0]} to {interval[1]})" if interval else "")
    if note is not None:
        import textwrap
        title += "\n" + textwrap.fill(note, int(fig.get_figwidth() * 11))
    ax.set_title(title, fontsize="medium")
    return fig


def column_figures(parameters, rows, column, path="summary.tsv", note=None):
    """One figure per varied parameter (per cell number when none varies) of
    one summary column against the parameter, as (parameter, figure) pairs;
    with bars from COLUMN_low to COLUMN_high where the summary has them.
    Each combination of the other parameters is a line of its own. Ids in
    the SVG: column-P-K and column-interval-P-K for parameter P and line K.
    """
    plt = plots._pyplot()
    header = list(rows[0])
    if column not in drawable_columns(parameters, rows):
        raise plots.InputError(f"{path} has no column {column} to draw")
    interval = interval_columns(header, column)
    for parameter in parameters or ["cell"]:
        others = [p for p in parameters if p != parameter]
        combos = plots._groups(rows, others)
        xs_all, ticks = plots._axis_values(rows, parameter)
        x_of = {id(row): x for row, x in zip(rows, xs_all)}
        colours = plt.get_cmap("tab10" if len(combos) <= 10 else "viridis")
        fig, ax = plt.subplots(figsize=(6.5, 4.5), layout="constrained")
        for k, (key, members) in enumerate(combos, start=1):
            members = sorted(members, key=lambda r: x_of[id(r)])
            colour = colours(k - 1) if len(combos) <= 10 else colours((k - 1) / (len(combos) - 1))
            name = ", ".join(f"{p}={v}" for p, v in zip(others, key)) if others else None
            points = [(x_of[id(r)], v, r) for r, v in zip(members, _column_values(members, column, path))
                      if not math.isnan(v)]
            ax.plot([x for x, _, _ in points], [v for _, v, _ in points], marker="o", color=colour,
                    label=name, gid=f"column-{parameter}-{k}")
            if interval and points:
                lows = [plots.summary_number(r, interval[0], path) for _, _, r in points]
                highs = [plots.summary_number(r, interval[1], path) for _, _, r in points]
                bars = ax.errorbar([x for x, _, _ in points], [v for _, v, _ in points],
                                   yerr=[[max(0.0, v - lo) for (_, v, _), lo in zip(points, lows)],
                                         [max(0.0, hi - v) for (_, v, _), hi in zip(points, highs)]],
                                   fmt="none", capsize=3, color=colour)
                bars.lines[2][0].set_gid(f"column-interval-{parameter}-{k}")
        ax.set_xlabel(parameter)
        ax.set_ylabel(column)
        ax.grid(True, alpha=0.3)
        if ticks is not None:
            ax.set_xticks(range(len(ticks)), ticks)
        if _share_like(column):
            ax.set_ylim(-0.03, 1.03)
        title = column + (f" ({interval[0]} to {interval[1]})" if interval else "")
        if note is not None:
            import textwrap
            title += "\n" + textwrap.fill(note, int(fig.get_figwidth() * 11))
        ax.set_title(title, fontsize="medium")
        if others:
            ax.legend(fontsize="small")
        yield parameter, fig
