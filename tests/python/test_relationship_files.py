"""G read from the files of other programs, and the matrices of the
genotyped animals that hinv writes, against those of hybrid_inverse."""

import numpy as np
import pytest
from test_quality import GENOTYPES, HERD, IDS

import tolmkit
from tolmkit.cli import main
from tolmkit.relationship_files import RelationshipFileError, read_relationships, write_genotyped_block

from test_genotypes import write_plink

SMALL = tolmkit.Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b"), ("d", "a", "c")])
G3 = np.array([[1.0, 0.25, -0.5], [0.25, 1.5, 0.125], [-0.5, 0.125, 0.75]])  # exact in float32
TRIANGLE = "d d 1.0\nc d 0.25\nc c 1.5\nd a -0.5\n\n# the last animal\na c 0.125\na a 0.75\n"


def write_grm(prefix, ids, g, values=None):
    (prefix.parent / f"{prefix.name}.grm.id").write_text("".join(f"F{k}\t{name}\n" for k, name in enumerate(ids)))
    values = g[np.tril_indices(len(ids))] if values is None else values
    np.asarray(values, dtype="<f4").tofile(prefix.parent / f"{prefix.name}.grm.bin")


def test_text_and_gcta_files_give_g(tmp_path):
    text = tmp_path / "g.txt"
    text.write_text(TRIANGLE)
    full = tmp_path / "full.txt"
    full.write_text(TRIANGLE + "d c 0.25\n")
    # An identifier quoted on some lines and not on others names one animal.
    quoted = tmp_path / "quoted.txt"
    quoted.write_text(TRIANGLE.replace("d d", '"d" d').replace("a c 0.125", '"a"\t"c"  "0.125"'))
    write_grm(tmp_path / "gcta", ["d", "c", "a"], G3)
    for path in (text, full, quoted, tmp_path / "gcta", tmp_path / "gcta.grm.bin"):
        ids, g = read_relationships(path, pedigree=SMALL)
        assert ids.tolist() == ["d", "c", "a"] and np.array_equal(g, G3)
    # Identifiers written quoted, holding blanks, a quote or a '#', read back;
    # values in their shortest digits, which pandas' parsers read a unit in the
    # last place off, read back to their bits.
    named = np.array(["HB 001 01", 'a"b', "c #2"], dtype=object)
    write_genotyped_block(G3 / 7, np.arange(3), named, str(tmp_path / "named.txt"))
    ids, g = read_relationships(tmp_path / "named.txt")
    assert ids.tolist() == named.tolist() and np.array_equal(g, G3 / 7)


@pytest.mark.parametrize(
    "content, message",
    [
        (TRIANGLE.replace("c c 1.5", "c c"), r"g.txt: line 3: 2 fields; a line holds 3"),
        (TRIANGLE.replace("c d", '"c d'), r"g.txt: line 2: a quote opens and is not closed on this line"),
        (TRIANGLE.replace("c c", '"c"c c'), r"g.txt: line 3: a quote inside a field; quote a whole identifier"),
        (TRIANGLE.replace("c c", 'c c"'), r"g.txt: line 3: a quote inside a field; quote a whole identifier"),
        (TRIANGLE.replace("1.5", "x"), r"g.txt: line 3: 'x' is not a finite number"),
        (TRIANGLE.replace("0.125", "0x1"), r"g.txt: line 7: '0x1' is not a finite number"),
        (TRIANGLE.replace("1.5", "nan"), r"g.txt: line 3: 'nan' is not a finite number"),
        (TRIANGLE + "c d 0.3\n", r"g.txt: line 9: the pair 'c', 'd' is 0.3, but 0.25 on line 2; .* symmetric"),
        (TRIANGLE.replace("c d 0.25\n", ""), r"g.txt: no line for the pair 'c', 'd'; .* 3 animals, 6 lines, 5 given"),
        (TRIANGLE.replace("a", "x"), r"g.txt: line 4: animal 'x' is not in the pedigree"),
        ("\n# nothing\n", r"g.txt: no line"),
    ],
)
def test_bad_text_files_are_refused_naming_the_line(tmp_path, content, message):
    path = tmp_path / "g.txt"
    path.write_text(content)
    with pytest.raises(RelationshipFileError, match=message):
        read_relationships(path, pedigree=SMALL)


