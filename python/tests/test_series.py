"""A series run from Python is the batch command's, byte for byte."""

import pandas as pd
import pytest

import talveron


@pytest.mark.parametrize("record, span, generations, parameters", [
    ("timed", 10, 300, {"density": 4, "selectionFactor": 0.8}),
    # spans that run over from one replicate into the next
    ("total", 7, 95, {"gMatingPrefTarget": 1, "restrictedNatalDispersal": True,
                      "natalDispersalRate": 10}),
])
def test_series_equals_the_batch_command(tmp_path, batch, record, span, generations, parameters):
    s = talveron.run_series(seed=2026, replicates=5, generations=generations, record=record,
                            span=span, trace=True, jobs=2, **parameters)
    sets = [f"--set={name}={int(v) if isinstance(v, bool) else v}" for name, v in parameters.items()]
    batch("--seed", 2026, "--replicates", 5, "--generations", generations, "--record", record,
          "--span", span, "--jobs", 1, *sets, "--out", tmp_path / "batch.txt",
          "--trace", tmp_path / "batch.trace")
    expected = (tmp_path / "batch.txt").read_bytes()
    assert s.data_file == expected

    # The trace as a DataFrame holds what the batch command's trace file does.
    from_file = pd.read_csv(tmp_path / "batch.trace", sep="\t")
    pd.testing.assert_frame_equal(s.trace.astype("int64"), from_file)

    # save() writes the same two files, and nothing beside them.
    (tmp_path / "out").mkdir()
    s.save(tmp_path / "out" / "series.txt", trace=tmp_path / "out" / "series.trace")
    assert (tmp_path / "out" / "series.txt").read_bytes() == expected
    assert (tmp_path / "out" / "series.trace").read_bytes() == (tmp_path / "batch.trace").read_bytes()
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["series.trace", "series.txt"]

    # The records are the data file's, as a table.
    if record == "timed":
        assert list(s.records.columns) == ["replicate", "seed", *"ABCDEFGHI"]
        assert s.records["seed"].tolist() == list(range(2026, 2031))
        lines = expected.decode().split("\r")
        first = lines.index("A\tB\tC\tD\tE\tF\tG\tH\tI") + 2
        assert s.records[list("ABCDEFGHI")].fillna(0).astype(str).agg("\t".join, axis=1).tolist() == \
            lines[first:first + 5]
    else:
        # 5 x 95 generations hold 67 whole spans of 7
        assert len(s.records) == 5 * 95 // 7
        assert list(s.records.columns) == ["replicate", "span", "average", "from_replicate",
                                           "from_generation", "to_replicate", "to_generation"]
