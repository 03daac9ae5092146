"""The compiled part of the Python package: the core's sources (src/model,
src/record with its VCF writer in src/record/vcf, which a study's cells
write their genotype samples with and which links htslib, src/run) and
the binding (python/*.cpp: talveron_module.cpp and a file for each part
it binds) in one extension module, talveron._talveron, built with
pybind11's helpers and the flags the core's results depend on. The
package's metadata is in pyproject.toml; setuptools' build files go to
build-python/."""

import pathlib
import re
import subprocess

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

HERE = pathlib.Path(__file__).parent
VERSION = re.search(r"project\(Talveron VERSION ([0-9.]+)",
                    (HERE / "CMakeLists.txt").read_text()).group(1)
BUILD = "build-python"


def build_id():
    """The commit built from, as cmake/BuildId.cmake gives it: `git describe
    --always --dirty` at the top of a git checkout, else "unknown"."""
    def git(*args):
        return subprocess.run(["git", "-C", str(HERE), *args], capture_output=True, text=True,
                              check=True).stdout.strip()
    try:
        if pathlib.Path(git("rev-parse", "--show-toplevel")).resolve() != HERE.resolve():
            return "unknown"
        described = git("describe", "--always", "--dirty")
    except (OSError, subprocess.CalledProcessError):
        return "unknown"
    return described if re.fullmatch(r"[A-Za-z0-9._+-]+", described) else "unknown"


class BuildWithVersion(build_ext):
    """Writes model/version.h, which CMake generates, before compiling."""

    def build_extensions(self):
        generated = pathlib.Path(self.build_temp) / "generated"
        (generated / "model").mkdir(parents=True, exist_ok=True)
        text = (HERE / "src" / "model" / "version.h.in").read_text()
        text = text.replace("@PROJECT_VERSION@", VERSION).replace("@TALVERON_BUILD@", build_id())
        (generated / "model" / "version.h").write_text(text)
        for extension in self.extensions:
            extension.include_dirs.insert(0, str(generated))
        super().build_extensions()


sources = [str(p.relative_to(HERE)) for folder in ("src/model", "src/record", "src/record/vcf", "src/run", "python")
           for p in sorted((HERE / folder).glob("*.cpp"))]
extension = Pybind11Extension(
    "talveron._talveron", sources,
    include_dirs=["src"], cxx_std=20,
    # Results must not depend on the compiler's freedom with floating point.
    extra_compile_args=["-O3", "-ffp-contract=off", "-fno-fast-math", "-fno-semantic-interposition"],
    libraries=["pthread", "hts"])

# Sources compiled in parallel, on every core unless NPY_NUM_BUILD_JOBS says.
ParallelCompile("NPY_NUM_BUILD_JOBS").install()
(HERE / BUILD).mkdir(exist_ok=True)
setup(version=VERSION, packages=["talveron"], package_dir={"": "python"},
      package_data={"talveron": ["py.typed", "*.pyi"]},
      ext_modules=[extension], cmdclass={"build_ext": BuildWithVersion},
      options={"build": {"build_base": BUILD}, "egg_info": {"egg_base": BUILD}})
