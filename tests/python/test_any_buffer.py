"""Any numpy array in any argument position: the call either gives the
results of the valid call or raises one of the module's errors, and then
every array is as it was."""

import numpy as np
from hypothesis import HealthCheck, given, settings, strategies as st

from conftest import ARITY

DTYPES = [np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint32, np.uint64, np.float32, np.float64, ">i4", ">f8"]
LAYOUTS = ["contiguous", "strided", "reversed", "fortran_2d", "c_2d", "empty", "read_only", "shorter", "longer"]
REFUSALS = (TypeError, ValueError, BufferError, MemoryError)


def rebuilt(original, dtype, layout):
    """The values of `original` in another dtype and memory layout."""
    values = original.astype(dtype)
    if layout == "strided":
        spread = np.zeros(2 * len(values), dtype)
        spread[::2] = values
        return spread[::2]
    if layout == "reversed":
        return values[::-1].copy()[::-1]
    if layout in ("fortran_2d", "c_2d") and len(values) % 2 == 0 and len(values) > 0:
        square = values.reshape(2, -1)
        return np.asfortranarray(square) if layout == "fortran_2d" else square
    if layout == "empty":
        return values[:0]
    if layout == "read_only":
        values.flags.writeable = False
    if layout == "shorter":
        return values[:-1]
    if layout == "longer":
        return np.concatenate([values, values[:1]])
    return values


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(
    name=st.sampled_from(sorted(ARITY)),
    position=st.integers(0, 9),
    dtype=st.sampled_from(DTYPES),
    layout=st.sampled_from(LAYOUTS),
)
def test_any_array_in_any_position(valid_call, name, position, dtype, layout):
    position %= ARITY[name]
    expected = valid_call(name)
    expected()
    call = valid_call(name)
    replacement = rebuilt(call.arguments[position], np.dtype(dtype), layout)
    call = call.replaced(position, replacement)
    try:
        call()
    except REFUSALS:
        assert call.unchanged()
        return
    # What an accepted call wrote is what the valid call wrote. A byte buffer
    # taken as raw memory held other sentinels, so only its neighbours compare.
    for k, (got, wanted) in enumerate(zip(call.arguments, expected.arguments)):
        if k != position:
            assert got.tobytes() == wanted.tobytes()
        elif got.dtype == wanted.dtype:
            common = min(got.nbytes, wanted.nbytes)  # maybe with room to spare
            assert got.tobytes()[:common] == wanted.tobytes()[:common]
