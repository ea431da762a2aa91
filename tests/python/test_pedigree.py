"""Reading pedigree files: formats, unknown parents, numbering parents first, errors."""

import io

import numpy as np
import pytest

import tolmkit
from pedigrees import KINDS, random_pedigree
from tolmkit import Pedigree, PedigreeError, ancestry, read_pedigree

# The same pedigree, offspring listed before some of their parents.
SAME_PEDIGREE = {
    "csv_with_header": "animal,sire,dam\nC,A,B\nA,0,0\nB,,\nD,C,B\n",
    "csv_without_header": "C,A,B\nA,0,0\nB,NA,.\nD,C,B\n",
    "csv_quoted_and_extra_columns": 'id,sire,dam,born\n"C",A,B,2001\nA,0,0,1990\nB,,,1991\n"D","C",B,2003\n',
    "whitespace": "animal  sire dam\nC A B\n  A 0 0\nB . NA\nD  C   B\n",
    "tabs": "C\tA\tB\nA\t0\t0\nB\t\t\nD\tC\tB\n",
    "comments_and_blank_lines": "# herd 7\n\nC,A,B\n\nA,0,0\n# founder\nB,0,0\nD,C,B\n",
    "father_mother_header": "Animal Father Mother\nC A B\nA 0 0\nB 0 0\nD C B\n",
}


def parents_by_id(pedigree):
    name = lambda k: None if k < 0 else pedigree.ids[k]
    return {pedigree.ids[k]: (name(pedigree.sire[k]), name(pedigree.dam[k])) for k in range(len(pedigree))}


def assert_parents_first(pedigree):
    numbers = np.arange(len(pedigree))
    assert np.all(pedigree.sire < numbers) and np.all(pedigree.dam < numbers)


@pytest.mark.parametrize("text", SAME_PEDIGREE.values(), ids=SAME_PEDIGREE)
def test_formats_give_the_same_pedigree(text):
    pedigree = read_pedigree(io.StringIO(text))
    assert parents_by_id(pedigree) == {"A": (None, None), "B": (None, None), "C": ("A", "B"), "D": ("C", "B")}
    assert_parents_first(pedigree)


def test_semicolons_with_a_given_delimiter():
    pedigree = read_pedigree(io.StringIO("x;0;0\ny;x;0\n"), delimiter=";")
    assert parents_by_id(pedigree) == {"x": (None, None), "y": ("x", None)}


@pytest.mark.parametrize("header, first", [(True, ["b", "a"]), (False, ["kid", "b", "a"])],
                         ids=["header", "no_header"])
def test_header_can_be_forced_either_way(header, first):
    pedigree = read_pedigree(io.StringIO("kid b a\nb 0 0\na 0 0\n"), header=header)
    assert sorted(pedigree.ids) == sorted(first)


def test_other_codes_of_unknown_parents():
    pedigree = read_pedigree(io.StringIO("a - -\nb a -\n0 a b\n"), unknown={"-"})
    assert parents_by_id(pedigree) == {"a": (None, None), "b": ("a", None), "0": ("a", "b")}


def test_parents_not_listed_become_founders_numbered_first():
    pedigree = read_pedigree(io.StringIO("calf,bull,cow\nbull,grandsire,0\n"))
    assert list(pedigree.ids) == ["cow", "grandsire", "bull", "calf"]
    assert parents_by_id(pedigree)["calf"] == ("bull", "cow")
    assert repr(pedigree) == ("Pedigree(animals=4, founders=2, parents_added=2, unknown_sires=2, unknown_dams=3, "
                              "sires=2, dams=1, generations=2)")


def test_order_of_the_file_is_kept_when_parents_come_first():
    text = "".join(f"a{k},{'a%d' % (k - 1) if k else 0},0\n" for k in range(50))
    assert list(read_pedigree(io.StringIO(text)).ids) == [f"a{k}" for k in range(50)]


def test_reversed_deep_pedigree_is_renumbered_parents_first():
    lines = [f"g{k},{'g%d' % (k - 1) if k else 0},{'h%d' % (k - 1) if k else 0}\n" for k in range(300)]
    lines += [f"h{k},{'g%d' % (k - 1) if k else 0},0\n" for k in range(300)]
    pedigree = read_pedigree(io.StringIO("".join(reversed(lines))))
    assert_parents_first(pedigree)
    assert parents_by_id(pedigree)["g7"] == ("g6", "h6")
    assert len(pedigree) == 600


