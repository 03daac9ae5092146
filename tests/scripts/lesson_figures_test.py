"""The lessons' figures, worked out again from the runs they describe.

Each row of the README's lesson table names a lesson (and, for a row that
changes it, `NAME=VALUE` settings and `G:NAME=VALUE` changes in its first
column); its settings file runs with talveron-batch for the seeds 42 to 51
with a trace, and the end states counted from the trace must be the row's
last column. The figures in the text of the secondary-contact lesson, and
those of its row, are checked the same way.

The end state of a replicate, from the census of its last generation: a
habitat's mating type is the mating-preference type (mate0 or mate1) whose
per mille of the habitat's adults (1000 * count // adults) exceeds 500;
"extinct" when a habitat has no adults, "none" when a habitat has no type,
"fad" when both have the same, "speciation" when they differ.

    lesson_figures_test.py TALVERON_BATCH SOURCE_DIR
"""

import collections
import pathlib
import re
import subprocess
import sys
import tempfile
import tomllib

SEEDS = 10
FIRST_SEED = 42
KINDS = ("speciation", "fad", "none", "extinct")


def run_traces(batch, settings, sets=(), changes=()):
    """The census of every generation of every replicate, as
    {replicate: {(generation, habitat): row}}."""
    with tempfile.TemporaryDirectory(prefix="talveron-lesson-figures-") as folder:
        trace = pathlib.Path(folder) / "series.trace"
        command = [batch, "--quiet", "--settings", str(settings), "--replicates", str(SEEDS),
                   "--seed", str(FIRST_SEED), "--trace", str(trace), "--out", str(pathlib.Path(folder) / "series.txt")]
        for value in sets:
            command += ["--set", value]
        for change in changes:
            command += ["--change", change]
        subprocess.run(command, check=True)
        replicates = collections.defaultdict(dict)
        with open(trace, encoding="utf-8") as lines:
            names = lines.readline().split("\t")
            names = [name.strip() for name in names]
            for line in lines:
                row = dict(zip(names, (int(field) for field in line.split("\t"))))
                replicates[row["replicate"]][(row["generation"], row["habitat"])] = row
    assert len(replicates) == SEEDS, f"{settings}: {len(replicates)} replicates in the trace"
    return replicates


def mating_type(row):
    for kind in (0, 1):
        if row["adults"] > 0 and 1000 * row[f"mate{kind}"] // row["adults"] > 500:
            return kind
    return None


def state(census, generation):
    left, right = census[(generation, 0)], census[(generation, 1)]
    if left["adults"] == 0 or right["adults"] == 0:
        return "extinct"
    types = mating_type(left), mating_type(right)
    if None in types:
        return "none"
    return "fad" if types[0] == types[1] else "speciation"


def last_generation(census):
    return max(generation for generation, _ in census)


def end_states(replicates):
    return collections.Counter(state(census, last_generation(census)) for census in replicates.values())


def read_counts(text):
    """"speciation 7, fad 3" as a Counter; every kind must be one of KINDS."""
    counts = collections.Counter()
    for part in text.split(","):
        kind, number = part.strip().rsplit(" ", 1)
        assert kind in KINDS, f"unknown end state {kind!r} in {text!r}"
        counts[kind] = int(number)
    assert sum(counts.values()) == SEEDS, f"{text!r} does not count {SEEDS} seeds"
    return counts


def lesson_rows(readme):
    """The rows of the lesson table: (first column, lesson, sets, changes, counts)."""
    section = readme[readme.index("\n## Lessons"):]
    section = section[:section.index("\n## ", 1)]
    lines = [line for line in section.splitlines() if line.startswith("|")]
    header = [cell.strip() for cell in lines[0].strip("|").split("|")]
    assert header[-1] == f"End states, seeds {FIRST_SEED} to {FIRST_SEED + SEEDS - 1}", header
    rows = []
    for line in lines[2:]:
        cells = [cell.strip() for cell in line.strip("|").split("|")]
        words = re.findall(r"`([^`]+)`", cells[0])
        assert words, f"no lesson named in {cells[0]!r}"
        sets = [word for word in words[1:] if re.fullmatch(r"\w+=\S+", word)]
        changes = [word for word in words[1:] if re.fullmatch(r"\d+:\w+=\S+", word)]
        assert len(sets) + len(changes) == len(words) - 1, f"a word of {cells[0]!r} is neither NAME=VALUE nor G:NAME=VALUE"
        rows.append((cells[0], words[0], sets, changes, read_counts(cells[-1]), cells))
    return rows


