"""Genotype files that are read right, and those refused naming the file and the line."""

import gzip
import re

import bed_reader
import numpy as np
import pytest

from tolmkit import GenotypeError, read_genotypes
from tolmkit.cli import main

CHIP = np.array([[0, 1, 2, 1], [2, 1, 0, 0], [1, 2, 1, -1]], dtype=np.int8)
A_B = (["a", "b"], [[0, 1, 2, 1], [2, 1, 0, 0]])


def write_plink(prefix, genotypes, ids):
    bed_reader.to_bed(
        f"{prefix}.bed",
        np.where(genotypes < 0, -127, genotypes).astype(np.int8),
        properties={"iid": ids, "sid": [f"m{k}" for k in range(genotypes.shape[1])]},
    )


def test_the_formats_give_the_same_genotypes(tmp_path):
    write_plink(tmp_path / "chip", CHIP, ["a", "b", "c"])
    (tmp_path / "chip.txt").write_text("a  0121\nb  2100\nc  1215\n")
    for suffix in ("bed", "fam", "bim"):
        (tmp_path / f"CHIP.{suffix.upper()}").write_bytes((tmp_path / f"chip.{suffix}").read_bytes())
    for path in (tmp_path / "chip.bed", str(tmp_path / "chip"), tmp_path / "chip.txt", tmp_path / "CHIP.BED"):
        ids, genotypes = read_genotypes(path)
        assert ids.tolist() == ["a", "b", "c"] and genotypes.dtype == np.int8
        assert np.array_equal(genotypes, CHIP)


# name: (BLUPF90 text, keyword arguments, (ids, genotypes) or (part of the message[, of command_line]))
TEXT = {
    "identifiers_with_blanks": (
        "HB 001 0121   0120125\nHB 002 0122\t2100125  \n",
        {},
        (["HB 001 0121", "HB 002 0122"], [[0, 1, 2, 0, 1, 2, -1], [2, 1, 0, 0, 1, 2, -1]]),
    ),
    "comments_blank_lines_and_line_ends": (
        "# chip v2\r\n\r\na 0121 # dam of b\r\n \u00a0\r\nb\t2100 \u3000\r\n\x1a",
        {},
        A_B,
    ),
    "gzip": (gzip.compress(b"a 0121\nb 2100\n"), {}, A_B),
    "latin_1": ("a 0121\nb\xe9 2100\n".encode("latin-1"), {"encoding": "latin-1"}, (["a", "b\xe9"], A_B[1])),
    "utf_16": ("a 0121\nb 2100\n".encode("utf-16"), {"encoding": "utf-16"}, A_B),
    "utf_16_unsaid": (
        "a 0121\nb 2100\n".encode("utf-16"),
        {},
        ("the file begins with the byte-order mark of utf-16, the encoding it is written in", "pass --encoding=utf-16"),
    ),
    "latin_1_unsaid": (
        "# \xe9\na 0121\nb\xe9 2100\n".encode("latin-1"),
        {},
        ("line 1: bytes that are not utf-8-sig", "pass --encoding=latin-1"),
    ),
    "control_character": ("a 0121\nb 2100\x00\n", {}, ("line 2: control character '\\x00'",)),
    "comment_on_line_1": (
        "# chip v2\na 0121\nb 21x0\n",
        {},
        ("line 3: marker 3 is 'x'; a genotype is 0, 1 or 2, or 5 for missing",),
    ),
    "other_character": ("a 0121\nb 21\u00e90\n", {}, ("line 2: marker 3 is '\u00e9'",)),
    "not_genotypes_at_the_end": ("a 0121 x\n", {}, ("line 1: the line ends in 'x', not in a string of genotypes",)),
    "fewer_markers": ("a 0121\nb 2100\nc 121\n", {}, ("line 3: 3 genotypes, where line 1 has 4; each line",)),
    "a_blank_inside_the_genotypes": (
        "a 0121\nb 21 00\n",
        {},
        ("line 2: 2 genotypes, where line 1 has 4 (a blank inside the genotypes?)",),
    ),
    "genotypes_separated_by_blanks": ("a 0 1 2 1\nb 2 1 0 0\n", {}, ("line 1: the line reads as genotypes separated",)),
    "one_field": ("a 0121\nb\n", {}, ("line 2: an identifier, then a genotype per marker, expected",)),
    "genotypes_alone": ("a 0121\n  2100\n", {}, ("line 2: an identifier, then a genotype per marker, expected",)),
    "unicode_space_inside": ("a\u00a0b 0121\n", {}, ("line 1: identifier 'a\\xa0b' holds a space U+00A0 inside",)),
    "listed_again": (
        "# chip\na 0121\nb 2100\na  1111\n",
        {},
        ("line 4: animal 'a' is listed again (first on line 2)",),
    ),
    "empty": ("", {}, ("no animal",)),
    "comments_only": ("# chip v2\n\n", {}, ("no animal",)),
    "a_bed_by_another_name": (b"\x6c\x1b\x01\xff\x3f", {}, ("a PLINK .bed file (it starts with the bytes 6c 1b 01)",)),
    "a_bed_compressed": (gzip.compress(b"\x6c\x1b\x01\xff\x3f"), {}, ("a PLINK .bed file", "uncompressed, beside")),
    "genotypes_pasted_side_by_side": (
        "a 01210121 2100\nb 21002100 0121\n",
        {},
        ("line 1: each identifier ends in 8 genotypes, as 'a 01210121' does (genotypes split by a blank?)",),
    ),
    "utf_8_read_as_latin_1": (
        "a 0121\nb\u00e9 2100\n",
        {"encoding": "latin-1"},
        ("line 2: the file is written in utf-8, whose '\u00e9' latin-1 reads as '\u00c3\u00a9'", "--encoding=utf-8"),
    ),
}


