"""Genotype files read into identifiers and counts of one allele: PLINK
binary files and the text files of the BLUPF90 programs.

A file is read only when every line is accounted for: blank, a comment (a
'#' at the start of a line or after a blank, as in pedigree files), or the
record of one animal (of one marker in a .bim). In a BLUPF90 text file the
record is an identifier, blanks, and a string of one genotype per marker
that ends the line: the identifier is everything before that string,
trimmed, and may hold blanks of its own (``HB 001 0121``). A PLINK .fam
holds six fields separated by blanks, the second the identifier; a .bim six
fields. Text is decoded as pedigree files are. Whatever fits none of these
is refused naming the file and the line.
"""

from __future__ import annotations

import os
import re
import typing

import numpy as np
import pandas as pd
from numpy.typing import NDArray

from ._advice import PedigreeError, Refusal
from ._arguments import beside, suffixed
from ._memory import has_room
from ._patterns import SPACES, WIDE_SPACE
from .decoding import compressed_with, text_start, utf8_text

__all__ = ["GenotypeError", "first_repeat", "genotype_files", "read_genotypes"]

# Room enough to map a compiled library of a few MiB, with its relocations.
_LIBRARY_ROOM = 64 * 2**20
# The first bytes of a PLINK .bed file (SNP-major).
_BED_MAGIC = b"\x6c\x1b\x01"
# The genotype codes of the BLUPF90 text files, by byte; 9 marks any other byte.
_TEXT_CODES = np.full(256, 9, dtype=np.int8)
_TEXT_CODES[[ord("0"), ord("1"), ord("2"), ord("5")]] = [0, 1, 2, -1]
_GENOTYPE_CHARACTERS = "0125"
# The fields of a line of each PLINK text file.
_PLINK_FIELDS = {
    ".fam": "family, individual, father, mother, sex, phenotype",
    ".bim": "chromosome, marker, morgans, base pairs, allele 1, allele 2",
}
_BLANKS = b" \t"
# A sex or phenotype of a .fam line: a number (-9, 1, 2.5); NA is missing.
_NUMBER = re.compile(rb"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?|NA|na|nan")
# Bytes of a .bed read at a time when looking at its padding.
_PADDING_BLOCK = 2**24
# Markers from which a last animal with two copies of A1 at every one (the
# minor allele, as PLINK counts) is the padding of a .bed of fewer animals.
_PADDING_MARKERS = 16
# The length of the word of genotypes that ends every identifier, from which they are taken for split genotypes.
_PASTED = 8
_ENCODED_SPACES = tuple(space.encode() for space in SPACES)
_NEWLINE = b"\n"


class GenotypeError(Refusal):
    """A genotype file that cannot be used as it stands; the message names
    the file and the line.

    As every `Refusal`, the message gives its advice as Python arguments
    (``encoding='latin-1'``) and `command_line` as options of the
    ``tolmkit`` command (``--encoding=latin-1``).
    """


def read_genotypes(
    path: str | os.PathLike[str], *, encoding: str = "utf-8-sig"
) -> tuple[NDArray[np.object_], NDArray[np.int8]]:
    """Genotypes from PLINK binary files or the text format of the BLUPF90
    programs.

    A path that ends in ``.bed`` (or ``.BED``), or a prefix beside which
    ``PREFIX.bed`` lies, is read as PLINK files (with the ``.bim`` and
    ``.fam`` beside the ``.bed``, their suffixes in its case) by bed-reader,
    counting the A1 allele; the identifiers are the individual identifiers
    (the second of the six fields) of the ``.fam``.
    Any other file is read as BLUPF90 text: one animal a line, its
    identifier (which may hold blanks), blanks, then one character per
    marker that ends the line, 0, 1 or 2 copies of the counted allele and 5
    for missing. In the text files, blank lines and comments (a '#' at the
    start of a line or after a blank) are skipped, and lines keep their
    numbers in messages.

    Parameters
    ----------
    path : str or os.PathLike
    encoding : str
        The encoding of the text files (the BLUPF90 file, the .fam and the
        .bim), as `read_pedigree` takes it.

    Returns
    -------
    ids : numpy.ndarray of object
        The identifier of each animal, as str.
    genotypes : numpy.ndarray of int8
        Animals × markers, 0, 1, 2, or −1 for missing, as
        `genomic_relationship_matrix` reads them.

    Raises
    ------
    GenotypeError
        Naming the file and the line: bytes that are not of the encoding,
        control characters; a PLINK .bed without its suffix; in a text file
        a line without an identifier, one whose last field is not a string
        of genotypes, a genotype other than 0, 1, 2 or 5 (naming the
        marker), another number of markers than the first line's, a Unicode
        space inside an identifier; a .fam
        or .bim line of other than six fields, a first .fam line that reads
        as a header; an animal listed twice; a .bed that is not one or does
        not fit the .fam and .bim (also genotypes past the .fam's last
        animal in the last byte of a marker, and a last animal with two
        copies of A1 at each of 16 markers or more, as the empty slots
        read). Its
        `command_line` gives the advice as options of ``tolmkit``.
    OSError
        A file that cannot be opened.

    Examples
    --------
    >>> ids, genotypes = read_genotypes("examples/herd-genotypes.bed")  # doctest: +SKIP
    """
    files = genotype_files(path)
    return _read_bed(*files, encoding=encoding) if len(files) == 3 else _read_text(files[0], encoding)


