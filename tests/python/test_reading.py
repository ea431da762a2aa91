"""Files, frames and records that are read right, and those refused naming the line."""

import bz2
import gzip
import io
import re

import numpy as np
import pandas as pd
import pytest

import tolmkit
from tolmkit import Pedigree, PedigreeError, inbreeding, prune, read_pedigree, simulate_pedigree
from tolmkit.cli import main

from test_pedigree import assert_parents_first, parents_by_id

A_B = {"A": (None, None), "B": ("A", None)}
# The dams of B, C and D are a group of unknown dams, UD.
GROUP_CODED = "A,0,0\nB,A,UD\nC,A,UD\nD,B,UD\n"
BAD_BYTE = b"A,0,0\nB,A,0\nC\xff,A,0\n"

# name: (file content, keyword arguments, the parents read or (error, part of its message))
FILES = {
    "byte_order_mark": ("\ufeffA,0,0\nB,A,0\n", {}, A_B),
    "byte_order_mark_then_comment": ("\ufeff# herd 7\nA,0,0\nB,A,0\n", {}, A_B),
    "crlf_and_blank_lines": ("A,0,0\r\n  \r\n\r\nB,A,0\r\n", {}, A_B),
    "spaces_around_fields": (" A , 0 ,0\nB, A ,\n", {}, A_B),
    "quoted_comma": ('"A,1",0,0\n"B","A,1",0\n', {}, {"A,1": (None, None), "B": ("A,1", None)}),
    "field_longer_than_csv_allows": ("A,0,0\n" + "B" * 200_000 + ",A,0\n", {},
                                     {"A": (None, None), "B" * 200_000: ("A", None)}),
    "fields_beyond_the_third": ("A,0,0\nB,A,0,x,y\n", {}, A_B),
    "id_sire_id_dam_id": ("id,sire_id,dam_id\nB,A,0\nA,0,0\n", {}, A_B),
    "animal_father_mother": ("Animal Father Mother\nB A 0\nA 0 0\n", {}, A_B),
    "dam_before_sire": ("animal,dam,sire\nC,B,A\nA,0,0\nB,0,0\n", {},
                        {"A": (None, None), "B": (None, None), "C": ("A", "B")}),
    "columns_chosen": ("calf,sire,father,mother\nB,x,A,0\nA,x,0,0\n", {"columns": ("calf", "father", "mother")}, A_B),
    "one_code_as_a_string": ("a,NA,NA\nb,N,A\n", {"unknown": "NA", "case_distinct": True},
                             {"N": (None, None), "A": (None, None), "a": (None, None), "b": ("N", "A")}),
    "several_codes": ("A,-,?\nB,A,-\n", {"unknown": ["-", "?"]}, A_B),
    "latin_1": (BAD_BYTE, {"encoding": "latin-1"}, {**A_B, "C\xff": ("A", None)}),
    "utf_16": ("A,0,0\nB,A,0\n".encode("utf-16"), {"encoding": "utf-16"}, A_B),
    "selfing_allowed": ("A,0,0\nB,A,A\nC,B,A\n", {"selfing": True},
                        {"A": (None, None), "B": ("A", "A"), "C": ("B", "A")}),
    "sexes_right": ("id,sire,dam,sex\nC,A,B,1\nA,0,0,male\nB,0,0,F\n", {},
                    {"A": (None, None), "B": (None, None), "C": ("A", "B")}),
    **{f"code_{code}": (f"A,{code},{code}\nB,A,{code}\n", {}, (
        PedigreeError, f"line 1: the sire of 'A', '{code}', is not listed as an animal and reads like a code of "
                       f"an unknown parent; pass unknown='{code}' if '{code}' means an unknown parent"))
       for code in ["-", "nan", "NaN", "-1", "-999", "000000", "NULL", "?", "n/a", "Unknown"]},
    "empty_parent_not_a_code": ("A,-,\nB,A,-\n", {"unknown": "-"}, (PedigreeError, "line 1: the dam of 'A', ''")),
    "stray_quote": ('A,0,0\nB,A,"S\nC,A,0\nD,C,0\n', {}, (PedigreeError, "line 2: a quote opens and is not closed")),
    "quote_across_lines": ('A,0,0\n"B\n",A,0\n', {}, (PedigreeError, "line 2: a quote opens")),
    "nul": ("A,0,0\nB,A\x00,0\n", {}, (PedigreeError, "line 2: control character '\\x00'")),
    "vertical_tab": ("A 0 0\nB\x0bA 0\n", {}, (PedigreeError, "line 2: control character '\\x0b'")),
    "utf_16_unsaid": ("A,0,0\nB,A,0\n".encode("utf-16"), {}, (PedigreeError, "pass encoding='utf-16'")),
    "undecodable": (BAD_BYTE, {}, (PedigreeError, "line 3: bytes that are not utf-8-sig (invalid start byte); "
                                                  "pass encoding='latin-1'")),
    "header_again": ("animal,sire,dam\nB,A,0\nanimal,sire,dam\nA,0,0\n", {},
                     (PedigreeError, "line 3: the header line comes again; remove it")),
    "header_among_records": ("A,0,0\nid,sire,dam\nB,A,0\n", {},
                             (PedigreeError, "line 2: a header line (id, sire, dam) among the records; remove it")),
    "half_a_header": ("animal,sire,mum\nB,A,0\n", {}, (PedigreeError, "line 1: 'animal' and 'sire' read like names")),
    "sire_and_dam": ("A,0,0\nB,0,0\nC,A,B\nD,B,A\n", {}, (PedigreeError, (
        "line 4: animal 'B' is the sire of 'D' here and the dam of 'C' on line 3; correct the record, "
        "or pass selfing=True"))),
    "selfed": ("A,0,0\nB,A,A\n", {}, (PedigreeError, "line 2: animal 'B' has 'A' as both sire and dam; "
                                                     "pass selfing=True")),
    "sire_recorded_female": ("id,sire,dam,sex\nA,0,0,F\nB,0,0,F\nC,A,B,M\n", {},
                             (PedigreeError, "line 2: animal 'A' is recorded female ('F') but is the sire of 'C' "
                                             "on line 4")),
    "dam_recorded_male": ("id,sire,dam,gender\nA,0,0,1\nB,0,0,Male\nC,A,B,2\n", {},
                          (PedigreeError, "line 3: animal 'B' is recorded male ('Male') but is the dam of 'C'")),
    "long_and_short_rows": ("A,0,0\nB,A,0,x\nC,A\n", {}, (PedigreeError, "line 3: expected animal, sire and dam, got 2")),
    "short_row_in_spaces": ("A 0 0\nB A\n", {}, (PedigreeError, "line 2: expected animal, sire and dam, got 2")),
    "column_not_there": ("calf,father,mother\nB,A,0\n", {"columns": ("calf", "sire", "mother")},
                         (PedigreeError, "line 1: no column is named 'sire'")),
    "empty": ("", {}, (PedigreeError, "the file holds no animals")),
    "comments_only": ("# herd 7\n\n", {}, (PedigreeError, "the file holds no animals")),
    "header_only": ("animal,sire,dam\n", {}, (PedigreeError, "the file holds no animals, only a header")),
    **{f"header_{first.replace(',', '_')}": (f"{first}\nB,A,0\nA,0,0\n", {}, (
        PedigreeError, f"line 1: ({', '.join(map(repr, first.split(',')))}) reads like a header",
        "--header (with --columns"))
       for first in ["ID,Vater,Mutter", "calf,sire1,dam1", "ID,S,D", "id,parent1,parent2"]},
    "header_of_words_over_numbers": ("Tier,Vater,Mutter\n276001,276002,0\n276002,0,0\n", {},
                                     (PedigreeError, "all its fields are words, while the other records'")),
    "header_said": ("ID,Vater,Mutter\nB,A,0\nA,0,0\n", {"header": True}, A_B),
    "header_sire_reg": ("animal,sire_reg,dam_reg\nB,A,0\nA,0,0\n", {}, A_B),
    "studbook_of_names": ("Bella,Rex,Molly\nDaisy,Bruno,Lady\n", {"header": False},
                          {name: (None, None) for name in ["Rex", "Molly", "Bruno", "Lady"]} |
                          {"Bella": ("Rex", "Molly"), "Daisy": ("Bruno", "Lady")}),
    "two_sire_columns": ("animal,sire_name,sire_id,dam\nB,x,A,0\nA,x,0,0\n", {},
                         (PedigreeError, "line 1: columns 'sire_name' and 'sire_id' both read as the sire; pass "
                                         "columns=(animal, sire, dam)", "--columns=ANIMAL,SIRE,DAM")),
    "two_sire_columns_chosen": ("animal,sire_name,sire_id,dam\nB,x,A,0\nA,x,0,0\n",
                                {"columns": ("animal", "sire_id", "dam")}, A_B),
    "code_listed_as_animal": ("-999,0,0\nB,-999,0\n", {}, (PedigreeError, "line 1: animal '-999' reads like a code")),
    "given_code_listed_as_animal": ("A,0,0\n?,A,0\n", {"unknown": ["0", "?"]},
                                    (PedigreeError, "line 2: animal '?' has the code of an unknown parent")),
    "no_animal_identifier": ("A,-,-\n,A,-\n", {"unknown": "-"}, (PedigreeError, "line 2: the animal has no identifier")),
    "byte_order_mark_inside": ("A,0,0\n\ufeffB,A,0\n", {}, (PedigreeError, "line 2: a byte-order mark inside")),
    "unicode_spaces_trimmed": ("\u00a0A\u3000,0,0\nB,\u200bA ,0\n", {}, A_B),
    "unicode_space_inside": ("A\u00a0B,0,0\n", {}, (PedigreeError, "line 1: identifier 'A\\xa0B' holds a space U+00A0")),
    **{f"control_{ord(c):04x}": (f"A,0,0\nB,A{c},0\n", {}, (PedigreeError, f"line 2: control character {c!r}"))
       for c in "\u0085\u2028\u2029"},
    "normalisation": ("Jos\u00e9,0,0\nB,Jose\u0301,0\n", {},
                      (PedigreeError, "line 1: identifiers 'Jos\\xe9' and 'Jose\\u0301' (on line 2) differ only")),
    "exponent_form": ("A,0,0\n1.23457E+11,A,0\n", {}, (PedigreeError, "line 2: identifier '1.23457E+11' is a number")),
    **{f"number_written_{parent}": (f"123,0,0\nB,{parent},0\n", {}, (
        PedigreeError, f"line 2: the sire of 'B', '{parent}', is not listed as an animal, but '123' is (line 1)"))
       for parent in ["0123", "123.0"]},
    "fewer_fields_than_the_header": ("id,sire,dam,born\nA,0,0,1990\nB,A,0\n", {},
                                     (PedigreeError, "line 3: 3 fields where the header names 4")),
    "semicolons": ("A;0;0\nB;A;0\n", {}, (PedigreeError, "line 1: expected animal, sire and dam, got 1 column; the "
                                                         "line holds ';': pass delimiter=';'", "--delimiter=';'")),
    "semicolons_said": ("A;0;0\nB;A;0\n", {"delimiter": ";"}, A_B),
    "gzip": (gzip.compress(b"A,0,0\nB,A,0\n"), {}, A_B),
    "bzip2": (bz2.compress(b"A,0,0\nB,A,0\n"), {}, A_B),
    "gzip_cut_short": (gzip.compress(b"A,0,0\nB,A,0\n")[:-6], {}, (PedigreeError, "compressed with gzip but cannot")),
    "tabs_with_unicode_spaces": ("A\t0\t0\nB\t\u2003A\u202f\t0\n", {}, A_B),
    "c1_control_read_as_latin_1": (b"A,0,0\nB,A\x85,0\n", {"encoding": "latin-1"},
                                   (PedigreeError, "line 2: control character '\\x85'", "--encoding=cp1252")),
    "two_columns_of_one_name": ("id,sire,dam,born,born\nA,0,0,1,2\n", {},
                                (PedigreeError, "line 1: two columns are named 'born'")),
    "more_fields_than_the_header": ("id,sire,dam\nA,0,0\nB,A,0,x\n", {},
                                    (PedigreeError, "line 3: 4 fields where the header names 3")),
    "zip": (b"PK\x03\x04rest", {}, (PedigreeError, "compressed with zip; uncompress it first")),
    "dam_with_many_offspring": (GROUP_CODED, {"max_offspring": 2}, (
        PedigreeError, "line 2: the dam 'UD' is not listed as an animal and has 3 offspring, more than the 2",
        "pass --groups=UD")),
    "dam_with_many_offspring_allowed": (GROUP_CODED, {"max_offspring": 0}, {
        "A": (None, None), "UD": (None, None), "B": ("A", "UD"), "C": ("A", "UD"), "D": ("B", "UD")}),
    "groups": (GROUP_CODED, {"max_offspring": 2, "groups": ["UD"]}, {
        "A": (None, None), "B": ("A", None), "C": ("A", None), "D": ("B", None)}),
    "many_parents_not_listed": ("".join(f"c{k},s{k},d{k}\n" for k in range(5)), {"header": False},
                                {**{f"{p}{k}": (None, None) for k in range(5) for p in "sd"},
                                 **{f"c{k}": (f"s{k}", f"d{k}") for k in range(5)}}),
    "groups_by_a_function": (GROUP_CODED, {"max_offspring": 2, "groups": lambda code: code.startswith("U")}, {
        "A": (None, None), "B": ("A", None), "C": ("A", None), "D": ("B", None)}),
    "selfing_lifts_the_limit": (GROUP_CODED, {"max_offspring": 2, "selfing": True}, {
        "A": (None, None), "UD": (None, None), "B": ("A", "UD"), "C": ("A", "UD"), "D": ("B", "UD")}),
    "group_listed_as_animal": ("UD,0,0\nB,UD,0\n", {"groups": ["UD"]},
                               (PedigreeError, "line 1: animal 'UD' has the code of a group")),
    # A field fits one kind only, whether groups are codes, prefixes or a function.
    **{f"animal_fits_groups_{name}": ("A,0,0\nG7,A,0\nB,G7,G1\n", {"groups": groups}, (
        PedigreeError, f"line 2: animal 'G7' has the code of a group ({said})", "(--groups"))
       for name, groups, said in [("by_prefix", ["G*"], "groups=['G*']"),
                                  ("by_function", lambda code: code[0] == "G", "the function given as groups=")]},
    "animal_fits_groups_not_a_parent": ("A,0,0\nG7,A,0\nB,A,G1\n", {"groups": ["G*"]},
                                        (PedigreeError, "line 2: animal 'G7' has the code of a group")),
    "groups_by_a_function_that_fails": ("DE1,-5,0\nDE2,DE1,-6\n", {"groups": lambda code: int(code) < 0}, (
        PedigreeError, "the function given as groups= fails on 'DE1' (ValueError: invalid literal")),
    "code_fits_groups": ("A,NA,0\nB,A,N1\n", {"groups": ["N*"]}, (
        PedigreeError, "line 1: the sire of 'A', 'NA', is both a code of an unknown parent and a group by "
                       "groups=['N*']", "group by --groups='N*'")),
    "groups_by_prefix_beside_animals": ("GA,0,0\nB,GA,G1\n", {"groups": ["G1*"]},
                                        {"GA": (None, None), "B": ("GA", None)}),
    # Comments: a '#' at the start of a line or after a blank, outside quotes.
    **{f"trailing_comment_{name}": (text, {}, {"a": (None, None), "b": (None, None), "c": ("a", "b")})
       for name, text in [("csv", "c,a,b # full sib of d\na,0,0\nb,0,0\n"),
                          ("spaces", "c a b # full sib of d\na 0 0\nb 0 0\n"),
                          ("tabs_under_a_header", "id\tsire\tdam\t# exported\nc\ta\tb\t# x, y\na\t0\t0\nb\t0\t0\n"),
                          ("after_quotes", 'c,"a",b #"\na,0,0\nb,0,0\n'),
                          ("indented", "  # herd 7\nc,a,b\n\t# founders\na,0,0\nb,0,0 #\n")]},
    "quoted_name_in_blanks": ('"A B" 0 0\nC "A B" 0\n', {}, (PedigreeError, "line 1: the field '\"A' has a quote at "
                                                                        "one end only")),
    "quotes_in_blanks": ('"A" 0 0\nC "A" 0\n', {}, {'"A"': (None, None), "C": ('"A"', None)}),
    "hash_inside_quotes_and_words": ('"c #1",a#1,0 # x\n', {}, {"a#1": (None, None), "c #1": ("a#1", None)}),
    "comment_keeps_line_numbers": ("# herd 7\na,0,0 # x\n\n#\na,0,0\n", {},
                                   (PedigreeError, "line 5: animal 'a' is listed again (first on line 2)")),
    "comment_inside_an_identifier": ("HB #12,0,0\n", {}, (PedigreeError, "line 1: expected animal, sire and dam, "
                                                                          "got 1 column")),
    # Identifiers that differ only in case are one animal typed two ways, unless said.
    "case_of_a_parent": ("A,0,0\nB,nl1,0\nNL1,0,0\n", {}, (
        PedigreeError, "line 2: the sire of 'B', 'nl1', is not listed as an animal, but 'NL1' is (line 3), and "
                       "the two differ only in case; write them alike, or pass case_distinct=True",
        "--case-distinct")),
    "case_said": ("A,0,0\nB,nl1,0\nNL1,0,0\n", {"case_distinct": True},
                  {"A": (None, None), "nl1": (None, None), "B": ("nl1", None), "NL1": (None, None)}),
    "case_of_two_animals": ("Bella,0,0\nx,Bella,0\nBELLA,0,0\n", {},
                            (PedigreeError, "line 1: animal 'Bella' and animal 'BELLA' (line 3) differ only in case")),
    "case_of_two_founders": ("x,rex,0\ny,Rex,0\n", {}, (
        PedigreeError, "line 1: the sire of 'x', 'rex', and the sire of 'y', 'Rex' (line 2), are not listed as "
                       "animals and differ only in case")),
    "case_beyond_ascii": ("\u00c4rger,0,0\nb,\u00e4rger,0\n", {}, (
        PedigreeError, "line 2: the sire of 'b', '\u00e4rger', is not listed as an animal, but '\u00c4rger' is")),
    "group_code_in_another_case": ("A,0,0\nB,A,UPG1\n", {"groups": ["upg1"]}, (
        PedigreeError, "line 2: the dam of 'B', 'UPG1', differs only in case from 'upg1', the code of a group")),
    "group_prefix_in_another_case": ("A,0,0\nB,upg_1,0\nC,A,UPG1\n", {"groups": ["UPG*"]}, (
        PedigreeError, "line 2: the sire of 'B', 'upg_1', is not listed as an animal and begins as the groups "
                       "'UPG*' do but for case")),
    "one_case_each": ("DE1,0,0\nde2,DE1,0\nx,de2,DE3\n", {},
                      {"DE3": (None, None), "DE1": (None, None), "de2": ("DE1", None), "x": ("de2", "DE3")}),
    # Refusals that send the user the right way.
    "negative_group_codes": ("A,-5,-6\nB,A,-5\n", {}, (
        PedigreeError, "pass unknown='-5' if '-5' means an unknown parent (several codes: unknown=['-5', "
                       "'...']); or groups=['-5', '...'] if the negative numbers", "or --groups=-5,... if")),
    "hash_as_a_code": ("A,#,#\nB,A,#\n", {}, (PedigreeError, "line 1: the sire of 'A', '#', is not listed as an "
                                                             "animal and reads like a code of an unknown parent")),
    "hash_as_a_code_said": ("A,#,#\nB,A,#\n", {"unknown": "#"}, A_B),
    "comment_holding_a_comma": ("animal sire dam # sire, dam: 0 unknown\nB A 0\nA 0 0\n", {}, A_B),
    "dos_end_of_file": ("A,0,0\r\nB,A,0\r\n\x1a", {}, A_B),
    "two_records_without_identifiers": ("A,0,0\n,,\n,,\n", {},
                                        (PedigreeError, "line 2: the animal has no identifier")),
    **{f"spreadsheet_delimiter_line_{name}": (text, options, {"A": (None, None), "B": ("A", None)})
       for name, text, options in [("semicolons", "sep=;\nid;sire;dam\nB;A;0\nA;0;0\n", {}),
                                   ("said_too", "sep=;\nB;A;0\nA;0;0\n", {"delimiter": ";"}),
                                   ("with_byte_order_mark", "\ufeffsep=|||\r\nB|A|0\r\nA|0|0\r\n", {}),
                                   ("tabs", "SEP=\t\nB\tA\t0\nA\t0\t0\n", {})]},
    "spreadsheet_delimiter_line_contradicted": ("sep=;\nB;A;0\n", {"delimiter": ","}, (
        PedigreeError, "line 1: the file says its delimiter is ';' (sep=), but delimiter=',' is given",
        "--delimiter=,")),
    "spreadsheet_delimiter_line_keeps_numbers": ("sep=;\nB;A;0\nB;A;0\n", {}, (
        PedigreeError, "line 3: animal 'B' is listed again (first on line 2)")),
    **{f"blanks_under_{name}": (text, {}, (
        PedigreeError, f"line 2: {said}; the line holds blanks between its fields: pass delimiter=' '",
        "--delimiter=' '")) for name, text, said in [
            ("a_tab_header", "id\tsire\tdam\nB A 0\nA 0 0\n", "1 fields where the header names 3"),
            ("tabs", "B\tA\t0\nC A 0\n", "expected animal, sire and dam, got 1 column")]},
}


