"""The package as Python users install and check it: a wheel built the
usual way from a copy of the source, installed into a fresh virtual
environment, gives the batch command's bytes; its types let mypy check a
script that uses it; and its stubs declare what the package has."""

import os
import pathlib
import shutil
import subprocess
import sys
import textwrap

import talveron

SOURCE = pathlib.Path(os.environ["TALVERON_SOURCE"])
# What building the package reads: the metadata, the core, the binding and
# the package.
PACKAGE_SOURCES = ["CMakeLists.txt", "pyproject.toml", "setup.py", "python/README.md", "python/*.cpp",
                   "python/*.h", "python/talveron", "src/model", "src/record", "src/run"]


def copy_source(to):
    for pattern in PACKAGE_SOURCES:
        found = sorted(SOURCE.glob(pattern))
        assert found, pattern
        for source in found:
            target = to / source.relative_to(SOURCE)
            target.parent.mkdir(parents=True, exist_ok=True)
            if source.is_dir():
                shutil.copytree(source, target, ignore=shutil.ignore_patterns("__pycache__"))
            else:
                shutil.copy2(source, target)


def test_wheel_built_from_a_copy_installs_into_a_venv_and_runs_a_series(tmp_path, batch):
    source = tmp_path / "source"
    copy_source(source)
    environment = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    if shutil.which("ccache"):  # compiled objects shared between runs of this test
        environment.update(CC="ccache gcc", CXX="ccache g++", CCACHE_BASEDIR=str(tmp_path))
    built = subprocess.run([sys.executable, "-m", "build", "--wheel", "--no-isolation"],
                           cwd=source, env=environment, capture_output=True, text=True)
    assert built.returncode == 0, built.stdout[-3000:] + built.stderr[-3000:]
    wheels = list((source / "dist").glob("talveron-*.whl"))
    assert len(wheels) == 1

    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", venv], check=True)
    python = venv / "bin" / "python"
    subprocess.run([python, "-m", "pip", "install", "--no-index", "--quiet", wheels[0]],
                   env=environment, check=True)
    script = textwrap.dedent(f"""
        import sys, talveron
        assert talveron.__file__.startswith({str(venv)!r}), talveron.__file__
        assert talveron.__version__ == {talveron.__version__!r}
        s = talveron.run_series(seed=2026, replicates=3, generations=300, density=4,
                                progress=False)
        sys.stdout.buffer.write(s.data_file)
        """)
    run = subprocess.run([python, "-c", script], env=environment, cwd=tmp_path, check=True,
                         capture_output=True)
    batch("--seed", 2026, "--replicates", 3, "--generations", 300, "--set", "density=4",
          "--out", tmp_path / "batch.txt")
    assert run.stdout == (tmp_path / "batch.txt").read_bytes()
    installed = {p.name for p in (venv / "lib").glob("python3*/site-packages/talveron/*")}
    assert {"py.typed", "__init__.pyi", "_talveron.pyi"} <= installed


def test_mypy_checks_a_script_by_the_packages_types(tmp_path):
    good = tmp_path / "good.py"
    good.write_text(textwrap.dedent("""
        import numpy as np
        import talveron

        s: talveron.Series = talveron.run_series(seed=np.uint64(1), replicates=2, generations=10.0,
                                                 density=4, selectionFactor=np.float32(0.5),
                                                 initiallyOneHabitat=np.bool_(True), progress=False)
        done: int = s.replicates_done
        data: bytes = s.data_file
        paths: list[str] = s.save("x.txt", trace=None)
        sim = talveron.Simulation(seed=7)
        ran: int = sim.step(3)
        met: int | None = sim.criteria()["A"]
        low, high = talveron.wilson_interval(3, 10)
        text: str = talveron.settings_text({"seed": 1})
        legend: dict[str, str] = talveron.criteria_legend()
        changed = talveron.run_series(seed=1, generations=30, trace=True, stats=True, sample_every=10,
                                      changes=[(11, {"natalDispersalRate": 10})], progress=False)
        if isinstance(changed, talveron.ScenarioSeries) and changed.genotypes is not None:
            loci: int = changed.genotypes.shape[1]
        sim.set(selectionFactor=0.5, gIncludeNeutralGenes=True)
        sim.reseed(np.uint64(9))
        genotypes, individuals = sim.genotypes()
        saved: str = sim.save("isolated.state")
        again: talveron.Simulation = talveron.Simulation.load(saved)
        try:
            st = talveron.run_study({"vary": {"density": range(1, 3)}}, "out", executor=None)
            cells: list[talveron.StudyCell] = st.cells
        except talveron.Interrupted as stop:
            partial: talveron.Study | None = stop.study
        """))
    bad = tmp_path / "bad.py"
    bad.write_text(textwrap.dedent("""
        import talveron
        done: str = talveron.run_series(seed=1).replicates_done
        talveron.Simulation(seed=1).step("3")
        talveron.run_study({}, "out", jobs="all")
        """))
    environment = dict(os.environ, MYPYPATH=os.environ["PYTHONPATH"])

    def mypy(script):
        return subprocess.run(["/usr/bin/python3", "-m", "mypy", "--strict", "--no-incremental",
                               "--cache-dir", str(tmp_path / "cache"), script],
                              env=environment, capture_output=True, text=True)

    checked = mypy(good)
    assert checked.returncode == 0, checked.stdout
    refused = mypy(bad)
    assert refused.returncode == 1
    for line in (3, 4, 5):
        assert f"bad.py:{line}: error" in refused.stdout, refused.stdout


def test_stubs_declare_what_the_package_has(tmp_path):
    # Every module's stub against the module itself, as built: names,
    # signatures, classes and constants on either side and not the other are
    # errors. The allowlist names what stubtest cannot learn from the module.
    allowlist = pathlib.Path(__file__).with_name("stubtest-allowlist.txt")
    checked = subprocess.run(["/usr/bin/python3", "-m", "mypy.stubtest", "--allowlist", str(allowlist),
                              "talveron"], cwd=tmp_path, capture_output=True, text=True,
                             env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))
    assert checked.returncode == 0, checked.stdout + checked.stderr
    modules = {path.stem for path in pathlib.Path(talveron.__file__).parent.glob("*.py")}
    stubs = {path.stem for path in pathlib.Path(talveron.__file__).parent.glob("*.pyi")}
    assert modules - stubs == set(), "a module without its stub: stubtest would check its source"
