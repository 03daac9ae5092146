"""A Simulation stepped generation by generation is replicate 1 of a series."""

import numpy as np
import pandas as pd

import talveron


def test_stepped_simulation_gives_the_census_of_the_trace():
    parameters = {"density": 4, "selectionFactor": 0.8, "gGenerationsToEnvironmentalChange": 150}
    s = talveron.run_series(seed=7, replicates=1, generations=400, trace=True, **parameters)
    sim = talveron.Simulation(seed=7, generations=400, **parameters)
    trace = s.trace.to_numpy()
    while not sim.done:
        assert sim.step() == 1
        g = sim.generation
        assert np.array_equal(sim.census().to_numpy(), trace[2 * (g - 1):2 * g]), g
        adults = sim.adults()
        assert len(adults) == trace[2 * (g - 1), 3] + trace[2 * g - 1, 3]
        assert (adults["habitat"] == 0).sum() == trace[2 * (g - 1), 3]
        assert adults["x"].max() < 32 and adults["y"].max() < 40
    assert sim.step(5) == 0

    record = s.records.iloc[0]
    assert sim.criteria() == {c: (None if pd.isna(record[c]) else int(record[c])) for c in "ABCDE"}
    assert sim.draw_map().axes
