"""Runs scripts/plot-study and scripts/plot-trace on a small study and checks
what they drew: the files they name, and in the SVGs the number of points of
every line and that each line's points are the data under one linear map of
the axes.

Usage: plot_scripts_test.py TALVERON_BATCH SCRIPTS_DIR WORK_DIR
"""

import csv
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
    expected = [os.path.join(plots, p + s) for p in parameters for s in (".png", ".svg")]
    check(sorted(written(result)) == sorted(expected),
          f"plot-study wrote {written(result)}, expected {expected}")
    check(sorted(os.listdir(plots)) == sorted(os.path.basename(e) for e in expected),
          f"plots/ holds {sorted(os.listdir(plots))}")
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


def main():
    global BATCH, SCRIPTS
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    BATCH, SCRIPTS, work = sys.argv[1:]
    shutil.rmtree(work, ignore_errors=True)
    package = os.path.join(SCRIPTS, "..", "python", "talveron")
    package_before = files_below(package)
    study = os.path.join(work, "study")
    make_study(study)
    check_study(study)
    traces = sorted(f for f in os.listdir(study) if f.endswith(".trace"))
    if check(traces, "the study left no trace"):
        trace = os.path.join(study, traces[0])
        replicates = sorted({int(r["replicate"]) for r in csv.DictReader(open(trace), delimiter="\t")})
        check(len(replicates) >= 2, "the trace holds fewer than two replicates")
        check_trace(trace, replicates[-1])
        check_trace(trace, 1, out=os.path.join(work, "pictures", "first.png"))
        result = run("plot-trace", trace, "--replicate", str(replicates[-1] + 1))
        check(result.returncode == 1 and "replicate" in result.stderr,
              f"plot-trace for a replicate not held: exit {result.returncode}")
    averaging = os.path.join(work, "averaging")
    write_averaging_study(averaging)
    check_study(averaging)
    check_refusals(work)
    check_stats_trace(os.path.join(work, "stats"))
    left = sorted(name for name, _, _ in files_below(package) - package_before)
    check(not left, f"the scripts wrote beside plots.py, into the checkout: {left}")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
