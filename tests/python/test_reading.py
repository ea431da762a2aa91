"""Files and frames read right, whatever their form (encodings, compression,
delimiters, headers, quotes, comments), and those refused naming the line."""

import bz2
import gzip
import io
import re

import numpy as np
import pandas as pd
import pytest

import tolmkit.reading
from tolmkit import PedigreeError, prune, read_pedigree

from pedigrees import A_B, assert_parents_first, parents_by_id, read_or_refused

BAD_BYTE = b"A,0,0\nB,A,0\nC\xff,A,0\n"

# The same pedigree, offspring listed before some of their parents.
SAME_PEDIGREE = {
    "csv_with_header": "animal,sire,dam\nC,A,B\nA,0,0\nB,,\nD,C,B\n",
    "csv_without_header": "C,A,B\nA,0,0\nB,NA,.\nD,C,B\n",
    "csv_quoted_and_extra_columns": 'id,sire,dam,born\n"C",A,B,2001\nA,0,0,1990\nB,,,1991\n"D","C",B,2003\n',
    "whitespace": "animal  sire dam\nC A B\n  A 0 0\nB . NA\nD  C   B\n",
    "tabs": "C\tA\tB\nA\t0\t0\nB\t\t\nD\tC\tB\n",
    "comments_and_blank_lines": "# herd 7\n\nC,A,B\n\nA,0,0\n# founder\nB,0,0\nD,C,B\n",
    "father_mother_header": "Animal Father Mother\nC A B\nA 0 0\nB 0 0\nD C B\n",
    "quoted_as_r_writes_it": '"id" "sire" "dam"\n"C" "A" "B"\n"A" "0" "0"\n"B" NA NA\n"D" "C" "B"\n',
    "quotes_after_blanks": 'animal, sire, dam\n"C", "A", "B"\n"A", "0", "0"\n"B", "", ""\n"D", "C" , "B"\n',
}


@pytest.mark.parametrize("text", SAME_PEDIGREE.values(), ids=SAME_PEDIGREE)
def test_formats_give_the_same_pedigree(text):
    pedigree = read_pedigree(io.StringIO(text))
    assert parents_by_id(pedigree) == {"A": (None, None), "B": (None, None), "C": ("A", "B"), "D": ("C", "B")}
    assert_parents_first(pedigree)


@pytest.mark.parametrize(
    "options, error, message",
    [
        ({"unknown": 0}, TypeError, "unknown must be a string or strings, got 0"),
        ({"unknown": None}, TypeError, "unknown must be a string or strings, got None"),
        ({"groups": 42}, TypeError, "groups must be codes (strings, a final '*' for a prefix) or a callable, got 42"),
        ({"max_offspring": -1}, PedigreeError, "max_offspring must be a non-negative integer or None, got -1"),
        ({"columns": ("a", "b")}, PedigreeError, "columns must name three different columns"),
        ({"header": "yes"}, TypeError, "header must be True or False"),
    ],
)
def test_options_it_cannot_take_are_refused_naming_them(options, error, message):
    with pytest.raises(error, match=re.escape(message)):
        read_pedigree(io.StringIO("a,0,0\n"), **options)


def test_semicolons_with_a_given_delimiter():
    pedigree = read_pedigree(io.StringIO("x;0;0\ny;x;0\n"), delimiter=";")
    assert parents_by_id(pedigree) == {"x": (None, None), "y": ("x", None)}


@pytest.mark.parametrize("header, first", [(True, ["b", "a"]), (False, ["kid", "b", "a"])], ids=["header", "no_header"])
def test_header_can_be_forced_either_way(header, first):
    pedigree = read_pedigree(io.StringIO("kid b a\nb 0 0\na 0 0\n"), header=header)
    assert sorted(pedigree.ids) == sorted(first)


def test_a_line_longer_than_the_parsers_block_is_parsed_not_given_up(monkeypatch):
    # A parse given up leaves pyarrow's tasks behind, which can hang the exit.
    monkeypatch.setattr(tolmkit.reading, "_given_up", [])
    long = "B" * 3_000_000
    assert read_pedigree(io.StringIO(f"A,0,0\n{long},A,0\n")).ids.tolist() == ["A", long]
    assert tolmkit.reading._given_up == []