@pytest.mark.parametrize("content, options, outcome", TEXT.values(), ids=TEXT)
def test_text_files_are_read_right_or_refused_naming_the_line(tmp_path, content, options, outcome):
    path = tmp_path / "chip.txt"
    path.write_bytes(content if isinstance(content, bytes) else content.encode())
    if isinstance(outcome[0], list):
        ids, genotypes = read_genotypes(path, **options)
        assert ids.tolist() == outcome[0] and genotypes.tolist() == outcome[1]
        return
    with pytest.raises(GenotypeError, match=f"^{re.escape(str(path))}: .*{re.escape(outcome[0])}") as raised:
        read_genotypes(path, **options)
    assert raised.value.command_line.startswith(str(path)) and outcome[-1] in raised.value.command_line
    assert path.read_bytes() == (content if isinstance(content, bytes) else content.encode())


FAM = "f a 0 0 1 -9\nf b 0 0 2 -9\nf c 0 0 0 -9\n"
BIM = "".join(f"1\tm{k}\t0\t{k + 1}\tA\tG\n" for k in range(4))

# name: (.fam, .bim (None: none), the .bed from the one written, the identifiers or part of the message)
PLINK = {
    "comments_and_blank_lines": (
        "# from the herd book\n" + FAM.replace("\nf b", "\n\nf b"),
        "\n" + BIM,
        None,
        ["a", "b", "c"],
    ),
    "latin_1": (FAM.replace(" b ", " b\xe9 "), BIM, None, "chip.fam: line 2: bytes that are not utf-8-sig"),
    "fam_of_five_fields": (
        FAM.replace("2 -9", "2"),
        BIM,
        None,
        "chip.fam: line 2: 5 fields; a line of a .fam file holds 6 (family, individual",
    ),
    "fam_of_seven_fields": ("# x\n" + FAM.replace("1 -9", "1 -9 x"), BIM, None, "chip.fam: line 2: 7 fields"),
    "bim_of_five_fields": (FAM, BIM[:-3] + "\n", None, "chip.bim: line 4: 5 fields; a line of a .bim file holds 6"),
    "listed_again": (
        FAM.replace(" c ", " a "),
        BIM,
        None,
        "chip.fam: line 3: animal 'a' is listed again (first on line 1)",
    ),
    "more_animals_than_the_bed": (FAM + "f d 0 0 0 -9\nf e 0 0 0 -9\n", BIM, None, "(5 animals in "),
    "a_header": ("FID IID PAT MAT SEX PHENOTYPE\n" + FAM, BIM, None, "line 1: 'FID IID PAT MAT SEX PHENOTYPE' reads"),
    "a_line_short": (FAM[: FAM.index("f c")], BIM, None, "chip.bed: marker 1 holds genotypes past the last of the 2"),
    "no_animal": ("# none\n", BIM, None, "chip.fam: no line"),
    "bed_cut_short": (FAM, BIM, lambda bed: bed[:-1], "length is wrong"),
    "not_snp_major": (FAM, BIM, lambda bed: b"\x6c\x1b\x00", "chip.bed: not a PLINK .bed file in SNP-major order"),
    "compressed": (FAM, BIM, gzip.compress, "chip.bed: compressed with gzip; uncompress it"),
    "no_bim": (FAM, None, None, "chip.bim beside it; a .bed is read with its .fam and .bim"),
}


