"""The rule of records: each parent an animal, a code of an unknown parent,
a group or a founder not listed, never two of these; the animals numbered
parents first; every record that breaks the rule refused naming its line."""

import io
import re

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.compute as pc
import pytest

from tolmkit import Pedigree, PedigreeError, inbreeding, prune, read_pedigree, simulate_pedigree
from tolmkit._patterns import LOOKS_UNKNOWN, NUMBER, WORD
from tolmkit.cli import main

from pedigrees import A_B, assert_parents_first, parents_by_id, read_or_refused

# The dams of B, C and D are a group of unknown dams, UD.
GROUP_CODED = "A,0,0\nB,A,UD\nC,A,UD\nD,B,UD\n"

# name: (file content, keyword arguments, the parents read or (error, part of its message))
FILES = {
    "one_code_as_a_string": (
        "a,NA,NA\nb,N,A\n",
        {"unknown": "NA", "case_distinct": True},
        {"N": (None, None), "A": (None, None), "a": (None, None), "b": ("N", "A")},
    ),
    "several_codes": ("A,-,?\nB,A,-\n", {"unknown": ["-", "?"]}, A_B),
    "selfing_allowed": (
        "A,0,0\nB,A,A\nC,B,A\n",
        {"selfing": True},
        {"A": (None, None), "B": ("A", "A"), "C": ("B", "A")},
    ),
    "sexes_right": (
        "id,sire,dam,sex\nC,A,B,1\nA,0,0,male\nB,0,0,F\n",
        {},
        {"A": (None, None), "B": (None, None), "C": ("A", "B")},
    ),
    **{
        f"code_{code}": (
            f"A,{code},{code}\nB,A,{code}\n",
            {},
            (
                PedigreeError,
                f"line 1: the sire of 'A', '{code}', is not listed as an animal and reads like a code of "
                f"an unknown parent; pass unknown='{code}' if '{code}' means an unknown parent",
            ),
        )
        for code in ["-", "nan", "NaN", "-1", "-999", "000000", "NULL", "?", "n/a", "Unknown"]
    },
    "empty_parent_not_a_code": ("A,-,\nB,A,-\n", {"unknown": "-"}, (PedigreeError, "line 1: the dam of 'A', ''")),
    "header_among_records": (
        "A,0,0\nid,sire,dam\nB,A,0\n",
        {},
        (PedigreeError, "line 2: a header line (id, sire, dam) among the records; remove it"),
    ),
    "sire_and_dam": (
        "A,0,0\nB,0,0\nC,A,B\nD,B,A\n",
        {},
        (
            PedigreeError,
            (
                "line 4: animal 'B' is the sire of 'D' here and the dam of 'C' on line 3; correct the record, "
                "or pass selfing=True"
            ),
        ),
    ),
    "selfed": (
        "A,0,0\nB,A,A\n",
        {},
        (PedigreeError, "line 2: animal 'B' has 'A' as both sire and dam; pass selfing=True"),
    ),
    "sire_recorded_female": (
        "id,sire,dam,sex\nA,0,0,F\nB,0,0,F\nC,A,B,M\n",
        {},
        (PedigreeError, "line 2: animal 'A' is recorded female ('F') but is the sire of 'C' on line 4"),
    ),
    "dam_recorded_male": (
        "id,sire,dam,gender\nA,0,0,1\nB,0,0,Male\nC,A,B,2\n",
        {},
        (PedigreeError, "line 3: animal 'B' is recorded male ('Male') but is the dam of 'C'"),
    ),
    "code_listed_as_animal": ("-999,0,0\nB,-999,0\n", {}, (PedigreeError, "line 1: animal '-999' reads like a code")),
    "given_code_listed_as_animal": (
        "A,0,0\n?,A,0\n",
        {"unknown": ["0", "?"]},
        (PedigreeError, "line 2: animal '?' has the code of an unknown parent"),
    ),
    "no_animal_identifier": (
        "A,-,-\n,A,-\n",
        {"unknown": "-"},
        (PedigreeError, "line 2: the animal has no identifier"),
    ),
    **{
        f"number_written_{parent}": (
            f"{animal};0;0\nB;{parent};0\n",
            {"delimiter": ";"},
            (
                PedigreeError,
                f"line 2: the sire of 'B', {parent!r}, is not listed as an animal, but '{animal}' is (line 1)",
            ),
        )
        for animal, parent in [
            ("123", "0123"),
            ("123", "123.0"),
            ("123", "123,0"),
            ("3000", "3.000"),
            ("3000", "3'000"),
        ]
    },
    "number_written_two_ways_by_parents": (
        "C,0012,B\nD,12,B\nB,0,0\n",
        {},
        (
            PedigreeError,
            "line 1: the sire of 'C', '0012', and the sire of 'D', '12' (line 2), are not listed as animals: "
            "the same number written two ways",
        ),
    ),
    "dam_with_many_offspring": (
        GROUP_CODED,
        {"max_offspring": 2},
        (
            PedigreeError,
            "line 2: the dam 'UD' is not listed as an animal and has 3 offspring, more than the 2",
            "pass --groups=UD",
        ),
    ),
    "dam_with_many_offspring_allowed": (
        GROUP_CODED,
        {"max_offspring": 0},
        {"A": (None, None), "UD": (None, None), "B": ("A", "UD"), "C": ("A", "UD"), "D": ("B", "UD")},
    ),
    "groups": (
        GROUP_CODED,
        {"max_offspring": 2, "groups": ["UD"]},
        {"A": (None, None), "B": ("A", None), "C": ("A", None), "D": ("B", None)},
    ),
    "many_parents_not_listed": (
        "".join(f"c{k},s{k},d{k}\n" for k in range(5)),
        {"header": False},
        {
            **{f"{p}{k}": (None, None) for k in range(5) for p in "sd"},
            **{f"c{k}": (f"s{k}", f"d{k}") for k in range(5)},
        },
    ),
    "groups_by_a_function": (
        GROUP_CODED,
        {"max_offspring": 2, "groups": lambda code: code.startswith("U")},
        {"A": (None, None), "B": ("A", None), "C": ("A", None), "D": ("B", None)},
    ),
    "selfing_lifts_the_limit": (
        GROUP_CODED,
        {"max_offspring": 2, "selfing": True},
        {"A": (None, None), "UD": (None, None), "B": ("A", "UD"), "C": ("A", "UD"), "D": ("B", "UD")},
    ),
    "group_listed_as_animal": (
        "UD,0,0\nB,UD,0\n",
        {"groups": ["UD"]},
        (PedigreeError, "line 1: animal 'UD' has the code of a group"),
    ),
    # A field fits one kind only, whether groups are codes, prefixes or a function.
    **{
        f"animal_fits_groups_{name}": (
            "A,0,0\nG7,A,0\nB,G7,G1\n",
            {"groups": groups},
            (PedigreeError, f"line 2: animal 'G7' has the code of a group ({said})", "(--groups"),
        )
        for name, groups, said in [
            ("by_prefix", ["G*"], "groups=['G*']"),
            ("by_function", lambda code: code[0] == "G", "the function given as groups="),
        ]
    },
    "animal_fits_groups_not_a_parent": (
        "A,0,0\nG7,A,0\nB,A,G1\n",
        {"groups": ["G*"]},
        (PedigreeError, "line 2: animal 'G7' has the code of a group"),
    ),
    "groups_by_a_function_that_fails": (
        "DE1,-5,0\nDE2,DE1,-6\n",
        {"groups": lambda code: int(code) < 0},
        (PedigreeError, "the function given as groups= fails on 'DE1' (ValueError: invalid literal"),
    ),
    "code_fits_groups": (
        "A,NA,0\nB,A,N1\n",
        {"groups": ["N*"]},
        (
            PedigreeError,
            "line 1: the sire of 'A', 'NA', is both a code of an unknown parent and a group by groups=['N*']",
            "group by --groups='N*'",
        ),
    ),
    "groups_by_prefix_beside_animals": (
        "GA,0,0\nB,GA,G1\n",
        {"groups": ["G1*"]},
        {"GA": (None, None), "B": ("GA", None)},
    ),
    # Identifiers that differ only in case are one animal typed two ways, unless said.
    "case_of_a_parent": (
        "A,0,0\nB,nl1,0\nNL1,0,0\n",
        {},
        (
            PedigreeError,
            "line 2: the sire of 'B', 'nl1', is not listed as an animal, but 'NL1' is (line 3), and "
            "the two differ only in case; write them alike, or pass case_distinct=True",
            "--case-distinct",
        ),
    ),
    "case_said": (
        "A,0,0\nB,nl1,0\nNL1,0,0\n",
        {"case_distinct": True},
        {"A": (None, None), "nl1": (None, None), "B": ("nl1", None), "NL1": (None, None)},
    ),
    "case_of_two_animals": (
        "Bella,0,0\nx,Bella,0\nBELLA,0,0\n",
        {},
        (PedigreeError, "line 1: animal 'Bella' and animal 'BELLA' (line 3) differ only in case"),
    ),
    "case_of_two_founders": (
        "x,rex,0\ny,Rex,0\n",
        {},
        (
            PedigreeError,
            "line 1: the sire of 'x', 'rex', and the sire of 'y', 'Rex' (line 2), are not listed as "
            "animals and differ only in case",
        ),
    ),
    "case_beyond_ascii": (
        "\u00c4rger,0,0\nb,\u00e4rger,0\n",
        {},
        (PedigreeError, "line 2: the sire of 'b', '\u00e4rger', is not listed as an animal, but '\u00c4rger' is"),
    ),
    "group_code_in_another_case": (
        "A,0,0\nB,A,UPG1\n",
        {"groups": ["upg1"]},
        (PedigreeError, "line 2: the dam of 'B', 'UPG1', differs only in case from 'upg1', the code of a group"),
    ),
    "group_prefix_in_another_case": (
        "A,0,0\nB,upg_1,0\nC,A,UPG1\n",
        {"groups": ["UPG*"]},
        (
            PedigreeError,
            "line 2: the sire of 'B', 'upg_1', is not listed as an animal and begins as the groups "
            "'UPG*' do but for case",
        ),
    ),
    "one_case_each": (
        "DE1,0,0\nde2,DE1,0\nx,de2,DE3\n",
        {},
        {"DE3": (None, None), "DE1": (None, None), "de2": ("DE1", None), "x": ("de2", "DE3")},
    ),
    # Refusals that send the user the right way.
    "negative_group_codes": (
        "A,-5,-6\nB,A,-5\n",
        {},
        (
            PedigreeError,
            "pass unknown='-5' if '-5' means an unknown parent (several codes: unknown=['-5', "
            "'...']); or groups=['-5', '...'] if the negative numbers",
            "or --groups=-5,... if",
        ),
    ),
    "hash_as_a_code": (
        "A,#,#\nB,A,#\n",
        {},
        (
            PedigreeError,
            "line 1: the sire of 'A', '#', is not listed as an animal and reads like a code of an unknown parent",
        ),
    ),
    "hash_as_a_code_said": ("A,#,#\nB,A,#\n", {"unknown": "#"}, A_B),
    "header_again_in_another_order": (
        "id,sire,dam\nS1,0,0\nD1,0,0\nX,S1,D1\nid,dam,sire\nD2,0,0\n",
        {},
        (PedigreeError, "line 5: a header line (id, dam, sire) among the records; remove it"),
    ),
    "own_header_again_in_another_case_and_order": (
        "ID,Vater,Mutter\nA,0,0\nid,mutter,vater\nB,A,0\n",
        {"header": True, "columns": ("ID", "Vater", "Mutter")},
        (PedigreeError, "line 3: a header line (id, mutter, vater) among the records; remove it"),
    ),
    "parent_named_as_a_column": (
        "id,sire,dam\nA,0,0\nC,sire,0\n",
        {},
        (PedigreeError, "line 3: the sire of 'C', 'sire', is not listed as an animal and reads like the name of a"),
    ),
    "spreadsheet_error_as_a_code": (
        "A,0,0\nB,#N/A,A\n",
        {},
        (PedigreeError, "line 2: the sire of 'B', '#N/A', is not listed as an animal and reads like a code"),
    ),
    "database_null_as_a_code": (
        "A,0,0\nB,A,\\N\n",
        {},
        (PedigreeError, "line 2: the dam of 'B', '\\\\N', is not listed as an animal and reads like a code"),
    ),
    "national_number_of_zeros_as_an_animal": (
        "DE000000000000,0,0\nB,0,0\n",
        {},
        (PedigreeError, "line 1: animal 'DE000000000000' reads like a code of an unknown parent"),
    ),
    "two_records_without_identifiers": ("A,0,0\n,,\n,,\n", {}, (PedigreeError, "line 2: the animal has no identifier")),
}


