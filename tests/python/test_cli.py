import importlib.util
import io
import re
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

from pedigrees import relationship_matrix
from tolmkit.cli import main

# e and f are offspring of full sibs; f's row comes before its parents'.
HERD = """animal,sire,dam,birth_year
a,0,0,2000
b,0,0,2000
f,c,d,2002
c,a,b,2001
d,a,b,2001
e,c,d,2002
"""


@pytest.fixture
def herd(tmp_path):
    path = tmp_path / "herd.csv"
    path.write_text(HERD)
    return path


@pytest.mark.parametrize("to_file", [False, True], ids=["stdout", "file"])
def test_inbreeding_writes_the_table_as_csv(herd, tmp_path, capsys, to_file):
    out = tmp_path / "f.csv"
    assert main(["inbreeding", str(herd)] + (["-o", str(out)] if to_file else [])) == 0
    table = pd.read_csv(out if to_file else io.StringIO(capsys.readouterr().out),
                        index_col="id", keep_default_na=False)
    assert table.columns[:3].tolist() == ["sire", "dam", "generation"] and "birth_year" in table
    assert table.index.tolist() == list("abcdfe")
    assert table.loc[["c", "e", "f"], "inbreeding"].tolist() == [0.0, 0.25, 0.25]
    assert table.loc["e", "sire"] == "c" and table.loc["a", "sire"] == ""


def test_ainv_writes_the_lower_triangle_numbered_from_one(herd, tmp_path):
    out = tmp_path / "ainv.txt"
    assert main(["ainv", str(herd), "-o", str(out)]) == 0
    ids = pd.read_csv(f"{out}.ids", sep=" ", header=None, names=["number", "id"])
    assert ids["number"].tolist() == list(range(1, 7)) and ids["id"].tolist() == list("abcdfe")
    triplets = np.loadtxt(out, ndmin=2)
    row, col = triplets[:, 0].astype(int) - 1, triplets[:, 1].astype(int) - 1
    assert np.all(row >= col)
    inverse = np.zeros((6, 6))
    inverse[row, col] = inverse[col, row] = triplets[:, 2]
    sire, dam = [6, 6, 0, 0, 2, 2], [6, 6, 1, 1, 3, 3]
    np.testing.assert_allclose(inverse, np.linalg.inv(relationship_matrix(sire, dam, 6)), atol=1e-12)


@pytest.mark.parametrize("arguments, shown", [
    ([], ["reference: 4 animals (every animal with both parents known)", "Ne ", "f_e 2.0", "f_a 2.0"]),
    (["--reference", "e", "f", "--by", "birth_year"], ["reference: 2 animals (given)", "birth_year", "2002"]),
    (["--reference-by", "birth_year=2002"], ["reference: 2 animals (birth_year in 2002)"]),
], ids=["default_reference", "given_reference_by_year", "reference_by_year"])
def test_stats_prints_the_population_figures(herd, capsys, arguments, shown):
    assert main(["stats", str(herd)] + arguments) == 0
    out = capsys.readouterr().out
    assert all(text in out for text in shown), out


@pytest.mark.skipif(importlib.util.find_spec("matplotlib") is None, reason="make demo installs matplotlib")
def test_stats_draws_the_trend(herd, tmp_path):
    plot = tmp_path / "trend.png"
    # In a process of its own: matplotlib's extensions would join this one's binding state.
    run = subprocess.run([sys.executable, "-m", "tolmkit", "stats", str(herd), "--by", "birth_year", "--plot",
                          str(plot)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert plot.read_bytes().startswith(b"\x89PNG")


def test_check_prints_the_summary_and_reading_options_apply(tmp_path, capsys):
    path = tmp_path / "herd.txt"
    path.write_text("x;-;-\ny;-;-\nz;x;y\nw;z;z\n")
    assert main(["check", str(path), "--delimiter", ";", "--unknown", "-", "--selfing"]) == 0
    assert re.search(r"^animals +4$", capsys.readouterr().out, re.M)
    assert main(["check", str(path), "--delimiter", ";", "--unknown=-,0"]) == 1


@pytest.mark.parametrize("content, arguments, message", [
    ("a,0,0\nb,0,0\na,b,0\n", ["check"], "line 3: animal 'a' is listed again"),
    ("a,0,0\nb,a\n", ["inbreeding"], "line 2:"),
    (None, ["check"], "No such file"),
    (HERD, ["stats", "--reference", "e", "x"], "'x' is not in the pedigree"),
    (HERD, ["stats", "--reference", "a", "b"], "none of the 2 reference animals"),
    ("a,-999,-999\nb,a,-999\n", ["check"], "pass --unknown=-999 if"),
], ids=["listed_twice", "short_line", "no_file", "unknown_reference", "reference_of_founders", "advice_as_options"])
def test_a_pedigree_that_cannot_be_used_exits_1_with_one_line(tmp_path, capsys, content, arguments, message):
    path = tmp_path / "ped.csv"
    if content is not None:
        path.write_text(content)
    assert main([arguments[0], str(path)] + arguments[1:]) == 1
    captured = capsys.readouterr()
    assert message in captured.err and captured.err.count("\n") == 1 and "Traceback" not in captured.err


@pytest.mark.parametrize("arguments", [
    [], ["frobnicate"], ["ainv", "HERD"], ["stats", "HERD", "--plot", "x.png"], ["stats", "HERD", "--by", "sex"],
    ["stats", "HERD", "--reference-by", "birth_year"], ["stats", "HERD", "--reference-by", "birth_year=late"],
    ["stats", "HERD", "--reference", "e", "--reference-by", "birth_year=2002"],
    ["stats", "HERD", "--max-ancestors", "0"],
], ids=["no_command", "unknown_command", "ainv_without_output", "plot_without_by", "unknown_column",
        "reference_by_without_values", "reference_by_not_a_number", "two_references", "no_ancestors"])
def test_wrong_usage_exits_2(herd, capsys, arguments):
    assert main([str(herd) if a == "HERD" else a for a in arguments]) == 2
    assert "usage: tolmkit" in capsys.readouterr().err


def test_runs_as_a_module():
    run = subprocess.run([sys.executable, "-m", "tolmkit", "--help"], capture_output=True, text=True)
    assert run.returncode == 0
    assert all(command in run.stdout for command in ("inbreeding", "ainv", "stats", "check"))


def test_ainv_writes_the_groups_after_the_animals(tmp_path):
    grouped = tmp_path / "grouped.csv"
    grouped.write_text("a,G0,G1\nb,a,G1\nc,a,b\n")
    out = tmp_path / "ainv.txt"
    assert main(["ainv", str(grouped), "--no-header", "--groups", "G0,G1", "-o", str(out)]) == 0
    ids = pd.read_csv(f"{out}.ids", sep=" ", header=None, names=["number", "id"], dtype={"id": str})
    assert ids["id"].tolist() == ["a", "b", "c", "G0", "G1"] and np.loadtxt(out, ndmin=2)[:, 0].max() == 5
