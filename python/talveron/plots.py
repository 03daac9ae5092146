"""Pictures of Talveron's results with matplotlib.

The helpers read and draw what the batch command and the package write: a
study's summary.tsv, a replicate of a trace, and the map of a simulation.
They need matplotlib, and no more: scripts/plot-study and scripts/plot-trace
use them without the compiled part of the package.

Example:

>>> import talveron, talveron.plots as plots
>>> s = talveron.run_series(seed=1, replicates=1, generations=50, trace=True, progress=False)
>>> fig = plots.trace_figure(s.trace, replicate=1)
>>> plots.save_figure(fig, "replicate-1")      # replicate-1.png and .svg
['replicate-1.png', 'replicate-1.svg']
"""

import math
import os
import re

TRACE_COLUMNS = ["replicate", "generation", "habitat", "adults",
                 "spec0", "spec1", "spec2", "pref0", "pref1", "pref2", "mate0", "mate1", "mate2"]
TRACE_PANELS = [("adults", "Adults", ["adults"]),
                ("spec", "Habitat specialization", ["spec0", "spec1", "spec2"]),
                ("pref", "Habitat preference", ["pref0", "pref1", "pref2"]),
                ("mate", "Mating-preference type", ["mate0", "mate1", "mate2"])]
# The columns a trace written with --stats adds (NA where undefined), and
# the panels that draw them: F_ST and gene diversity per locus, Cramer's V.
STATS_COLUMNS = ["fst_spec", "fst_pref", "fst_mate", "fst_signal", "fst_viability", "fst_neutral",
                 "h_spec", "h_pref", "h_mate", "h_signal", "h_viability", "h_neutral",
                 "v_mate_spec", "v_mate_signal"]