def genotype_files(path: str | os.PathLike[str]) -> list[str]:
    """The files that `read_genotypes` reads for `path`.

    Parameters
    ----------
    path : str or os.PathLike
        As `read_genotypes` takes it.

    Returns
    -------
    list of str
        The ``.bed``, ``.fam`` and ``.bim`` of PLINK files, or the one text
        file.

    Examples
    --------
    >>> genotype_files("herd.bed")
    ['herd.bed', 'herd.fam', 'herd.bim']
    """
    bed = suffixed(path, ".bed")
    if bed is None:
        return [os.fspath(path)]
    return [bed, beside(bed, ".bed", ".fam"), beside(bed, ".bed", ".bim")]


def first_repeat(ids: NDArray[np.object_]) -> tuple[int, int] | None:
    """The positions of the first identifier listed twice: where it is first
    listed, and where again; None when each is listed once.

    Parameters
    ----------
    ids : numpy.ndarray of object

    Returns
    -------
    tuple of int, or None

    Examples
    --------
    >>> first_repeat(np.array(["a", "b", "a"], dtype=object))
    (0, 2)
    """
    index = pd.Index(ids, dtype=object)
    if index.is_unique:
        return None
    again = int(np.argmax(index.duplicated()))
    return int(np.argmax(ids == ids[again])), again


def _text(path: str, encoding: str) -> bytes:
    """The file decoded as pedigree files are, its refusals naming it."""
    try:
        return utf8_text(path, encoding)
    except PedigreeError as error:
        raise GenotypeError(f"{path}: {error}", f"{path}: {error.command_line}") from None


def _read_bed(path: str, fam: str, bim: str, *, encoding: str) -> tuple[NDArray[np.object_], NDArray[np.int8]]:
    try:
        from bed_reader import open_bed
    except ImportError:
        # The loader maps bed-reader's compiled library at its first import,
        # and fails so where the address space has no room left for it.
        if not has_room(_LIBRARY_ROOM):
            raise MemoryError("no room for bed-reader's library") from None
        raise

    with open(path, "rb") as file:
        start = file.read(8)
    compressed = compressed_with(start)
    if compressed is not None:
        raise GenotypeError(f"{path}: compressed with {compressed}; uncompress it, beside its .fam and .bim")
    if not start.startswith(_BED_MAGIC):
        raise GenotypeError(
            f"{path}: not a PLINK .bed file in SNP-major order (it does not start with the bytes 6c 1b 01)"
        )
    # The .fam and .bim are read here, which names their lines, and their
    # counts given to bed-reader, which then reads the .bed alone.
    for companion in (fam, bim):
        if not os.path.exists(companion):
            raise GenotypeError(f"{path}: no {companion} beside it; a .bed is read with its .fam and .bim")
    lines, records = _plink_records(fam, encoding)
    _check_fam_header(fam, lines, records)
    ids = np.array([record.split()[1].decode() for record in records], dtype=object)
    _check_identifiers(ids, lines, fam)
    markers = len(_plink_records(bim, encoding)[0])
    try:
        with open_bed(path, iid_count=len(ids), sid_count=markers, count_A1=True) as bed:
            genotypes = bed.read(dtype="int8", order="C")
    except (ValueError, RuntimeError, IndexError) as error:
        raise GenotypeError(f"{path}: {error} ({len(ids):,} animals in {fam}, {markers:,} markers in {bim})") from None
    _check_padding(path, len(ids), markers, fam)
    # A .bed written for fewer animals is of the same size only where the last
    # animal is not alone in its byte of each marker.
    if markers >= _PADDING_MARKERS and len(ids) % 4 != 1 and np.all(genotypes[-1] == 2):
        raise GenotypeError(
            f"{fam}: line {lines[-1]}: animal {ids[-1]!r} has two copies of A1 at each of the {markers:,} markers, "
            "as the empty slots at the end of a .bed written for fewer animals read: the .fam may have lines too "
            "many"
        )
    genotypes[genotypes == -127] = -1
    return ids, genotypes