@pytest.mark.parametrize("content, options, outcome", FILES.values(), ids=FILES)
def test_files_are_read_right_or_refused_naming_the_line(tmp_path, content, options, outcome):
    path = tmp_path / "herd.csv"
    path.write_bytes(content if isinstance(content, bytes) else content.encode())
    if isinstance(outcome, dict):
        pedigree = read_pedigree(path, **options)
        assert parents_by_id(pedigree) == outcome
        assert_parents_first(pedigree)
    else:
        with pytest.raises(outcome[0], match=re.escape(outcome[1])) as raised:
            read_pedigree(path, **options)
        assert outcome[2:] == () or outcome[2] in raised.value.command_line
    assert path.read_bytes() == (content if isinstance(content, bytes) else content.encode())


def test_the_command_reads_identifiers_that_differ_in_case_when_told(tmp_path, capsys):
    path = tmp_path / "herd.csv"
    path.write_text("A,0,0\nB,nl1,0\nNL1,0,0\n")
    assert main(["check", str(path)]) == 1 and "or pass --case-distinct if" in capsys.readouterr().err
    assert main(["check", str(path), "--case-distinct"]) == 0


RECORDS = {
    "missing_values_and_whole_floats": ([("a", None, np.nan), ("b", "a", pd.NA), (101.0, "a", "b"), ("c", 101, "")],
                                        {"a": (None, None), "b": ("a", None), "101": ("a", "b"), "c": ("101", None)}),
    "bytes": ([(b"a", None, None)], (TypeError, "line 1: identifier b'a' is a bytes")),
    "fraction": ([("a", 1.5, None)], (PedigreeError, "line 1: identifier 1.5 is not a whole number")),
    "short": ([("a", None, None), ("b", "a")], (PedigreeError, "line 2: expected animal, sire and dam, got 2")),
    "no_animal": ([(None, None, None)], (PedigreeError, "line 1: the animal has no identifier")),
    "none": ([], (PedigreeError, "there are no animals")),
    "case": ([("x", "nl1", None), ("NL1", None, None)], (PedigreeError, "line 1: the sire of 'x', 'nl1', is not "
                                                                         "listed as an animal, but 'NL1' is (line 2)")),
}


