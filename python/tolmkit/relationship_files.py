"""Relationship matrices of the genotyped animals as files: a G made
elsewhere read, as ``id id value`` lines of its lower triangle or as GCTA's
binary files, and the matrices of single-step evaluation written for the
mixed-model programs, as ``tolmkit ainv`` writes A⁻¹."""

from __future__ import annotations

import io
import os

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.compute as pc
import scipy.sparse as sp
from numpy.typing import NDArray

from ._advice import PedigreeError
from ._arguments import beside, suffixed
from ._symmetric import mirror
from .decoding import utf8_text
from .genotypes import GenotypeError, first_repeat
from .pedigree import Pedigree, checked_pedigree
from .writing import write_csv, write_lower_triangle

__all__ = ["RelationshipFileError", "read_relationships", "relationship_files", "write_genotyped_block"]

# The suffixes of GCTA's relationship files.
_GRM_BIN, _GRM_ID = ".grm.bin", ".grm.id"
# The bytes of a blank, of a line end, and of a quote.
_BLANKS = np.frombuffer(b" \t\r", np.uint8)
_NEWLINE = ord("\n")
_QUOTE = ord('"')
# What may stand before a quote that opens a field, and after one that closes
# it; a quote there too is a doubled quote inside the field.
_BESIDE_QUOTES = np.frombuffer(b' \t\r\n"', np.uint8)


class RelationshipFileError(GenotypeError):
    """A file of relationships that cannot be used as it stands; the message
    names the file and the line (or the value of a binary file)."""


def read_relationships(
    path: str | os.PathLike[str], *, pedigree: Pedigree | None = None, encoding: str = "utf-8-sig"
) -> tuple[NDArray[np.object_], NDArray[np.float64]]:
    """A relationship matrix of genotyped animals (a G) made elsewhere.

    A path that ends in ``.grm.bin``, or a prefix beside which
    ``PREFIX.grm.bin`` lies, is read as GCTA's files: ``.grm.id`` (a line per
    animal, family and individual identifiers; the animal is the individual)
    and ``.grm.bin``, the lower triangle row by row with its diagonal,
    n(n + 1)/2 float32 values. Any other file is read as text, a line
    ``id id value`` per pair of animals (blank lines and comments skipped),
    each pair of the lower triangle and the diagonal once, in either order;
    a pair given again must give the same value. An identifier may be quoted
    whole, as ``"HB 001 01"``, a quote inside it doubled, as pandas and R
    write it (``"A1"`` and ``A1`` are one animal). The animals are numbered
    in the order in which the file first names them.

    Parameters
    ----------
    path : str or os.PathLike
    pedigree : Pedigree, optional
        When given, each animal must be in it.
    encoding : str
        Of the text files, as `read_pedigree` takes it.

    Returns
    -------
    ids : numpy.ndarray of object
    matrix : numpy.ndarray of float64
        Exactly symmetric, finite, in the order of `ids`.

    Raises
    ------
    RelationshipFileError
        Naming the file and the line (or value): a line of other than three
        fields, a quote that is not closed on its line or that is inside a
        field, a value that is not a finite number, a pair given twice with
        two values, a pair missing, an animal not in `pedigree`; a
        ``.grm.bin`` whose size does not fit its ``.grm.id``, an animal
        listed twice there.
    OSError
        A file that cannot be opened.

    Examples
    --------
    >>> ids, g = read_relationships("g.txt")  # doctest: +SKIP
    """
    if pedigree is not None:
        checked_pedigree(pedigree)
    files = relationship_files(path)
    if len(files) == 2:
        ids, lines, matrix = _read_grm(*files, encoding=encoding)
    else:
        ids, lines, matrix = _read_triplets(files[0], encoding)
    where = files[-1]
    if pedigree is not None:
        found: NDArray[np.intp] = pd.Index(pedigree.ids, dtype=object).get_indexer(ids)  # type: ignore[no-untyped-call]
        if np.any(found < 0):
            k = int(np.argmax(found < 0))
            raise RelationshipFileError(f"{where}: line {lines[k]}: animal {ids[k]!r} is not in the pedigree")
    return ids, matrix


def _text(path: str, encoding: str) -> bytes:
    try:
        return utf8_text(path, encoding)
    except PedigreeError as error:
        raise RelationshipFileError(f"{path}: {error}", f"{path}: {error.command_line}") from None


def _fields(data: bytes, path: str, expected: int, layout: str) -> NDArray[np.int64]:
    """The numbers of the lines that hold a record, each of `expected` fields
    separated by blanks (others refused); blank lines hold none. A field may
    be quoted as pandas writes it, `_table` reading it the same."""
    everything = np.frombuffer(data, dtype=np.uint8)
    ends = everything == _NEWLINE
    filled = ~ends & ~np.isin(everything, _BLANKS)
    if b'"' in data:
        filled |= _quoted(everything, ends, path)
    # A field starts at a byte that is neither blank nor a line end after one that is.
    starts = np.flatnonzero(filled & ~np.concatenate([[False], filled[:-1]]))
    fields = np.bincount(np.searchsorted(np.flatnonzero(ends), starts), minlength=int(np.count_nonzero(ends)) + 1)
    wrong = np.flatnonzero((fields != 0) & (fields != expected))
    if len(wrong):
        line = int(wrong[0])
        raise RelationshipFileError(
            f"{path}: line {line + 1}: {fields[line]} fields; a line holds {expected} ({layout}), separated by blanks"
        )
    lines = np.flatnonzero(fields) + 1
    if len(lines) == 0:
        raise RelationshipFileError(f"{path}: no line")
    return lines


