import array

import numpy as np
import pytest

from conftest import ARITY, WORKED_DAM, WORKED_SIRE, Call, float64, int32


def raw(values, dtype):
    return bytearray(np.array(values, dtype=dtype).tobytes())


@pytest.fixture
def bytearray_call(tolm):
    """fcoeff on the worked pedigree with every argument a bytearray, whose
    resizing fails while any view of it is held."""
    return lambda n=7: Call(
        tolm.fcoeff,
        [
            raw(WORKED_SIRE, np.int32),
            raw(WORKED_DAM, np.int32),
            raw([0.0] * 7 + [-1.0], np.float64),
            raw([0.0] * 7, np.float64),
            raw([n], np.int32),
            raw([1], np.int32),
        ],
    )


def assert_no_export_outstanding(arguments):
    for argument in arguments:
        if isinstance(argument, bytearray):
            argument.append(0)
            del argument[-1]


def test_keyword_arguments_are_refused(worked_call):
    call = worked_call()
    names = ["sire", "dam", "inbreeding", "sampling_var", "n_animals", "compute_inbreeding"]
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call.function(**dict(zip(names, call.arguments)))
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call.function(*call.arguments[:5], compute_inbreeding=call.arguments[5])
    assert call.unchanged()


@pytest.mark.parametrize("name, position", [(name, k) for name, arity in ARITY.items() for k in range(arity)])
@pytest.mark.parametrize("value", [None, [7], 7, (7,), "7"], ids=["None", "list", "int", "tuple", "str"])
def test_non_buffers_are_refused(valid_call, name, position, value):
    call = valid_call(name).replaced(position, value)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call()
    assert call.unchanged()


@pytest.mark.parametrize("name", ARITY)
@pytest.mark.parametrize("extra", [-1, 1])
def test_every_function_takes_its_own_number_of_arguments(valid_call, name, extra):
    call = valid_call(name)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call.function(*(call.arguments * 2)[: ARITY[name] + extra])
    assert call.unchanged()


@pytest.mark.parametrize("name", ARITY)
def test_every_call_returns_none(valid_call, name):
    assert valid_call(name)() is None


def test_bytes_and_array_objects_are_accepted_as_inputs(tolm):
    inbreeding = float64([0.0] * 7 + [-1.0])
    sampling_var = np.zeros(7)
    result = tolm.fcoeff(
        int32(WORKED_SIRE).tobytes(),
        array.array("i", WORKED_DAM),
        inbreeding,
        sampling_var,
        memoryview(int32([7])),
        bytes(int32([1])),
    )
    assert result is None
    assert inbreeding.tolist() == [0.0, 0.0, 0.0, 0.0, 0.25, 0.25, 0.625, -1.0]


def test_one_object_in_several_positions(tolm):
    # One array serves as n_animals and as compute_inbreeding; one as sire and dam.
    one = int32([1])
    parents = int32([1])
    inbreeding = float64([5.0, -1.0])
    sampling_var = float64([5.0])
    tolm.fcoeff(parents, parents, inbreeding, sampling_var, one, one)
    assert inbreeding.tolist() == [0.0, -1.0]
    assert sampling_var.tolist() == [1.0]


def test_views_are_released_after_success(bytearray_call):
    call = bytearray_call()
    assert call() is None
    assert np.frombuffer(call.arguments[2], np.float64)[6] == 0.625
    assert_no_export_outstanding(call.arguments)


def test_views_are_released_after_kernel_failure(bytearray_call):
    call = bytearray_call(n=-1)
    with pytest.raises(MemoryError):
        call()
    assert call.unchanged()
    assert_no_export_outstanding(call.arguments)


def test_views_are_released_after_a_refused_check(bytearray_call):
    call = bytearray_call()
    call = call.replaced(3, call.arguments[3][:-8])  # sampling_var one element short
    with pytest.raises(ValueError, match="sampling_var"):
        call()
    assert call.unchanged()
    assert_no_export_outstanding(call.arguments)


@pytest.mark.parametrize("position", range(6))
def test_views_are_released_when_an_exporter_refuses(bytearray_call, position):
    released = memoryview(bytes(8))
    released.release()
    call = bytearray_call().replaced(position, released)
    with pytest.raises(ValueError, match="released memoryview"):
        call()
    assert_no_export_outstanding(call.arguments)


def read_only_array(values):
    values = float64(values)
    values.flags.writeable = False
    return values


@pytest.mark.parametrize("position", [2, 3])
@pytest.mark.parametrize(
    "make, error, message",
    [
        (lambda values: float64(values).tobytes(), BufferError, "not writable"),
        (read_only_array, ValueError, "read-only"),
    ],
    ids=["bytes", "read_only_numpy"],
)
def test_read_only_objects_where_results_go_are_refused_by_their_exporter(worked_call, position, make, error, message):
    call = worked_call()
    call = call.replaced(position, make(call.arguments[position]))
    with pytest.raises(error, match=message):
        call()
    assert call.unchanged()


@pytest.mark.parametrize("n", [-1, -(2**31), 2**30, 2**31 - 1], ids=str)
def test_refused_animal_counts_raise_memory_error(worked_call, n):
    call = worked_call().replaced(4, int32([n]))
    with pytest.raises(MemoryError):
        call()
    assert call.unchanged()


def test_largest_examined_animal_count_needs_its_arrays(worked_call):
    call = worked_call().replaced(4, int32([2**30 - 1]))
    with pytest.raises(ValueError, match=r"argument 0 \(sire\) needs at least 1073741823 int32 elements"):
        call()
    assert call.unchanged()
