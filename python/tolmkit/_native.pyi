import numpy as np
from numpy.typing import NDArray

MISSING_PARENT: int
SMALL_LETTER: int
CAPITAL_LETTER: int
BEYOND_ASCII: int

def match_identifiers(
    laid_out: list[tuple[NDArray[np.int32], NDArray[np.uint8]]], n: int, threads: int = 1
) -> tuple[NDArray[np.int32], NDArray[np.int64], NDArray[np.int32], NDArray[np.int64]]: ...
def generations(sire: NDArray[np.int64], dam: NDArray[np.int64]) -> tuple[NDArray[np.int64], NDArray[np.int64]]: ...
def inbreeding(
    sire: NDArray[np.int32], dam: NDArray[np.int32], order: NDArray[np.int64], bounds: NDArray[np.int64], threads: int
) -> tuple[NDArray[np.float64], NDArray[np.float64]]: ...
def parent_fault(
    sire: NDArray[np.int32], dam: NDArray[np.int32], sex: NDArray[np.int8] | None = None, selfing: bool = False
) -> tuple[str, int]: ...
def text_marks(text: NDArray[np.uint8], wanted: bytes, threads: int = 1) -> tuple[int, int, int, int, int, bytes]: ...
def letter_cases(text: NDArray[np.uint8]) -> int: ...
def first_other_width(text: NDArray[np.uint8], separator: str, fields: int) -> tuple[int, int]: ...
def whole_numbers(
    laid_out: list[tuple[NDArray[np.int32], NDArray[np.uint8]]],
) -> tuple[NDArray[np.int64], NDArray[np.bool_], int]: ...
def write_lines(
    columns: list[NDArray[np.float64] | NDArray[np.int64] | tuple[NDArray[np.int64], NDArray[np.uint8]]],
    separator: str,
    threads: int,
) -> bytearray | None: ...
def format_texts(objects: NDArray[np.object_], missing: object) -> tuple[NDArray[np.int64], bytes] | None: ...
def oldest_ancestors(
    sire: NDArray[np.int32],
    dam: NDArray[np.int32],
    sampling_var: NDArray[np.float64],
    members: NDArray[np.int32],
    position: NDArray[np.int32],
) -> NDArray[np.int32]: ...
def metafounder_inbreeding(
    sire: NDArray[np.int32],
    dam: NDArray[np.int32],
    sire_group: NDArray[np.int32],
    dam_group: NDArray[np.int32],
    gamma: NDArray[np.float64],
) -> tuple[NDArray[np.float64], NDArray[np.float64], int]: ...
def count_relationships(
    sire: NDArray[np.int32],
    dam: NDArray[np.int32],
    sampling_var: NDArray[np.float64],
    members: NDArray[np.int32],
    position: NDArray[np.int32],
    oldest: NDArray[np.int32],
    lower: bool,
    max_elements: int,
) -> tuple[NDArray[np.int32], int, int]: ...
def fill_relationships(
    sire: NDArray[np.int32],
    dam: NDArray[np.int32],
    sampling_var: NDArray[np.float64],
    members: NDArray[np.int32],
    position: NDArray[np.int32],
    oldest: NDArray[np.int32],
    scale: float,
    indptr: NDArray[np.int32],
    lower: bool,
) -> tuple[NDArray[np.int32], NDArray[np.float64]]: ...
def with_diagonal(
    indptr: NDArray[np.int32],
    indices: NDArray[np.int32],
    data: NDArray[np.float64],
    diagonal: NDArray[np.float64],
    lower: bool,
) -> tuple[NDArray[np.int32], NDArray[np.int32], NDArray[np.float64]]: ...
def count_triangles(
    indptr: NDArray[np.int32], indices: NDArray[np.int32], data: NDArray[np.float64]
) -> tuple[int, int]: ...
def symmetric(indptr: NDArray[np.int32], indices: NDArray[np.int32], data: NDArray[np.float64]) -> bool: ...
def first_asymmetric(
    indptr: NDArray[np.int32], indices: NDArray[np.int32], data: NDArray[np.float64]
) -> tuple[int, int]: ...
def lower_part(
    indptr: NDArray[np.int32], indices: NDArray[np.int32], data: NDArray[np.float64]
) -> tuple[NDArray[np.int32], NDArray[np.int32], NDArray[np.float64]]: ...
def squared_contributions(
    sire: NDArray[np.int32], dam: NDArray[np.int32], weight: NDArray[np.float64], threads: int = 1
) -> NDArray[np.float64]: ...
def contributions(
    sire: NDArray[np.int32], dam: NDArray[np.int32], generation: NDArray[np.int64], weight: NDArray[np.float64]
) -> NDArray[np.float64]: ...
def marginal_ancestors(
    sire: NDArray[np.int32],
    dam: NDArray[np.int32],
    generation: NDArray[np.int64],
    weight: NDArray[np.float64],
    contribution: NDArray[np.float64],
    eligible: NDArray[np.uint8],
    most: int,
    enough: float,
) -> tuple[NDArray[np.int32], NDArray[np.float64], float]: ...
def relationship_inverse(
    sire: NDArray[np.int32], dam: NDArray[np.int32], weight: NDArray[np.float64], size: int
) -> tuple[NDArray[np.int64], NDArray[np.int32], NDArray[np.float64]]: ...