@pytest.mark.parametrize("content, options, outcome", FILES.values(), ids=FILES)
def test_files_are_read_right_or_refused_naming_the_line(tmp_path, content, options, outcome):
    read_or_refused(tmp_path / "herd.csv", content, options, outcome)


def test_the_command_reads_identifiers_that_differ_in_case_when_told(tmp_path, capsys):
    path = tmp_path / "herd.csv"
    path.write_text("A,0,0\nB,nl1,0\nNL1,0,0\n")
    assert main(["check", str(path)]) == 1 and "or pass --case-distinct if" in capsys.readouterr().err
    assert main(["check", str(path), "--case-distinct"]) == 0


RECORDS = {
    "missing_values_and_whole_floats": (
        [("a", None, np.nan), ("b", "a", pd.NA), (101.0, "a", "b"), ("c", 101, "")],
        {"a": (None, None), "b": ("a", None), "101": ("a", "b"), "c": ("101", None)},
    ),
    "bytes": ([(b"a", None, None)], (TypeError, "line 1: identifier b'a' is a bytes")),
    "fraction": ([("a", 1.5, None)], (PedigreeError, "line 1: identifier 1.5 is not a whole number")),
    "short": ([("a", None, None), ("b", "a")], (PedigreeError, "line 2: expected animal, sire and dam, got 2")),
    "no_animal": ([(None, None, None)], (PedigreeError, "line 1: the animal has no identifier")),
    "none": ([], (PedigreeError, "there are no animals")),
    "case": (
        [("x", "nl1", None), ("NL1", None, None)],
        (PedigreeError, "line 1: the sire of 'x', 'nl1', is not listed as an animal, but 'NL1' is (line 2)"),
    ),
}