STATS_LOCI = ["spec", "pref", "mate", "signal", "viability", "neutral"]
STATS_LOCUS_COLOURS = ["#2ca02c", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f", "#17becf"]
STATS_PANELS = [("fst", "Hudson's F_ST between the habitats", [f"fst_{l}" for l in STATS_LOCI]),
                ("h", "Gene diversity", [f"h_{l}" for l in STATS_LOCI]),
                ("v", "Cramer's V of mating-preference type with", ["v_mate_spec", "v_mate_signal"])]
# Allele 0 red, 1 blue, 2 yellow, as the desktop program shows them.
ALLELE_COLOURS = ["#d62728", "#1f4fb4", "#d4a000"]
SUMMARY_TIMED = ["A_met", "B_met", "C_met", "D_met", "E_met",
                 "A_median", "B_median", "C_median", "D_median", "E_median",
                 "speciation", "fad", "speciation_share", "speciation_low", "speciation_high"]
SUMMARY_AVERAGING = ["spans", "mean", "sd", "last"]


class InputError(Exception):
    """A file to draw is missing or is not what it should be; the message
    names the file and the fault.

    >>> try:
    ...     read_summary("no-such-folder/summary.tsv")
    ... except InputError as e:
    ...     print(e)
    cannot read no-such-folder/summary.tsv: No such file or directory
    """


def _pyplot():
    import matplotlib.pyplot as plt
    # Every point is drawn, and the SVGs are the same from run to run.
    plt.rcParams["path.simplify"] = False
    plt.rcParams["agg.path.chunksize"] = 10000
    plt.rcParams["svg.hashsalt"] = "talveron"
    return plt


FORMATS = ("png", "svg", "pdf")


def save_figure(fig, base, close=True, formats=("png", "svg"), svg_text=False):
    """Write `fig` as BASE.png and BASE.svg (or the `formats` asked for, of
    png, svg and pdf; the SVG and PDF without a date, so the same picture
    gives the same file) and return the paths. With `svg_text`, the SVG
    keeps its words as text rather than as outlines, so they can be read
    and searched. The folder is created when missing; OSError when a file
    cannot be written.

    >>> s = talveron.run_series(seed=1, replicates=1, generations=50, trace=True, progress=False)
    >>> fig = trace_figure(s.trace)
    >>> save_figure(fig, "pictures/series")
    ['pictures/series.png', 'pictures/series.svg']
    >>> save_figure(trace_figure(s.trace), "pictures/series", formats=["pdf"])
    ['pictures/series.pdf']
    """
    unknown = [f for f in formats if f not in FORMATS]
    if unknown or not formats:
        raise ValueError(f"formats={list(formats)!r}: allowed are {', '.join(FORMATS)}")
    folder = os.path.dirname(base)
    if folder:
        os.makedirs(folder, exist_ok=True)
    plt = _pyplot()
    written = []
    for suffix in ("." + f for f in formats):
        metadata = {".svg": {"Date": None}, ".pdf": {"CreationDate": None}}.get(suffix)
        with plt.rc_context({"svg.fonttype": "none"} if svg_text else {}):
            fig.savefig(base + suffix, dpi=100, metadata=metadata)
        written.append(base + suffix)
    if close:
        plt.close(fig)
    return written


# --- a study's summary ----------------------------------------------------------

def read_summary(path):
    """Read a study's summary.tsv: (mode, parameters, rows), mode "timed" or
    "averaging", parameters the varied ones, rows dicts of strings.

    >>> st = talveron.run_study({"seed": 1, "replicates": 2, "generations": 50,
    ...                          "vary": {"selectionFactor": [0.2, 0.8],
    ...                                   "gMatingPrefTarget": [0, 1]}},
    ...                         "results", progress=False)
    >>> mode, parameters, rows = read_summary("results/summary.tsv")
    >>> mode, parameters
    ('timed', ['selectionFactor', 'gMatingPrefTarget'])
    """
    try:
        with open(path, newline="", encoding="utf-8") as f:
            lines = f.read().split("\n")
    except OSError as e:
        raise InputError(f"cannot read {path}: {e.strerror}") from None
    if lines and lines[-1] == "":
        lines.pop()
    if not lines:
        raise InputError(f"{path} is empty; expected a header row")
    header = lines[0].split("\t")
    if len(set(header)) != len(header):
        raise InputError(f"{path}: a column name appears twice in the header")
    if header[0] != "cell" or "replicates" not in header:
        raise InputError(f"{path}: the header must start with 'cell' and hold 'replicates'; "
                         f"it is: {' '.join(header)}")
    parameters = header[1:header.index("replicates")]
    rest = header[header.index("replicates") + 1:]
    # Columns after the record's own (the end states) are read by name.
    if rest[:len(SUMMARY_TIMED)] == SUMMARY_TIMED:
        mode = "timed"
    elif rest[:len(SUMMARY_AVERAGING)] == SUMMARY_AVERAGING:
        mode = "averaging"
    else:
        raise InputError(f"{path}: after 'replicates' the columns must start with either "
                         f"{' '.join(SUMMARY_TIMED)} (timed criteria) or "
                         f"{' '.join(SUMMARY_AVERAGING)} (running averages); they are: "
                         f"{' '.join(rest) or '(none)'}")
    rows = []
    for line_number, line in enumerate(lines[1:], start=2):
        fields = line.split("\t")
        if len(fields) != len(header):
            raise InputError(f"{path} line {line_number}: {len(fields)} fields, the header has "
                             f"{len(header)}")
        rows.append(dict(zip(header, fields)))
    if not rows:
        raise InputError(f"{path} holds no cell")
    for row in rows:
        summary_number(row, "replicates", path)
        if mode == "timed":
            for column in ("speciation_share", "speciation_low", "speciation_high"):
                summary_number(row, column, path)
            for criterion in "CE":
                summary_number(row, f"{criterion}_median", path, optional=True)
        else:
            summary_number(row, "mean", path)
            summary_number(row, "sd", path, optional=True)
    return mode, parameters, rows


def summary_number(row, column, path, optional=False):
    """The number in a summary row's column; NaN for an empty optional one.

    >>> summary_number({"cell": "1", "mean": "12.5"}, "mean", "summary.tsv")
    12.5
    """
    text = row[column].strip()
    if text == "" and optional:
        return math.nan
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not math.isfinite(value):
        raise InputError(f"{path}, cell {row['cell']}: column {column} holds {text!r}, "
                         "not a number")
    return value


def _axis_values(rows, parameter):
    """The x position of every row and the tick labels for a parameter that
    is not numeric (None when it is)."""
    texts = [row[parameter] for row in rows]
    try:
        return [float(t) for t in texts], None
    except ValueError:
        order = list(dict.fromkeys(texts))
        return [float(order.index(t)) for t in texts], order


def _groups(rows, others):
    """Rows grouped by the values of the other parameters, in the order the
    combinations first appear."""
    result = {}
    for row in rows:
        result.setdefault(tuple(row[p] for p in others), []).append(row)
    return list(result.items())


def safe_name(parameter):
    """A parameter's name as a file name.

    >>> safe_name("cell")
    'cell'
    """
    return re.sub(r"[^A-Za-z0-9_.-]", "_", parameter)


def study_figures(mode, parameters, rows, path="summary.tsv"):
    """One figure per varied parameter (per cell number when none varies),
    as (parameter, figure) pairs, from what read_summary returns.

    Timed criteria: left the share of replicates classified as speciation
    with its 95% Wilson interval, right the median generation of criteria C
    (solid) and E (dashed). Running averages: the mean over the spans, +/-
    the standard deviation. With several varied parameters, each
    combination of the others is a line of its own.

    >>> st = talveron.run_study({"seed": 1, "replicates": 2, "generations": 50,
    ...                          "vary": {"selectionFactor": [0.2, 0.8]}},
    ...                         "results", progress=False)
    >>> for parameter, fig in study_figures(*read_summary("results/summary.tsv")):
    ...     save_figure(fig, f"results/plots/{parameter}")
    ['results/plots/selectionFactor.png', 'results/plots/selectionFactor.svg']
    """
    plt = _pyplot()
    for parameter in parameters or ["cell"]:
        others = [p for p in parameters if p != parameter]
        combos = _groups(rows, others)
        xs_all, ticks = _axis_values(rows, parameter)
        x_of = {id(row): x for row, x in zip(rows, xs_all)}
        colours = plt.get_cmap("tab10" if len(combos) <= 10 else "viridis")
        if mode == "timed":
            fig, (share_ax, median_ax) = plt.subplots(1, 2, figsize=(11, 4.5), layout="constrained")
            axes = (share_ax, median_ax)
        else:
            fig, mean_ax = plt.subplots(figsize=(6.5, 4.5), layout="constrained")
            axes = (mean_ax,)
        for k, (key, members) in enumerate(combos, start=1):
            members = sorted(members, key=lambda r: x_of[id(r)])
            xs = [x_of[id(r)] for r in members]
            colour = colours(k - 1) if len(combos) <= 10 else colours((k - 1) / (len(combos) - 1))
            name = ", ".join(f"{p}={v}" for p, v in zip(others, key)) if others else None
            if mode == "timed":
                share = [summary_number(r, "speciation_share", path) for r in members]
                low = [summary_number(r, "speciation_low", path) for r in members]
                high = [summary_number(r, "speciation_high", path) for r in members]
                bars = share_ax.errorbar(xs, share,
                                         yerr=[[max(0.0, s - lo) for s, lo in zip(share, low)],
                                               [max(0.0, hi - s) for s, hi in zip(share, high)]],
                                         marker="o", capsize=3, color=colour, label=name)
                bars.lines[0].set_gid(f"share-{parameter}-{k}")
                bars.lines[2][0].set_gid(f"share-interval-{parameter}-{k}")
                for criterion, style, marker in (("C", "-", "o"), ("E", "--", "s")):
                    medians = [summary_number(r, f"{criterion}_median", path, optional=True)
                               for r in members]
                    median_ax.plot(xs, medians, linestyle=style, marker=marker, color=colour,
                                   gid=f"median-{criterion}-{parameter}-{k}",
                                   label=f"{criterion}" + (f", {name}" if name else ""))
            else:
                mean = [summary_number(r, "mean", path) for r in members]
                sd = [summary_number(r, "sd", path, optional=True) for r in members]
                mean_ax.plot(xs, mean, marker="o", color=colour, label=name,
                             gid=f"mean-{parameter}-{k}")
                known = [(x, m, d) for x, m, d in zip(xs, mean, sd) if math.isfinite(d)]
                if known:
                    bars = mean_ax.errorbar([x for x, _, _ in known], [m for _, m, _ in known],
                                            yerr=[d for _, _, d in known], fmt="none",
                                            capsize=3, color=colour)
                    bars.lines[2][0].set_gid(f"mean-sd-{parameter}-{k}")
        for ax in axes:
            ax.set_xlabel(parameter)
            ax.grid(True, alpha=0.3)
            if ticks is not None:
                ax.set_xticks(range(len(ticks)), ticks)
        if mode == "timed":
            share_ax.set_ylim(-0.03, 1.03)
            share_ax.set_ylabel("share of replicates")
            share_ax.set_title("Speciation (95% Wilson interval)")
            median_ax.set_ylabel("generation (median)")
            median_ax.set_title("Criteria met: C solid, E dashed")
            if others:
                share_ax.legend(fontsize="small")
        else:
            mean_ax.set_ylabel("mean over spans (± sd)")
            mean_ax.set_title("Averaged variable, left habitat")
            if others:
                mean_ax.legend(fontsize="small")
        yield parameter, fig


# --- a trace ---------------------------------------------------------------------

def read_trace_replicate(path, wanted):
    """One replicate of a trace file, per habitat: {habitat: {column: [values]}}.

    >>> talveron.run_series(seed=1, replicates=2, generations=50, trace=True,
    ...                     progress=False).save("series.txt", trace="series.trace")
    ['series.txt', 'series.trace']
    >>> series = read_trace_replicate("series.trace", 2)
    >>> series[0]["adults"][:3]         # adults of habitat 0 in its first generations
    [75, 91, 86]
    """
    columns = list(TRACE_COLUMNS)
    replicates = []
    try:
        with open(path, newline="", encoding="utf-8") as f:
            first = f.readline().rstrip("\n").split("\t")
            if first == TRACE_COLUMNS + STATS_COLUMNS:
                columns += STATS_COLUMNS
            elif first != TRACE_COLUMNS:
                raise InputError(f"{path}: not a trace; the first line must be the columns "
                                 f"{' '.join(TRACE_COLUMNS)} (and with --stats {' '.join(STATS_COLUMNS)})")
            series = {0: {c: [] for c in columns}, 1: {c: [] for c in columns}}
            counts = len(TRACE_COLUMNS)
            for number, line in enumerate(f, start=2):
                fields = line.rstrip("\n").split("\t")
                if len(fields) != len(columns):
                    raise InputError(f"{path} line {number}: {len(fields)} fields, expected "
                                     f"{len(columns)}")
                try:
                    values = [int(v) for v in fields[:counts]]
                    values += [math.nan if v == "NA" else float(v) for v in fields[counts:]]
                except ValueError:
                    raise InputError(f"{path} line {number}: a field is not a number") from None
                replicate, habitat = values[0], values[2]
                if habitat not in (0, 1):
                    raise InputError(f"{path} line {number}: habitat {habitat}, expected 0 or 1")
                if not replicates or replicates[-1] != replicate:
                    replicates.append(replicate)
                if replicate == wanted:
                    for column, value in zip(columns, values):
                        series[habitat][column].append(value)
    except OSError as e:
        raise InputError(f"cannot read {path}: {e.strerror}") from None
    if not series[0]["generation"] and not series[1]["generation"]:
        held = ", ".join(str(r) for r in dict.fromkeys(replicates)) or "none"
        raise InputError(f"{path} holds no replicate {wanted} (replicates held: {held})")
    return series


def trace_figure(trace, title=None, replicate=None, criteria=False, changes=None):
    """Four panels over the generations: the adults and the alleles 0 (red),
    1 (blue) and 2 (yellow) at habitat specialization, habitat preference and
    mating-preference type; habitat 0 solid, habitat 1 dashed.

    `trace` is what read_trace_replicate returns, or a trace DataFrame (a
    Series' trace) of which `replicate` is drawn.

    With `criteria`, the first generation each criterion A to E was met
    (criteria_met) is a dotted line labelled "E: 44"; `changes`, a list
    of (generation, [(name, value text), ...]), are dashed lines labelled
    "gen 151: natalDispersalRate=50" (those outside the trace's generations
    are left out). The labels stand in a strip above the panels. Ids in the SVG:
    criterion-A ... criterion-E and change-G (the strip's line), with
    -label for the label.

    >>> s = talveron.run_series(seed=1, replicates=3, generations=50, trace=True, progress=False)
    >>> fig = trace_figure(s.trace, replicate=3)
    >>> fig = trace_figure(s.trace, replicate=3, criteria=True,
    ...                    changes=[(20, [("natalDispersalRate", "10")])])
    """
    if hasattr(trace, "columns"):
        replicate = 1 if replicate is None else replicate
        rows = trace[trace["replicate"] == replicate]
        if rows.empty:
            raise ValueError(f"replicate={replicate}: the trace holds replicates "
                             f"{', '.join(str(r) for r in trace['replicate'].unique()) or 'none'}")
        trace = {h: {c: rows[rows["habitat"] == h][c].to_numpy()
                     for c in TRACE_COLUMNS + [c for c in STATS_COLUMNS if c in rows.columns]}
                 for h in (0, 1)}
        if title is None:
            title = f"replicate {replicate}"
    plt = _pyplot()
    from matplotlib.lines import Line2D
    stats = STATS_COLUMNS[0] in trace[0]
    panels = len(TRACE_PANELS) + (len(STATS_PANELS) if stats else 0)
    generations = [int(g) for h in (0, 1) for g in trace[h]["generation"]]
    first, last = min(generations), max(generations)
    changes = [(g, pairs) for g, pairs in changes or () if first <= g <= last]
    marks = _marks(trace, criteria, changes)
    strip = None
    if criteria or changes:
        rows, _ = _mark_rows(marks, first, last, 9)
        strip_height = 0.45 + 0.2 * (max(rows, default=0) + 1)
        height = 10 + (7 if stats else 0)
        fig, axes = plt.subplots(panels + 1, 1, figsize=(9, height + strip_height), sharex=True,
                                 layout="constrained",
                                 gridspec_kw={"height_ratios": [strip_height] + [height / panels] * panels})
        strip, axes = axes[0], axes[1:]
    else:
        fig, axes = plt.subplots(panels, 1, figsize=(9, 10 + (7 if stats else 0)), sharex=True,
                                 layout="constrained")
    if stats:
        _stats_panels(axes[len(TRACE_PANELS):], trace)
    for ax, (_, heading, columns) in zip(axes, TRACE_PANELS):
        for habitat, style in ((0, "-"), (1, "--")):
            data = trace[habitat]
            for allele, column in enumerate(columns):
                colour = "black" if column == "adults" else ALLELE_COLOURS[allele]
                ax.plot(data["generation"], data[column], linestyle=style, color=colour,
                        linewidth=1.2, gid=f"{column}-h{habitat}")
        ax.set_title(heading, loc="left", fontsize="medium")
        ax.set_ylabel("adults" if heading == "Adults" else "adults carrying")
        ax.set_ylim(bottom=0)
        ax.grid(True, alpha=0.3)
    axes[-1].set_xlabel("generation")
    handles = [Line2D([], [], color="black", linestyle="-", label="habitat 0 (left)"),
               Line2D([], [], color="black", linestyle="--", label="habitat 1 (right)")]
    handles += [Line2D([], [], color=c, label=f"allele {a}") for a, c in enumerate(ALLELE_COLOURS)]
    if strip is None:
        axes[0].legend(handles=handles, loc="lower center", bbox_to_anchor=(0.5, 1.12), ncol=5,
                       fontsize="small", frameon=False)
    else:
        from matplotlib.transforms import offset_copy
        strip.legend(handles=handles, loc="lower center", bbox_to_anchor=(0.5, 1.0), ncol=5,
                     fontsize="small", frameon=False,
                     bbox_transform=offset_copy(strip.transAxes, fig=fig, y=18, units="points"))
        unmet = [c for c, g in criteria_met(trace).items() if g is None] if criteria else []
        _draw_marks(fig, strip, axes, marks, first, last, 9, unmet)
    if title:
        fig.suptitle(title)
    return fig


def _stats_panels(axes, trace):
    """The statistics of a trace written with --stats: F_ST (the same on both
    habitats' lines, drawn once), each habitat's gene diversity (habitat 0
    solid, 1 dashed), and Cramer's V of mating-preference type with
    specialization and with signal type. Line ids: fst_spec, h_spec-h0, ..."""
    fst_ax, h_ax, v_ax = axes
    for locus, colour in zip(STATS_LOCI, STATS_LOCUS_COLOURS):
        fst_ax.plot(trace[0]["generation"], trace[0][f"fst_{locus}"], color=colour, linewidth=1.2,
                    label=locus, gid=f"fst_{locus}")
        for habitat, style in ((0, "-"), (1, "--")):
            h_ax.plot(trace[habitat]["generation"], trace[habitat][f"h_{locus}"], color=colour,
                      linestyle=style, linewidth=1.2, gid=f"h_{locus}-h{habitat}")
    for column, label, colour in (("v_mate_spec", "specialization", "#2ca02c"),
                                  ("v_mate_signal", "signal type", "#e377c2")):
        v_ax.plot(trace[0]["generation"], trace[0][column], color=colour, linewidth=1.2, label=label,
                  gid=column)
    for ax, (_, heading, _) in zip(axes, STATS_PANELS):
        ax.set_title(heading, loc="left", fontsize="medium")
        ax.set_ylim(-0.02, 1.02)
        ax.grid(True, alpha=0.3)
    fst_ax.legend(fontsize="small", ncol=6, loc="upper left")
    v_ax.legend(fontsize="small", loc="upper left")


# --- what happened during a replicate: criteria met and scheduled changes ------

CRITERIA = "ABCDE"
_CRITERION_COLOUR = "#4d4d4d"
_CHANGE_COLOUR = "#b5179e"


def per_mille(count, total):
    """A count as per mille of a total, truncated as the record takes it;
    0 for an empty habitat.

    >>> per_mille(951, 1000), per_mille(19, 20), per_mille(5, 0)
    (951, 950, 0)
    """
    return 0 if total == 0 else (1000 * int(count)) // int(total)


def _predominant_type(row, threshold):
    """The mating-preference type, 0 or 1, held by more than `threshold`
    per mille of a habitat's adults, else -1 (type 2 never counts)."""
    for t in (0, 1):
        if per_mille(row[f"mate{t}"], row["adults"]) > threshold:
            return t
    return -1


def criteria_met(trace):
    """The first generation at which each criterion A to E holds in a
    replicate's trace (what read_trace_replicate returns), None where it
    never does, judged from the per-habitat counts as the record judges
    them: per-mille frequencies compared strictly, in both habitats.

      A  habitat preference 0 in habitat 0 and 1 in habitat 1, > 500
      B  specialization 0 in habitat 0 and 1 in habitat 1, > 500
      C  as B, > 950
      D  a mating-preference type, 0 or 1, held by > 500 (each habitat its own)
      E  as D, > 950

    >>> talveron.run_series(seed=1, replicates=1, generations=300, trace=True,
    ...                     progress=False).save("series.txt", trace="series.trace")
    ['series.txt', 'series.trace']
    >>> criteria_met(read_trace_replicate("series.trace", 1))   # as series.txt records them
    {'A': 93, 'B': 98, 'C': None, 'D': 13, 'E': 90}
    """
    rows = {}
    for habitat in (0, 1):
        data = trace[habitat]
        for i, generation in enumerate(data["generation"]):
            rows.setdefault(int(generation), {})[habitat] = {
                c: int(data[c][i]) for c in TRACE_COLUMNS[3:]}
    tests = {
        "A": lambda h0, h1: (per_mille(h0["pref0"], h0["adults"]) > 500
                             and per_mille(h1["pref1"], h1["adults"]) > 500),
        "B": lambda h0, h1: (per_mille(h0["spec0"], h0["adults"]) > 500
                             and per_mille(h1["spec1"], h1["adults"]) > 500),
        "C": lambda h0, h1: (per_mille(h0["spec0"], h0["adults"]) > 950
                             and per_mille(h1["spec1"], h1["adults"]) > 950),
        "D": lambda h0, h1: _predominant_type(h0, 500) >= 0 and _predominant_type(h1, 500) >= 0,
        "E": lambda h0, h1: _predominant_type(h0, 950) >= 0 and _predominant_type(h1, 950) >= 0,
    }
    met = dict.fromkeys(CRITERIA)
    for generation in sorted(rows):
        both = rows[generation]
        if 0 not in both or 1 not in both:
            continue
        for criterion, holds in tests.items():
            if met[criterion] is None and holds(both[0], both[1]):
                met[criterion] = generation
    return met


def _marks(trace, criteria, changes):
    """What the strip above a trace's panels shows, in the order of the
    generations: (generation, kind, id, label)."""
    marks = []
    if criteria:
        for criterion, generation in criteria_met(trace).items():
            if generation is not None:
                marks.append((generation, "criterion", f"criterion-{criterion}",
                              f"{criterion}: {generation}"))
    for generation, pairs in changes or ():
        marks.append((generation, "change", f"change-{generation}",
                      f"gen {generation}: " + ", ".join(f"{n}={v}" for n, v in pairs)))
    return sorted(marks, key=lambda m: (m[0], m[1] != "criterion", m[2]))


def _mark_rows(marks, first, last, width_inches):
    """A row for each mark's label, the first from the top in which it
    meets no other label: (rows, alignment of each label)."""
    span = max(last - first, 1) * 1.1
    left = first - 0.05 * max(last - first, 1)
    per_char = span * 4.8 / ((width_inches - 1.2) * 72.0)   # small text in data units
    taken, rows, alignments = [], [], []
    for generation, _, _, label in marks:
        width = (len(label) + 1.5) * per_char
        right_side = (generation - left) / span > 0.7
        extent = (generation - width, generation) if right_side else (generation, generation + width)
        row = 0
        while row < len(taken) and any(a < extent[1] and extent[0] < b for a, b in taken[row]):
            row += 1
        if row == len(taken):
            taken.append([])
        taken[row].append(extent)
        rows.append(row)
        alignments.append("right" if right_side else "left")
    return rows, alignments


def _draw_marks(fig, strip, panels, marks, first, last, width_inches, unmet):
    from matplotlib.transforms import offset_copy
    rows, alignments = _mark_rows(marks, first, last, width_inches)
    for (generation, kind, gid, label), row, alignment in zip(marks, rows, alignments):
        colour, style = ((_CRITERION_COLOUR, ":") if kind == "criterion" else (_CHANGE_COLOUR, "--"))
        strip.axvline(generation, color=colour, linestyle=style, linewidth=1.1, gid=gid)
        for ax in panels:
            ax.axvline(generation, color=colour, linestyle=style, linewidth=0.9)
        shift = offset_copy(strip.transData, fig=fig, x=-3 if alignment == "right" else 3,
                            units="points")
        strip.text(generation, row, label, ha=alignment, va="center", fontsize="small",
                   color=colour, transform=shift, gid=f"{gid}-label",
                   bbox={"facecolor": "white", "edgecolor": "none", "pad": 0.6})
    strip.set_ylim(max(rows, default=0) + 0.6, -0.6)
    strip.set_yticks([])
    heading = "Criteria first met (dotted) and scheduled changes (dashed)"
    if unmet:
        heading += f"; never met: {', '.join(unmet)}"
    strip.set_title(heading, loc="left", fontsize="medium")


# --- the map ---------------------------------------------------------------------

MAP_LOCI = {"all": None, "specialization": "habitatSpec", "preference": "habitatPref",
            "mating": "matingPrefType"}


def map_figure(adults, locus="all", ax=None, title=None):
    """The two habitats of 32 by 40 cells as the desktop program draws them:
    every adult a disc coloured by its allele (red 0, blue 1, yellow 2).
    With locus "all", the outer disc is the habitat preference, the middle
    one the specialization and the inner one the mating-preference type;
    "specialization", "preference" or "mating" draw one locus.

    `adults` is what Simulation.adults() returns. Returns the figure.

    >>> sim = talveron.Simulation(seed=7, density=4)
    >>> sim.step(200)
    200
    >>> fig = map_figure(sim.adults())
    """
    if locus not in MAP_LOCI:
        raise ValueError(f"locus={locus!r}: allowed are {', '.join(MAP_LOCI)}")
    plt = _pyplot()
    from matplotlib.collections import EllipseCollection
    from matplotlib.patches import Rectangle
    if ax is None:
        fig, ax = plt.subplots(figsize=(8, 5), layout="constrained")
    else:
        fig = ax.figure
    colours = ALLELE_COLOURS + ["#ffffff"] * 253
    # Pixel positions of the desktop map: a cell is 10 by 10, the right
    # habitat starts at 320; a disc of 9 leaves the cell's last row and column.
    left = 320.0 * adults["habitat"] + 10.0 * adults["x"]
    top = 10.0 * adults["y"]
    loci = ([("habitatPref", 9, 0), ("habitatSpec", 5, 2), ("matingPrefType", 2, 3)]
            if locus == "all" else [(MAP_LOCI[locus], 9, 0)])
    for field, size, inset in loci:
        centres = list(zip(left + inset + size / 2.0, top + inset + size / 2.0))
        ax.add_collection(EllipseCollection(
            size, size, 0, units="xy", offsets=centres, transOffset=ax.transData,
            facecolors=[colours[int(a)] for a in adults[field]], edgecolors="none", gid=f"map-{field}"))
    for habitat in (0, 1):
        ax.add_patch(Rectangle((320 * habitat - (1 if habitat else 0), 0), 320, 400, fill=False,
                               edgecolor="black", linewidth=1))
    ax.set_xlim(-2, 642)
    ax.set_ylim(402, -2)
    ax.set_aspect("equal")
    ax.set_xticks([160, 480], ["habitat 0", "habitat 1"])
    ax.set_yticks([])
    if title:
        ax.set_title(title)
    return fig
