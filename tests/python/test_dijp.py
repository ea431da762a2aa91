import numpy as np
import pytest

import oracle
from conftest import FIVE_DAM, FIVE_ROWSTART, FIVE_SIRE, FIVE_VAL, MISSING, bits, int32
from pedigrees import PATTERNS, random_dominance_case


def test_worked_example(dijp_call):
    call = dijp_call()
    call()
    assert call.arguments[8].tolist() == [1.0, 0.5, 9.0, 1.0, 9.0, 0.5, 9.0]


@pytest.mark.parametrize("n_pairs", [0, -1])
def test_no_pairs_writes_nothing(dijp_call, n_pairs):
    call = dijp_call().replaced(2, int32([n_pairs]))
    call()
    assert call.unchanged()


def test_nan_is_written_and_zero_is_not(dijp_call):
    nan_call = dijp_call(a_val=[np.nan] + FIVE_VAL[1:])
    nan_call()
    assert np.isnan(nan_call.arguments[8][[0, 3]]).all()
    zero_call = dijp_call(a_val=[0.0] + FIVE_VAL[1:])
    zero_call()
    assert zero_call.arguments[8][0] == 9.0


@pytest.mark.parametrize("pattern", PATTERNS)
def test_random_pairs_match_the_oracle_bit_for_bit(dijp_call, pattern):
    for seed in range(60):
        rng = np.random.default_rng([seed, len(pattern), 7])
        sire, dam, a_col, a_rowstart, a_val = random_dominance_case(rng, pattern)
        n = len(sire)
        pairs = [tuple(int(v) for v in rng.integers(0, n, 2)) for _ in range(int(rng.integers(1, 30)))]
        pairs += [(y, x) for x, y in pairs[:3]] + pairs[:2]  # swapped and repeated
        call = dijp_call(pairs, sire, dam, a_col, a_rowstart, a_val, sentinel=-3.5)
        call()
        expected = [-3.5] * len(pairs)
        oracle.dijp(
            sire, dam, len(pairs), [x for x, _ in pairs], [y for _, y in pairs], a_col, a_rowstart, a_val, expected
        )
        assert bits(call.arguments[8]) == bits(expected), f"seed {seed}"


def test_either_order_of_a_pair_gives_the_same_value(dijp_call):
    rng = np.random.default_rng(11)
    sire, dam, a_col, a_rowstart, a_val = random_dominance_case(rng, "kinship")
    n = len(sire)
    pairs = [(x, y) for x in range(n) for y in range(n)]
    call = dijp_call(pairs, sire, dam, a_col, a_rowstart, a_val)
    call()
    d = call.arguments[8].reshape(n, n)
    assert bits(d) == bits(d.T)


CASES = {
    "int64_pairs": (
        3,
        np.array([3, 4, 4, 2, 0, 4, 1]),
        TypeError,
        "dijp(): argument 3 (pair_i) must hold int32, got int64 (format 'l')",
    ),
    "count_beyond_pairs": (
        2,
        int32([8]),
        ValueError,
        "dijp(): argument 3 (pair_i) needs at least 8 int32 elements, got 7",
    ),
    "short_output": (
        8,
        np.zeros(6),
        ValueError,
        "dijp(): argument 8 (d_pair) needs at least 7 float64 elements, got 6",
    ),
    "short_dam": (
        1,
        int32(FIVE_DAM[:4]),
        ValueError,
        "dijp(): argument 1 (dam) needs at least 5 int32 elements, got 4",
    ),
    "pair_not_an_animal": (
        4,
        int32([2, 2, 4, 3, 5, 3, 0]),
        ValueError,
        "dijp(): pair_j[4] = 5 must be an animal number below 5 (the length of sire)",
    ),
    "negative_pair": (
        3,
        int32([3, 4, 4, 2, 0, -1, 1]),
        ValueError,
        "dijp(): pair_i[5] = -1 must be an animal number below 5 (the length of sire)",
    ),
    "parent_not_a_row": (
        0,
        int32([MISSING, MISSING, 0, 0, 6]),
        ValueError,
        "dijp(): sire[4] = 6 must be -999 (missing) or a row of the relationship matrix, below 5",
    ),
    "row_read_past_columns": (
        6,
        int32([0, 1, 2, 5, 15, 15]),
        ValueError,
        "dijp(): a_rowstart[4] = 15 must not exceed the 14 elements of a_col",
    ),
    "row_read_backwards": (
        6,
        int32([0, 1, 2, 1, 9, 14]),
        ValueError,
        "dijp(): a_rowstart[3] = 1 must not be below a_rowstart[2] = 2",
    ),
}


@pytest.mark.parametrize("position, replacement, error, message", CASES.values(), ids=CASES)
def test_refused_arguments_raise_and_write_nothing(dijp_call, position, replacement, error, message):
    dijp_call().replaced(position, replacement).assert_refused(error, message)


def test_output_sharing_memory_with_an_input_is_refused(dijp_call):
    call = dijp_call()
    call = call.replaced(8, call.arguments[7][:7])
    with pytest.raises(
        ValueError, match=r"argument 8 \(d_pair\) is written and must not share memory with argument 7 \(a_val\)"
    ):
        call()
    assert call.unchanged()


def test_rows_that_no_lookup_reads_are_not_examined(dijp_call):
    # Row 4 points far past the arrays, but pairs (3, 2) and (4, 2) read rows 0 to 3 only.
    call = dijp_call([(3, 2), (4, 2), (4, 4), (0, 4)], a_rowstart=FIVE_ROWSTART[:5] + [10**9])
    call()
    assert call.arguments[8].tolist() == [1.0, 0.5, 9.0, 9.0]


def test_unpaired_animals_are_not_examined(dijp_call):
    call = dijp_call([(3, 2)], sire=FIVE_SIRE[:4] + [10**6])
    call()
    assert call.arguments[8].tolist() == [1.0]
