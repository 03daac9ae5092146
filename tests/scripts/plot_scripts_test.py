"""Runs scripts/plot-study and scripts/plot-trace on a small study and checks
what they drew: the files they name, and in the SVGs the number of points of
every line and that each line's points are the data under one linear map of
the axes; the words and places of a study's grid against its summary; the
lines of the criteria against the generations worked out here from the
trace's counts, and those of scheduled changes against the files that
schedule them; and that every format written is what its name says.

Usage: plot_scripts_test.py TALVERON_BATCH SCRIPTS_DIR WORK_DIR
"""

import csv
import doctest
import importlib.util
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

BATCH = None
SCRIPTS = None
SVG = "{http://www.w3.org/2000/svg}"
TRACE_LINES = ["adults", "spec0", "spec1", "spec2", "pref0", "pref1", "pref2",
               "mate0", "mate1", "mate2"]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


# --- the study ---------------------------------------------------------------

def make_study(directory, values=None, replicates=3, generations=400, seed=11):
    """A real small study (talveron-batch --study) in timed mode with traces:
    cell-N.txt, cell-N.trace, summary.tsv and manifest.json."""
    values = values or {"selectionFactor": ["0.2", "0.8"], "gMatingPrefTarget": ["0", "1"]}
    os.makedirs(directory, exist_ok=True)
    settings = os.path.join(os.path.dirname(directory), "study.toml")
    with open(settings, "w") as f:
        f.write(f"seed = {seed}\nreplicates = {replicates}\ngenerations = {generations}\n"
                "record = \"timed\"\ntrace = true\n[vary]\n")
        for name, listed in values.items():
            f.write(f"{name} = [{', '.join(listed)}]\n")
    subprocess.run([BATCH, "--quiet", "--study", settings, "--out-dir", directory], check=True)


def write_averaging_study(directory):
    """A summary of an averaging study, one numeric and one yes/no parameter,
    one cell without a standard deviation."""
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "summary.tsv"), "w", newline="") as f:
        f.write("cell\tgSearchCost\trestrictedNatalDispersal\treplicates\tspans\tmean\tsd\tlast\n"
                "01\t0\tfalse\t4\t40\t151.5\t12.25\t149\n"
                "02\t0.1\tfalse\t4\t40\t120\t8.5\t118\n"
                "03\t0.3\tfalse\t4\t40\t64.75\t\t60\n"
                "04\t0\ttrue\t4\t40\t140\t10\t139\n"
                "05\t0.1\ttrue\t4\t40\t99.5\t7\t101\n"
                "06\t0.3\ttrue\t4\t40\t31\t5.5\t29\n")


# --- reading what was drawn ----------------------------------------------------