def flat(text):
    return " ".join(text.split())


def main():
    batch, source = sys.argv[1], pathlib.Path(sys.argv[2])
    lessons = source / "lessons"
    names = [name for name in (lessons / "index.txt").read_text().split() if name]
    readme = (source / "README.md").read_text(encoding="utf-8")
    failures = []
    rows = lesson_rows(readme)
    named = {lesson for _, lesson, sets, changes, _, _ in rows if not sets and not changes}
    if named != set(names):
        failures.append(f"the table's lessons {sorted(named)} are not the lessons {sorted(names)}")

    runs = {}
    for label, lesson, sets, changes, counts, _ in rows:
        settings = tomllib.loads((lessons / f"{lesson}.toml").read_text())
        if settings.get("seed") != FIRST_SEED:
            failures.append(f"{lesson}: its own run is not seed {FIRST_SEED}")
        replicates = run_traces(batch, lessons / f"{lesson}.toml", sets, changes)
        runs[(lesson, tuple(sets), tuple(changes))] = replicates
        found = end_states(replicates)
        if found != counts:
            failures.append(f"{label}: the README says {dict(counts)}, the runs end {dict(found)}")

    # The secondary-contact lesson: its text's figures and its row's.
    name = "secondary-contact"
    settings = tomllib.loads((lessons / f"{name}.toml").read_text())
    contact = settings["change"][0]
    before = contact["generation"] - 1
    apart = runs[(name, (), ())]
    ends = end_states(apart)
    at_contact = {replicate: state(census, before) for replicate, census in apart.items()}
    at_end = {replicate: state(census, last_generation(census)) for replicate, census in apart.items()}
    # The change's values from generation 1 on: "the same migration from the start".
    same = [f"{key}={str(value).lower()}" for key, value in contact["set"].items()]
    from_start = end_states(run_traces(batch, lessons / f"{name}.toml", same))
    text = flat((lessons / f"{name}.md").read_text(encoding="utf-8"))

    def claim(pattern, *expected):
        match = re.search(pattern, text)
        if match is None:
            failures.append(f"{name}.md no longer says /{pattern}/")
            return
        said = tuple(int(group) for group in match.groups())
        if said != expected:
            failures.append(f"{name}.md says {said} for /{pattern}/; the runs give {expected}")

    claim(r"end with different mating preferences in (\d+) runs of 10 and with the same one in (\d+)",
          ends["speciation"], ends["fad"])
    claim(r"Each of those (\d+) had both habitats preferring the same kind of mate before the contact",
          sum(1 for r in at_end if at_end[r] == "fad" and at_contact[r] == "fad"))
    if ends["fad"] != sum(1 for r in at_end if at_end[r] == "fad" and at_contact[r] == "fad"):
        failures.append(f"{name}: a fad at the end that was none before the contact")
    if "every split that formed while they were apart survived the contact" not in text:
        failures.append(f"{name}.md no longer says that every split survived")
    lost = [FIRST_SEED + r - 1 for r in at_contact if at_contact[r] == "speciation" and at_end[r] != "speciation"]
    if lost:
        failures.append(f"{name}: the split of seeds {lost} did not survive the contact")
    claim(r"from generation 1 on, the habitats end with different mating preferences in only (\d+) runs of 10",
          from_start["speciation"])
    # "its females come to prefer one kind of mate ... within the first hundred generations"
    if "within the first hundred generations" in text:
        late = [FIRST_SEED + r - 1 for r, census in apart.items()
                if any(mating_type(census[(100, h)]) is None for h in (0, 1))]
        if late:
            failures.append(f"{name}: a habitat of seeds {late} prefers no kind of mate by generation 100")
    else:
        failures.append(f"{name}.md no longer says when the preferences form")
    row = next(cells for _, lesson, sets, changes, _, cells in rows if lesson == name and not sets and not changes)
    match = re.search(r"by chance in (\d+) seeds of 10", row[2])
    fads_apart = sum(1 for s in at_contact.values() if s == "fad")
    if match is None or int(match.group(1)) != fads_apart:
        failures.append(f"the README's row of {name} says {match and match.group(1)} seeds share a preference "
                        f"before the contact; the runs give {fads_apart}")

    for failure in failures:
        print(failure)
    print(f"{len(rows)} rows of the lesson table and the figures of {name}.md checked; {len(failures)} wrong")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
