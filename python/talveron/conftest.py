"""For `pytest --doctest-modules` on the package: each example runs in a
temporary folder of its own (the files it writes go with it), with
`talveron` imported."""

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
