"""The frames a user works with: one dtype per column whatever made them,
missing values where a criterion was never met, the trace wide and long,
the founders' census, and a study's records in one frame."""

import numpy as np
import pandas as pd
import pytest

import talveron

LEGEND = "A\tB\tC\tD\tE\tF\tG\tH\tI"


def data_file_records(data):
    lines = data.decode().split("\r")
    start = lines.index(LEGEND) + 2
    return np.array([[int(v) for v in line.split("\t")] for line in lines[start:] if line])


def test_never_met_is_missing_and_series_and_study_frames_agree(tmp_path):
    # Replicate 2 of this series never meets C; the others do.
    settings = {"seed": 2023, "replicates": 3, "generations": 300, "trace": True,
                "vary": {"density": [2, 4]}}
    st = talveron.run_study(settings, tmp_path / "study", jobs=2, progress=False)
    cell = st.cells[1]
    s = talveron.run_series(seed=cell.seed, replicates=3, generations=300, trace=True, density=4,
                            progress=False)

    raw = data_file_records(s.data_file)
    assert (raw == 0).any() and (raw[:, 2] > 0).any()
    records = s.records
    assert (records[list("ABCDEFGHI")].isna().to_numpy() == (raw == 0)).all()
    assert records.C.mean() == pytest.approx(raw[:, 2][raw[:, 2] > 0].mean())
    assert records.attrs["criteria"] == talveron.criteria_legend()
    assert sorted(talveron.criteria_legend()) == list("ABCDEFGHI")

    # The same columns and dtypes from the study's files as from the series.
    pd.testing.assert_frame_equal(cell.records, records)
    pd.testing.assert_frame_equal(cell.trace, s.trace)
    assert s.trace.habitat.dtype == pd.CategoricalDtype([0, 1])
    assert (s.trace.drop(columns="habitat").dtypes == np.int32).all()

    # Study.records: every cell's records, its number and parameters first.
    together = st.records
    assert list(together.columns[:2]) == ["cell", "density"]
    assert together.density.tolist() == [2, 2, 2, 4, 4, 4]
    assert together.density.dtype == np.int64
    pd.testing.assert_frame_equal(together[together.cell == 2].drop(columns=["cell", "density"])
                                  .reset_index(drop=True), records)
    summary = st.summary
    assert summary.density.tolist() == [2, 4]
    for criterion in "ABCDE":
        assert summary[f"{criterion}_median"].isna().tolist() == \
            (summary[f"{criterion}_met"] == 0).tolist()


def test_trace_in_long_format_holds_every_count_of_the_wide_one():
    s = talveron.run_series(seed=5, replicates=2, generations=30, trace=True, progress=False)
    long = s.trace_long()
    keys = ["replicate", "generation", "habitat", "adults"]
    columns = [f"{locus}{allele}" for locus in ("spec", "pref", "mate") for allele in range(3)]
    wide = s.trace.astype({"habitat": int}).melt(id_vars=keys, value_vars=columns,
                                                 var_name="column", value_name="count")
    wide["locus"] = wide.column.str[:-1]
    wide["allele"] = wide.column.str[-1].astype(int)
    order = keys + ["locus", "allele"]
    expected = wide.drop(columns="column").sort_values(order).reset_index(drop=True)
    got = long.astype({"habitat": int, "locus": str, "allele": int, "count": int})
    got = got.sort_values(order).reset_index(drop=True)[expected.columns]
    pd.testing.assert_frame_equal(got, expected.astype({"count": int}), check_dtype=False)
    assert len(long) == 9 * len(s.trace)


def test_averaged_records_say_which_generations_they_cover():
    generations, span, replicates = 95, 7, 5
    s = talveron.run_series(seed=2026, replicates=replicates, generations=generations,
                            record="total", span=span, progress=False)
    # Generation by generation through the series: a span ends every
    # `span` generations, whichever replicate they fall in.
    expected, start, counted = [], None, 0
    for replicate in range(1, replicates + 1):
        for generation in range(1, generations + 1):
            if counted == 0:
                start = (replicate, generation)
            counted += 1
            if counted == span:
                expected.append((*start, replicate, generation))
                counted = 0
    columns = ["from_replicate", "from_generation", "to_replicate", "to_generation"]
    assert [tuple(row) for row in s.records[columns].to_numpy()] == expected
    # A span stands on the line of the replicate that completes it.
    assert (s.records.replicate == s.records.to_replicate).all()
    assert (s.records.from_replicate < s.records.to_replicate).any()


def test_founders_census_and_adults_as_a_data_frame():
    sim = talveron.Simulation(seed=7, density=4)
    census = sim.census()
    adults = pd.DataFrame(sim.adults())
    assert census.generation.tolist() == [0, 0]
    assert len(adults.columns) == 21 and "neutral9" in adults.columns
    for habitat in (0, 1):
        here = adults[adults.habitat == habitat]
        row = census[census.habitat == habitat].iloc[0]
        assert row.adults == len(here) > 0
        for locus, column in (("spec", "habitatSpec"), ("pref", "habitatPref"),
                              ("mate", "matingPrefType")):
            counts = np.bincount(here[column], minlength=3)
            assert [row[f"{locus}{a}"] for a in range(3)] == counts.tolist(), locus
