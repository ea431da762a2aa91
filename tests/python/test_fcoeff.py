import numpy as np
import pytest

import oracle
from conftest import WORKED_DAM, WORKED_SIRE, Call, bits, float64, int32
from pedigrees import KINDS, chain, random_pedigree

WORKED_F = [0.0, 0.0, 0.0, 0.0, 0.25, 0.25, 0.625, -1.0]
WORKED_VAR = [1.0, 1.0, 0.5, 0.5, 0.5, 0.4375, 0.375]


def test_worked_pedigree(worked_call):
    call = worked_call()
    call()
    inbreeding, sampling_var = call.arguments[2], call.arguments[3]
    assert inbreeding.tolist() == WORKED_F
    assert sampling_var.tolist() == WORKED_VAR


@pytest.mark.parametrize("mode", [0, 2, -1])
def test_other_modes_compute_variances_from_the_supplied_coefficients(worked_call, mode):
    call = worked_call(mode)
    call()
    assert call.arguments[2].tolist() == [0.0] * 7 + [-1.0]
    assert call.arguments[3].tolist() == [1.0, 1.0, 0.5, 0.5, 0.5, 0.5, 0.5]


def test_content_on_entry_has_no_effect_in_mode_1(fcoeff_call):
    for sentinel in [np.nan, -3.0, 1e300]:
        call = fcoeff_call(WORKED_SIRE, WORKED_DAM, sentinel=sentinel)
        call()
        assert bits(call.arguments[2]) == bits(WORKED_F)
        assert bits(call.arguments[3]) == bits(WORKED_VAR)


@pytest.mark.parametrize(
    "sire, dam, inbreeding, sampling_var",
    [
        ([1], [1], [0.0, -1.0], [1.0]),
        ([5, 5, 0, 2, 2], [5, 5, 1, 5, 5], [0.0] * 5 + [-1.0], [1.0, 1.0, 0.5, 0.75, 0.75]),
        ([3, 0, 1], [3, 0, 1], [0.0, 0.5, 0.75, -1.0], [1.0, 0.5, 0.25]),
    ],
    ids=["single_founder", "one_unknown_parent", "selfing_twice"],
)
def test_small_pedigrees(fcoeff_call, sire, dam, inbreeding, sampling_var):
    call = fcoeff_call(sire, dam)
    call()
    assert call.arguments[2].tolist() == inbreeding
    assert call.arguments[3].tolist() == sampling_var


def test_no_animals_writes_nothing(tolm):
    inbreeding, sampling_var = float64([3.0, -1.0]), float64([4.0])
    tolm.fcoeff(int32([0]), int32([0]), inbreeding, sampling_var, int32([0]), int32([1]))
    assert inbreeding.tolist() == [3.0, -1.0]
    assert sampling_var.tolist() == [4.0]


def run_both(tolm, sire, dam, mode, inbreeding):
    """The module's and the oracle's results, as bits."""
    n = len(sire)
    module_f, module_var = float64(inbreeding), np.full(n, 7.5)
    tolm.fcoeff(int32(sire), int32(dam), module_f, module_var, int32([n]), int32([mode]))
    oracle_f, oracle_var = list(inbreeding), [7.5] * n
    oracle.fcoeff(sire, dam, oracle_f, oracle_var, n, mode)
    return (bits(module_f), bits(module_var)), (bits(oracle_f), bits(oracle_var))


@pytest.mark.parametrize("kind", KINDS)
def test_random_pedigrees_match_the_oracle_bit_for_bit(tolm, kind):
    options, largest = KINDS[kind]
    for seed in range(40):
        rng = np.random.default_rng([seed, len(kind)])
        n = int(rng.integers(1, largest + 1))
        sire, dam = random_pedigree(rng, n, **options)
        module, expected = run_both(tolm, sire, dam, 1, [0.0] * n + [-1.0])
        assert module == expected, f"seed {seed}: sire={sire} dam={dam}"


@pytest.mark.parametrize("seed", range(20))
def test_variances_only_match_the_oracle_for_any_codes_and_coefficients(tolm, seed):
    # Without the ancestor pass the parents need not come before their offspring.
    rng = np.random.default_rng(seed)
    n = int(rng.integers(1, 50))
    sire = rng.integers(0, n + 1, n).tolist()
    dam = rng.integers(0, n + 1, n).tolist()
    inbreeding = (rng.random(n + 1) * rng.choice([1.0, 1e-300, 1e300])).tolist()
    mode = int(rng.choice([0, 2, -1, 1 << 30]))
    module, expected = run_both(tolm, sire, dam, mode, inbreeding)
    assert module == expected


def test_deep_chain_matches_the_oracle(tolm):
    sire, dam = chain(250)
    module, expected = run_both(tolm, sire, dam, 1, [0.0] * 250 + [-1.0])
    assert module == expected


def test_unknown_parent_coefficient_is_used_as_given(tolm):
    sire, dam = random_pedigree(np.random.default_rng(5), 30, unknown=0.3)
    module, expected = run_both(tolm, sire, dam, 1, [0.0] * 30 + [-0.5])
    assert module == expected


# Each case turns the worked call into one that breaks the contract:
# (id, position, replacement, error, message).
def _shift(values, dtype):
    storage = np.zeros(len(values) * np.dtype(dtype).itemsize + 1, dtype=np.uint8)
    view = storage[1:].view(dtype)
    view[:] = values
    return view


