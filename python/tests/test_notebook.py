"""The notebook docs/notebooks/first-study.ipynb runs from top to bottom and
shows what it says: tables, numbers and its three figures."""

import os

import nbformat
from nbclient import NotebookClient


def test_first_study_notebook_runs_and_shows_its_outputs(tmp_path, monkeypatch):
    monkeypatch.delenv("MPLBACKEND", raising=False)  # the kernel draws inline, as Jupyter does
    path = os.path.join(os.environ["TALVERON_SOURCE"], "docs", "notebooks", "first-study.ipynb")
    notebook = nbformat.read(path, as_version=4)
    NotebookClient(notebook, timeout=120, kernel_name="python3",
                   resources={"metadata": {"path": str(tmp_path)}}).execute()

    code = [cell for cell in notebook.cells if cell.cell_type == "code"]
    for number, cell in enumerate(code, start=1):
        assert cell.outputs, f"code cell {number} shows nothing"
        assert not [o for o in cell.outputs if o.output_type == "error"], f"code cell {number}"
    images = [o for cell in code for o in cell.outputs if "image/png" in o.get("data", {})]
    assert len(images) == 3
    tables = [o for cell in code for o in cell.outputs if "text/html" in o.get("data", {})]
    assert len(tables) >= 2
    assert (tmp_path / "first-study" / "summary.tsv").exists()
