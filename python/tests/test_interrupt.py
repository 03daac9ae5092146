"""Ctrl+C stops a run at the end of the running generation and raises
KeyboardInterrupt; a stopped study keeps its complete cells and goes on to
the files of an unstopped one."""

import json
import os
import signal
import threading
import time

import pandas as pd
import pytest

import talveron


def ctrl_c_when(condition):
    """Sends SIGINT to this process, as Ctrl+C does, once `condition()` holds."""
    def watch():
        while not condition():
            time.sleep(0.001)
        os.kill(os.getpid(), signal.SIGINT)
    thread = threading.Thread(target=watch, daemon=True)
    thread.start()
    return thread


def test_ctrl_c_stops_series_and_simulation():
    started = time.monotonic()
    ctrl_c_when(lambda: time.monotonic() - started > 0.5)
    with pytest.raises(KeyboardInterrupt) as stopped:
        talveron.run_series(seed=1, replicates=10000, generations=500, trace=True, jobs=2)
    # Every complete record is kept, as the batch command's partial file keeps them.
    partial = stopped.value.series
    done = partial.replicates_done
    assert 0 < done < 10000 and not partial.complete
    whole = talveron.run_series(seed=1, replicates=done, generations=500, trace=True, progress=False)
    pd.testing.assert_frame_equal(partial.records, whole.records)
    pd.testing.assert_frame_equal(partial.trace, whole.trace)
    legend = b"A\tB\tC\tD\tE\tF\tG\tH\tI"
    assert partial.data_file.split(legend)[1] == whole.data_file.split(legend)[1]

    sim = talveron.Simulation(seed=1, generations=1000000)
    started = time.monotonic()
    ctrl_c_when(lambda: time.monotonic() - started > 0.3)
    with pytest.raises(KeyboardInterrupt) as stopped:
        sim.step(1000000)
    assert stopped.value.simulation is sim
    stopped_at = sim.generation
    assert 0 < stopped_at < 1000000
    assert sim.step(3) == 3 and sim.generation == stopped_at + 3


def test_stopped_study_resumes_to_the_batch_commands_files(tmp_path, batch):
    settings = {"seed": 5, "replicates": 2, "generations": 3000,
                "vary": {"density": [1, 2], "selectionFactor": [0.2, 0.8]}}
    out = tmp_path / "python"
    ctrl_c_when(lambda: (out / "cell-1.txt").exists())
    with pytest.raises(KeyboardInterrupt) as stopped:
        talveron.run_study(settings, out, jobs=1)
    manifest = json.loads((out / "manifest.json").read_text())
    assert manifest["status"] == "stopped"
    complete = [cell for cell in manifest["cells"] if cell["complete"]]
    assert 1 <= len(complete) < 4
    study = stopped.value.study
    assert [c.complete for c in study.cells] == [cell["complete"] for cell in manifest["cells"]]
    assert study.records.cell.unique().tolist() == [cell["cell"] for cell in complete]
    for cell in complete:
        assert (out / cell["files"][0]).exists()

    st = talveron.run_study(settings, out, jobs=2, resume=True)
    assert len(st.summary) == 4
    (tmp_path / "study.toml").write_text(talveron.settings_text(settings))
    batch("--study", tmp_path / "study.toml", "--out-dir", tmp_path / "batch")
    for name in ["cell-1.txt", "cell-2.txt", "cell-3.txt", "cell-4.txt", "summary.tsv"]:
        assert (out / name).read_bytes() == (tmp_path / "batch" / name).read_bytes(), name
    assert not [p.name for p in out.iterdir() if p.name.endswith(".partial")]