@pytest.mark.parametrize("records, outcome", RECORDS.values(), ids=RECORDS)
def test_records(records, outcome):
    if isinstance(outcome, dict):
        assert parents_by_id(Pedigree.from_records(records)) == outcome
    else:
        with pytest.raises(outcome[0], match=re.escape(outcome[1])):
            Pedigree.from_records(records)


def test_frames_by_column_name_with_attributes_carried_through():
    frame = pd.DataFrame({"herd": ["x", "y", "z"], "dam_id": [2, 2, 9], "calf": [3, 4, 5],
                          "sire_id": [1.0, 1.0, np.nan]}, index=[10, 11, 12])
    pedigree = read_pedigree(frame, unknown="9")
    assert parents_by_id(pedigree) == {"1": (None, None), "2": (None, None), "3": ("1", "2"), "4": ("1", "2"),
                                       "5": (None, None)}
    assert pedigree.attributes["herd"].fillna("-").tolist() == ["-", "-", "x", "y", "z"]
    kept = prune(pedigree, ["4"], generations=0)
    assert (kept.ids.tolist(), kept.attributes["herd"].tolist()) == (["4"], ["y"])
    with pytest.raises(TypeError, match=re.escape("row 11: identifier b'b' is a bytes")):
        read_pedigree(frame.assign(calf=["a", b"b", "c"]))
    with pytest.raises(PedigreeError, match=re.escape("row 12: identifier 9007199254740994.0 is beyond 9007199254740992")):
        read_pedigree(frame.assign(calf=[3.0, 4.0, 2.0**53 + 2]))
    for values in (pd.to_datetime(["2001-01-01"] * 3), pd.to_timedelta([1, 2, 3], unit="D"), [True, False, True]):
        with pytest.raises(TypeError, match="column 'calf' holds"):
            read_pedigree(frame.assign(calf=values))


