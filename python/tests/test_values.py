"""What Python and R users pass: numpy numbers, ranges and arrays, numpy
booleans and whole-valued decimals are taken as the numbers they are;
every value the batch command takes passes, and a study's bad value is
named by its key."""

import numpy as np
import pytest

import talveron


def test_numpy_values_and_whole_decimals_give_the_series_of_plain_numbers():
    plain = talveron.run_series(seed=5, replicates=2, generations=100, density=4,
                                selectionFactor=0.1, initiallyOneHabitat=False,
                                restrictedNatalDispersal=True, progress=False)
    numpy = talveron.run_series(seed=np.uint64(5), replicates=np.int32(2), generations=100.0,
                                density=np.float64(4.0), selectionFactor=np.float32(0.1),
                                initiallyOneHabitat=np.bool_(False),
                                restrictedNatalDispersal=1.0, jobs=np.int8(2), progress=False)
    assert numpy.data_file == plain.data_file
    assert numpy.parameters["density"] == 4 and numpy.parameters["initiallyOneHabitat"] is False


def test_study_of_ranges_arrays_and_a_seed_past_2_63_is_the_batch_commands(tmp_path, batch):
    seed = 2 ** 63 + 5
    given = {"seed": seed, "replicates": 2, "generations": 60,
             "vary": {"density": range(1, 3), "selectionFactor": np.linspace(0.2, 0.8, 2),
                      "initiallyOneHabitat": [np.bool_(True), False]}}
    st = talveron.run_study(given, tmp_path / "python", progress=False)
    assert [c.seed for c in st.cells] == [seed + 2 * k for k in range(8)]
    (tmp_path / "study.toml").write_text(
        f'seed = "{seed}"\nreplicates = 2\ngenerations = 60\n[vary]\ndensity = [1, 2]\n'
        'selectionFactor = [0.2, 0.8]\ninitiallyOneHabitat = [true, false]\n')
    batch("--study", tmp_path / "study.toml", "--out-dir", tmp_path / "batch")
    for name in ["summary.tsv"] + [f"cell-{n}.txt" for n in range(1, 9)]:
        assert (tmp_path / "python" / name).read_bytes() == \
            (tmp_path / "batch" / name).read_bytes(), name


@pytest.mark.parametrize("settings, message", [
    ({"seed": 2 ** 64}, "settings['seed']=18446744073709551616: allowed is a whole number from 0 "
                        "to 18446744073709551615"),
    ({"replicates": 0}, "settings['replicates']=0: allowed is a whole number from 1 to 1000000000"),
    ({"generations": 2.5}, "settings['generations']=2.5: allowed is a whole number"),
    ({"record": "timing"}, "settings['record']='timing': allowed are"),
    ({"colour": 1}, "settings['colour']: unknown setting"),
    ({"set": {"densty": 2}}, "settings['set']['densty']: unknown parameter (did you mean 'density'?)"),
    ({"set": {"density": 9}}, "settings['set']['density']: '9' is not allowed for density"),
    ({"vary": {"density": [1, 2.5]}}, "settings['vary']['density']: '2.5' is not allowed for density"),
    ({"vary": {"density": []}}, "settings['vary']['density']: density in [vary] has an empty list"),
])
def test_a_studys_bad_value_is_named_by_its_key(tmp_path, settings, message):
    given = {"replicates": 1, "generations": 10, "vary": {"selectionFactor": [0.5]}}
    for key, value in settings.items():
        if isinstance(value, dict):
            given.setdefault(key, {}).update(value)
            if key == "vary":
                given["vary"].pop("selectionFactor")
        else:
            given[key] = value
    with pytest.raises(ValueError) as refused:
        talveron.run_study(given, tmp_path / "study", progress=False)
    assert message in str(refused.value)
    assert not (tmp_path / "study").exists()


@pytest.mark.parametrize("settings, message", [
    ({"seed": "7"}, "settings['seed'] must be a whole number, not str"),
    ({"vary": {"density": "12"}}, "settings['vary']['density'] takes a list of values, not str"),
    ({"vary": {"density": [1, "2"]}}, "settings['vary']['density'][1] takes a whole number, not str"),
])
def test_a_studys_value_of_the_wrong_type_is_named_by_its_key(tmp_path, settings, message):
    with pytest.raises(TypeError) as refused:
        talveron.run_study({"vary": {"selectionFactor": [0.5]}, **settings}, tmp_path / "s")
    assert message in str(refused.value)