REFUSED = [
    (
        "int64_sire",
        0,
        np.array(WORKED_SIRE),
        TypeError,
        "fcoeff(): argument 0 (sire) must hold int32, got int64 (format 'l')",
    ),
    (
        "uint32_dam",
        1,
        np.array(WORKED_DAM, dtype=np.uint32),
        TypeError,
        "fcoeff(): argument 1 (dam) must hold int32, got uint32 (format 'I')",
    ),
    (
        "big_endian_dam",
        1,
        np.array(WORKED_DAM, dtype=">i4"),
        TypeError,
        "fcoeff(): argument 1 (dam) must hold int32, got big-endian int32 (format '>i')",
    ),
    (
        "float32_inbreeding",
        2,
        np.zeros(8, dtype=np.float32),
        TypeError,
        "fcoeff(): argument 2 (inbreeding) must hold float64, got float32 (format 'f')",
    ),
    (
        "int32_sampling_var",
        3,
        np.zeros(7, dtype=np.int32),
        TypeError,
        "fcoeff(): argument 3 (sampling_var) must hold float64, got int32 (format 'i')",
    ),
    (
        "float_count",
        4,
        np.array([7.0]),
        TypeError,
        "fcoeff(): argument 4 (n_animals) must hold int32, got float64 (format 'd')",
    ),
    (
        "bool_mode",
        5,
        np.array([True]),
        TypeError,
        "fcoeff(): argument 5 (compute_inbreeding) must hold int32, got bool (format '?')",
    ),
    (
        "strided_sire",
        0,
        np.repeat(int32(WORKED_SIRE), 2)[::2],
        ValueError,
        "fcoeff(): argument 0 (sire) must be C-contiguous",
    ),
    (
        "fortran_inbreeding",
        2,
        np.asfortranarray(np.zeros((2, 4))),
        ValueError,
        "fcoeff(): argument 2 (inbreeding) must be C-contiguous",
    ),
    (
        "misaligned_sampling_var",
        3,
        _shift([0.0] * 7, np.float64),
        ValueError,
        "fcoeff(): argument 3 (sampling_var) must start at an address aligned to 8 bytes",
    ),
    (
        "short_sire",
        0,
        int32(WORKED_SIRE[:6]),
        ValueError,
        "fcoeff(): argument 0 (sire) needs at least 7 int32 elements, got 6",
    ),
    (
        "short_inbreeding",
        2,
        np.zeros(7),
        ValueError,
        "fcoeff(): argument 2 (inbreeding) needs at least 8 float64 elements, got 7",
    ),
    (
        "short_raw_sampling_var",
        3,
        bytearray(55),
        ValueError,
        "fcoeff(): argument 3 (sampling_var) needs at least 7 float64 elements, got 6",
    ),
    ("empty_count", 4, int32([]), ValueError, "fcoeff(): argument 4 (n_animals) needs at least 1 int32 element, got 0"),
    (
        "parent_above_unknown",
        0,
        int32([7, 7, 0, 0, 9, 4, 4]),
        ValueError,
        "fcoeff(): sire[4] = 9 must be below 4 or equal to 7 (unknown)",
    ),
    (
        "parent_after_offspring",
        1,
        int32([7, 7, 1, 4, 3, 1, 4]),
        ValueError,
        "fcoeff(): dam[3] = 4 must be below 3 or equal to 7 (unknown)",
    ),
    (
        "own_parent",
        0,
        int32([7, 7, 0, 0, 2, 5, 4]),
        ValueError,
        "fcoeff(): sire[5] = 5 must be below 5 or equal to 7 (unknown)",
    ),
    (
        "missing_coded_as_minus_999",
        1,
        int32([-999, 7, 1, 1, 3, 1, 4]),
        ValueError,
        "fcoeff(): dam[0] = -999 must be 7 (unknown): no animal comes before animal 0",
    ),
]


@pytest.mark.parametrize(
    "position, replacement, error, message", [case[1:] for case in REFUSED], ids=[case[0] for case in REFUSED]
)
def test_refused_arguments_raise_and_write_nothing(worked_call, position, replacement, error, message):
    worked_call().replaced(position, replacement).assert_refused(error, message)


def test_variances_only_refuse_codes_outside_the_table(worked_call):
    call = worked_call(0).replaced(0, int32([7, 7, 0, 0, 2, 4, 8]))
    with pytest.raises(ValueError, match=r"^fcoeff\(\): sire\[6\] = 8 must be between 0 and 7 \(7 = unknown\)$"):
        call()
    assert call.unchanged()


OVERLAPS = {
    "inbreeding_and_sampling_var": lambda memory: {2: memory[:8], 3: memory[7:14]},
    "sampling_var_and_sire": lambda memory: {3: memory[:7], 0: memory[3:7].view(np.int32)[:7]},
    "inbreeding_and_count": lambda memory: {2: memory[:8], 4: memory[7:8].view(np.int32)[:1]},
}


@pytest.mark.parametrize("placed", OVERLAPS.values(), ids=OVERLAPS)
def test_written_arguments_must_not_share_memory(worked_call, placed):
    memory = np.zeros(16)
    call = worked_call()
    arguments = list(call.arguments)
    for position, view in placed(memory).items():
        arguments[position] = view
    call = Call(call.function, arguments, watch=[memory])
    with pytest.raises(ValueError, match="is written and must not share memory with argument"):
        call()
    assert call.unchanged()