def _quoted(everything: NDArray[np.uint8], ends: NDArray[np.bool_], path: str) -> NDArray[np.bool_]:
    """The bytes inside quotes, whose blanks separate nothing, once each quote
    is found to open or close a whole field, a quote inside one doubled
    (``"a""b"``) as pandas writes and reads it; no field spans lines."""
    quotes = everything == _QUOTE
    # Inside quotes where the quotes up to a byte are odd in number: the running exclusive or.
    inside: NDArray[np.bool_] = np.bitwise_xor.accumulate(quotes.view(np.uint8)).view(np.bool_)
    at = np.flatnonzero(quotes)
    size = len(everything)
    opening, closing = at[0::2], at[1::2]
    stray = np.concatenate(
        [
            opening[(opening > 0) & ~np.isin(everything[np.maximum(opening - 1, 0)], _BESIDE_QUOTES)],
            closing[(closing < size - 1) & ~np.isin(everything[np.minimum(closing + 1, size - 1)], _BESIDE_QUOTES)],
        ]
    )
    first_stray = int(stray.min()) if len(stray) else size
    line_ends = np.flatnonzero(ends)
    # The quote left open is the last before the first line end inside quotes, or the last of the text.
    open_ends = line_ends[inside[line_ends]]
    if len(open_ends):
        unclosed = int(at[np.searchsorted(at, open_ends[0]) - 1])
    else:
        unclosed = int(at[-1]) if len(at) % 2 else size
    # A stray quote that opens what is not closed is told as stray, which is what to mend.
    if first_stray < size and first_stray <= unclosed:
        raise RelationshipFileError(
            f"{path}: line {int(np.searchsorted(line_ends, first_stray)) + 1}: a quote inside a field; quote a "
            'whole identifier, as "HB 001 01", writing a quote inside it twice, as "a""b"'
        )
    if unclosed < size:
        raise RelationshipFileError(
            f"{path}: line {int(np.searchsorted(line_ends, unclosed)) + 1}: a quote opens and is not closed on "
            "this line; quote whole identifiers, writing a quote inside one twice (no identifier spans lines)"
        )
    return inside


def _table(data: bytes, columns: list[str]) -> pd.DataFrame:
    # Quoted fields (a quote doubled inside one) are pandas' default, as `_fields` counts them.
    return pd.read_csv(io.BytesIO(data), sep=r"\s+", header=None, names=columns, dtype=str, na_filter=False, engine="c")


def _numbers(written: pa.StringArray) -> NDArray[np.float64] | None:
    """The values written, each the double nearest to its decimal (pyarrow
    rounds correctly, pandas' parsers do not always: the shortest digits
    that tolmkit writes would come back a unit in the last place off), or
    None where one is no number."""
    try:
        return np.asarray(pc.cast(written, pa.float64()).to_numpy(), dtype=np.float64)
    except pa.ArrowInvalid:
        return None


def _first_unread(written: pa.StringArray) -> int:
    """Where the first value that `_numbers` cannot read is, by halves."""
    low, high = 0, len(written)
    while high - low > 1:
        middle = (low + high) // 2
        low, high = (middle, high) if _numbers(written.slice(low, middle - low)) is not None else (low, middle)
    return low


def _read_triplets(path: str, encoding: str) -> tuple[NDArray[np.object_], NDArray[np.int64], NDArray[np.float64]]:
    data = _text(path, encoding)
    lines = _fields(data, path, 3, "two identifiers and a value")
    table = _table(data, ["first", "second", "value"])
    written = pa.array(table["value"].to_numpy(dtype=object), pa.string())
    values = _numbers(written)
    if values is None or not np.isfinite(values).all():
        k = _first_unread(written) if values is None else int(np.argmin(np.isfinite(values)))
        raise RelationshipFileError(f"{path}: line {lines[k]}: {table['value'][k]!r} is not a finite number")
    codes, ids = pd.factorize(np.column_stack([table["first"], table["second"]]).ravel())
    first, second = codes[0::2], codes[1::2]
    names = np.asarray(ids, dtype=object)
    m = len(names)
    # Each pair once, by its row in the lower triangle: the larger number first.
    row, column = np.maximum(first, second), np.minimum(first, second)
    key = row.astype(np.int64) * m + column
    order = np.argsort(key, kind="stable")
    ranked = values[order]
    uneven = np.flatnonzero((key[order][1:] == key[order][:-1]) & (ranked[1:] != ranked[:-1]))
    if len(uneven):
        one, other = order[uneven[0]], order[uneven[0] + 1]
        raise RelationshipFileError(
            f"{path}: line {lines[other]}: the pair {names[first[other]]!r}, {names[second[other]]!r} is "
            f"{float(values[other])!r}, but {float(values[one])!r} on line {lines[one]}; a matrix of "
            "relationships is symmetric"
        )
    matrix = np.full((m, m), np.nan)
    matrix[row, column] = values
    missing = np.argwhere(np.isnan(np.tril(matrix)) & np.tri(m, dtype=bool))
    if len(missing):
        i, j = missing[0]
        raise RelationshipFileError(
            f"{path}: no line for the pair {names[i]!r}, {names[j]!r}; the file gives each pair of its "
            f"{m:,} animals, {m * (m + 1) // 2:,} lines, {len(np.unique(key)):,} given"
        )
    first_lines = np.full(m, np.iinfo(np.int64).max)
    np.minimum.at(first_lines, first, lines)
    np.minimum.at(first_lines, second, lines)
    return names, first_lines, mirror(matrix)


