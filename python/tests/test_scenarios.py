"""Scheduled changes, statistics and genotypes from Python, against the
batch command's files and against a Simulation set by hand."""

import numpy as np
import pandas as pd
import pytest

import talveron

SETTINGS = dict(seed=31, replicates=2, generations=60, density=2, restrictedNatalDispersal=True,
                gIncludeNeutralGenes=True)


def test_changes_and_statistics_give_the_batch_commands_files(batch, tmp_path):
    s = talveron.run_series(**SETTINGS, trace=True, stats=True, jobs=2,
                            changes=[(21, {"natalDispersalRate": 30, "selectionFactor": 0.9})])
    batch("--seed", 31, "--replicates", 2, "--generations", 60, "--set", "density=2",
          "--set", "restrictedNatalDispersal=1", "--set", "gIncludeNeutralGenes=1",
          "--change", "21:natalDispersalRate=30", "--change", "21:selectionFactor=0.9",
          "--stats", "--out", tmp_path / "b.txt", "--trace", tmp_path / "b.trace")
    assert s.data_file == (tmp_path / "b.txt").read_bytes()
    s.save(tmp_path / "p.txt", trace=tmp_path / "p.trace")
    assert (tmp_path / "p.trace").read_bytes() == (tmp_path / "b.trace").read_bytes()
    assert list(s.trace.columns[-2:]) == ["v_mate_spec", "v_mate_signal"]
    assert s.trace["v_mate_signal"].isna().all()  # no signals: undefined
    plain = talveron.run_series(**SETTINGS)
    assert plain.data_file != s.data_file


def test_a_simulation_set_between_steps_is_the_scheduled_change():
    changed = talveron.run_series(**dict(SETTINGS, replicates=1), trace=True, stats=False,
                                  changes=[(21, {"natalDispersalRate": 30})], sample_every=0)
    sim = talveron.Simulation(seed=31, generations=60, density=2, restrictedNatalDispersal=True,
                              gIncludeNeutralGenes=True)
    sim.step(20)
    sim.set(natalDispersalRate=30)
    sim.step(40)
    last = changed.trace[changed.trace.generation == 60].reset_index(drop=True)
    census = sim.census()
    assert (census["adults"].to_numpy() == last["adults"].to_numpy()).all()
    assert (census["mate0"].to_numpy() == last["mate0"].to_numpy()).all()
    # The samples of the last generation are the simulation's adults.
    genotypes, individuals = sim.genotypes()
    assert np.array_equal(genotypes, changed.genotypes)
    assert individuals[["habitat", "x", "y", "sex"]].equals(changed.samples[["habitat", "x", "y", "sex"]])
    with pytest.raises(ValueError, match="initiallyOneHabitat cannot change"):
        sim.set(initiallyOneHabitat=True)
    with pytest.raises(ValueError, match="'101' is not allowed for natalDispersalRate"):
        sim.set(natalDispersalRate=101)


def test_genotypes_follow_the_adults_and_refusals_name_the_change():
    sim = talveron.Simulation(seed=5, generations=30, gIncludeNeutralGenes=True)
    sim.step(30)
    adults = sim.adults()
    frame = pd.DataFrame(sim.adults())
    assert len(frame) == len(adults)
    genotypes, individuals = sim.genotypes()
    assert genotypes.shape == (len(adults), 17)
    assert (genotypes[:, 1] == adults["habitatSpec"]).all()
    assert (genotypes[:, 7] == adults["neutral0"]).all() and (genotypes[:, 16] == adults["neutral9"]).all()
    assert list(frame.columns[-2:]) == ["neutral8", "neutral9"]
    assert (individuals["sex"] == np.where(adults["sex"], "m", "f")).all()
    with pytest.raises(ValueError, match="change at generation 61: it comes after the last generation, 60"):
        talveron.run_series(**SETTINGS, changes=[(61, {"density": 3})])
    with pytest.raises(TypeError):
        talveron.run_series(**SETTINGS, changes=[("21", {"density": 3})])
    samples = talveron.run_series(**SETTINGS, sample_every=25)
    assert sorted(samples.samples.generation.unique()) == [25, 50, 60]
    assert sorted(samples.samples.replicate.unique()) == [1, 2]


def test_copies_pickles_and_saved_states_continue_as_the_original(tmp_path):
    import copy
    import json
    import pickle
    sim = talveron.Simulation(seed=12, generations=200, density=2, gIncludeNeutralGenes=True)
    sim.step(40)
    sim.set(selectionFactor=0.9)
    sim.step(10)
    copied = copy.deepcopy(sim)
    pickled = pickle.loads(pickle.dumps(sim))
    sim.save(tmp_path / "state.json")
    loaded = talveron.Simulation.load(tmp_path / "state.json")
    branch = copy.deepcopy(sim)
    branch.reseed(99)
    for s in (sim, copied, pickled, loaded, branch):
        assert s.generation == 50
        s.step(60)
    for other in (copied, pickled, loaded):
        assert np.array_equal(other.genotypes()[0], sim.genotypes()[0])
        assert other.criteria() == sim.criteria()
    assert not np.array_equal(branch.genotypes()[0], sim.genotypes()[0])

    (tmp_path / "other.json").write_text(json.dumps({"format": "something else"}))
    with pytest.raises(ValueError, match="not a saved talveron Simulation"):
        talveron.Simulation.load(tmp_path / "other.json")
    state = json.loads((tmp_path / "state.json").read_text())
    state["version"] = 2
    (tmp_path / "future.json").write_text(json.dumps(state))
    with pytest.raises(ValueError, match="format version 2; this talveron reads version 1"):
        talveron.Simulation.load(tmp_path / "future.json")


