import numpy as np
import pytest

from tolmkit import simulate_pedigree


@pytest.mark.parametrize("unknown", [None, -999], ids=["code_n", "code_minus_999"])
def test_parents_come_first_and_unknowns_use_the_code(unknown):
    sire, dam = simulate_pedigree(5_000, 10, sires_per_generation=20, unknown=unknown, seed=3)
    code = 5_000 if unknown is None else unknown
    assert sire.dtype == dam.dtype == np.int32
    animal = np.arange(5_000)
    for parents in (sire, dam):
        known = parents != code
        assert np.all(parents[known] < animal[known])
    founders = (sire == code) & (dam == code)
    assert founders[: 5_000 // 11].all()
    assert len(np.unique(sire[sire != code])) <= 10 * 20
    assert 0.0 < np.mean(dam[5_000 // 11 :] == code) < 0.1


def test_the_seed_fixes_the_pedigree():
    first = simulate_pedigree(2_000, 5, seed=11)
    assert all(np.array_equal(a, b) for a, b in zip(first, simulate_pedigree(2_000, 5, seed=11)))
    assert not np.array_equal(first[0], simulate_pedigree(2_000, 5, seed=12)[0])


@pytest.mark.parametrize(
    "arguments, named",
    [
        (dict(animals=0, generations=3), "animals"),
        (dict(animals=10, generations=-1), "generations"),
        (dict(animals=10, generations=20), "animals"),
        (dict(animals=10, generations=2, sires_per_generation=0), "sires_per_generation"),
        (dict(animals=10, generations=2, unknown_dams=1.5), "unknown_dams"),
        (dict(animals=10.0, generations=2), "animals"),
        (dict(animals=10, generations=2, unknown=5), "unknown"),
        (dict(animals=10, generations=2, unknown=2**31), "unknown"),
        (dict(animals=10, generations=2, seed=-1), "seed"),
    ],
    ids=[
        "no_animals",
        "negative_generations",
        "fewer_animals_than_cohorts",
        "no_sires",
        "share_above_one",
        "animals_float",
        "code_an_animal",
        "code_beyond_int32",
        "negative_seed",
    ],
)
def test_refuses_impossible_settings(arguments, named):
    with pytest.raises(ValueError, match=f"^{named} must"):
        simulate_pedigree(**arguments)
