import numpy as np
import pytest

import oracle
from conftest import FIVE_COL, FIVE_ROWSTART, FIVE_VAL, MISSING, Call, bits, float64, int32
from pedigrees import PATTERNS, lower_csr, random_dominance_case, relationship_matrix


def outputs(call):
    d_val, d_col, d_rowstart, d_count = call.arguments[6:]
    return bits(d_val), d_col.tolist(), d_rowstart.tolist(), d_count.tolist()


@pytest.mark.parametrize("d_count", [0, 10])
def test_worked_example(cald_call, d_count):
    call = cald_call(d_count=d_count, capacity=d_count + 4)
    call()
    d_val, d_col, d_rowstart, count = call.arguments[6:]
    assert d_val.tolist() == [-7.0] * d_count + [1.0, 0.5, 0.5, -7.0]
    assert d_col.tolist() == [-7] * d_count + [2, 2, 3, -7]
    assert d_rowstart.tolist() == [d_count] * 4 + [d_count + 1, -7]
    assert count.tolist() == [d_count + 3]


@pytest.mark.parametrize("n", [0, -1])
def test_no_animals_writes_nothing(cald_call, n):
    call = cald_call(d_count=2).replaced(5, int32([n]))
    call()
    assert call.unchanged()


@pytest.mark.parametrize("pattern", PATTERNS)
def test_random_matrices_match_the_oracle_bit_for_bit(cald_call, pattern):
    for seed in range(60):
        rng = np.random.default_rng([seed, len(pattern)])
        sire, dam, a_col, a_rowstart, a_val = random_dominance_case(rng, pattern)
        d_count = int(rng.integers(0, 4))
        call = cald_call(sire, dam, a_col, a_rowstart, a_val, d_count=d_count, capacity=d_count + len(a_col) + 2)
        call()
        n = len(sire)
        d_val, d_col = [-7.0] * len(call.arguments[6]), [-7] * len(call.arguments[6])
        d_rowstart, count = [-7] * (n + 1), [d_count]
        oracle.cald(sire, dam, a_col, a_rowstart, a_val, n, d_val, d_col, d_rowstart, count)
        assert outputs(call) == (bits(d_val), d_col, d_rowstart, count), f"seed {seed}"


def test_kinship_elements_are_the_dominance_relationships(cald_call):
    # Animal 4 is the offspring of full sibs 2 and 3; 5 and 6 are full sibs by 4.
    sire = [MISSING, MISSING, 0, 0, 2, 4, 4]
    dam = [MISSING, MISSING, 1, 1, 3, 1, 1]
    a = relationship_matrix(sire, dam, MISSING)
    a_col, a_rowstart, a_val = lower_csr(a, np.tril(a != 0))
    call = cald_call(sire, dam, a_col, a_rowstart, a_val)
    call()
    d_val, d_col, d_rowstart, count = call.arguments[6:]
    found = {}
    for i in range(7):
        end = d_rowstart[i + 1] if i < 6 else count[0]
        for k in range(d_rowstart[i], end):
            found[i, d_col[k]] = d_val[k]
    assert found[3, 2] == 1.0
    assert found[6, 5] == a[4, 4] * a[1, 1] + a[4, 1] * a[1, 4]


