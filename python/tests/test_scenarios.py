"""Scheduled changes, statistics and genotypes from Python, against the
batch command's files and against a Simulation set by hand."""

import os

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


def _same(a, b):
    """Whether two Simulations stand alike: census, every adult, criteria."""
    return (a.generation == b.generation and a.census().equals(b.census())
            and a.adults().tobytes() == b.adults().tobytes() and a.criteria() == b.criteria()
            and a.parameters == b.parameters)


def test_copies_pickles_and_saved_states_continue_as_the_original(tmp_path):
    import copy
    import pickle
    settings = dict(seed=12, generations=200, record="total", span=7, density=2, gIncludeNeutralGenes=True,
                    gGenerationsToEnvironmentalChange=9, gIncludeGeneralViability=True)
    sim = talveron.Simulation(**settings)
    sim.step(40)
    sim.set(selectionFactor=0.9)
    sim.step(10)
    copied = copy.deepcopy(sim)
    shallow = copy.copy(sim)
    pickled = pickle.loads(pickle.dumps(sim))
    assert sim.save(tmp_path / "state") == str(tmp_path / "state")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["state"]  # nothing left beside it
    loaded = talveron.Simulation.load(tmp_path / "state")
    branch = copy.deepcopy(sim)
    branch.reseed(99)
    for s in (copied, shallow, pickled, loaded, branch):
        assert _same(s, sim)
        assert s.parameters["selectionFactor"] == pytest.approx(0.9)
    for s in (sim, copied, shallow, pickled, loaded, branch):
        s.step(60)
    for s in (copied, shallow, pickled, loaded):
        assert _same(s, sim)
        assert np.array_equal(s.genotypes()[0], sim.genotypes()[0])
    # A branch goes its own way, the way of a run reseeded at that generation.
    assert not _same(branch, sim)
    fresh = talveron.Simulation(**settings)
    fresh.step(40)
    fresh.set(selectionFactor=0.9)
    fresh.step(10)
    fresh.reseed(99)
    fresh.step(60)
    assert _same(branch, fresh)
    # The copies are apart: stepping one leaves the others where they are.
    copied.step(5)
    assert copied.generation == 115 and sim.generation == 110


def test_a_saved_state_loads_where_it_stood_without_running_again(tmp_path):
    import time
    sim = talveron.Simulation(seed=3, generations=2500, density=2)
    started = time.perf_counter()
    sim.step(2000)
    running = time.perf_counter() - started
    sim.save(tmp_path / "isolated.state")
    loads = []
    for _ in range(3):
        started = time.perf_counter()
        loaded = talveron.Simulation.load(tmp_path / "isolated.state")
        loads.append(time.perf_counter() - started)
    assert loaded.generation == 2000 and _same(loaded, sim)
    # Loading reads the state; running the 2000 generations again would take
    # as long as running them did.
    assert min(loads) < running / 10, (loads, running)
    # The file holds the population, not the history: a few bytes an adult.
    assert (tmp_path / "isolated.state").stat().st_size < 4000 + 30 * len(sim.adults())
    loaded.step(500)
    sim.step(500)
    assert loaded.done and _same(loaded, sim)


