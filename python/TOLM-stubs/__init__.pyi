# Every argument is any object that exposes a buffer (numpy arrays, bytes,
# bytearray, array.array, memoryview); the functions write their results into
# the arrays given and return None. Parameters are positional only.
from typing import Any

import numpy as np
from typing_extensions import Buffer as _Exporter, TypeAlias

# numpy declares its arrays buffers to type checkers from Python 3.12 on only.
_Buffer: TypeAlias = _Exporter | np.ndarray[Any, Any]

def fcoeff(
    sire: _Buffer,
    dam: _Buffer,
    inbreeding: _Buffer,
    sampling_var: _Buffer,
    n_animals: _Buffer,
    compute_inbreeding: _Buffer,
    /,
) -> None: ...
def cald(
    sire: _Buffer,
    dam: _Buffer,
    a_col: _Buffer,
    a_rowstart: _Buffer,
    a_val: _Buffer,
    n_animals: _Buffer,
    d_val: _Buffer,
    d_col: _Buffer,
    d_rowstart: _Buffer,
    d_count: _Buffer,
    /,
) -> None: ...
def dijp(
    sire: _Buffer,
    dam: _Buffer,
    n_pairs: _Buffer,
    pair_i: _Buffer,
    pair_j: _Buffer,
    a_col: _Buffer,
    a_rowstart: _Buffer,
    a_val: _Buffer,
    d_pair: _Buffer,
    /,
) -> None: ...
