"""The pedigree once numbered: its numbers and codes, identifiers asked for,
pedigrees built from numbers, what never changes, ancestries, and sexes;
what is not a pedigree, refused by every function that takes one."""

import functools
import inspect
import io
import operator
import re

import numpy as np
import pandas as pd
import pytest

import tolmkit
import tolmkit.blocks
import tolmkit.plots
import tolmkit.report
from tolmkit import Pedigree, PedigreeError, ancestry, prune, read_pedigree, sexes
from tolmkit.pedigree import select

from pedigrees import KINDS, parents_by_id, random_pedigree


def test_numbers_and_codes():
    pedigree = read_pedigree(io.StringIO("a,0,0\nb,0,0\nc,a,b\nd,c,0\n"))
    assert pedigree.numbers(["d", "a"]).tolist() == [3, 0]
    # Looked up in the file's text: repeats, numpy's strings, none at all.
    assert pedigree.numbers(["d", "a", "d", np.str_("c")]).tolist() == [3, 0, 3, 2]
    assert pedigree.numbers([]).tolist() == []
    sire, dam = pedigree.codes(unknown=len(pedigree))
    assert (sire.dtype, sire.tolist(), dam.tolist()) == (np.int32, [4, 4, 0, 2], [4, 4, 1, 4])
    with pytest.raises(PedigreeError, match="animal 'z' is not in the pedigree"):
        pedigree.numbers(["a", "z"])
    with pytest.raises(PedigreeError, match="is not in the pedigree"):
        pedigree.numbers(["a", "\ud800"])


def test_from_numbers_takes_a_simulated_pedigree():
    pedigree = Pedigree.from_numbers([3, 3, 0], [3, 3, 1], unknown=3)
    assert parents_by_id(pedigree) == {"0": (None, None), "1": (None, None), "2": ("0", "1")}


@pytest.mark.parametrize(
    "ids, sire, dam, message",
    [
        (["a", "a"], [-1, -1], [-1, -1], "the identifiers are not unique"),
        (["a", "b"], [-1, 1], [-1, -1], "every known parent must be numbered below its offspring"),
        (["a", "b"], [-1], [-1, -1], "sire and dam need one entry per animal"),
        ("ab", [-1, -1], [-1, -1], "ids must be a sequence of identifiers, one per animal, got str"),
        ([["a"], ["b"]], [-1, -1], [-1, -1], "ids must be a sequence of identifiers, one per animal, got list"),
        (["a", "b"], [-1, -1], [-1, -1], "attributes must be a pandas DataFrame, got dict"),
        (["a", None], [-1, -1], [-1, -1], r"animal 1 has no identifier \(None\)"),
    ],
    ids=[
        "repeated_id",
        "parent_after_offspring",
        "short_sire",
        "ids_text",
        "ids_of_two_dimensions",
        "attributes_dict",
        "no_id",
    ],
)
def test_constructor_refuses_what_is_not_a_numbered_pedigree(ids, sire, dam, message):
    attributes = {"x": [1, 2]} if "attributes" in message else None
    with pytest.raises(TypeError if message.startswith(("ids ", "attributes ")) else PedigreeError, match=message):
        Pedigree(ids, np.array(sire), np.array(dam), attributes=attributes)


def test_attributes_indexed_by_the_identifiers_follow_them():
    frame = pd.DataFrame({"born": [2003, 2000]}, index=["b", "a"])
    assert Pedigree(["a", "b"], [-1, -1], [-1, -1], attributes=frame).attributes["born"].tolist() == [2000, 2003]
    for index in (["b", "z"], ["b", "b"]):
        with pytest.raises(PedigreeError, match=re.escape(f"attributes are indexed by {index!r}")):
            Pedigree(["a", "b"], [-1, -1], [-1, -1], attributes=frame.set_axis(index))