ERRORS = {
    "duplicate": ("a,0,0\nb,a,0\na,b,0\n", "line 3: animal 'a' is listed again (first on line 1)"),
    "own_sire": ("a,0,0\nb,b,a\n", "line 2: animal 'b' is its own sire"),
    "own_dam": ("a 0 0\n\nb a b\n", "line 3: animal 'b' is its own dam"),
    "loop_of_two": ("a,b,0\nb,a,0\n",
                    "line 1: animal 'a' is its own ancestor ('a' → 'b' → 'a', each a parent of the next)"),
    "loop_of_three": ("x,0,0\ny,0,0\na,x,c\nb,a,y\nc,b,0\n",
                      "line 3: animal 'a' is its own ancestor ('a' → 'b' → 'c' → 'a', each a parent of the next)"),
    "too_few_columns": ("a,0,0\nb,a\n", "line 2: expected animal, sire and dam, got 2 columns"),
    "animal_coded_unknown": ("a,0,0\nNA,a,0\n", "line 2: animal 'NA' has the code of an unknown parent"),
}


@pytest.mark.parametrize("text, message", ERRORS.values(), ids=ERRORS)
def test_errors_name_the_line(text, message):
    with pytest.raises(PedigreeError) as raised:
        read_pedigree(io.StringIO(text))
    assert str(raised.value) == message


def test_reads_a_path(tmp_path):
    path = tmp_path / "herd.txt"
    path.write_text("a 0 0\nb a 0\n", encoding="utf-8")
    assert parents_by_id(read_pedigree(path)) == parents_by_id(read_pedigree(str(path)))


def test_numbers_and_codes():
    pedigree = read_pedigree(io.StringIO("a,0,0\nb,0,0\nc,a,b\nd,c,0\n"))
    assert pedigree.numbers(["d", "a"]).tolist() == [3, 0]
    sire, dam = pedigree.codes(unknown=len(pedigree))
    assert (sire.dtype, sire.tolist(), dam.tolist()) == (np.int32, [4, 4, 0, 2], [4, 4, 1, 4])
    with pytest.raises(PedigreeError, match="animal 'z' is not in the pedigree"):
        pedigree.numbers(["a", "z"])


def test_records_from_memory_are_read_as_strings():
    pedigree = Pedigree.from_records([(10, 0, 0), (11, 0, 0), (12, 10, 11, "extra")])
    assert parents_by_id(pedigree) == {"10": (None, None), "11": (None, None), "12": ("10", "11")}
    with pytest.raises(PedigreeError, match="line 2: expected animal, sire and dam, got 2 fields"):
        Pedigree.from_records([("a", "0", "0"), ("b", "a")])


def test_from_numbers_takes_a_simulated_pedigree():
    pedigree = Pedigree.from_numbers([3, 3, 0], [3, 3, 1], unknown=3)
    assert parents_by_id(pedigree) == {"0": (None, None), "1": (None, None), "2": ("0", "1")}


@pytest.mark.parametrize("ids, sire, dam, message", [
    (["a", "a"], [-1, -1], [-1, -1], "the identifiers are not unique"),
    (["a", "b"], [-1, 1], [-1, -1], "every known parent must be numbered below its offspring"),
    (["a", "b"], [-1], [-1, -1], "sire and dam need one entry per animal"),
], ids=["repeated_id", "parent_after_offspring", "short_sire"])
def test_constructor_refuses_what_is_not_a_numbered_pedigree(ids, sire, dam, message):
    with pytest.raises(PedigreeError, match=message):
        Pedigree(ids, np.array(sire), np.array(dam))


@pytest.mark.parametrize("name", ["ids", "sire", "dam", "added", "group_ids", "sire_group", "dam_group",
                                  "inbreeding", "sampling_var", "generation", "equivalent_generations"])
def test_a_pedigree_does_not_change_once_made(name):
    pedigree = Pedigree.from_records([("c", "a", "b"), ("d", "c", "b"), ("e", "c", "d")])
    array = getattr(pedigree, name)
    before = array.copy()
    for change in (lambda: array.__setitem__(..., array[::-1]), lambda: array.setflags(write=True),
                   lambda: tolmkit.inbreeding(pedigree)[0].__setitem__(0, 0.5)):
        with pytest.raises(ValueError, match="read-only|WRITEABLE"):
            change()
    with pytest.raises(AttributeError):
        setattr(pedigree, name, before)
    handed_out = pedigree.attributes
    handed_out["born"] = 1
    assert np.array_equal(getattr(pedigree, name), before) and pedigree.attributes.columns.empty


@pytest.mark.parametrize("kind", KINDS)
def test_an_ancestry_has_the_inbreeding_of_the_whole_pedigree_to_the_bit(kind):
    rng = np.random.default_rng(sorted(KINDS).index(kind))
    sire, dam = random_pedigree(rng, KINDS[kind][1], code=-1, **KINDS[kind][0])
    whole = Pedigree([f"{k}" for k in range(len(sire))], sire, dam)
    # The ancestry is taken before the whole pedigree's F exists: it computes its own.
    kept, renumber = ancestry(whole, rng.choice(len(whole), 6))
    for name in ("inbreeding", "sampling_var", "generation", "equivalent_generations", "complete_generations"):
        assert np.array_equal(getattr(kept, name), getattr(whole, name)[renumber >= 0]), name
