import numpy as np
from numpy.typing import NDArray

def oldest_ancestors(sire: NDArray[np.int32], dam: NDArray[np.int32], sampling_var: NDArray[np.float64],
                     members: NDArray[np.int32], position: NDArray[np.int32], oldest: NDArray[np.int32]) -> None: ...

def count_relationships(sire: NDArray[np.int32], dam: NDArray[np.int32], sampling_var: NDArray[np.float64],
                        members: NDArray[np.int32], position: NDArray[np.int32], oldest: NDArray[np.int32],
                        work: NDArray[np.float64], lower_count: NDArray[np.int32],
                        column_count: NDArray[np.int32] | None, max_elements: int) -> tuple[int, int]: ...
def fill_relationships(sire: NDArray[np.int32], dam: NDArray[np.int32], sampling_var: NDArray[np.float64],
                       members: NDArray[np.int32], position: NDArray[np.int32], oldest: NDArray[np.int32],
                       work: NDArray[np.float64], scale: float, indptr: NDArray[np.int32],
                       cursor: NDArray[np.int32] | None, reading: NDArray[np.int32] | None,
                       indices: NDArray[np.int32],
                       data: NDArray[np.float64]) -> None: ...
def with_diagonal(indptr: NDArray[np.int32], indices: NDArray[np.int32], data: NDArray[np.float64],
                  diagonal: NDArray[np.float64], out_indptr: NDArray[np.int32], cursor: NDArray[np.int32] | None,
                  out_indices: NDArray[np.int32], out_data: NDArray[np.float64]) -> None: ...
def count_triangles(indptr: NDArray[np.int32], indices: NDArray[np.int32],
                    data: NDArray[np.float64]) -> tuple[int, int]: ...
def symmetric(indptr: NDArray[np.int32], indices: NDArray[np.int32], data: NDArray[np.float64],
              next: NDArray[np.int32]) -> bool: ...
def first_asymmetric(indptr: NDArray[np.int32], indices: NDArray[np.int32],
                     data: NDArray[np.float64]) -> tuple[int, int]: ...
def lower_part(indptr: NDArray[np.int32], indices: NDArray[np.int32], data: NDArray[np.float64],
               out_indptr: NDArray[np.int32], out_indices: NDArray[np.int32], out_data: NDArray[np.float64]) -> None: ...
REAL_WIDTH: int

def format_reals(values: NDArray[np.float64], offsets: NDArray[np.int64], text: NDArray[np.uint8]) -> None: ...
