"""Quality control of genotypes against counts made by hand on a designed herd."""

import numpy as np
import pytest

from tolmkit import Pedigree, PedigreeError, genotype_quality

HERD = Pedigree.from_records(
    [("s", "0", "0"), ("d", "0", "0"), ("o1", "s", "d"), ("o2", "s", "d"), ("w", "s", "d"), ("x", "0", "0")]
    + [("f", "0", "0")]
)
# w is not s's: opposing homozygotes at markers 0, 1 and 7. o2 is 2 at
# marker 3, where both parents are 0. x is o1 genotyped again. f fails its
# call rate, marker 11 its own; markers 4 and 10 are monomorphic (5: missing).
ROWS = {
    "s": "021021021105",
    "d": "201021201105",
    "o1": "111021111105",
    "o2": "112220110201",
    "w": "201021101105",
    "x": "111021111105",
    "f": "555555111105",
}
IDS = list(ROWS)
GENOTYPES = np.array([[int(c) if c != "5" else -1 for c in row] for row in ROWS.values()], dtype=np.int8)
# Left after the calls and the frequencies: 9 markers, 0–3 and 5–9.
ANIMAL_CALLS = ("animal call rate", None, "f", None, 5 / 11)
MARKER_STEPS = [
    ("marker call rate", 11, None, None, 1 / 7),
    ANIMAL_CALLS,
    ("monomorphic", 4, None, None, 2.0),
    ("monomorphic", 10, None, None, 0.0),
]


@pytest.mark.parametrize(
    "on_conflict, max_pair_conflicts, conflicts, animals, markers",
    [
        # o2 conflicts with both parents at 1 of 9 markers: kept at 0.2, and
        # marker 3 conflicts in 2 of the 4 pairs left without w.
        (
            "genotype",
            0.2,
            [("parent-offspring conflict", None, "w", "s", 3 / 9), ("marker conflicts", 3, None, None, 2 / 4)],
            ["s", "d", "o1", "o2"],
            [0, 1, 2, 5, 6, 7, 8, 9],
        ),
        # w keeps its genotypes and its dam: 2 of 5 pairs.
        (
            "parent",
            0.2,
            [("parent-offspring conflict", None, "w", "s", 3 / 9), ("marker conflicts", 3, None, None, 2 / 5)],
            ["s", "d", "o1", "o2", "w"],
            [0, 1, 2, 5, 6, 7, 8, 9],
        ),
        # At 1 %, o2 goes too, and no pair left conflicts.
        (
            "genotype",
            0.01,
            [
                ("parent-offspring conflict", None, "o2", "s", 1 / 9),
                ("parent-offspring conflict", None, "w", "s", 3 / 9),
                ("parent-offspring conflict", None, "o2", "d", 1 / 9),
            ],
            ["s", "d", "o1"],
            [0, 1, 2, 3, 5, 6, 7, 8, 9],
        ),
    ],
)
def test_removals_are_the_hand_counts(on_conflict, max_pair_conflicts, conflicts, animals, markers):
    before = GENOTYPES.copy()
    result = genotype_quality(
        GENOTYPES,
        IDS,
        pedigree=HERD,
        on_conflict=on_conflict,
        max_pair_conflicts=max_pair_conflicts,
        min_marker_call_rate=0.8,  # markers 0–5, which f misses, are called in 6 of 7
    )
    # x has as many calls as o1 and comes later: it goes.
    expected = MARKER_STEPS + conflicts + [("duplicate", None, "x", "o1", 1.0)]
    table = result.removed.astype(object).where(result.removed.notna(), None)
    assert [tuple(row)[:4] for row in table.itertuples(index=False)] == [row[:4] for row in expected]
    assert np.allclose(result.removed["figure"], [row[4] for row in expected], rtol=1e-15)
    assert result.ids.tolist() == animals and result.markers.tolist() == markers
    assert np.array_equal(result.genotypes, GENOTYPES[np.ix_(result.animals, markers)])
    sires = dict(zip(result.pedigree.ids, result.pedigree.sire))
    assert sires["w"] == (-1 if on_conflict == "parent" else 0) and sires["o1"] == 0
    assert np.array_equal(GENOTYPES, before)


def test_duplicates_are_counted_at_the_markers_called_in_both():
    genotypes = np.array([[0, 1, 2] * 40, [0, 1, 2] * 39 + [0, -1, 0], [1, 2, 0] * 40], dtype=np.int8)
    result = genotype_quality(genotypes, min_marker_call_rate=0.0)
    # Rows 0 and 1 are called together at 119 markers and agree at 118; row 1 has the fewer calls.
    assert result.removed["kind"].tolist() == ["duplicate"]
    assert result.removed["animal"].tolist() == ["row 1"] and result.removed["other"].tolist() == ["row 0"]
    assert result.removed["figure"].tolist() == [118 / 119]
    assert len(genotype_quality(genotypes, min_maf=0.0, min_marker_call_rate=0.0, max_agreement=0.992).removed) == 0


@pytest.mark.parametrize(
    "options, message",
    [
        ({"min_marker_call_rate": 1.5}, "min_marker_call_rate must be a number from 0 to 1, got 1.5"),
        ({"max_agreement": -0.1}, "max_agreement must be a number from 0 to 1"),
        ({"max_pair_conflicts": "1%"}, "max_pair_conflicts must be a number"),
        ({"min_maf": 0.6}, "min_maf must be a number from 0 to 0.5"),
        ({"on_conflict": "sire"}, "on_conflict must be 'genotype' or 'parent', got 'sire'"),
        ({"ids": None}, "the Mendelian conflicts need the identifier of each animal: pass ids"),
    ],
)
def test_bad_thresholds_are_refused_by_name(options, message):
    before = GENOTYPES.copy()
    arguments = {"ids": IDS, "pedigree": HERD, **options}
    with pytest.raises(PedigreeError, match=message):
        genotype_quality(GENOTYPES, **arguments)
    assert np.array_equal(GENOTYPES, before)


def test_markers_of_one_genotype_each_are_refused_as_such():
    with pytest.raises(ValueError, match="each shows a single genotype among the 1 animals kept; genotype more"):
        genotype_quality(np.array([[0, 1, 2, 1]], np.int8), np.array(["a"], dtype=object), min_maf=0.0)