def test_reads_a_path(tmp_path):
    path = tmp_path / "herd.txt"
    path.write_text("a 0 0\nb a 0\n", encoding="utf-8")
    assert parents_by_id(read_pedigree(path)) == parents_by_id(read_pedigree(str(path)))


# name: (file content, keyword arguments, the parents read or (error, part of its message))
FILES = {
    "byte_order_mark": ("\ufeffA,0,0\nB,A,0\n", {}, A_B),
    "byte_order_mark_then_comment": ("\ufeff# herd 7\nA,0,0\nB,A,0\n", {}, A_B),
    "crlf_and_blank_lines": ("A,0,0\r\n  \r\n\r\nB,A,0\r\n", {}, A_B),
    "spaces_around_fields": (" A , 0 ,0\nB, A ,\n", {}, A_B),
    "quoted_comma": ('"A,1",0,0\n"B","A,1",0\n', {}, {"A,1": (None, None), "B": ("A,1", None)}),
    "field_longer_than_csv_allows": (
        "A,0,0\n" + "B" * 200_000 + ",A,0\n",
        {},
        {"A": (None, None), "B" * 200_000: ("A", None)},
    ),
    "fields_beyond_the_third": ("A,0,0,x\nB,A,0,y\n", {}, A_B),
    "fields_beyond_the_first_line": (
        "A,0,0\nB,A,0,x,y\n",
        {},
        (PedigreeError, "line 2: 5 fields where line 1 has 3; every line needs as many fields as the first"),
    ),
    "identifier_cut_by_a_blank": (
        "S 0 0\nD 0 0\nA S D\n\nNL 12 A D\n",
        {},
        (PedigreeError, "line 5: 4 fields where line 1 has 3; every line needs as many fields as the first (a blank"),
    ),
    "id_sire_id_dam_id": ("id,sire_id,dam_id\nB,A,0\nA,0,0\n", {}, A_B),
    "animal_father_mother": ("Animal Father Mother\nB A 0\nA 0 0\n", {}, A_B),
    "dam_before_sire": (
        "animal,dam,sire\nC,B,A\nA,0,0\nB,0,0\n",
        {},
        {"A": (None, None), "B": (None, None), "C": ("A", "B")},
    ),
    "columns_chosen": ("calf,sire,father,mother\nB,x,A,0\nA,x,0,0\n", {"columns": ("calf", "father", "mother")}, A_B),
    "latin_1": (BAD_BYTE, {"encoding": "latin-1"}, {**A_B, "C\xff": ("A", None)}),
    "utf_16": ("A,0,0\nB,A,0\n".encode("utf-16"), {"encoding": "utf-16"}, A_B),
    "stray_quote": ('A,0,0\nB,A,"S\nC,A,0\nD,C,0\n', {}, (PedigreeError, "line 2: a quote opens and is not closed")),
    "quote_across_lines": ('A,0,0\n"B\n",A,0\n', {}, (PedigreeError, "line 2: a quote opens")),
    "nul": ("A,0,0\nB,A\x00,0\n", {}, (PedigreeError, "line 2: control character '\\x00'")),
    "vertical_tab": ("A 0 0\nB\x0bA 0\n", {}, (PedigreeError, "line 2: control character '\\x0b'")),
    "utf_16_unsaid": ("A,0,0\nB,A,0\n".encode("utf-16"), {}, (PedigreeError, "pass encoding='utf-16'")),
    "utf_32_unsaid": ("A,0,0\nB,A,0\n".encode("utf-32"), {}, (PedigreeError, "pass encoding='utf-32'")),
    "undecodable": (
        BAD_BYTE,
        {},
        (PedigreeError, "line 3: bytes that are not utf-8-sig (invalid start byte); pass encoding='latin-1'"),
    ),
    "header_again": (
        "animal,sire,dam\nB,A,0\nanimal,sire,dam\nA,0,0\n",
        {},
        (PedigreeError, "line 3: the header line comes again; remove it"),
    ),
    "half_a_header": ("animal,sire,mum\nB,A,0\n", {}, (PedigreeError, "line 1: 'animal' and 'sire' read like names")),
    "long_and_short_rows": (
        "A,0,0\nB,A,0,x\nC,A\n",
        {},
        (PedigreeError, "line 2: 4 fields where line 1 has 3"),
    ),
    "short_row_in_spaces": ("A 0 0\nB A\n", {}, (PedigreeError, "line 2: expected animal, sire and dam, got 2")),
    "column_not_there": (
        "calf,father,mother\nB,A,0\n",
        {"columns": ("calf", "sire", "mother")},
        (PedigreeError, "line 1: no column is named 'sire'"),
    ),
    "empty": ("", {}, (PedigreeError, "the file holds no animals")),
    "comments_only": ("# herd 7\n\n", {}, (PedigreeError, "the file holds no animals")),
    "header_only": ("animal,sire,dam\n", {}, (PedigreeError, "the file holds no animals, only a header")),
    **{
        f"header_{first.replace(',', '_')}": (
            f"{first}\nB,A,0\nA,0,0\n",
            {},
            (
                PedigreeError,
                f"line 1: ({', '.join(map(repr, first.split(',')))}) reads like a header",
                "--header (with --columns",
            ),
        )
        for first in ["ID,Vater,Mutter", "calf,sire1,dam1", "ID,S,D", "id,parent1,parent2"]
    },
    "header_of_words_over_numbers": (
        "Tier,Vater,Mutter\n276001,276002,0\n276002,0,0\n",
        {},
        (PedigreeError, "all its fields are words, while the other records'"),
    ),
    "header_said": ("ID,Vater,Mutter\nB,A,0\nA,0,0\n", {"header": True}, A_B),
    "header_sire_reg": ("animal,sire_reg,dam_reg\nB,A,0\nA,0,0\n", {}, A_B),
    "studbook_of_names": (
        "Bella,Rex,Molly\nDaisy,Bruno,Lady\n",
        {"header": False},
        {name: (None, None) for name in ["Rex", "Molly", "Bruno", "Lady"]}
        | {"Bella": ("Rex", "Molly"), "Daisy": ("Bruno", "Lady")},
    ),
    "two_sire_columns": (
        "animal,sire_name,sire_id,dam\nB,x,A,0\nA,x,0,0\n",
        {},
        (
            PedigreeError,
            "line 1: columns 'sire_name' and 'sire_id' both read as the sire; pass columns=(animal, sire, dam)",
            "--columns=ANIMAL,SIRE,DAM",
        ),
    ),
    "no_animal_column_named": (
        "nr,ear_tag,sire,dam\n1,B,A,0\n2,A,0,0\n",
        {},
        (PedigreeError, "but no animal column; which of 'nr', 'ear_tag' is it? Pass columns=", "--columns="),
    ),
    "unnamed_columns_said_a_header": (
        "Tier,Geburtsjahr,Vater,Mutter\nB,2001,A,0\nA,2000,0,0\n",
        {"header": True},
        (PedigreeError, "line 1: the header names no sire and dam column that tolmkit knows among its 4", "--columns="),
    ),
    "two_sire_columns_chosen": (
        "animal,sire_name,sire_id,dam\nB,x,A,0\nA,x,0,0\n",
        {"columns": ("animal", "sire_id", "dam")},
        A_B,
    ),
    "byte_order_mark_inside": ("A,0,0\n\ufeffB,A,0\n", {}, (PedigreeError, "line 2: a byte-order mark inside")),
    "unicode_spaces_trimmed": ("\u00a0A\u3000,0,0\nB,\u200bA ,0\n", {}, A_B),
    "unicode_space_inside": (
        "A\u00a0B,0,0\n",
        {},
        (PedigreeError, "line 1: identifier 'A\\xa0B' holds a space U+00A0"),
    ),
    **{
        f"control_{ord(c):04x}": (f"A,0,0\nB,A{c},0\n", {}, (PedigreeError, f"line 2: control character {c!r}"))
        for c in "\u0085\u2028\u2029"
    },
    "normalisation": (
        "Jos\u00e9,0,0\nB,Jose\u0301,0\n",
        {},
        (PedigreeError, "line 1: identifiers 'Jos\\xe9' and 'Jose\\u0301' (on line 2) differ only"),
    ),
    "full_width": (
        "NL12,0,0\nB,\uff2e\uff2c\uff11\uff12,0\n",
        {},
        (
            PedigreeError,
            "line 1: identifiers 'NL12' and '\\uff2e\\uff2c\\uff11\\uff12' (on line 2) differ only in the forms",
        ),
    ),
    "exponent_form": ("A,0,0\n1.23457E+11,A,0\n", {}, (PedigreeError, "line 2: identifier '1.23457E+11' is a number")),
    "exponent_form_of_a_decimal_comma": (
        "id;sire;dam\nA;0;0\nB;2,76E+11;A\n",
        {"delimiter": ";"},
        (PedigreeError, "line 3: identifier '2,76E+11' is a number"),
    ),
    "fewer_fields_than_the_header": (
        "id,sire,dam,born\nA,0,0,1990\nB,A,0\n",
        {},
        (PedigreeError, "line 3: 3 fields where the header names 4"),
    ),
    "semicolons": (
        "A;0;0\nB;A;0\n",
        {},
        (
            PedigreeError,
            "line 1: expected animal, sire and dam, got 1 column; the line holds ';': pass delimiter=';'",
            "--delimiter=';'",
        ),
    ),
    "semicolons_said": ("A;0;0\nB;A;0\n", {"delimiter": ";"}, A_B),
    "tabs_with_a_comma_in_the_header": (
        "id\tsire\tdam\tweight, kg\nA\t0\t0\t5\nB\tA\t0\t6\n",
        {},
        (PedigreeError, "the line holds tabs: pass delimiter='\\t'", "--delimiter='\\t'"),
    ),
    "gzip": (gzip.compress(b"A,0,0\nB,A,0\n"), {}, A_B),
    "bzip2": (bz2.compress(b"A,0,0\nB,A,0\n"), {}, A_B),
    "gzip_cut_short": (gzip.compress(b"A,0,0\nB,A,0\n")[:-6], {}, (PedigreeError, "compressed with gzip but cannot")),
    "gzip_twice": (gzip.compress(gzip.compress(b"A,0,0\n")), {}, (PedigreeError, "compressed twice, with gzip")),
    "utf_8_mark_read_as_latin_1": (
        "\ufeffA,0,0\nB,A,0\n".encode(),
        {"encoding": "latin-1"},
        (PedigreeError, "begins with the byte-order mark of utf-8", "--encoding=utf-8"),
    ),
    "utf_8_and_latin_1_pasted": (
        "A\xe9,0,0\n".encode() + "B,A\xe9,0\n".encode("latin-1"),
        {},
        (PedigreeError, "line 2: bytes that are not utf-8, while line 1 is utf-8: the file mixes encodings"),
    ),
    "not_an_encoding_of_text": (b"A,0,0\n", {"encoding": "rot13"}, (ValueError, "'rot13' is not an encoding of text")),
    "tabs_with_unicode_spaces": ("A\t0\t0\nB\t\u2003A\u202f\t0\n", {}, A_B),
    "c1_control_read_as_latin_1": (
        b"A,0,0\nB,A\x85,0\n",
        {"encoding": "latin-1"},
        (PedigreeError, "line 2: control character '\\x85'", "--encoding=cp1252"),
    ),
    "two_columns_of_one_name": (
        "id,sire,dam,born,born\nA,0,0,1,2\n",
        {},
        (PedigreeError, "line 1: two columns are named 'born'"),
    ),
    "more_fields_than_the_header": (
        "id,sire,dam\nA,0,0\nB,A,0,x\n",
        {},
        (PedigreeError, "line 3: 4 fields where the header names 3"),
    ),
    "zip": (b"PK\x03\x04rest", {}, (PedigreeError, "compressed with zip; uncompress it first")),
    # Comments: a '#' at the start of a line or after a blank, outside quotes.
    **{
        f"trailing_comment_{name}": (text, {}, {"a": (None, None), "b": (None, None), "c": ("a", "b")})
        for name, text in [
            ("csv", "c,a,b # full sib of d\na,0,0\nb,0,0\n"),
            ("spaces", "c a b # full sib of d\na 0 0\nb 0 0\n"),
            ("tabs_under_a_header", "id\tsire\tdam\t# exported\nc\ta\tb\t# x, y\na\t0\t0\nb\t0\t0\n"),
            ("after_quotes", 'c,"a",b #"\na,0,0\nb,0,0\n'),
            ("indented", "  # herd 7\nc,a,b\n\t# founders\na,0,0\nb,0,0 #\n"),
        ]
    },
    "quoted_name_in_blanks": (
        '"A B" 0 0\nC "A B" 0\n',
        {},
        (PedigreeError, "line 1: the field '\"A' has a quote at one end only"),
    ),
    "quotes_in_blanks": (
        '"A" 0 0\nC "A" 0\n"""B""" C 0\n',
        {},
        {"A": (None, None), "C": ("A", None), '"B"': ("C", None)},
    ),
    "quoted_comma_after_blanks": (
        'id, sire, dam\n"Hof, A", 0, 0\n"Hof, B",  "Hof, A" , 0\n"C",\t"B2",\t0\nB2,0,0\n',
        {},
        {"Hof, A": (None, None), "Hof, B": ("Hof, A", None), "C": ("B2", None), "B2": (None, None)},
    ),
    "quote_after_a_tab_cut_at_a_comma": (
        'x,y,z\nC,\t"H, A",B\n',
        {},
        (PedigreeError, "line 2: the field '\\t\"H' has"),
    ),
    "quotes_after_unicode_spaces": (
        'C, \u00a0"A", "B"\u3000\nA,0,0\nB,0,0\nD """E" C\n'.replace("D ", "D,").replace('" C', '",C'),
        {},
        {"A": (None, None), "B": (None, None), "C": ("A", "B"), "D": ('"E', "C"), '"E': (None, None)},
    ),
    "quotes_in_blanks_with_unicode_spaces": (
        '"C" "A"\u00a0 "B"\u3000\nA 0 0\nB 0 0\nD """E" C\n',
        {},
        {"A": (None, None), "B": (None, None), "C": ("A", "B"), "D": ('"E', "C"), '"E': (None, None)},
    ),
    "quote_inside_quotes_in_blanks": ('C "A"B"C" B\n', {}, (PedigreeError, 'line 1: the field \'"A"B"C"\' holds a')),
    "hash_inside_quotes_and_words": ('"c #1",a#1,0 # x\n', {}, {"a#1": (None, None), "c #1": ("a#1", None)}),
    "comment_keeps_line_numbers": (
        "# herd 7\na,0,0 # x\n\n#\na,0,0\n",
        {},
        (PedigreeError, "line 5: animal 'a' is listed again (first on line 2)"),
    ),
    "comment_inside_an_identifier": (
        "HB #12,0,0\n",
        {},
        (PedigreeError, "line 1: expected animal, sire and dam, got 1 column"),
    ),
    "comment_holding_a_comma": ("animal sire dam # sire, dam: 0 unknown\nB A 0\nA 0 0\n", {}, A_B),
    "dos_end_of_file": ("A,0,0\r\nB,A,0\r\n\x1a", {}, A_B),
    **{
        f"spreadsheet_delimiter_line_{name}": (text, options, {"A": (None, None), "B": ("A", None)})
        for name, text, options in [
            ("semicolons", "sep=;\nid;sire;dam\nB;A;0\nA;0;0\n", {}),
            ("said_too", "sep=;\nB;A;0\nA;0;0\n", {"delimiter": ";"}),
            ("with_byte_order_mark", "\ufeffsep=|||\r\nB|A|0\r\nA|0|0\r\n", {}),
            ("tabs", "SEP=\t\nB\tA\t0\nA\t0\t0\n", {}),
        ]
    },
    "spreadsheet_delimiter_line_contradicted": (
        "sep=;\nB;A;0\n",
        {"delimiter": ","},
        (
            PedigreeError,
            "line 1: the file says its delimiter is ';' (sep=), but delimiter=',' is given",
            "--delimiter=,",
        ),
    ),
    "spreadsheet_delimiter_line_keeps_numbers": (
        "sep=;\nB;A;0\nB;A;0\n",
        {},
        (PedigreeError, "line 3: animal 'B' is listed again (first on line 2)"),
    ),
    **{
        f"blanks_under_{name}": (
            text,
            {},
            (
                PedigreeError,
                f"line 2: {said}; the line holds blanks between its fields: pass delimiter=' '",
                "--delimiter=' '",
            ),
        )
        for name, text, said in [
            ("a_tab_header", "id\tsire\tdam\nB A 0\nA 0 0\n", "1 fields where the header names 3"),
            ("tabs", "B\tA\t0\nC A 0\n", "expected animal, sire and dam, got 1 column"),
        ]
    },
}