def test_a_study_varies_the_generation_of_contact(tmp_path):
    settings = {"seed": 3, "replicates": 2, "generations": 40, "set": {"restrictedNatalDispersal": True},
                "change": [{"generation": 11, "set": {"natalDispersalRate": 30}}],
                "vary": {"change.1.generation": [11, 31]}}
    text = talveron.settings_text(settings)
    assert "[[change]]\ngeneration = 11\nset = { natalDispersalRate = 30 }\n" in text
    study = talveron.run_study(settings, tmp_path / "study")
    assert study.summary["change.1.generation"].tolist() == [11, 31]
    late = talveron.run_series(seed=5, replicates=2, generations=40, restrictedNatalDispersal=True,
                               changes=[(31, {"natalDispersalRate": 30})])
    assert study.cells[1].data_file == late.data_file


def test_a_study_of_changes_and_statistics_on_an_executor_is_the_batch_commands(tmp_path, batch):
    from concurrent.futures import ThreadPoolExecutor
    settings = {"seed": 8, "replicates": 2, "generations": 40, "trace": True, "stats": True,
                "set": {"restrictedNatalDispersal": True, "gIncludeNeutralGenes": True},
                "change": [{"generation": 11, "set": {"natalDispersalRate": 30}}],
                "vary": {"change.1.generation": [11, 31], "change.1.natalDispersalRate": [5, 30]}}
    (tmp_path / "study.toml").write_text(talveron.settings_text(settings))
    batch("--study", tmp_path / "study.toml", "--out-dir", tmp_path / "batch")
    with ThreadPoolExecutor(2) as pool:
        study = talveron.run_study(settings, tmp_path / "pool", executor=pool, progress=False)
    for cell in study.cells:
        for name in (cell.data_path, cell.trace_path):
            expected = tmp_path / "batch" / name.rsplit("/", 1)[-1]
            assert open(name, "rb").read() == expected.read_bytes(), name
    assert study.cells[3].parameters == {"change.1.generation": 31, "change.1.natalDispersalRate": 30}
    trace = study.cells[0].trace
    assert str(trace["adults"].dtype) == "int32" and trace["habitat"].dtype == "category"
    assert trace["fst_neutral"].notna().any()


def test_changes_alone_give_the_series_trace_and_bad_settings_name_their_key(tmp_path, batch):
    s = talveron.run_series(**SETTINGS, trace=True, progress=False,
                            changes=[(21, {"natalDispersalRate": 30})])
    batch("--seed", 31, "--replicates", 2, "--generations", 60, "--set", "density=2",
          "--set", "restrictedNatalDispersal=1", "--set", "gIncludeNeutralGenes=1",
          "--change", "21:natalDispersalRate=30", "--out", tmp_path / "b.txt",
          "--trace", tmp_path / "b.trace")
    assert s.changes == [(21, {"natalDispersalRate": 30})] and s.genotypes is None
    assert s.save(tmp_path / "p.txt", trace=tmp_path / "p.trace")
    assert (tmp_path / "p.trace").read_bytes() == (tmp_path / "b.trace").read_bytes()
    assert (tmp_path / "p.txt").read_bytes() == (tmp_path / "b.txt").read_bytes()
    with pytest.raises(ValueError, match=r"stats=True adds columns to the trace"):
        talveron.run_series(**SETTINGS, stats=True, progress=False)
    base = {"seed": 1, "generations": 40, "vary": {"density": [2, 3]}}
    with pytest.raises(ValueError, match=r"settings\['change'\]\[0\]\['set'\]\['natalDispersalRat'\]: "
                                         r"unknown parameter \(did you mean 'natalDispersalRate'"):
        talveron.run_study(dict(base, change=[{"generation": 5, "set": {"natalDispersalRat": 3}}]),
                           tmp_path / "bad", progress=False)
    with pytest.raises(ValueError, match=r"settings\['change'\]\[0\]\['generation'\]: .*"
                                         r"allowed is a whole number from 1"):
        talveron.run_study(dict(base, change=[{"generation": 0, "set": {"natalDispersalRate": 3}}]),
                           tmp_path / "bad", progress=False)
    with pytest.raises(TypeError, match=r"settings\['change'\]"):
        talveron.run_study(dict(base, change={"generation": 5}), tmp_path / "bad", progress=False)


def test_ctrl_c_keeps_the_statistics_and_samples_of_complete_replicates():
    import os
    import signal
    import threading
    import time

    def ctrl_c_soon():
        time.sleep(0.5)
        os.kill(os.getpid(), signal.SIGINT)
    threading.Thread(target=ctrl_c_soon, daemon=True).start()
    with pytest.raises(KeyboardInterrupt) as stopped:
        talveron.run_series(seed=4, replicates=5000, generations=100, density=2, trace=True,
                            stats=True, sample_every=50, jobs=2, progress=False,
                            changes=[(51, {"natalDispersalRate": 20})])
    partial = stopped.value.series
    done = partial.replicates_done
    assert 0 < done < 5000 and not partial.complete
    whole = talveron.run_series(seed=4, replicates=done, generations=100, density=2, trace=True,
                                stats=True, sample_every=50, progress=False,
                                changes=[(51, {"natalDispersalRate": 20})])
    pd.testing.assert_frame_equal(partial.trace, whole.trace)
    pd.testing.assert_frame_equal(partial.samples, whole.samples)
    assert np.array_equal(partial.genotypes, whole.genotypes)