@pytest.mark.parametrize(
    "name",
    [
        "ids",
        "sire",
        "dam",
        "added",
        "group_ids",
        "sire_group",
        "dam_group",
        "inbreeding",
        "sampling_var",
        "generation",
        "equivalent_generations",
        "layers.order",
        "layers.rank",
        "layers.bounds",
    ],
)
def test_a_pedigree_does_not_change_once_made(name):
    pedigree = Pedigree.from_records([("c", "a", "b"), ("d", "c", "b"), ("e", "c", "d")])
    array = operator.attrgetter(name)(pedigree)
    before = array.copy()
    for change in (
        lambda: array.__setitem__(..., array[::-1]),
        lambda: array.setflags(write=True),
        lambda: tolmkit.inbreeding(pedigree)[0].__setitem__(0, 0.5),
    ):
        with pytest.raises(ValueError, match="read-only|WRITEABLE"):
            change()
    if "." not in name:
        with pytest.raises(AttributeError):
            setattr(pedigree, name, before)
    handed_out = pedigree.attributes
    handed_out["born"] = 1
    assert np.array_equal(operator.attrgetter(name)(pedigree), before) and pedigree.attributes.columns.empty


@pytest.mark.parametrize(
    "made",
    [
        lambda frame: Pedigree(["a", "b"], [-1, 0], [-1, -1], attributes=frame),
        lambda frame: select(
            np.array(["a", "b"], dtype=object), np.array([-1, 0]), np.array([-1, -1]), np.arange(2), attributes=frame
        )[0],
    ],
)
def test_a_frame_changed_by_its_owner_leaves_the_pedigree_alone(made):
    frame = pd.DataFrame({"born": [1990, 2001], "herd": ["x", "y"]})
    pedigree = made(frame)
    frame.loc[0, "born"] = 0
    frame["herd"].to_numpy()[1] = "z"
    read_back = pedigree.attributes
    assert read_back["born"].tolist() == [1990, 2001] and read_back["herd"].tolist() == ["x", "y"]
    read_back.loc["a", "born"] = 1
    assert pedigree.attributes["born"].tolist() == [1990, 2001]


@pytest.mark.parametrize("kind", KINDS)
def test_an_ancestry_has_the_inbreeding_of_the_whole_pedigree_to_the_bit(kind):
    rng = np.random.default_rng(sorted(KINDS).index(kind))
    sire, dam = random_pedigree(rng, KINDS[kind][1], code=-1, **KINDS[kind][0])
    whole = Pedigree([f"{k}" for k in range(len(sire))], sire, dam)
    # The ancestry is taken before the whole pedigree's F exists: it computes its own.
    kept, renumber = ancestry(whole, rng.choice(len(whole), 6))
    for name in ("inbreeding", "sampling_var", "generation", "equivalent_generations", "complete_generations"):
        assert np.array_equal(getattr(kept, name), getattr(whole, name)[renumber >= 0]), name


HERD = Pedigree.from_records([("101", "0", "0"), ("102", "0", "0"), ("103", "101", "102")])
G = np.array([[1.0, 0.2], [0.2, 1.0]])

# Identifiers given from Python: numbers asked for among identifiers that are text.
ASKED = {
    "numbers": (
        lambda: HERD.numbers([103]),
        "animal 103 is given as int, but the pedigree's identifiers are text: pass '103'",
    ),
    "numpy": (
        lambda: HERD.numbers(np.array([7])),
        "animal 7 is given as int64, but the pedigree's identifiers are text: pass '7', which is not in the pedigree",
    ),
    "whole_float": (
        lambda: HERD.numbers([101.0, 102.0]),
        "animal 101.0 is given as float, but the pedigree's identifiers are text: pass '101'",
    ),
    "among": (lambda: tolmkit.relationships_among(HERD, [103]), "pass '103'"),
    "one_number": (lambda: prune(HERD, 103), "animal 103 is given as int"),
    "hybrid_inverse": (lambda: tolmkit.hybrid_inverse(HERD, [103, 101], G), "pass '103'"),
    "prune": (
        lambda: prune(HERD, [b"103"]),
        "animal b'103' is given as bytes, but the pedigree's identifiers are text: pass '103'",
    ),
    # Where their order counts; a reference population may be a set.
    "set": (lambda: tolmkit.hybrid_inverse(HERD, {"103", "101"}, G), "genotyped given as a set, whose order"),
    "text_among_numbers": (
        lambda: Pedigree(np.array([5, 7], dtype=object), [-1, -1], [-1, 0]).numbers(["7"]),
        "animal '7' is given as text, but the pedigree's identifiers are numbers: pass 7",
    ),
    "set_of_genotyped": (
        lambda: tolmkit.genotype_quality(np.zeros((2, 3), dtype=np.int8), {"a", "b"}),
        "ids given as a set",
    ),
}