def _check_fam_header(fam: str, lines: NDArray[np.int64], records: list[bytes]) -> None:
    """Refuses a first line of a .fam that reads as a header: neither its sex
    nor its phenotype is a number, where both of another line are. A line
    too many shifts every animal onto the genotypes of the next, and the
    .bed's size does not tell it (see `_check_padding`)."""

    def numbers(record: bytes) -> list[bool]:
        return [_NUMBER.fullmatch(field) is not None for field in record.split()[4:]]

    if len(records) > 1 and not any(numbers(records[0])) and any(all(numbers(record)) for record in records[1:]):
        fields = records[0].decode().split()
        raise GenotypeError(
            f"{fam}: line {lines[0]}: {' '.join(fields)!r} reads like a header (sex {fields[4]!r} and "
            f"phenotype {fields[5]!r}, where the other lines have numbers); a .fam has none: remove the line"
        )


def _check_padding(path: str, animals: int, markers: int, fam: str) -> None:
    """Refuses a .bed with genotypes past the last animal of its .fam. A
    marker takes whole bytes, four animals a byte, and the slots of its last
    byte past the last animal are left zero: a .fam a line or three short
    fits the .bed's size, and would leave the last animals out unseen."""
    spare = animals % 4
    if spare == 0:
        return
    width = (animals + 3) // 4
    past = 0xFF & ~((1 << (2 * spare)) - 1)
    rows = max(1, _PADDING_BLOCK // width)
    with open(path, "rb") as file:
        file.seek(len(_BED_MAGIC))
        for start in range(0, markers, rows):
            block = np.fromfile(file, dtype=np.uint8, count=min(rows, markers - start) * width)
            held = np.flatnonzero(block[width - 1 :: width] & past)
            if len(held):
                raise GenotypeError(
                    f"{path}: marker {start + int(held[0]) + 1:,} holds genotypes past the last of the "
                    f"{animals:,} animals of {fam}: lines of the .fam are missing"
                )


def _plink_records(path: str, encoding: str) -> tuple[NDArray[np.int64], list[bytes]]:
    """The line numbers and the text of the records of a .fam or .bim, each
    of six fields separated by blanks."""
    data = _text(path, encoding)
    everything = np.frombuffer(data, dtype=np.uint8)
    ends = everything == ord(_NEWLINE)
    filled = ~ends & ~np.isin(everything, np.frombuffer(_BLANKS, np.uint8))
    # A field starts at a byte that is neither blank nor a line end after one that is.
    starts = np.flatnonzero(filled & ~np.concatenate([[False], filled[:-1]]))
    ends = np.flatnonzero(ends)
    fields = np.bincount(np.searchsorted(ends, starts), minlength=len(ends) + 1)
    wrong = np.flatnonzero((fields != 0) & (fields != 6))
    if len(wrong):
        line = int(wrong[0])
        raise GenotypeError(
            f"{path}: line {line + 1}: {fields[line]} fields; a line of a "
            f"{os.path.splitext(path)[1] or 'PLINK'} file holds 6 "
            f"({_PLINK_FIELDS.get(os.path.splitext(path)[1], 'as PLINK writes them')}), "
            f"separated by blanks"
        )
    lines = np.flatnonzero(fields)
    if len(lines) == 0:
        raise GenotypeError(f"{path}: no line")
    texts = data.split(_NEWLINE)
    return lines + 1, [texts[line] for line in lines]


def _read_text(path: str, encoding: str) -> tuple[NDArray[np.object_], NDArray[np.int8]]:
    try:
        head = text_start(path, len(_BED_MAGIC))
    except PedigreeError as error:
        raise GenotypeError(f"{path}: {error}") from None
    if head == _BED_MAGIC:
        raise GenotypeError(
            f"{path}: a PLINK .bed file (it starts with the bytes 6c 1b 01), read as text for want of "
            "its suffix: name it PREFIX.bed, uncompressed, beside PREFIX.fam and PREFIX.bim"
        )
    data = _text(path, encoding)
    everything = np.frombuffer(data, dtype=np.uint8)
    # Each record's line, identifier and the span of its genotypes in `data`.
    lines: list[int] = []
    ids: list[str] = []
    spans: list[tuple[int, int]] = []
    start, number = 0, 0
    while start <= len(data):
        number += 1
        end = data.find(_NEWLINE, start)
        end = len(data) if end < 0 else end
        stop = end
        while data.endswith(_ENCODED_SPACES, start, stop):
            stop -= next(len(space) for space in _ENCODED_SPACES if data.endswith(space, start, stop))
        if stop > start:
            cut = max(data.rfind(b" ", start, stop), data.rfind(b"\t", start, stop))
            identifier = data[start : max(cut, start)].decode().strip(SPACES)
            if not identifier:
                raise GenotypeError(f"{path}: line {number}: an identifier, then a genotype per marker, expected")
            lines.append(number)
            ids.append(identifier)
            spans.append((cut + 1, stop))
        start = end + 1
    if not spans:
        raise GenotypeError(f"{path}: no animal")
    markers = spans[0][1] - spans[0][0]
    if markers == 1 and len(ids[0]) > 1 and ids[0][-2] in _BLANKS.decode() and ids[0][-1] in _GENOTYPE_CHARACTERS:
        raise GenotypeError(
            f"{path}: line {lines[0]}: the line reads as genotypes separated by blanks; write "
            "those of an animal as one string, one character a marker, after its identifier"
        )
    _check_pasted(ids, lines, path)
    genotypes = np.empty((len(spans), markers), dtype=np.int8)
    for row, (first, last) in enumerate(spans):
        if last - first == markers:
            np.take(_TEXT_CODES, everything[first:last], out=genotypes[row])
        if last - first != markers or genotypes[row].max(initial=0) == 9:
            raise _bad_genotypes(path, lines[row], ids[row], data[first:last].decode(), lines[0], markers)
    identifiers = np.array(ids, dtype=object)
    _check_identifiers(identifiers, np.array(lines), path)
    return identifiers, genotypes


def _check_pasted(ids: list[str], lines: list[int], path: str) -> None:
    """Refuses identifiers that each end in a word of genotypes of one length
    (the first part of genotypes split by a blank, as files pasted side by
    side are): read so, no animal would be found by its identifier. Eight
    characters or more, on every line, are no animal numbers."""
    words = [parts[-1] if len(parts) > 1 else "" for parts in map(str.split, ids)]
    length = len(words[0])
    if length >= _PASTED and all(len(word) == length and not word.strip(_GENOTYPE_CHARACTERS) for word in words):
        raise GenotypeError(
            f"{path}: line {lines[0]}: each identifier ends in {length:,} genotypes, as {ids[0]!r} does (genotypes "
            "split by a blank?); write those of an animal as one string, one character a marker, after its identifier"
        )


def _bad_genotypes(path: str, line: int, identifier: str, text: str, first_line: int, markers: int) -> GenotypeError:
    """The refusal of a record whose genotypes are not a string of `markers`
    genotype characters, as the first record's are."""
    bad = next((k for k, character in enumerate(text) if character not in _GENOTYPE_CHARACTERS), None)
    if bad is not None and not any(character in _GENOTYPE_CHARACTERS for character in text):
        return GenotypeError(
            f"{path}: line {line}: the line ends in {text!r}, not in a string of genotypes (one "
            "character a marker: 0, 1 or 2 copies of the allele, 5 for missing)"
        )
    if bad is not None:
        return GenotypeError(
            f"{path}: line {line}: marker {bad + 1} is {text[bad]!r}; a genotype is 0, 1 or 2, or 5 for missing"
        )
    # Genotypes split by a blank leave their first part at the end of the identifier.
    last_word = identifier.split()[-1]
    split = (
        " (a blank inside the genotypes?)"
        if len(last_word) + len(text) == markers and not last_word.strip(_GENOTYPE_CHARACTERS)
        else ""
    )
    return GenotypeError(
        f"{path}: line {line}: {len(text):,} genotypes, where line {first_line} has "
        f"{markers:,}{split}; each line holds an identifier, then a genotype per marker"
    )


def _check_identifiers(ids: NDArray[np.object_], lines: NDArray[np.int64], path: str) -> None:
    """Refuses an identifier listed twice, or that holds a Unicode space,
    which no identifier of a pedigree holds."""
    if WIDE_SPACE.search("".join(ids)):
        k = next(k for k, identifier in enumerate(ids) if WIDE_SPACE.search(identifier))
        space = typing.cast(typing.Match[str], WIDE_SPACE.search(ids[k])).group()
        raise GenotypeError(
            f"{path}: line {lines[k]}: identifier {ids[k]!r} holds a space U+{ord(space):04X} "
            f"inside; write a plain space, or none"
        )
    repeat = first_repeat(ids)
    if repeat:
        first, again = repeat
        raise GenotypeError(
            f"{path}: line {lines[again]}: animal {ids[again]!r} is listed again (first on line {lines[first]})"
        )