HERD = Pedigree.from_records([("101", "0", "0"), ("102", "0", "0"), ("103", "101", "102")])
G = np.array([[1.0, 0.2], [0.2, 1.0]])

# Identifiers given from Python: numbers asked for among identifiers that are text.
ASKED = {
    "numbers": (lambda: HERD.numbers([103]), "animal 103 is given as int, but the pedigree's identifiers "
                                             "are text: pass '103'"),
    "numpy": (lambda: HERD.numbers(np.array([7])), "animal 7 is given as int64, but the pedigree's "
                                                       "identifiers are text: pass '7', which is not in the pedigree"),
    "whole_float": (lambda: HERD.numbers([101.0, 102.0]), "animal 101.0 is given as float, but the "
                                                          "pedigree's identifiers are text: pass '101'"),
    "among": (lambda: tolmkit.relationships_among(HERD, [103]), "pass '103'"),
    "one_number": (lambda: prune(HERD, 103), "animal 103 is given as int"),
    "hybrid_inverse": (lambda: tolmkit.hybrid_inverse(HERD, [103, 101], G), "pass '103'"),
    "prune": (lambda: prune(HERD, [b"103"]), "animal b'103' is given as bytes, but the pedigree's "
                                             "identifiers are text: pass '103'"),
}


@pytest.mark.parametrize("call, message", ASKED.values(), ids=ASKED)
def test_numbers_asked_for_among_text_identifiers_say_so(call, message):
    with pytest.raises(TypeError, match=re.escape(message)):
        call()
    assert Pedigree(np.array([5, 7], dtype=object), [-1, -1], [-1, 0]).numbers([7]).tolist() == [1]
    with pytest.raises(PedigreeError, match="animal 'nl1' is not in the pedigree, but 'NL1' is: identifiers that "
                                            "differ in case"):
        Pedigree.from_records([("NL1", "0", "0")]).numbers(["nl1"])