@pytest.mark.parametrize("records, outcome", RECORDS.values(), ids=RECORDS)
def test_records(records, outcome):
    if isinstance(outcome, dict):
        assert parents_by_id(Pedigree.from_records(records)) == outcome
    else:
        with pytest.raises(outcome[0], match=re.escape(outcome[1])):
            Pedigree.from_records(records)


def test_other_codes_of_unknown_parents():
    pedigree = read_pedigree(io.StringIO("a - -\nb a -\n0 a b\n"), unknown={"-"})
    assert parents_by_id(pedigree) == {"a": (None, None), "b": ("a", None), "0": ("a", "b")}


def test_parents_not_listed_become_founders_numbered_first():
    pedigree = read_pedigree(io.StringIO("calf,bull,cow\nbull,grandsire,0\n"))
    assert list(pedigree.ids) == ["cow", "grandsire", "bull", "calf"]
    assert parents_by_id(pedigree)["calf"] == ("bull", "cow")
    assert repr(pedigree) == (
        "Pedigree(animals=4, founders=2, parents_added=2, unknown_sires=2, unknown_dams=3, "
        "sires=2, dams=1, generations=2)"
    )


def test_order_of_the_file_is_kept_when_parents_come_first():
    text = "".join(f"a{k},{f'a{k - 1}' if k else 0},0\n" for k in range(50))
    assert list(read_pedigree(io.StringIO(text)).ids) == [f"a{k}" for k in range(50)]


