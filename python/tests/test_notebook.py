"""The notebooks of docs/notebooks run from top to bottom and show what they
say: tables, numbers and figures."""

import os

import nbformat
import pandas
from nbclient import NotebookClient


def run_notebook(name, tmp_path, monkeypatch):
    """Runs docs/notebooks/NAME in tmp_path; its code cells, each of which
    shows something and none an error."""
    monkeypatch.delenv("MPLBACKEND", raising=False)  # the kernel draws inline, as Jupyter does
    path = os.path.join(os.environ["TALVERON_SOURCE"], "docs", "notebooks", name)
    notebook = nbformat.read(path, as_version=4)
    NotebookClient(notebook, timeout=120, kernel_name="python3",
                   resources={"metadata": {"path": str(tmp_path)}}).execute()
    code = [cell for cell in notebook.cells if cell.cell_type == "code"]
    for number, cell in enumerate(code, start=1):
        assert cell.outputs, f"code cell {number} shows nothing"
        assert not [o for o in cell.outputs if o.output_type == "error"], f"code cell {number}"
    return code


def outputs_of(code, kind):
    return [o for cell in code for o in cell.outputs if kind in o.get("data", {})]


def test_first_study_notebook_runs_and_shows_its_outputs(tmp_path, monkeypatch):
    code = run_notebook("first-study.ipynb", tmp_path, monkeypatch)
    assert len(outputs_of(code, "image/png")) == 3
    assert len(outputs_of(code, "text/html")) >= 2
    assert (tmp_path / "first-study" / "summary.tsv").exists()


def test_secondary_contact_notebook_runs_and_shows_its_outputs(tmp_path, monkeypatch):
    code = run_notebook("secondary-contact.ipynb", tmp_path, monkeypatch)
    assert len(outputs_of(code, "image/png")) == 1
    assert len(outputs_of(code, "text/html")) == 3
    assert (tmp_path / "contact.vcf.gz.tbi").exists()
    # What its text says it shows: every replicate of every cell split
    # (criterion E met, speciation), and the isolated population split in
    # each of its branches, the one kept apart too.
    summary = pandas.read_csv(tmp_path / "contact" / "summary.tsv", sep="\t")
    assert (summary.E_met == summary.replicates).all(), summary
    assert (summary.speciation == summary.replicates).all(), summary
    branches = [o for o in code[2].outputs if "text/plain" in o.get("data", {})][-1]["data"]["text/plain"]
    rows = [line.split() for line in branches.splitlines()[1:]]
    assert [(row[1], row[-1]) for row in rows] == [("0", "speciation"), ("5", "speciation"), ("20", "speciation")], branches
