"""A study's cells run by an executor (a process pool, a Dask cluster)
give the folder and the bytes of talveron-batch --study --jobs."""

import json
import multiprocessing
from concurrent.futures import ProcessPoolExecutor

import pytest

import talveron

SETTINGS = {"seed": 21, "replicates": 2, "generations": 150, "trace": True,
            "set": {"density": 2}, "vary": {"selectionFactor": [0.2, 0.8], "gMatingPrefTarget": [0, 1]}}


def assert_same_folder(folder, expected):
    names = sorted(p.name for p in expected.iterdir())
    assert sorted(p.name for p in folder.iterdir()) == names
    for name in names:
        if name != "manifest.json":  # it names the program and the times
            assert (folder / name).read_bytes() == (expected / name).read_bytes(), name
    cells = json.loads((folder / "manifest.json").read_text())["cells"]
    expected_cells = json.loads((expected / "manifest.json").read_text())["cells"]
    assert [c["checks"] for c in cells] == [c["checks"] for c in expected_cells]
    assert all(c["complete"] for c in cells)


def test_study_on_a_process_pool_and_a_dask_cluster_equals_jobs(tmp_path, batch):
    (tmp_path / "study.toml").write_text(talveron.settings_text(SETTINGS))
    batch("--study", tmp_path / "study.toml", "--out-dir", tmp_path / "batch", "--jobs", 2)

    with ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
        st = talveron.run_study(SETTINGS, tmp_path / "pool", executor=pool, progress=False)
    assert_same_folder(tmp_path / "pool", tmp_path / "batch")
    assert len(st.records) == 8

    distributed = pytest.importorskip("distributed")
    with distributed.Client(processes=False, n_workers=1, threads_per_worker=2,
                            dashboard_address=":0") as client:
        talveron.run_study(SETTINGS, tmp_path / "dask", executor=client, progress=False)
    assert_same_folder(tmp_path / "dask", tmp_path / "batch")