def test_files_not_a_whole_saved_simulation_of_this_version_are_refused_by_name(tmp_path):
    import json
    sim = talveron.Simulation(seed=5, generations=100, density=2)
    sim.step(20)
    sim.save(tmp_path / "state")
    whole = (tmp_path / "state").read_bytes()

    def refusal(name, content):
        (tmp_path / name).write_bytes(content)
        with pytest.raises(ValueError) as refused:
            talveron.Simulation.load(tmp_path / name)
        assert str(refused.value).startswith(str(tmp_path / name) + ": ")
        return str(refused.value)

    assert "not a saved talveron Simulation" in refusal("other", b'{"format": "something else"}')
    assert "not a saved talveron Simulation" in refusal("text", b"generation 20\n")
    # The JSON a talveron before this one saved, replayed on loading.
    old = json.dumps({"format": "talveron simulation", "version": 1, "generation": 20, "recipe": {}})
    assert refusal("old.json", old.encode()).endswith(
        "a saved talveron Simulation of format version 1; this talveron reads version 2")
    with pytest.raises(ValueError, match="^pickle: a saved talveron Simulation of format version 1; "):
        talveron._simulation_from_state(json.loads(old))  # what an earlier talveron's pickle calls
    # Cut short, damaged or of another version: refused in the core's words
    # (its own tests try every length and byte), here as a ValueError.
    assert "cut short" in refusal("cut", whole[:len(whole) // 2])
    with pytest.raises(FileNotFoundError):
        talveron.Simulation.load(tmp_path / "missing")


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


def test_a_study_of_changes_statistics_and_samples_on_an_executor_is_the_batch_commands(tmp_path, batch):
    from concurrent.futures import ThreadPoolExecutor
    settings = {"seed": 8, "replicates": 2, "generations": 40, "trace": True, "stats": True,
                "genotypes": True, "sample-every": 20,
                "set": {"restrictedNatalDispersal": True, "gIncludeNeutralGenes": True},
                "change": [{"generation": 11, "set": {"natalDispersalRate": 30}}],
                "vary": {"change.1.generation": [11, 31], "change.1.natalDispersalRate": [5, 30]}}
    (tmp_path / "study.toml").write_text(talveron.settings_text(settings))
    batch("--study", tmp_path / "study.toml", "--out-dir", tmp_path / "batch")
    with ThreadPoolExecutor(2) as pool:
        study = talveron.run_study(settings, tmp_path / "pool", executor=pool, progress=False)
    # Every cell's files: data file, trace, genotype samples and their index
    # and table.
    cell_files = sorted(p.name for p in (tmp_path / "batch").iterdir() if p.name.startswith("cell-"))
    assert len(cell_files) == 4 * 7
    for name in cell_files:
        assert (tmp_path / "pool" / name).read_bytes() == (tmp_path / "batch" / name).read_bytes(), name
    named = {p for cell in study.cells
             for p in [cell.data_path, cell.trace_path, cell.samples_path, *cell.genotype_paths]}
    assert len(study.cells[0].genotype_paths) == 2
    assert named | {p + ".tbi" for cell in study.cells for p in cell.genotype_paths} == {
        str(tmp_path / "pool" / name) for name in cell_files}
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


def test_genotypes_saved_from_python_are_the_batch_commands_and_pysam_reads_them(batch, tmp_path):
    pysam = pytest.importorskip("pysam")
    # Scheduled changes given in another order name the same settings.
    s = talveron.run_series(**SETTINGS, sample_every=25, progress=False,
                            changes=[(41, {"gSearchCost": 0.1}), (21, {"natalDispersalRate": 20})])
    batch("--seed", 31, "--replicates", 2, "--generations", 60, "--set", "density=2",
          "--set", "restrictedNatalDispersal=1", "--set", "gIncludeNeutralGenes=1",
          "--change", "21:natalDispersalRate=20", "--change", "41:gSearchCost=0.1",
          "--genotypes", tmp_path / "b.vcf.gz", "--sample-every", 25, "--out", tmp_path / "b.txt")
    written = s.save_genotypes(tmp_path / "p.vcf.gz")
    assert [os.path.basename(p) for p in written] == [
        "p-r1.vcf.gz", "p-r1.vcf.gz.tbi", "p-r2.vcf.gz", "p-r2.vcf.gz.tbi", "p.samples.tsv",
        "p.habitat0.txt", "p.habitat1.txt", "p.sex.txt"]
    for name in ("-r1.vcf.gz", "-r1.vcf.gz.tbi", "-r2.vcf.gz", "-r2.vcf.gz.tbi", ".habitat0.txt",
                 ".habitat1.txt", ".sex.txt"):
        assert (tmp_path / ("p" + name)).read_bytes() == (tmp_path / ("b" + name)).read_bytes(), name
    table = (tmp_path / "p.samples.tsv").read_text()
    assert table == (tmp_path / "b.samples.tsv").read_text().replace("\tb-r", "\tp-r")

    # A Simulation's adults, read back by pysam: a sample per adult, named
    # by its place, and each genotype the adult's own allele.
    sim = talveron.Simulation(seed=12, generations=100, density=2, gIncludeNeutralGenes=True)
    sim.step(30)
    sim.save_genotypes(tmp_path / "sim.vcf.gz")
    adults = sim.adults()
    loci = ["habitatPref", "habitatSpec", "matingPrefType", "matingPrefValue", "signalType",
            "signalValue", "generalViability"] + [f"neutral{g}" for g in range(10)]
    with pysam.VariantFile(str(tmp_path / "sim.vcf.gz")) as vcf:
        names = list(vcf.header.samples)
        assert names == [f"r1_g30_h{a['habitat']}_x{a['x']}_y{a['y']}_{'m' if a['sex'] else 'f'}"
                         for a in adults]
        records = list(vcf)
        assert [r.id for r in records] == loci
        for record, locus in zip(records, loci):
            alleles = [record.samples[name]["GT"][0] for name in names]
            assert alleles == [int(v) for v in adults[locus]], locus
    with pytest.raises(ValueError, match=r"path='.*sim\.vcf': the genotype file's name ends in \.vcf\.gz"):
        sim.save_genotypes(tmp_path / "sim.vcf")
    with pytest.raises(ValueError, match=r"ran without sample_every="):
        talveron.run_series(**SETTINGS, stats=True, trace=True, progress=False).save_genotypes(
            tmp_path / "x.vcf.gz")