@pytest.mark.parametrize("call, message", ASKED.values(), ids=ASKED)
def test_numbers_asked_for_among_text_identifiers_say_so(call, message):
    with pytest.raises(TypeError, match=re.escape(message)):
        call()
    assert Pedigree(np.array([5, 7], dtype=object), [-1, -1], [-1, 0]).numbers([7]).tolist() == [1]
    with pytest.raises(
        PedigreeError, match="animal 'nl1' is not in the pedigree, but 'NL1' is: identifiers that differ in case"
    ):
        Pedigree.from_records([("NL1", "0", "0")]).numbers(["nl1"])


@pytest.mark.parametrize(
    "sire, message",
    [
        ([-1, 2**32 + 1], "the sire of animal 1 is 4294967297"),
        ([-1, 1], "the sire of animal 1 is 1"),
        ([-1, -5], "the sire of animal 1 is -5"),
        ([-1, 0.9], "sire must be a one-dimensional array of integers, got float64"),
    ],
    ids=["beyond_32_bits", "not_before_its_offspring", "other_negative", "fraction"],
)
def test_from_numbers_refuses_what_are_not_codes(sire, message):
    sire = np.array(sire)
    before = sire.copy()
    with pytest.raises((PedigreeError, TypeError), match=re.escape(message)):
        Pedigree.from_numbers(sire, [-1, -1], unknown=-1)
    assert np.array_equal(sire, before)


@pytest.mark.parametrize(
    "text, options, expected",
    [
        ("id,sire,dam\nc,a,b\nd,a,c\n", {}, {"a": 1, "b": 2, "c": 2, "d": 0}),
        ("id,sire,dam,Sex\nc,a,b,F\nd,a,c,m\na,0,0,\ne,0,0,x\n", {}, {"a": 1, "b": 2, "c": 2, "d": 1, "e": 0}),
        ("c,a,b\nd,c,a\n", {"selfing": True}, {"a": 0, "b": 2, "c": 1, "d": 0}),
        # pandas reads a column of 1 and 2 with a gap as floats
        (
            pd.DataFrame({"id": [*"abcd"], "sire": [*"00aa"], "dam": [*"00bb"], "sex": [1.0, 2.0, np.nan, 2.0]}),
            {},
            {"a": 1, "b": 2, "c": 0, "d": 2},
        ),
    ],
    ids=["by_role", "recorded_first", "both_roles", "frame_of_floats"],
)
def test_sexes_as_recorded_else_by_role(text, options, expected):
    pedigree = read_pedigree(io.StringIO(text) if isinstance(text, str) else text, **options)
    assert dict(zip(pedigree.ids, sexes(pedigree).tolist())) == expected


TAKING_A_PEDIGREE = sorted(
    {
        call
        for module in (tolmkit, tolmkit.blocks, tolmkit.plots, tolmkit.report)
        for call in map(functools.partial(getattr, module), module.__all__)
        if inspect.isfunction(call) and "pedigree" in inspect.signature(call).parameters
    },
    key=lambda call: call.__name__,
)


@pytest.mark.parametrize("call", TAKING_A_PEDIGREE, ids=lambda call: call.__name__)
def test_a_frame_given_for_a_pedigree_is_refused_naming_how_to_make_one(call):
    # Numbers in its sire and dam columns, which read as animals' numbers would give figures.
    frame = pd.DataFrame({"id": [0, 1, 2], "sire": [-1, 0, 0], "dam": [-1, -1, 1]})
    parameters = inspect.signature(call).parameters.values()
    arguments = {parameter.name: None for parameter in parameters if parameter.default is parameter.empty}
    with pytest.raises(TypeError, match=re.escape("got a DataFrame: make one with tolmkit.read_pedigree(frame)")):
        call(**{**arguments, "pedigree": frame})


def test_a_frame_given_for_records_is_refused():
    frame = pd.DataFrame({"id": ["a"], "sire": ["0"], "dam": ["0"]})
    with pytest.raises(TypeError, match="records must be .* got a DataFrame: read it with read_pedigree"):
        Pedigree.from_records(frame)