def run(script, *args):
    """Runs a script as a user would, with Python free to write its caches:
    the scripts themselves must keep them out of the checkout."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("PYTHONDONTWRITEBYTECODE", "PYTHONPYCACHEPREFIX")}
    return subprocess.run([os.path.join(SCRIPTS, script), *args], capture_output=True, text=True,
                          env=env)


def files_below(folder):
    """Every file below folder, with its size and time of change."""
    found = set()
    for top, _, names in os.walk(folder):
        for name in names:
            status = os.stat(os.path.join(top, name))
            found.add((os.path.relpath(os.path.join(top, name), folder), status.st_size,
                       status.st_mtime_ns))
    return found


def written(result):
    return [line[len("wrote "):] for line in result.stdout.splitlines()
            if line.startswith("wrote ")]


def png_size(path):
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def svg_groups(path):
    root = ET.parse(path).getroot()
    size = (float(root.get("width").rstrip("pt")), float(root.get("height").rstrip("pt")))
    return size, {g.get("id"): g for g in root.iter(SVG + "g") if g.get("id")}


def markers(group):
    return [(float(u.get("x")), float(u.get("y"))) for u in group.iter(SVG + "use")]


def vertices(path_element):
    return [(float(x), float(y)) for x, y in
            re.findall(r"[ML] (-?[0-9.e+-]+) (-?[0-9.e+-]+)", path_element.get("d"))]


def line_vertices(group):
    paths = group.findall(SVG + "path")
    return vertices(paths[0]) if paths else []


def linear(data, drawn, increasing, what):
    """Whether drawn = a + b * data for every pair, b > 0 if increasing."""
    pairs = [(d, s) for d, s in zip(data, drawn)]
    if not check(pairs, f"{what}: nothing drawn"):
        return
    low, high = min(pairs), max(pairs)
    if low[0] == high[0]:
        check(all(abs(s - low[1]) < 0.05 for _, s in pairs), f"{what}: equal data, unequal points")
        return
    slope = (high[1] - low[1]) / (high[0] - low[0])
    check(slope > 0 if increasing else slope < 0, f"{what}: axis runs the wrong way")
    worst = max(abs(low[1] + slope * (d - low[0]) - s) for d, s in pairs)
    check(worst < 0.05, f"{what}: points off the data by up to {worst:.3f} pt")


def check_png_and_svg(png, svg_size, what):
    size = png_size(png)
    if not check(size is not None, f"{png} is not a PNG"):
        return
    check(size[0] >= 500 and size[1] >= 300, f"{what}: PNG only {size[0]}x{size[1]}")
    check(abs(size[0] / size[1] - svg_size[0] / svg_size[1]) < 0.01,
          f"{what}: PNG {size} and SVG {svg_size} differ in shape")


# --- the checks ----------------------------------------------------------------

def read_summary(directory):
    with open(os.path.join(directory, "summary.tsv"), newline="") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    header = list(rows[0])
    return header[1:header.index("replicates")], rows, "mean" in header


def as_number(text):
    return float(text) if text != "" else math.nan


def check_study(directory):
    parameters, rows, averaging = read_summary(directory)
    plots = os.path.join(directory, "plots")
    shutil.rmtree(plots, ignore_errors=True)
    result = run("plot-study", directory)
    if not check(result.returncode == 0, f"plot-study {directory}: exit {result.returncode}: "
                                         f"{result.stderr}"):
        return
    names = list(parameters)
    grid = None
    if len(parameters) == 2:
        header = list(rows[0])
        grid = next(c for c in ("speciation_at_end_share", "speciation_share", "mean") if c in header)
        names.append(grid)
    expected = [os.path.join(plots, p + s) for p in names for s in (".png", ".svg")]
    check(sorted(written(result)) == sorted(expected),
          f"plot-study wrote {written(result)}, expected {expected}")
    check(sorted(os.listdir(plots)) == sorted(os.path.basename(e) for e in expected),
          f"plots/ holds {sorted(os.listdir(plots))}")
    if grid is not None:
        older = grid != "speciation_at_end_share"
        check(("older study" in result.stderr) == older,
              f"plot-study on {directory}: the note on an older summary is "
              f"{'missing' if older else 'there'}: {result.stderr!r}")
        check_grid(os.path.join(plots, grid + ".svg"), parameters, rows, grid, note=older)
    for parameter in parameters:
        svg_size, groups = svg_groups(os.path.join(plots, parameter + ".svg"))
        check_png_and_svg(os.path.join(plots, parameter + ".png"), svg_size, parameter)
        others = [p for p in parameters if p != parameter]
        combos = {}
        for row in rows:
            combos.setdefault(tuple(row[p] for p in others), []).append(row)
        try:
            to_x = {row[parameter]: float(row[parameter]) for row in rows}
        except ValueError:
            to_x = {v: float(i) for i, v in enumerate(dict.fromkeys(r[parameter] for r in rows))}
        lines = (["mean"] if averaging else ["share", "median-C", "median-E"])
        columns = {"mean": "mean", "share": "speciation_share",
                   "median-C": "C_median", "median-E": "E_median"}
        axes = {"mean": "mean", "share": "share", "median-C": "median", "median-E": "median"}
        pooled = {}
        for k, members in enumerate(combos.values(), start=1):
            members = sorted(members, key=lambda r: to_x[r[parameter]])
            for line in lines:
                gid = f"{line}-{parameter}-{k}"
                group = groups.get(gid)
                if not check(group is not None, f"{parameter}.svg has no {gid}"):
                    continue
                data = [(to_x[r[parameter]], as_number(r[columns[line]])) for r in members]
                data = [d for d in data if not math.isnan(d[1])]
                points = markers(group)
                check(len(points) == len(data),
                      f"{gid}: {len(points)} points drawn, {len(data)} in the summary")
                if len(points) == len(data):
                    pooled.setdefault(axes[line], []).extend(zip(data, points))
            bars = "mean-sd" if averaging else "share-interval"
            expected_bars = sum(1 for r in members
                                if r["sd" if averaging else "speciation_share"] != "")
            group = groups.get(f"{bars}-{parameter}-{k}")
            drawn_bars = len(group.findall(SVG + "path")) if group is not None else 0
            check(drawn_bars == expected_bars,
                  f"{bars}-{parameter}-{k}: {drawn_bars} bars, expected {expected_bars}")
        for line in lines:
            check(f"{line}-{parameter}-{len(combos) + 1}" not in groups,
                  f"{parameter}.svg has more {line} lines than combinations")
        for axis, pairs in pooled.items():
            linear([d[0] for d, _ in pairs], [p[0] for _, p in pairs], True, f"{parameter} {axis} x")
            linear([d[1] for d, _ in pairs], [p[1] for _, p in pairs], False, f"{parameter} {axis} y")


def read_trace(path, replicate):
    with open(path, newline="") as f:
        rows = [r for r in csv.DictReader(f, delimiter="\t") if int(r["replicate"]) == replicate]
    return {h: [r for r in rows if r["habitat"] == str(h)] for h in (0, 1)}


def check_trace(trace, replicate, out=None):
    args = [trace, "--replicate", str(replicate)] + (["--out", out] if out else [])
    result = run("plot-trace", *args)
    if not check(result.returncode == 0,
                 f"plot-trace {args}: exit {result.returncode}: {result.stderr}"):
        return
    base = os.path.splitext(out or trace)[0]
    check(written(result) == [base + ".png", base + ".svg"],
          f"plot-trace wrote {written(result)}, expected {base}.png and .svg")
    svg_size, groups = svg_groups(base + ".svg")
    check_png_and_svg(base + ".png", svg_size, trace)
    data = read_trace(trace, replicate)
    panels = {}
    for column in TRACE_LINES:
        for habitat in (0, 1):
            gid = f"{column}-h{habitat}"
            group = groups.get(gid)
            if not check(group is not None, f"{base}.svg has no {gid}"):
                continue
            points = line_vertices(group)
            rows = data[habitat]
            if check(len(points) == len(rows),
                     f"{gid}: {len(points)} points drawn, {len(rows)} generations"):
                panel = panels.setdefault(column.rstrip("012"), [])
                panel.extend(((int(r["generation"]), int(r[column])), p)
                             for r, p in zip(rows, points))
    for panel, pairs in panels.items():
        linear([d[0] for d, _ in pairs], [p[0] for _, p in pairs], True, f"trace {panel} x")
        linear([d[1] for d, _ in pairs], [p[1] for _, p in pairs], False, f"trace {panel} y")
    check_marks(base + ".svg", trace, replicate, {})


def check_stats_trace(work):
    """A trace with --stats: the counts' panels as before, and every
    statistic drawn from the trace's own values (NA left out)."""
    os.makedirs(work, exist_ok=True)
    trace = os.path.join(work, "stats.trace")
    subprocess.run([BATCH, "-q", "--seed", "8", "--replicates", "1", "--generations", "60",
                    "--set", "gIncludeNeutralGenes=1", "--set", "gMatingPrefTarget=2",
                    "--out", os.path.join(work, "stats.txt"), "--trace", trace, "--stats"], check=True)
    check_trace(trace, 1)
    _, groups = svg_groups(os.path.splitext(trace)[0] + ".svg")
    data = read_trace(trace, 1)
    lines = [(f"fst_{l}", 0, f"fst_{l}") for l in ("spec", "pref", "mate", "signal", "viability", "neutral")]
    check(any(r["fst_neutral"] != "NA" for r in data[0]), "the neutral genes never varied")
    lines += [(f"h_{l}", h, f"h_{l}-h{h}") for l in ("spec", "pref", "neutral") for h in (0, 1)]
    lines += [("v_mate_spec", 0, "v_mate_spec"), ("v_mate_signal", 0, "v_mate_signal")]
    for column, habitat, gid in lines:
        group = groups.get(gid)
        if not check(group is not None, f"stats.svg has no {gid}"):
            continue
        rows = [r for r in data[habitat] if r[column] != "NA"]
        if not rows:  # never defined (a locus without variation): nothing to draw
            continue
        points = line_vertices(group)
        if check(len(points) == len(rows), f"{gid}: {len(points)} points drawn, {len(rows)} defined values"):
            linear([float(r[column]) for r in rows], [p[1] for p in points], False, f"stats {gid} y")


