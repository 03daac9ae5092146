"""Progress of a long run: a tqdm bar when tqdm is installed, a plain line
otherwise, nothing when not asked for or, by default, when nobody watches."""

import talveron
from talveron import _progress


def run(progress):
    talveron.run_series(seed=1, replicates=2, generations=200, progress=progress)


def test_progress_is_a_bar_a_line_or_nothing(capsys, monkeypatch):
    run(True)
    assert "400/400" in capsys.readouterr().err  # tqdm's bar, finished

    monkeypatch.setattr(_progress, "_tqdm", lambda: None)
    run(True)
    assert capsys.readouterr().err.endswith("series: 400 of 400 generations (100%)\n")

    run(False)
    run(None)  # under pytest nobody watches
    assert capsys.readouterr().err == ""

    monkeypatch.setattr(_progress, "interactive", lambda: True)
    run(None)
    assert "400 of 400" in capsys.readouterr().err