def test_file_attributes_and_summary():
    pedigree = read_pedigree(io.StringIO("id,sire,dam,born,herd\nC,A,B,2001,0012\nA,0,0,1990,13\n"))
    assert pedigree.attributes["born"].tolist()[1:] == [1990, 2001]
    assert pedigree.attributes["herd"].tolist()[1:] == ["13", "0012"]
    assert pedigree.attributes["born"].isna().tolist() == [True, False, False]
    assert pedigree.summary().split() == ["animals", "3", "founders", "2", "parents", "added", "as", "founders", "1",
                                          "unknown", "sires", "2", "unknown", "dams", "2", "sires", "1", "dams", "1",
                                          "generations", "1", "most", "offspring", "among", "parents", "added",
                                          "as", "founders:", "B", "(1)"]


@pytest.mark.parametrize("sire, message", [
    ([-1, 2**32 + 1], "the sire of animal 1 is 4294967297"),
    ([-1, 1], "the sire of animal 1 is 1"),
    ([-1, -5], "the sire of animal 1 is -5"),
    ([-1, 0.9], "sire must be a one-dimensional array of integers, got float64"),
], ids=["beyond_32_bits", "not_before_its_offspring", "other_negative", "fraction"])
def test_from_numbers_refuses_what_are_not_codes(sire, message):
    sire = np.array(sire)
    before = sire.copy()
    with pytest.raises((PedigreeError, TypeError), match=re.escape(message)):
        Pedigree.from_numbers(sire, [-1, -1], unknown=-1)
    assert np.array_equal(sire, before)