# --- a study's grid, a column's lines, and the formats ------------------------

Z95 = 1.959963984540054


def wilson(successes, trials):
    """The 95% Wilson score interval of successes in trials."""
    p = successes / trials
    centre = (p + Z95 * Z95 / (2 * trials)) / (1 + Z95 * Z95 / trials)
    half = Z95 * math.sqrt(p * (1 - p) / trials + Z95 * Z95 / (4 * trials * trials)) / (1 + Z95 * Z95 / trials)
    return max(0.0, centre - half), min(1.0, centre + half)


def end_state_summary(directory, parameters, cells, interval_suffix=("_low", "_high")):
    """A timed summary with the end states' columns, one row per cell of
    (parameter values, speciation classified at E, at the end, E's median),
    ten replicates each; the shares and intervals worked out here."""
    os.makedirs(directory, exist_ok=True)
    share_low, share_high = ("speciation_at_end" + s for s in interval_suffix)
    header = (["cell"] + parameters + ["replicates"] + [f"{c}_met" for c in "ABCDE"]
              + [f"{c}_median" for c in "ABCDE"]
              + ["speciation", "fad", "speciation_share", "speciation_low", "speciation_high",
                 "speciation_at_end", "fad_at_end", "none_at_end", "extinct_at_end",
                 "speciation_at_end_share", share_low, share_high])
    lines = ["\t".join(header)]
    for number, (values, speciation, at_end, e_median) in enumerate(cells, start=1):
        low, high = wilson(speciation, 10)
        end_low, end_high = wilson(at_end, 10)
        met = "0" if e_median == "" else "10"
        lines.append("\t".join(
            [f"{number:02d}"] + values + ["10", "10", "10", "9", "10", met, "12", "30", "400", "15",
                                          e_median, str(speciation), str(10 - speciation),
                                          f"{speciation / 10:.4f}", f"{low:.4f}", f"{high:.4f}",
                                          str(at_end), str(9 - at_end), "1", "0",
                                          f"{at_end / 10:.4f}", f"{end_low:.4f}", f"{end_high:.4f}"]))
    with open(os.path.join(directory, "summary.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")


def svg_texts(path):
    """The words of every group with an id, of an SVG that keeps its text."""
    root = ET.parse(path).getroot()
    texts = {}
    for g in root.iter(SVG + "g"):
        if g.get("id"):
            found = g.find(SVG + "text")
            if found is not None and found.get("x") is not None:
                texts[g.get("id")] = (("".join(found.itertext())).strip(), float(found.get("x")),
                                      float(found.get("y")))
    every = [("".join(t.itertext())).strip() for t in root.iter(SVG + "text")]
    return texts, every


def interval_of(header, column):
    """The interval columns the README names: COLUMN_low and _high, or a
    share's stem's."""
    stem = column[:-len("_share")] if column.endswith("_share") else None
    for low, high in [(column + "_low", column + "_high")] + ([(stem + "_low", stem + "_high")] if stem else []):
        if low in header and high in header:
            return low, high
    return None


def check_grid(svg, parameters, rows, column, note=False):
    """The grid of a study of two parameters: every cell's value, count and
    interval as the summary has them, and each in its place (the second
    parameter along, the first up)."""
    texts, every = svg_texts(svg)
    header = list(rows[0])
    interval = interval_of(header, column)
    share = column.endswith("_share")
    tolerance = 0.0051 if share else 0.051
    stem = column[:-len("_share")] if share and column[:-len("_share")] in header else None
    places = []
    for row in rows:
        what = f"{os.path.basename(svg)} cell {row['cell']}"
        found = texts.get(f"value-{row['cell']}")
        if not check(found is not None, f"{what}: no value written"):
            continue
        text, x, y = found
        places.append((row, x, y))
        if row[column] == "":
            check(text == "no value", f"{what}: {text!r} written for an empty {column}")
            check(f"interval-{row['cell']}" not in texts, f"{what}: an interval for no value")
            continue
        number = re.match(r"-?[0-9]+(\.[0-9]+)?", text)
        check(number and abs(float(number.group(0)) - float(row[column])) <= tolerance,
              f"{what}: {text!r} written, {column} is {row[column]}")
        if stem:
            check(text.endswith(f"({row[stem]} of {row['replicates']})"),
                  f"{what}: {text!r} lacks {row[stem]} of {row['replicates']}")
        drawn = texts.get(f"interval-{row['cell']}")
        if interval is None:
            check(drawn is None, f"{what}: an interval drawn where {column} has none")
            continue
        ends = re.fullmatch(r"\[(-?[0-9.]+), (-?[0-9.]+)\]", drawn[0]) if drawn else None
        check(ends and abs(float(ends.group(1)) - float(row[interval[0]])) <= tolerance
              and abs(float(ends.group(2)) - float(row[interval[1]])) <= tolerance,
              f"{what}: interval {drawn and drawn[0]!r}, the summary has "
              f"{row[interval[0]]} to {row[interval[1]]}")
    check(("older study" in " ".join(every)) == note,
          f"{os.path.basename(svg)}: the title {'lacks' if note else 'has'} a note on an older study")
    # Numbers in their order, other values in the order the study lists them.
    up, along = parameters
    order = {}
    for parameter in parameters:
        values = list(dict.fromkeys(r[parameter] for r in rows))
        try:
            order[parameter] = {v: float(v) for v in values}
        except ValueError:
            order[parameter] = {v: i for i, v in enumerate(values)}
    for a, xa, ya in places:
        for b, xb, yb in places:
            if a[along] == b[along]:
                check(abs(xa - xb) < 0.01, f"cells {a['cell']} and {b['cell']} not in one column")
                if order[up][a[up]] < order[up][b[up]]:
                    check(ya > yb, f"cell {a['cell']} is not below cell {b['cell']}")
            elif order[along][a[along]] < order[along][b[along]]:
                check(xa < xb, f"cell {a['cell']} is not left of cell {b['cell']}")


def check_files(paths):
    """Each file is what its ending says: a PNG's signature, an SVG that
    parses as XML, a PDF's header and end."""
    for path in paths:
        if not check(os.path.exists(path), f"{path} was not written"):
            continue
        with open(path, "rb") as f:
            data = f.read()
        if path.endswith(".png"):
            check(data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG")
        elif path.endswith(".svg"):
            try:
                check(ET.fromstring(data).tag == SVG + "svg", f"{path} is not an SVG")
            except ET.ParseError as e:
                check(False, f"{path} does not parse: {e}")
        elif path.endswith(".pdf"):
            check(data[:5] == b"%PDF-" and data.rstrip().endswith(b"%%EOF"), f"{path} is not a PDF")
        else:
            check(False, f"{path}: a file of no format asked for")


def check_grids(work):
    """A summary with end states: its grid by default, in every format, and
    a column without an interval; refusals of a column it lacks."""
    directory = os.path.join(work, "ends")
    # The first parameter's values out of order: the grid sorts them.
    cells = [(["1", "0.2"], 3, 2, "410"), (["1", "0.5"], 8, 7, "88.5"), (["1", "0.8"], 10, 9, "40"),
             (["0", "0.2"], 0, 0, ""), (["0", "0.5"], 4, 1, "22"), (["0", "0.8"], 5, 6, "18")]
    parameters = ["gMatingPrefTarget", "selectionFactor"]
    end_state_summary(directory, parameters, cells)
    _, rows, _ = read_summary(directory)
    result = run("plot-study", directory, "--format", "png,svg,pdf")
    if not check(result.returncode == 0, f"plot-study --format: exit {result.returncode}: {result.stderr}"):
        return
    plots = os.path.join(directory, "plots")
    names = parameters + ["speciation_at_end_share"]
    expected = [os.path.join(plots, n + s) for n in names for s in (".png", ".svg", ".pdf")]
    check(sorted(written(result)) == sorted(expected), f"plot-study wrote {written(result)}")
    check("older study" not in result.stderr, f"a note on a summary with end states: {result.stderr!r}")
    check_files(expected)
    check_grid(os.path.join(plots, "speciation_at_end_share.svg"), parameters, rows,
               "speciation_at_end_share")
    result = run("plot-study", directory, "--column", "E_median")
    check(result.returncode == 0 and written(result) == [os.path.join(plots, "E_median" + s)
                                                         for s in (".png", ".svg")],
          f"plot-study --column E_median: exit {result.returncode}, wrote {written(result)}")
    check_grid(os.path.join(plots, "E_median.svg"), parameters, rows, "E_median")
    result = run("plot-study", directory, "--column", "speciation_at_end_low")
    check(result.returncode == 0, f"plot-study --column speciation_at_end_low: {result.stderr}")
    check_grid(os.path.join(plots, "speciation_at_end_low.svg"), parameters, rows, "speciation_at_end_low")
    for args in (["--column", "selectionFactor"], ["--column", "no_such"], ["--format", "gif"]):
        before = files_below(plots)
        result = run("plot-study", directory, *args)
        check(result.returncode == 2 and not written(result),
              f"plot-study {args}: exit {result.returncode}, wrote {written(result)}")
        check(files_below(plots) == before, f"plot-study {args} changed plots/")


def check_column_lines(work):
    """One varied parameter and --column: the column against the parameter,
    its bars from the interval's ends, under the map of the points."""
    directory = os.path.join(work, "one")
    cells = [(["0.8"], 9, 8, "40"), (["0.2"], 2, 1, ""), (["0.5"], 6, 4, "90")]
    end_state_summary(directory, ["selectionFactor"], cells, interval_suffix=("_share_low", "_share_high"))
    _, rows, _ = read_summary(directory)
    column = "speciation_at_end_share"
    result = run("plot-study", directory, "--column", column)
    svg = os.path.join(directory, "plots", f"{column}-selectionFactor.svg")
    check(result.returncode == 0 and written(result) == [svg[:-4] + ".png", svg],
          f"plot-study --column {column}: exit {result.returncode}, wrote {written(result)}")
    if not os.path.exists(svg):
        return
    _, groups = svg_groups(svg)
    rows = sorted(rows, key=lambda r: float(r["selectionFactor"]))
    points = markers(groups.get("column-selectionFactor-1", ET.Element("g")))
    if not check(len(points) == len(rows), f"{len(points)} points drawn for {len(rows)} cells"):
        return
    data = [(float(r["selectionFactor"]), float(r[column])) for r in rows]
    linear([d[0] for d in data], [p[0] for p in points], True, "column x")
    linear([d[1] for d in data], [p[1] for p in points], False, "column y")
    (v0, y0), (v1, y1) = min(zip([d[1] for d in data], [p[1] for p in points])), \
        max(zip([d[1] for d in data], [p[1] for p in points]))
    to_y = lambda v: y0 + (y1 - y0) * (v - v0) / (v1 - v0)
    bars = groups.get("column-interval-selectionFactor-1")
    paths = bars.findall(SVG + "path") if bars is not None else []
    if check(len(paths) == len(rows), f"{len(paths)} interval bars for {len(rows)} cells"):
        for row, path in zip(rows, paths):
            ends = sorted(y for _, y in vertices(path))
            wanted = sorted((to_y(float(row[column + "_low"])), to_y(float(row[column + "_high"]))))
            check(len(ends) == 2 and all(abs(a - b) < 0.05 for a, b in zip(ends, wanted)),
                  f"cell {row['cell']}: bar from {ends}, the interval maps to {wanted}")


# --- what happened during a replicate ------------------------------------------

def per_mille(count, total):
    return 0 if total == 0 else 1000 * count // total


def criteria_from_trace(trace_rows):
    """The first generation each criterion holds, from one replicate's
    trace rows ({habitat: rows}), by the definition: per mille truncated,
    compared strictly, in both habitats."""
    by_generation = {}
    for habitat in (0, 1):
        for r in trace_rows[habitat]:
            by_generation.setdefault(int(r["generation"]), {})[habitat] = {
                k: int(r[k]) for k in ["adults"] + TRACE_LINES[1:]}

    def share(r, column):
        return per_mille(r[column], r["adults"])

    def typed(r, threshold):
        return share(r, "mate0") > threshold or share(r, "mate1") > threshold

    met = {}
    for generation in sorted(by_generation):
        left, right = by_generation[generation][0], by_generation[generation][1]
        holds = {"A": share(left, "pref0") > 500 and share(right, "pref1") > 500,
                 "B": share(left, "spec0") > 500 and share(right, "spec1") > 500,
                 "C": share(left, "spec0") > 950 and share(right, "spec1") > 950,
                 "D": typed(left, 500) and typed(right, 500),
                 "E": typed(left, 950) and typed(right, 950)}
        for criterion, held in holds.items():
            if held and criterion not in met:
                met[criterion] = generation
    return met


def recorded_criteria(data_file):
    """Each replicate's A to E as the data file records them (0: never)."""
    with open(data_file, newline="") as f:
        lines = f.read().split("\r")
    start = lines.index("A\tB\tC\tD\tE\tF\tG\tH\tI")
    records = []
    for line in lines[start + 1:]:
        fields = line.split("\t")
        if len(fields) == 9 and all(x.isdigit() for x in fields):
            records.append({c: int(v) for c, v in zip("ABCDE", fields) if int(v) != 0})
    return records


def check_marks(svg, trace, replicate, changes, criteria=True):
    """The strip's lines: each criterion met at its generation, each change
    at its own, at the x the adults' line gives that generation, labelled."""
    _, groups = svg_groups(svg)
    texts, _ = svg_texts(svg)
    data = read_trace(trace, replicate)
    points = line_vertices(groups.get("adults-h0", ET.Element("g")))
    generations = [int(r["generation"]) for r in data[0]]
    if not check(len(points) == len(generations) >= 2, f"{svg}: the adults' line is not drawn"):
        return
    to_x = lambda g: points[0][0] + (points[-1][0] - points[0][0]) * (g - generations[0]) / (
        generations[-1] - generations[0])
    met = criteria_from_trace(data) if criteria else {}
    wanted = {f"criterion-{c}": (g, f"{c}: {g}") for c, g in met.items()}
    wanted.update({f"change-{g}": (g, label) for g, label in changes.items()})
    drawn = {i for i in groups if re.fullmatch(r"(criterion-[A-E]|change-[0-9]+)", i)}
    check(drawn == set(wanted), f"{os.path.basename(svg)}: lines {sorted(drawn)}, "
                                f"expected {sorted(wanted)}")
    for gid, (generation, label) in wanted.items():
        if gid not in groups:
            continue
        xs = {round(x, 3) for x, _ in line_vertices(groups[gid])}
        check(len(xs) == 1 and abs(xs.pop() - to_x(generation)) < 0.05,
              f"{gid}: not at generation {generation}")
        # The changes of one generation in any order: a run record lists
        # them in the order of the parameters, a settings file in its own.
        drawn_label = texts.get(gid + "-label", ("none",))[0]
        words = lambda text: (text.split(": ", 1)[0], sorted(text.split(": ", 1)[-1].split(", ")))
        check(words(drawn_label) == words(label), f"{gid}: labelled {drawn_label!r}, expected {label!r}")


def check_changes(work):
    """A real run with a settings file's changes; the changes drawn from it,
    from a run record, and from --change; every format written."""
    os.makedirs(work, exist_ok=True)
    settings = os.path.join(work, "contact.toml")
    with open(settings, "w") as f:
        f.write("seed = 9\nreplicates = 2\ngenerations = 300\n"
                "[[change]]\ngeneration = 151\nset = { natalDispersalRate = 50 }\n"
                "[[change]]\ngeneration = 240\n"
                "set = { matingDispersalRate = 2, selectionFactor = 0.3 }\n")
    data, trace = os.path.join(work, "contact.txt"), os.path.join(work, "contact.trace")
    subprocess.run([BATCH, "-q", "--settings", settings, "--out", data, "--trace", trace], check=True)
    scheduled = {151: "gen 151: natalDispersalRate=50",
                 240: "gen 240: matingDispersalRate=2, selectionFactor=0.3"}
    base = os.path.join(work, "drawn", "contact")
    result = run("plot-trace", trace, "--replicate", "2", "--settings", settings,
                 "--out", base + ".pdf", "--format", "png,svg,pdf")
    paths = [base + s for s in (".png", ".svg", ".pdf")]
    check(result.returncode == 0 and written(result) == paths,
          f"plot-trace --settings --format: exit {result.returncode}, wrote {written(result)}: "
          f"{result.stderr}")
    check_files(paths)
    check_marks(base + ".svg", trace, 2, scheduled)

    result = run("plot-trace", trace, "--settings", settings, "--out", base,
                 "--change", "151:natalDispersalRate=60", "--change", "240:numberOfKids=3",
                 "--change", "900:numberOfKids=3")
    check(result.returncode == 0 and "900" in result.stderr,
          f"plot-trace --change past the trace: exit {result.returncode}, {result.stderr!r}")
    check_marks(base + ".svg", trace, 1, {151: "gen 151: natalDispersalRate=60",
                                          240: scheduled[240] + ", numberOfKids=3"})

    record = os.path.join(work, "record.json")
    with open(record, "w") as f:
        json.dump({"changes": [{"generation": 151, "name": "natalDispersalRate", "value": 50},
                               {"generation": 240, "set": {"selectionFactor": 0.3,
                                                           "restrictedMatingDispersal": True}}]}, f)
    result = run("plot-trace", trace, "--record", record, "--out", base, "--no-criteria")
    check(result.returncode == 0, f"plot-trace --record: exit {result.returncode}: {result.stderr}")
    check_marks(base + ".svg", trace, 1,
                {151: scheduled[151], 240: "gen 240: selectionFactor=0.3, restrictedMatingDispersal=true"},
                criteria=False)
    # The run record the batch command writes beside its data file, where it does.
    if os.path.exists(data + ".json"):
        result = run("plot-trace", trace, "--record", data + ".json", "--out", base)
        check(result.returncode == 0, f"plot-trace --record {data}.json: {result.stderr}")
        check_marks(base + ".svg", trace, 1, scheduled)

    for name, text in (("no-generation.toml", "[[change]]\nset = { density = 3 }\n"),
                       ("nothing-set.json", '{"changes": [{"generation": 5}]}'),
                       ("broken.json", '{"changes": [')):
        bad = os.path.join(work, name)
        with open(bad, "w") as f:
            f.write(text)
        option = "--record" if name.endswith(".json") else "--settings"
        result = run("plot-trace", trace, option, bad, "--out", os.path.join(work, "refused"))
        check(result.returncode == 1 and name in result.stderr and not written(result),
              f"plot-trace {option} {name}: exit {result.returncode}, {result.stderr!r}")
    for args in (["--change", "0:density=3"], ["--change", "density=3"], ["--format", "jpg"]):
        result = run("plot-trace", trace, *args, "--out", os.path.join(work, "refused"))
        check(result.returncode == 2, f"plot-trace {args}: exit {result.returncode}")
    check(not any(n.startswith("refused") for n in os.listdir(work)), "a refused run wrote a picture")


def check_refusals(work):
    for script in ("plot-study", "plot-trace"):
        result = run(script, "--help")
        check(result.returncode == 0 and "usage:" in result.stdout,
              f"{script} --help: exit {result.returncode}")
    empty = os.path.join(work, "empty")
    os.makedirs(empty, exist_ok=True)
    result = run("plot-study", empty)
    check(result.returncode == 1 and "summary.tsv" in result.stderr,
          f"plot-study without a summary: exit {result.returncode}, {result.stderr!r}")
    cases = {
        "renamed": "cell\tselectionFactor\treplicates\tspans\tmean\tsd\n01\t0.5\t2\t3\t1\t1\n",
        "short row": "cell\tx\treplicates\tspans\tmean\tsd\tlast\n01\t1\t2\t3\t4\n",
        "not a number": "cell\tx\treplicates\tspans\tmean\tsd\tlast\n01\t1\t2\t3\tmany\t1\t1\n",
    }
    for name, text in cases.items():
        directory = os.path.join(work, name.replace(" ", "-"))
        os.makedirs(directory, exist_ok=True)
        with open(os.path.join(directory, "summary.tsv"), "w") as f:
            f.write(text)
        result = run("plot-study", directory)
        check(result.returncode == 1 and result.stderr.strip() and not result.stdout,
              f"plot-study on a summary with a {name}: exit {result.returncode}")
        check(not os.path.exists(os.path.join(directory, "plots")),
              f"plot-study on a summary with a {name} left plots/")
    bad = os.path.join(work, "bad.trace")
    with open(bad, "w") as f:
        f.write("replicate\tgeneration\thabitat\tadults\n1\t1\t0\t5\n")
    result = run("plot-trace", bad)
    check(result.returncode == 1 and "bad.trace" in result.stderr,
          f"plot-trace on a file that is no trace: exit {result.returncode}")


def check_examples():
    """The examples in the scripts' shared module give what they show."""
    sys.dont_write_bytecode = True
    spec = importlib.util.spec_from_file_location("plotting", os.path.join(SCRIPTS, "plotting.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    result = doctest.testmod(module)
    check(result.attempted > 0 and result.failed == 0,
          f"plotting.py: {result.failed} of {result.attempted} examples failed")


def check_criteria_as_recorded(trace):
    """The criteria worked out here from a trace are those the data file of
    the same run records, replicate by replicate."""
    recorded = recorded_criteria(os.path.splitext(trace)[0] + ".txt")
    replicates = sorted({int(r["replicate"]) for r in csv.DictReader(open(trace), delimiter="\t")})
    check(len(recorded) == len(replicates), f"{len(recorded)} records for {len(replicates)} replicates")
    for replicate, record in zip(replicates, recorded):
        from_trace = criteria_from_trace(read_trace(trace, replicate))
        check(from_trace == record, f"replicate {replicate}: criteria {from_trace} from the trace, "
                                    f"{record} recorded")
    check(any(recorded), "no replicate met any criterion")


def main():
    global BATCH, SCRIPTS
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    BATCH, SCRIPTS, work = sys.argv[1:]
    shutil.rmtree(work, ignore_errors=True)
    package = os.path.join(SCRIPTS, "..", "python", "talveron")
    package_before, scripts_before = files_below(package), files_below(SCRIPTS)
    try:
        study = os.path.join(work, "study")
        make_study(study)
        check_study(study)
        traces = sorted(f for f in os.listdir(study) if f.endswith(".trace"))
        if check(traces, "the study left no trace"):
            trace = os.path.join(study, traces[0])
            replicates = sorted({int(r["replicate"]) for r in csv.DictReader(open(trace), delimiter="\t")})
            check(len(replicates) >= 2, "the trace holds fewer than two replicates")
            check_criteria_as_recorded(trace)
            check_trace(trace, replicates[-1])
            check_trace(trace, 1, out=os.path.join(work, "pictures", "first.png"))
            result = run("plot-trace", trace, "--replicate", str(replicates[-1] + 1))
            check(result.returncode == 1 and "replicate" in result.stderr,
                  f"plot-trace for a replicate not held: exit {result.returncode}")
        averaging = os.path.join(work, "averaging")
        write_averaging_study(averaging)
        check_study(averaging)
        check_grids(work)
        check_column_lines(work)
        check_changes(os.path.join(work, "changes"))
        check_refusals(work)
        check_stats_trace(os.path.join(work, "stats"))
        check_examples()
        left = sorted(name for name, _, _ in files_below(package) - package_before)
        left += sorted(name for name, _, _ in files_below(SCRIPTS) - scripts_before)
        check(not left, f"the scripts wrote into the checkout: {left}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
