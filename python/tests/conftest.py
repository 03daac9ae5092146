"""What the package's tests share: the batch command to compare with, and a
temporary folder that is removed after each test, failed or not."""

import os
import pathlib
import subprocess
import tempfile

import pytest


@pytest.fixture
def tmp_path():
    with tempfile.TemporaryDirectory(prefix="talveron-test-") as folder:
        yield pathlib.Path(folder)


@pytest.fixture
def batch():
    """Runs talveron-batch with the given arguments."""
    program = os.environ["TALVERON_BATCH"]

    def run(*args):
        subprocess.run([program, "--quiet", *[str(a) for a in args]], check=True)
    return run