@pytest.mark.parametrize("lengths, each", [(range(18, 19), 6), (range(18, 24), 10)], ids=["few", "sixty"])
def test_identifiers_around_the_length_kept_inline_and_more_parents_than_animals_added(lengths, each):
    # Names of 18 to 23 characters that differ in their last one only, and
    # three parents not listed for each animal, which outgrow the first table
    # (the few of them within one batch of look-ups).
    animals = [f"{'P' * (length - 2)}{length}{k}" for length in lengths for k in range(each)]
    records = [(name, animals[i - 1] if i % 2 else f"{'S' * 20}{i}", f"{'D' * 16}{i}") for i, name in
               enumerate(animals)]
    records += [(f"{'S' * 20}{i}x", f"{'S' * 20}{i}", f"D{i}") for i in range(0, len(animals), 2)]
    pedigree = read_pedigree(io.StringIO("".join(f"{a},{s},{d}\n" for a, s, d in records)))
    expected = {a: (s, d) for a, s, d in records}
    expected.update({parent: (None, None) for _, s, d in records for parent in (s, d) if parent not in expected})
    assert parents_by_id(pedigree) == expected


def test_very_deep_pedigree_in_reverse_order():
    lines = [f"g{k},{f'g{k - 1}' if k else 0},0\n" for k in range(20_000)]
    pedigree = read_pedigree(io.StringIO("".join(reversed(lines))))
    assert pedigree.ids[[0, -1]].tolist() == ["g0", "g19999"]
    assert repr(pedigree).endswith("dams=0, generations=19999)")


