"""A Simulation shared by threads: calls from any thread at any time wait
for each other, and the replicate is the one a single thread steps."""

import threading

import numpy as np

import talveron


def test_threads_hammering_one_simulation_leave_it_as_one_thread_would():
    sim = talveron.Simulation(seed=7, generations=1500, density=4)
    errors = []

    def guarded(work):
        def run():
            try:
                work()
            except BaseException as error:  # reported below, whatever it is
                errors.append(error)
        return threading.Thread(target=run)

    def step():
        while not sim.done:
            sim.step(3)

    def read():
        last = 0
        while not sim.done:
            census = sim.census()
            adults = sim.adults()
            assert len(census) == 2 and len(adults) > 0
            assert census.generation.iloc[0] >= last
            last = census.generation.iloc[0]
            sim.criteria()
            repr(sim)

    threads = [guarded(step) for _ in range(2)] + [guarded(read) for _ in range(3)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors, errors
    assert sim.generation == 1500

    s = talveron.run_series(seed=7, replicates=1, generations=1500, trace=True, density=4,
                            progress=False)
    assert np.array_equal(sim.census().drop(columns="habitat").to_numpy(),
                          s.trace.tail(2).drop(columns="habitat").to_numpy())


def test_series_run_from_several_threads_at_once_are_those_run_one_by_one():
    results = {}

    def run(seed):
        results[seed] = talveron.run_series(seed=seed, replicates=2, generations=200, jobs=1,
                                            progress=False).data_file

    threads = [threading.Thread(target=run, args=(seed,)) for seed in range(3)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for seed in range(3):
        alone = talveron.run_series(seed=seed, replicates=2, generations=200, progress=False)
        assert results[seed] == alone.data_file
