"""The conftest.py of `pytest --doctest-modules` on the package
(python.doctest), which CMake puts beside the package in a build tree:
each example runs in a temporary folder of its own (the files it writes go
with it), with `talveron` imported. It is no part of the package: neither
the wheel nor the Debian package carries it; and under another name here,
so that pytest takes it for no test below the source's python folder."""

import os
import tempfile

import pytest


@pytest.fixture(autouse=True)
def _example_folder(doctest_namespace):
    import talveron
    doctest_namespace["talveron"] = talveron
    with tempfile.TemporaryDirectory(prefix="talveron-example-") as folder:
        before = os.getcwd()
        os.chdir(folder)
        try:
            yield
        finally:
            os.chdir(before)
