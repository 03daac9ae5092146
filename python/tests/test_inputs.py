"""Bad input is refused before anything runs, in the batch command's words;
every public name says with an example how it is used."""

import inspect

import pytest

import talveron


@pytest.mark.parametrize("call, message", [
    (lambda: talveron.run_series(replicates=0), "replicates=0: allowed is a whole number from 1 to 1000000000"),
    (lambda: talveron.run_series(seed=-1), "seed=-1: allowed is a whole number from 0 to 18446744073709551615"),
    (lambda: talveron.run_series(record="timing"),
     "record='timing': allowed are timed, total, preference, specialization, mating or none"),
    (lambda: talveron.run_series(jobs=2000), "jobs=2000: allowed is a whole number from 1 to 1024"),
    (lambda: talveron.run_series(density=9),
     "'9' is not allowed for density: it takes a whole number from 1 to 8"),
    (lambda: talveron.run_series(selectionFactor=1.5),
     "'1.5' is not allowed for selectionFactor: it takes a decimal from 0 to 1"),
    (lambda: talveron.run_series(initiallyOneHabitat=2),
     "'2' is not allowed for initiallyOneHabitat: it takes 0, 1, true or false"),
    (lambda: talveron.Simulation(generations=0), "generations=0: allowed is a whole number from 1"),
    (lambda: talveron.run_series(replicates=2.5), "replicates=2.5: allowed is a whole number from 1 to 1000000000"),
    (lambda: talveron.run_series(density=2.5),
     "'2.5' is not allowed for density: it takes a whole number from 1 to 8"),
])
def test_bad_values_raise_value_error_naming_value_and_what_is_allowed(call, message):
    with pytest.raises(ValueError) as refused:
        call()
    assert message in str(refused.value)


@pytest.mark.parametrize("call, message", [
    (lambda: talveron.run_series(densty=4), "unexpected keyword argument 'densty' (did you mean 'density'?)"),
    (lambda: talveron.Simulation(colour=1), "unexpected keyword argument 'colour'"),
    (lambda: talveron.run_series(replicates="2"), "replicates must be a whole number, not str"),
    (lambda: talveron.run_series(density="4"), "density takes a whole number, not str"),
    (lambda: talveron.run_series(selectionFactor="0.5"), "selectionFactor takes a decimal number, not str"),
    (lambda: talveron.run_series(trace="yes"), "trace must be True or False, not str"),
    (lambda: talveron.run_series(record=1), "record must be a string"),
    (lambda: talveron.run_series(2026), "positional"),
])
def test_unknown_keywords_and_wrong_types_raise_type_error(call, message):
    with pytest.raises(TypeError) as refused:
        call()
    assert message in str(refused.value)


def test_every_public_name_has_a_docstring_with_an_example():
    for name in talveron.__all__:
        item = getattr(talveron, name)
        if name in ("__version__", "ADULT_DTYPE"):
            continue
        assert ">>>" in (inspect.getdoc(item) or ""), name
        for member_name, member in inspect.getmembers(item):
            if not member_name.startswith("_") and (inspect.isfunction(member) or isinstance(member, property)):
                assert inspect.getdoc(member), f"{name}.{member_name}"
    parameters = talveron.parameters()
    assert list(parameters.columns) == ["name", "default", "minimum", "maximum", "kind", "meaning"]
    assert parameters.set_index("name").loc["density"].tolist()[:4] == [1.0, 1.0, 8.0, "integer"]