@pytest.mark.parametrize("content, options, outcome", FILES.values(), ids=FILES)
def test_files_are_read_right_or_refused_naming_the_line(tmp_path, content, options, outcome):
    read_or_refused(tmp_path / "herd.csv", content, options, outcome)


def test_frames_by_column_name_with_attributes_carried_through():
    frame = pd.DataFrame(
        {"herd": ["x", "y", "z"], "dam_id": [2, 2, 9], "calf": [3, 4, 5], "sire_id": [1.0, 1.0, np.nan]},
        index=[10, 11, 12],
    )
    pedigree = read_pedigree(frame, unknown="9")
    assert parents_by_id(pedigree) == {
        "1": (None, None),
        "2": (None, None),
        "3": ("1", "2"),
        "4": ("1", "2"),
        "5": (None, None),
    }
    assert pedigree.attributes["herd"].fillna("-").tolist() == ["-", "-", "x", "y", "z"]
    kept = prune(pedigree, ["4"], generations=0)
    assert (kept.ids.tolist(), kept.attributes["herd"].tolist()) == (["4"], ["y"])
    with pytest.raises(TypeError, match=re.escape("row 11: identifier b'b' is a bytes")):
        read_pedigree(frame.assign(calf=["a", b"b", "c"]))
    with pytest.raises(
        PedigreeError, match=re.escape("row 12: identifier 9007199254740994.0 is beyond 9007199254740992")
    ):
        read_pedigree(frame.assign(calf=[3.0, 4.0, 2.0**53 + 2]))
    for values in (pd.to_datetime(["2001-01-01"] * 3), pd.to_timedelta([1, 2, 3], unit="D"), [True, False, True]):
        with pytest.raises(TypeError, match="column 'calf' holds"):
            read_pedigree(frame.assign(calf=values))
    numbered = frame[["calf", "sire_id", "dam_id"]].set_axis([0, 1, 2], axis="columns")
    assert parents_by_id(read_pedigree(numbered, columns=(0, 1, 2), unknown="9")) == parents_by_id(pedigree)
    with pytest.raises(PedigreeError, match="two columns of the frame are named 'herd'"):
        read_pedigree(pd.concat([frame, frame[["herd"]]], axis="columns"))


def test_file_attributes_and_summary():
    pedigree = read_pedigree(io.StringIO("id,sire,dam,born,herd\nC,A,B,2001,0012\nA,0,0,1990,13\n"))
    assert pedigree.attributes["born"].tolist()[1:] == [1990, 2001]
    assert pedigree.attributes["herd"].tolist()[1:] == ["13", "0012"]
    assert pedigree.attributes["born"].isna().tolist() == [True, False, False]
    assert pedigree.summary().split() == [
        "animals",
        "3",
        "founders",
        "2",
        "parents",
        "added",
        "as",
        "founders",
        "1",
        "unknown",
        "sires",
        "2",
        "unknown",
        "dams",
        "2",
        "sires",
        "1",
        "dams",
        "1",
        "generations",
        "1",
        "most",
        "offspring",
        "among",
        "parents",
        "added",
        "as",
        "founders:",
        "B",
        "(1)",
    ]