def test_reversed_deep_pedigree_is_renumbered_parents_first():
    lines = [f"g{k},{f'g{k - 1}' if k else 0},{f'h{k - 1}' if k else 0}\n" for k in range(300)]
    lines += [f"h{k},{f'g{k - 1}' if k else 0},0\n" for k in range(300)]
    pedigree = read_pedigree(io.StringIO("".join(reversed(lines))))
    assert_parents_first(pedigree)
    assert parents_by_id(pedigree)["g7"] == ("g6", "h6")
    assert len(pedigree) == 600


ERRORS = {
    "duplicate": ("a,0,0\nb,a,0\na,b,0\n", "line 3: animal 'a' is listed again (first on line 1)"),
    "own_sire": ("a,0,0\nb,b,a\n", "line 2: animal 'b' is its own sire"),
    "own_dam": ("a 0 0\n\nb a b\n", "line 3: animal 'b' is its own dam"),
    "loop_of_two": (
        "a,b,0\nb,a,0\n",
        "line 1: animal 'a' is its own ancestor ('a' → 'b' → 'a', each a parent of the next)",
    ),
    "loop_of_three": (
        "x,0,0\ny,0,0\na,x,c\nb,a,y\nc,b,0\n",
        "line 3: animal 'a' is its own ancestor ('a' → 'b' → 'c' → 'a', each a parent of the next)",
    ),
    "too_few_columns": ("a,0,0\nb,a\n", "line 2: expected animal, sire and dam, got 2 columns"),
    "animal_coded_unknown": ("a,0,0\nNA,a,0\n", "line 2: animal 'NA' has the code of an unknown parent"),
}


@pytest.mark.parametrize("text, message", ERRORS.values(), ids=ERRORS)
def test_errors_name_the_line(text, message):
    with pytest.raises(PedigreeError) as raised:
        read_pedigree(io.StringIO(text))
    assert str(raised.value) == message


def test_records_from_memory_are_read_as_strings():
    pedigree = Pedigree.from_records([(10, 0, 0), (11, 0, 0), (12, 10, 11, "extra")])
    assert parents_by_id(pedigree) == {"10": (None, None), "11": (None, None), "12": ("10", "11")}
    with pytest.raises(PedigreeError, match="line 2: expected animal, sire and dam, got 2 fields"):
        Pedigree.from_records([("a", "0", "0"), ("b", "a")])