CASES = {
    "int64_columns": (
        2,
        np.array(FIVE_COL),
        TypeError,
        "cald(): argument 2 (a_col) must hold int32, got int64 (format 'l')",
    ),
    "float32_values": (
        4,
        np.array(FIVE_VAL, dtype=np.float32),
        TypeError,
        "cald(): argument 4 (a_val) must hold float64, got float32 (format 'f')",
    ),
    "strided_values": (
        4,
        np.repeat(float64(FIVE_VAL), 2)[::2],
        ValueError,
        "cald(): argument 4 (a_val) must be C-contiguous",
    ),
    "short_dam": (
        1,
        int32([MISSING] * 4),
        ValueError,
        "cald(): argument 1 (dam) needs at least 5 int32 elements, got 4",
    ),
    "short_rowstart": (
        3,
        int32(FIVE_ROWSTART[:5]),
        ValueError,
        "cald(): argument 3 (a_rowstart) needs at least 6 int32 elements, got 5",
    ),
    "parent_not_an_animal": (
        0,
        int32([MISSING, MISSING, 0, 5, 2]),
        ValueError,
        "cald(): sire[3] = 5 must be -999 (missing) or an animal number below 5",
    ),
    "missing_coded_as_n": (
        1,
        int32([5, MISSING, 1, 1, 3]),
        ValueError,
        "cald(): dam[0] = 5 must be -999 (missing) or an animal number below 5",
    ),
    "rowstart_decreasing": (
        3,
        int32([0, 1, 2, 5, 4, 14]),
        ValueError,
        "cald(): a_rowstart[4] = 4 must not be below a_rowstart[3] = 5",
    ),
    "rowstart_past_columns": (
        3,
        int32([0, 1, 2, 5, 9, 15]),
        ValueError,
        "cald(): a_rowstart[5] = 15 must not exceed the 14 elements of a_col",
    ),
    "column_not_an_animal": (
        2,
        int32(FIVE_COL[:9] + [-999] + FIVE_COL[10:]),
        ValueError,
        "cald(): a_col[9] = -999 must be an animal number below 5",
    ),
    "negative_count": (9, int32([-1]), ValueError, "cald(): d_count[0] = -1 must not be negative"),
    "count_overflows": (
        9,
        int32([2**31 - 3]),
        ValueError,
        "cald(): d_count[0] = 2147483645 plus 3 candidate elements does not stay below 2^31",
    ),
    "count_ends_at_the_largest_int32": (
        9,
        int32([2**31 - 4]),
        ValueError,
        "cald(): argument 6 (d_val) needs at least 2147483647 float64 elements, got 14",
    ),
    "values_too_short_for_the_candidates": (
        6,
        np.zeros(2),
        ValueError,
        "cald(): argument 6 (d_val) needs at least 3 float64 elements, got 2",
    ),
    "columns_too_short_for_the_candidates": (
        7,
        np.zeros(2, dtype=np.int32),
        ValueError,
        "cald(): argument 7 (d_col) needs at least 3 int32 elements, got 2",
    ),
    "short_output_rowstart": (
        8,
        np.zeros(4, dtype=np.int32),
        ValueError,
        "cald(): argument 8 (d_rowstart) needs at least 5 int32 elements, got 4",
    ),
}


@pytest.mark.parametrize("position, replacement, error, message", CASES.values(), ids=CASES)
def test_refused_arguments_raise_and_write_nothing(cald_call, position, replacement, error, message):
    cald_call().replaced(position, replacement).assert_refused(error, message)


def test_read_only_output_is_refused_by_its_exporter(cald_call):
    call = cald_call()
    with pytest.raises(BufferError):
        call.replaced(9, bytes(call.arguments[9]))()
    assert call.unchanged()


def test_outputs_must_not_share_memory(cald_call):
    memory = np.zeros(16, dtype=np.int32)
    call = cald_call()
    arguments = list(call.arguments)
    arguments[7], arguments[8] = memory[:14], memory[10:]
    Call(call.function, arguments, watch=[memory]).assert_refused(
        ValueError, "cald(): argument 7 (d_col) is written and must not share memory with argument 8 (d_rowstart)"
    )


def test_output_sharing_memory_with_an_input_is_refused(cald_call):
    call = cald_call()
    values = call.arguments[4]
    call.replaced(6, values).assert_refused(
        ValueError, "cald(): argument 6 (d_val) is written and must not share memory with argument 4 (a_val)"
    )


def test_capacity_counts_only_candidates(cald_call):
    # The worked example stores three elements, from three candidates.
    call = cald_call(capacity=3)
    call()
    assert call.arguments[9].tolist() == [3]