@pytest.mark.parametrize("fam, bim, bed, outcome", PLINK.values(), ids=PLINK)
def test_plink_files_are_read_right_or_refused_naming_the_file(tmp_path, fam, bim, bed, outcome):
    write_plink(tmp_path / "chip", CHIP, ["a", "b", "c"])
    (tmp_path / "chip.fam").write_bytes(fam.encode("latin-1"))
    if bim is None:
        (tmp_path / "chip.bim").unlink()
    else:
        (tmp_path / "chip.bim").write_text(bim)
    if bed is not None:
        (tmp_path / "chip.bed").write_bytes(bed((tmp_path / "chip.bed").read_bytes()))
    if isinstance(outcome, list):
        ids, genotypes = read_genotypes(tmp_path / "chip")
        assert ids.tolist() == outcome and np.array_equal(genotypes, CHIP)
    else:
        with pytest.raises(GenotypeError, match=re.escape(outcome)):
            read_genotypes(tmp_path / "chip")


def test_a_fam_with_a_line_too_many_is_refused(tmp_path):
    genotypes = np.tile(CHIP, (1, 5))  # 20 markers
    write_plink(tmp_path / "chip", genotypes, ["a", "b", "c"])
    assert read_genotypes(tmp_path / "chip")[1].shape == (3, 20)
    with open(tmp_path / "chip.fam", "a") as fam:
        fam.write("f d 0 0 0 -9\n")
    with pytest.raises(GenotypeError, match="line 4: animal 'd' has two copies of A1 at each of the 20 markers"):
        read_genotypes(tmp_path / "chip")
    # Alone in its byte of each marker, such an animal is read: a .bed for
    # fewer animals would be shorter.
    five = np.vstack([genotypes, genotypes[:1], np.full((1, 20), 2)])
    write_plink(tmp_path / "five", five, list("abcde"))
    assert np.array_equal(read_genotypes(tmp_path / "five")[1], five)


def test_the_command_names_the_genotype_file_and_takes_its_encoding(tmp_path, capsys):
    herd, chip, out = tmp_path / "herd.csv", tmp_path / "chip.txt", tmp_path / "hinv.txt"
    herd.write_text("animal,sire,dam\na,0,0\nb\xe9,0,0\n")
    chip.write_bytes("a 0121\nb\xe9 2100\n".encode("latin-1"))
    assert main(["hinv", str(herd), "--genotypes", str(chip), "-o", str(out)]) == 1
    assert capsys.readouterr().err == (
        f"tolmkit: {chip}: line 2: bytes that are not utf-8-sig (invalid "
        "continuation byte); pass --encoding=latin-1 or the encoding the file was "
        "written in\n"
    )
    assert main(["hinv", str(herd), "--genotypes", str(tmp_path / "none.txt"), "-o", str(out)]) == 1
    assert capsys.readouterr().err.startswith("tolmkit: [Errno 2] No such file or directory")
    herd.write_bytes(herd.read_text().encode("latin-1"))
    assert main(["hinv", str(herd), "--genotypes", str(chip), "-o", str(out), "--encoding", "latin-1"]) == 0
    assert (tmp_path / "hinv.txt.ids").read_text().split() == ["1", "a", "2", "b\xe9"]
    chip.write_text("a 0000\n")  # nothing left to G: the genotypes' fault, named by their file
    args = ["hinv", str(herd), "--genotypes", str(chip), "-o", str(out), "--encoding", "latin-1"]
    for checks in ([], ["--no-quality"]):
        assert main(args + checks) == 1
        assert f"\ntolmkit: {chip}: no marker " in "\n" + capsys.readouterr().err