def test_groups_are_unknown_parents_to_every_figure_and_survive_pruning():
    sire, dam = simulate_pedigree(300, 6, seed=3)
    rows = [(f"a{k}", f"a{s}" if s < 300 else f"UPG_S{k % 3}", f"a{d}" if d < 300 else f"UPG_D{k % 2}")
            for k, (s, d) in enumerate(zip(sire, dam))]
    grouped = read_pedigree(io.StringIO("".join(f"{a},{s},{d}\n" for a, s, d in rows)), groups=["UPG*"])
    plain = read_pedigree(io.StringIO("".join(f"{a},{s if s[0] == 'a' else 0},{d if d[0] == 'a' else 0}\n"
                                              for a, s, d in rows)))
    assert grouped.ids.tolist() == plain.ids.tolist() and not np.any(grouped.added)
    assert inbreeding(grouped)[0].tobytes() == inbreeding(plain)[0].tobytes()
    names = np.append(grouped.group_ids, None)
    assert {a: (names[grouped.sire_group[k]] if s[0] == "U" else None, names[grouped.dam_group[k]] if d[0] == "U"
                else None) for k, (a, s, d) in zip(grouped.numbers([r[0] for r in rows]), rows)} == \
        {a: (s if s[0] == "U" else None, d if d[0] == "U" else None) for a, s, d in rows}
    assert grouped.group_ids.tolist()[:2] == ["UPG_S0", "UPG_D0"] and "groups of unknown parents" in grouped.summary()
    kept = prune(grouped, ["a299"], generations=1)
    assert kept.group_ids.tolist() == grouped.group_ids.tolist()
    assert np.all((kept.sire_group >= 0) == (kept.sire < 0) & (grouped.sire_group[grouped.numbers(kept.ids)] >= 0))
    with pytest.raises(PedigreeError, match="sire_group of animal 'b' is 0: a group number"):
        Pedigree(["a", "b"], [-1, 0], [-1, -1], group_ids=["G"], sire_group=[0, 0])