@pytest.mark.parametrize(
    "ids, values, message",
    [
        (["d", "c", "a"], np.zeros(5), r"gcta.grm.bin: 20 bytes, where the 3 animals of .*gcta.grm.id need 24"),
        (["d", "c", "a"], [1, 0, 1, 0, np.inf, 1], r"value 5 \(animals 'a', 'c'\) is inf"),
        (["d", "c", "d"], np.zeros(6), r"gcta.grm.id: line 3: animal 'd' is listed again \(first on line 1\)"),
        (["d", "c", "e"], np.zeros(6), r"gcta.grm.id: line 3: animal 'e' is not in the pedigree"),
    ],
)
def test_bad_gcta_files_are_refused(tmp_path, ids, values, message):
    write_grm(tmp_path / "gcta", ids, None, values)
    with pytest.raises(RelationshipFileError, match=message):
        read_relationships(tmp_path / "gcta", pedigree=SMALL)


def test_hinv_writes_the_matrices_of_the_genotyped_animals(tmp_path, capsys):
    herd, chip, out = tmp_path / "herd.csv", tmp_path / "chip", tmp_path / "hinv.txt"
    herd.write_text("animal,sire,dam\n" + "".join(f"{a},{s or 0},{d or 0}\n" for a, s, d in zip(HERD.ids, *parents())))
    write_plink(chip, GENOTYPES, IDS)
    files = {name: tmp_path / f"{name}.txt" for name in tolmkit.genomic.KEPT}
    options = [f"--write-{name.lower().replace('_', '-')}={path}" for name, path in files.items()]
    qc = ["--min-marker-call-rate=0.8", "--max-pair-conflicts=0.2"]
    assert main(["hinv", str(herd), "--genotypes", str(chip), "-o", str(out), *qc, *options]) == 0
    checked = tolmkit.genotype_quality(GENOTYPES, IDS, pedigree=HERD, min_marker_call_rate=0.8, max_pair_conflicts=0.2)
    g = tolmkit.genomic_relationship_matrix(checked.genotypes)
    result = tolmkit.hybrid_inverse(HERD, checked.ids, g, keep=tolmkit.genomic.KEPT)
    removed = (tmp_path / "hinv.txt.quality.csv").read_text().splitlines()
    assert removed[0] == "kind,marker,animal,other,figure,threshold" and len(removed) == 1 + len(checked.removed)
    assert "parent-offspring conflict,,w,s,0.3333333333333333,0.2" in removed
    numbered = sorted(int(row.split(",")[1]) for row in removed[1:] if row.split(",")[1])
    assert numbered and numbered == sorted(checked.removed["marker"].dropna() + 1)  # from 1, as messages number
    assert "quality control: kept 4 animals and 8 markers" in capsys.readouterr().err
    key = (tmp_path / "hinv.txt.ids").read_text()
    for name, path in files.items():
        triplets = np.loadtxt(path)
        written = np.zeros((len(HERD), len(HERD)))
        written[triplets[:, 0].astype(int) - 1, triplets[:, 1].astype(int) - 1] = triplets[:, 2]
        rows = HERD.numbers(checked.ids)
        assert np.array_equal(written[np.ix_(rows, rows)], np.where(rows[:, None] >= rows, result.kept[name], 0))
        assert (tmp_path / f"{name}.txt.ids").read_text() == key
    # The G written, read back by --g in the pedigree's order, gives H-inverse again.
    write_genotyped_block(result.kept["G"], HERD.numbers(checked.ids), HERD.ids, str(tmp_path / "g.txt"))
    assert main(["hinv", str(herd), "--g", str(tmp_path / "g.txt"), "-o", str(tmp_path / "again.txt")]) == 0
    again, first = np.loadtxt(tmp_path / "again.txt"), np.loadtxt(out)
    assert np.array_equal(again[:, :2], first[:, :2]) and np.allclose(again[:, 2], first[:, 2], rtol=1e-12)
    assert main(["hinv", str(herd), "--genotypes", str(chip), "-o", str(out), "--min-maf=0.7"]) == 1
    assert "--min-maf must be a number from 0 to 0.5, got 0.7" in capsys.readouterr().err


def parents():
    return ([None if p < 0 else HERD.ids[p] for p in parents] for parents in (HERD.sire, HERD.dam))