@pytest.mark.parametrize("lengths, each", [(range(18, 19), 6), (range(18, 24), 10)], ids=["few", "sixty"])
def test_identifiers_around_the_length_kept_inline_and_more_parents_than_animals_added(lengths, each):
    # Names of 18 to 23 characters that differ in their last one only, and
    # three parents not listed for each animal, which outgrow the first table
    # (the few of them within one batch of look-ups).
    animals = [f"{'P' * (length - 2)}{length}{k}" for length in lengths for k in range(each)]
    records = [
        (name, animals[i - 1] if i % 2 else f"{'S' * 20}{i}", f"{'D' * 16}{i}") for i, name in enumerate(animals)
    ]
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
    rows = [
        (f"a{k}", f"a{s}" if s < 300 else f"UPG_S{k % 3}", f"a{d}" if d < 300 else f"UPG_D{k % 2}")
        for k, (s, d) in enumerate(zip(sire, dam))
    ]
    grouped = read_pedigree(io.StringIO("".join(f"{a},{s},{d}\n" for a, s, d in rows)), groups=["UPG*"])
    plain = read_pedigree(
        io.StringIO("".join(f"{a},{s if s[0] == 'a' else 0},{d if d[0] == 'a' else 0}\n" for a, s, d in rows))
    )
    assert grouped.ids.tolist() == plain.ids.tolist() and not np.any(grouped.added)
    assert inbreeding(grouped)[0].tobytes() == inbreeding(plain)[0].tobytes()
    names = np.append(grouped.group_ids, None)
    assert {
        a: (names[grouped.sire_group[k]] if s[0] == "U" else None, names[grouped.dam_group[k]] if d[0] == "U" else None)
        for k, (a, s, d) in zip(grouped.numbers([r[0] for r in rows]), rows)
    } == {a: (s if s[0] == "U" else None, d if d[0] == "U" else None) for a, s, d in rows}
    assert grouped.group_ids.tolist()[:2] == ["UPG_S0", "UPG_D0"] and "groups of unknown parents" in grouped.summary()
    kept = prune(grouped, ["a299"], generations=1)
    assert kept.group_ids.tolist() == grouped.group_ids.tolist()
    assert np.all((kept.sire_group >= 0) == (kept.sire < 0) & (grouped.sire_group[grouped.numbers(kept.ids)] >= 0))
    with pytest.raises(PedigreeError, match="sire_group of animal 'b' is 0: a group number"):
        Pedigree(["a", "b"], [-1, 0], [-1, -1], group_ids=["G"], sire_group=[0, 0])


# Strings that a field may hold, where the patterns of its kinds could part:
# codes, numbers, words, and the letters and digits of other scripts.
FIELDS = [
    "",
    "0",
    "000",
    "0.0",
    "0.",
    "00.00",
    "-",
    "--",
    "?",
    "*",
    ".",
    "#",
    "?-*.#",
    "-999",
    "-1.5",
    "-1.",
    "-0",
    "+1",
    "1",
    "0123",
    "123.0",
    "123.",
    "123.5",
    "12a",
    "1e5",
    "nan",
    "NaN",
    "NULL",
    "None",
    "nil",
    "n/a",
    "NA",
    "na",
    "N/A",
    "Unknown",
    "MISSING",
    "#N/A",
    "<NA>",
    "'0'",
    "(none)",
    "N.A.",
    "_",
    "–",
    "0-0",
    "00/00/0000",
    "\\N",
    "N.N.",
    "#NV",
    "#DIV/0!",
    "\u2212999",
    "DE000000000000",
    "DE000000000123",
    "(blank)",
    "unknowns",
    "x",
    "A1",
    "sire",
    "sire_reg",
    "Sire ID",
    "parent1",
    "dam12",
    "Vater",
    "Mütter",
    "Ärger",
    "x²",
    "Ⅻ",
    "½",
    "١٢٣",
    "-٣",
    "٣.0",
    "a-b",
    "a__b",
    "a1b",
    "a b",
    " ",
    "A\u00a0B",
]


@pytest.mark.parametrize("twin", [LOOKS_UNKNOWN, NUMBER, WORD], ids=["LOOKS_UNKNOWN", "NUMBER", "WORD"])
def test_each_pattern_and_its_pyarrow_twin_match_the_same_fields(twin):
    python = [bool(twin.python.fullmatch(field)) for field in FIELDS]
    arrow = pc.match_substring_regex(pa.array(FIELDS), twin.arrow).to_pylist()
    assert [field for field, one, other in zip(FIELDS, python, arrow) if one != other] == []
    assert any(python) and not all(python)
