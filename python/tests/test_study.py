"""A study run from Python writes the batch command's files."""

import talveron

SETTINGS = {"seed": 11, "replicates": 3, "generations": 200, "record": "timed", "trace": True,
            "set": {"density": 2},
            "vary": {"selectionFactor": [0.2, 0.8], "gMatingPrefTarget": [0, 1]}}


def test_study_equals_the_batch_command(tmp_path, batch):
    st = talveron.run_study(SETTINGS, out_dir=tmp_path / "python", jobs=2)
    (tmp_path / "study.toml").write_text(talveron.settings_text(SETTINGS))
    batch("--study", tmp_path / "study.toml", "--out-dir", tmp_path / "batch", "--jobs", 1)

    names = sorted(p.name for p in (tmp_path / "batch").iterdir())
    assert names == sorted(p.name for p in (tmp_path / "python").iterdir())
    for name in names:
        if name != "manifest.json":  # it names the program and the times
            assert (tmp_path / "python" / name).read_bytes() == (tmp_path / "batch" / name).read_bytes(), name

    assert len(st.cells) == 4
    assert st.cells[1].parameters == {"selectionFactor": 0.2, "gMatingPrefTarget": 1}
    assert [c.seed for c in st.cells] == [11, 14, 17, 20]
    assert st.summary["replicates"].tolist() == [3, 3, 3, 3]
    assert len(st.cells[3].records) == 3 and len(st.cells[3].trace) == 3 * 200 * 2
    assert sorted(st.plot()) == ["gMatingPrefTarget", "selectionFactor"]