def relationship_files(path: str | os.PathLike[str]) -> list[str]:
    """The files that `read_relationships` reads for `path`.

    Parameters
    ----------
    path : str or os.PathLike
        As `read_relationships` takes it.

    Returns
    -------
    list of str
        GCTA's ``.grm.bin`` and ``.grm.id``, or the one text file.

    Examples
    --------
    >>> relationship_files("herd.grm.bin")
    ['herd.grm.bin', 'herd.grm.id']
    """
    grm = suffixed(path, _GRM_BIN)
    return [os.fspath(path)] if grm is None else [grm, beside(grm, _GRM_BIN, _GRM_ID)]


def _read_grm(
    bin_path: str, id_path: str, *, encoding: str
) -> tuple[NDArray[np.object_], NDArray[np.int64], NDArray[np.float64]]:
    data = _text(id_path, encoding)
    lines = _fields(data, id_path, 2, "family and individual identifiers")
    ids = _table(data, ["family", "individual"])["individual"].to_numpy(dtype=object)
    repeat = first_repeat(ids)
    if repeat:
        raise RelationshipFileError(
            f"{id_path}: line {lines[repeat[1]]}: animal {ids[repeat[1]]!r} is listed again (first on line "
            f"{lines[repeat[0]]})"
        )
    m = len(ids)
    size = os.path.getsize(bin_path)
    if size != 2 * m * (m + 1):
        raise RelationshipFileError(
            f"{bin_path}: {size:,} bytes, where the {m:,} animals of {id_path} need {2 * m * (m + 1):,} (the lower "
            "triangle with its diagonal, in float32)"
        )
    values = np.fromfile(bin_path, dtype="<f4")
    bad = np.flatnonzero(~np.isfinite(values))
    rows, columns = np.tril_indices(m)
    if len(bad):
        k = int(bad[0])
        raise RelationshipFileError(
            f"{bin_path}: value {k + 1} (animals {ids[rows[k]]!r}, {ids[columns[k]]!r}) is {values[k]}; "
            "relationships are finite"
        )
    matrix = np.zeros((m, m))
    matrix[rows, columns] = values
    return ids, lines, mirror(matrix)


def write_genotyped_block(
    block: NDArray[np.float64],
    positions: NDArray[np.int64],
    ids: NDArray[np.object_],
    path: str,
    ids_path: str = "",
) -> None:
    """Writes a matrix of the genotyped animals as ``tolmkit ainv`` writes
    A⁻¹: ``row col value`` lines of its lower triangle, numbered as the rows
    of H⁻¹ (from 1), and ``number id`` lines at `ids_path`; or, without
    `ids_path`, ``id id value`` lines with the identifiers themselves.

    Parameters
    ----------
    block : numpy.ndarray of float64
        m × m, symmetric, in the order of the genotyped animals.
    positions : numpy.ndarray of int
        The row of H⁻¹ of each genotyped animal, from 0.
    ids : numpy.ndarray of object
        The identifier of each row of H⁻¹.
    path, ids_path : str

    Examples
    --------
    >>> ids = np.array(["a", "b", "c"], dtype=object)
    >>> write_genotyped_block(np.array([[2.0, 0.5], [0.5, 1.0]]), np.array([2, 0]), ids, "-")
    a a 1.0
    c a 0.5
    c c 2.0
    """
    order = np.argsort(positions, kind="stable")
    ranked = positions[order]
    rows, columns = np.tril_indices(len(order))
    values = block[order[rows], order[columns]]
    if not ids_path:
        frame = pd.DataFrame({"row": ids[ranked[rows]], "col": ids[ranked[columns]], "value": values})
        write_csv(frame, path, sep=" ", header=False, index=False)
        return
    n = len(ids)
    lower = sp.csr_matrix((values, (ranked[rows], ranked[columns])), shape=(n, n))
    lower.sort_indices()
    write_lower_triangle(lower, ids, path, ids_path)
