import errno
import gzip
import io
import os
import re
import resource
import signal
import subprocess
import sys

import numpy as np
import pandas as pd
import pyarrow as pa
import pytest

import tolmkit
import tolmkit.cli
import tolmkit.writing
from tolmkit.cli import main

from pedigrees import relationship_matrix

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
    table = pd.read_csv(out if to_file else io.StringIO(capsys.readouterr().out), index_col="id", keep_default_na=False)
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


@pytest.mark.parametrize(
    "arguments, shown",
    [
        ([], ["reference: 4 animals (every animal with both parents known)", "Ne ", "f_e 2.0", "f_a 2.0"]),
        (["--reference", "e", "f", "--by", "birth_year"], ["reference: 2 animals (given)", "birth_year", "2002"]),
        (["--reference-by", "birth_year=2002"], ["reference: 2 animals (birth_year in 2002)"]),
        (
            ["--reference", "e", "f", "--by", "birth_year", "--interval", "1", "--drops", "50", "--animals", "ANIMALS"],
            ["Ne by sex-ratio 2.0 (1 sires, 1 dams)", "L 1.00 years", "n50 ", "F_ANC ", "sires and dams by birth_year"],
        ),
        (["--by", "generation"], ["generation", "equivalent_generations"]),
    ],
    ids=["default_reference", "given_reference_by_year", "reference_by_year", "new_figures", "by_a_computed_column"],
)
def test_stats_prints_the_population_figures(herd, capsys, tmp_path, arguments, shown):
    arguments = [str(tmp_path / "animals.csv") if word == "ANIMALS" else word for word in arguments]
    assert main(["stats", str(herd)] + arguments) == 0
    out = capsys.readouterr().out
    assert all(text in out for text in shown), out
    if "--animals" in arguments:
        assert (tmp_path / "animals.csv").read_text().startswith("id,mean_kinship,gci,ancestral_inbreeding\n")


def test_stats_draws_the_trend(herd, tmp_path):
    plot = tmp_path / "trend.png"
    # In a process of its own: matplotlib's extensions would join this one's binding state.
    run = subprocess.run(
        [sys.executable, "-m", "tolmkit", "stats", str(herd), "--by", "birth_year", "--plot", str(plot)],
        capture_output=True,
        text=True,
    )
    assert run.returncode == 0, run.stderr
    assert plot.read_bytes().startswith(b"\x89PNG")


def test_check_prints_the_summary_and_reading_options_apply(tmp_path, capsys):
    path = tmp_path / "herd.txt"
    path.write_text("x;-;-\ny;-;-\nz;x;y\nw;z;z\n")
    assert main(["check", str(path), "--delimiter", ";", "--unknown", "-", "--selfing"]) == 0
    assert re.search(r"^animals +4$", capsys.readouterr().out, re.M)
    assert main(["check", str(path), "--delimiter", ";", "--unknown=-,0"]) == 1


@pytest.mark.parametrize(
    "content, arguments, message",
    [
        ("a,0,0\nb,0,0\na,b,0\n", ["check"], "line 3: animal 'a' is listed again"),
        ("a,0,0\nb,a\n", ["inbreeding"], "line 2:"),
        (None, ["check"], "No such file"),
        (HERD, ["stats", "--reference", "e", "x"], "'x' is not in the pedigree"),
        (HERD, ["stats", "--reference", "a", "b"], "none of the 2 reference animals"),
        ("a,-999,-999\nb,a,-999\n", ["check"], "pass --unknown=-999 if"),
        ("a,0,0\nb,a,a\n", ["check"], "pass --selfing for plants"),
        (
            "id,sire,dam,inbreeding,inbreeding_file\na,0,0,0.5,0.7\n",
            ["inbreeding"],
            "the file has columns 'inbreeding' and 'inbreeding_file'",
        ),
    ],
    ids=[
        "listed_twice",
        "short_line",
        "no_file",
        "unknown_reference",
        "reference_of_founders",
        "advice_as_options",
        "selfing_as_an_option",
        "column_and_its_file_name",
    ],
)
def test_a_pedigree_that_cannot_be_used_exits_1_with_one_line(tmp_path, capsys, content, arguments, message):
    path = tmp_path / "ped.csv"
    if content is not None:
        path.write_text(content)
    assert main([arguments[0], str(path)] + arguments[1:]) == 1
    captured = capsys.readouterr()
    assert message in captured.err and captured.err.count("\n") == 1 and "Traceback" not in captured.err


@pytest.mark.parametrize(
    "arguments",
    [
        [],
        ["frobnicate"],
        ["ainv", "HERD"],
        ["stats", "HERD", "--plot", "x.png"],
        ["stats", "HERD", "--by", "birth_year", "--plot", "x"],
        ["stats", "HERD", "--by", "sex"],
        ["stats", "HERD", "--reference-by", "birth_year"],
        ["stats", "HERD", "--reference-by", "birth_year=late"],
        ["stats", "HERD", "--reference", "e", "--reference-by", "birth_year=2002"],
        ["stats", "HERD", "--max-ancestors", "0"],
        ["check", "HERD", "--delimiter", ";;"],
        ["check", "HERD", "--delimiter", "\u00a7"],
        ["check", "HERD", "--encoding", "klingon"],
        ["ainv", "HERD", "-o", "-"],
        ["check", "HERD", "--groups=UPG1,"],
        ["check", "HERD", "--max-offspring=-1"],
        ["check", "HERD", "--columns", "a,b", "--header"],
        ["check", "HERD", "--columns", "a,b,c", "--no-header"],
        ["check", "HERD", "--columns", "a,,c"],
        ["stats", "HERD", "--interval", "0"],
        ["report", "HERD", "-o", "r.html", "--seed", "-1"],
        ["stats", "HERD", "--by", ""],
    ],
    ids=[
        "no_command",
        "unknown_command",
        "ainv_without_output",
        "plot_without_by",
        "plot_without_extension",
        "unknown_column",
        "reference_by_without_values",
        "reference_by_not_a_number",
        "two_references",
        "no_ancestors",
        "two_character_delimiter",
        "delimiter_beyond_ascii",
        "unknown_encoding",
        "ainv_to_standard_output",
        "empty_group_code",
        "negative_max_offspring",
        "two_columns",
        "columns_without_header",
        "empty_column_name",
        "interval_zero",
        "negative_seed",
        "empty_column_name_of_by",
    ],
)
def test_wrong_usage_exits_2(herd, capsys, arguments):
    assert main([str(herd) if a == "HERD" else a for a in arguments]) == 2
    assert "usage: tolmkit" in capsys.readouterr().err


@pytest.mark.parametrize(
    "genotypes, arguments, status, message",
    [
        (
            "a 0121\nc 2100\n",
            ["--full-groups"],
            2,
            "--full-groups ties the genotyped animals to the groups of unknown parents: give --groups",
        ),
        ("a 0121\nx 2100\n", [], 1, "animal 'x' is not in the pedigree: .* pass --add-missing to add it as a founder"),
        ("a 0121\nc 2100\n", ["--min-maf", "0.6"], 1, "--min-maf must be a number from 0 to 0.5, got 0.6"),
        ("a 01\nc 00\n", ["--min-maf", "0.5"], 1, r"no marker of 2 is left after the filters \(--min-maf=0.5\)"),
        ("a 0121\nc 2100\n", ["--blend", "1.5"], 2, "--blend must be a number from 0 to 1, got 1.5"),
        ("a 0121\nc 2100\n", ["--tau", "nan"], 2, "--tau must be a finite number, got nan"),
        ("a 0121\nc 2100\n", ["--core", "1", "--write-g", "g.txt"], 2, "--core writes APY's parts of Gw-inverse"),
        (
            "a 0121\nc 2100\n",
            ["--core", "1", "--groups", "G*", "--full-groups"],
            2,
            "--core takes groups as unknown parents or by Quaas' rules: leave out --full-groups",
        ),
        ("a 0121\nc 2100\n", ["--write-g", "-"], 2, "--write-g writes two files, the matrix and its .ids"),
        (
            "a 0121\nc 2100\n",
            ["--write-g", "-", "--write-a22", "-", "--named"],
            2,
            "two outputs go to standard output: write all but one to files",
        ),
        ("c 1111\n", [], 1, r"G is zero: no marker varies around the allele frequencies \(a single genotyped animal"),
        ("a 0121\nc 5555\n", [], 1, "animal 'c' has no genotype at the 2 markers kept"),
        (
            "a 0121\nc 0121\nd 2100\n",
            ["--blend", "0"],
            1,
            r"G after blending is not positive definite: .*; raise --blend, or look for clones",
        ),
    ],
    ids=[
        "full_groups_without_groups",
        "not_in_pedigree",
        "min_maf_above_half",
        "no_marker_left",
        "blend_above_one",
        "tau_not_finite",
        "core_with_write_g",
        "core_with_full_groups",
        "write_g_to_standard_output",
        "two_to_standard_output",
        "one_animal",
        "animal_without_genotypes",
        "clones",
    ],
)
def test_hinv_refuses_in_the_options_of_the_command(herd, tmp_path, capsys, genotypes, arguments, status, message):
    chip = tmp_path / "chip.txt"
    chip.write_text(genotypes)
    command = ["hinv", str(herd), "--genotypes", str(chip), "-o", str(tmp_path / "h.txt"), "--no-quality"]
    assert main(command + arguments) == status
    error = capsys.readouterr().err
    assert re.search(message, error.splitlines()[-1]) and (status == 2 or error.count("\n") == 1)
    # The usage lists the orders of tuning and blending, {tune-then-blend,blend-then-tune}.
    assert not re.search(r"(?<![-\w{,])(add_missing|min_maf|blend|tau|tune)\b|=True", error)
    assert sorted(os.listdir(tmp_path)) == ["chip.txt", "herd.csv"]


def test_runs_as_a_module():
    run = subprocess.run([sys.executable, "-m", "tolmkit", "--help"], capture_output=True, text=True)
    assert run.returncode == 0
    assert all(command in run.stdout for command in ("inbreeding", "ainv", "stats", "check"))


def test_ainv_writes_the_groups_after_the_animals(tmp_path):
    grouped = tmp_path / "grouped.csv"
    grouped.write_text("a,G0,G1\nb,a,G1\nc,a,b\n")
    out = tmp_path / "ainv.txt"
    assert main(["ainv", str(grouped), "--no-header", "--groups", "G0, G1", "-o", str(out)]) == 0
    ids = pd.read_csv(f"{out}.ids", sep=" ", header=None, names=["number", "id"], dtype={"id": str})
    assert ids["id"].tolist() == ["a", "b", "c", "G0", "G1"] and np.loadtxt(out, ndmin=2)[:, 0].max() == 5


def test_standard_input_is_read_for_a_dash(monkeypatch, capsys):
    for given in (HERD.encode(), gzip.compress(HERD.encode())):
        monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(given)))
        assert main(["check", "-"]) == 0
        assert re.search(r"^animals +6$", capsys.readouterr().out, re.M)
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(b"id,sire,dam\n\xe9,0,0\n")))
    assert main(["check", "-"]) == 1
    assert "input: line 2: bytes that are not utf-8 (invalid continuation byte); pass --encoding=latin-1 or" in (
        capsys.readouterr().err
    )


def _links(folder):
    """The pedigree under several names: a symbolic and a hard link, and a
    pedigree named like the .ids file of an output."""
    (folder / "herd.csv").write_text(HERD)
    (folder / "soft.csv").symlink_to("herd.csv")
    os.link(folder / "herd.csv", folder / "hard.csv")
    (folder / "m.ids").write_text(HERD)
    for name in ("g.bed", "g.bim", "g.fam", "r.grm.bin", "r.grm.id"):
        (folder / name).write_bytes(b"")


@pytest.mark.parametrize(
    "arguments",
    [
        ["inbreeding", "herd.csv", "-o", "herd.csv"],
        ["inbreeding", "herd.csv", "-o", "./sub/../herd.csv"],
        ["inbreeding", "herd.csv", "-o", "soft.csv"],
        ["inbreeding", "soft.csv", "-o", "herd.csv"],
        ["inbreeding", "herd.csv", "-o", "hard.csv"],
        ["ainv", "herd.csv", "-o", "herd.csv"],
        ["ainv", "m.ids", "-o", "m"],
        ["stats", "herd.csv", "--by", "birth_year", "--plot", "soft.csv"],
        ["hinv", "herd.csv", "--genotypes", "g.bed", "-o", "g.bim"],
        ["hinv", "herd.csv", "--genotypes", "g", "-o", "h", "--write-a22", "g.fam"],
        ["hinv", "herd.csv", "--g", "r", "-o", "r.grm.id"],
    ],
    ids=[
        "same_path",
        "same_resolved_path",
        "output_links_to_input",
        "input_links_to_output",
        "hard_link",
        "ainv_matrix",
        "ainv_ids",
        "plot",
        "plink_bim",
        "plink_fam_by_prefix",
        "gcta_ids",
    ],
)
def test_an_output_that_would_overwrite_an_input_is_refused_before_any_work(tmp_path, monkeypatch, capsys, arguments):
    _links(tmp_path)
    (tmp_path / "sub").mkdir()
    monkeypatch.chdir(tmp_path)
    monkeypatch.setattr(tolmkit.cli, "read_pedigree", lambda *a, **k: pytest.fail("read before refusing"))
    before = {path.name: path.read_bytes() for path in tmp_path.iterdir() if path.is_file()}
    assert main(arguments) == 2
    assert re.search(r"error: the output \S+ is (the input|also the output) ", capsys.readouterr().err)
    assert {path.name: path.read_bytes() for path in tmp_path.iterdir() if path.is_file()} == before


def test_standard_streams_redirected_to_an_input_are_refused(tmp_path):
    path = tmp_path / "herd.csv"
    path.write_text(HERD)
    for arguments, stream in (
        (["inbreeding", "-", "-o", str(path)], "stdin"),
        (["inbreeding", str(path)], "stdout"),
        (["check", str(path)], "stdout"),
    ):
        with open(path, "rb" if stream == "stdin" else "ab") as redirected:
            run = subprocess.run(
                [sys.executable, "-m", "tolmkit", *arguments],
                stderr=subprocess.PIPE,
                **{stream: redirected},
            )
        assert run.returncode == 2 and b"is the input" in run.stderr
        assert path.read_text() == HERD
    # /dev/stdout resolves to a pipe's name, which is no path: the pipe is written.
    piped = subprocess.run(
        [sys.executable, "-m", "tolmkit", "inbreeding", str(path), "-o", "/dev/stdout"], capture_output=True
    )
    assert piped.returncode == 0 and piped.stdout.startswith(b"id,sire,dam,"), piped.stderr
    # To a file, it is written through the stream, after what the file holds, not in its place.
    appended = tmp_path / "all.csv"
    appended.write_text("earlier\n")
    with open(appended, "ab") as redirected:
        run = subprocess.run(
            [sys.executable, "-m", "tolmkit", "inbreeding", str(path), "-o", "/dev/stdout"], stdout=redirected
        )
    assert run.returncode == 0 and appended.read_text().startswith("earlier\nid,sire,dam,")
    # A file that fills up takes part of a write without an error: the rest is not lost unsaid.
    with open(tmp_path / "short.csv", "wb") as redirected:
        run = subprocess.run(
            [sys.executable, "-m", "tolmkit", "inbreeding", str(path)],
            stdout=redirected,
            stderr=subprocess.PIPE,
            preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (64, 64)),
        )
    assert run.returncode == 1 and b"cannot write standard output: File too large" in run.stderr


def _fail_after_writing(error, files=1):
    """A writer that writes part of its first file (and all of the ones
    before `files`), then fails as a full disk, a lack of memory or Ctrl-C do."""

    def write(*arguments):
        paths = [a for a in arguments if isinstance(a, str)]
        for path in paths[: files - 1]:
            with open(path, "w") as file:
                file.write("complete\n")
        with open(paths[files - 1], "w") as file:
            file.write("partial")
        if isinstance(error, signal.Signals):
            os.kill(os.getpid(), error)
        raise error

    return write


@pytest.mark.parametrize(
    "command, writer, error, files, status, message",
    [
        (
            "inbreeding",
            "write_csv",
            OSError(errno.ENOSPC, os.strerror(errno.ENOSPC)),
            1,
            1,
            "tolmkit: cannot write out: No space left on device; nothing was replaced",
        ),
        ("inbreeding", "write_csv", MemoryError(), 1, 1, "tolmkit: out of memory (writing); every file is as it was"),
        (
            "inbreeding",
            "write_csv",
            pa.lib.ArrowMemoryError("malloc of size 64 failed"),
            1,
            1,
            "tolmkit: out of memory (writing): malloc of size 64 failed",
        ),
        (
            "inbreeding",
            "write_csv",
            pa.lib.ArrowInvalid("offset overflow"),
            1,
            1,
            "tolmkit: pyarrow failed (ArrowInvalid): offset overflow",
        ),
        ("inbreeding", "write_csv", KeyboardInterrupt(), 1, 130, "tolmkit: interrupted; every file is as it was"),
        ("inbreeding", "write_csv", signal.SIGTERM, 1, 143, "tolmkit: interrupted; every file is as it was"),
        (
            "ainv",
            "write_lower_triangle",
            OSError(errno.ENOSPC, os.strerror(errno.ENOSPC)),
            2,
            1,
            "tolmkit: cannot write out, out.ids: No space left on device",
        ),
        ("ainv", "write_lower_triangle", KeyboardInterrupt(), 2, 130, "tolmkit: interrupted"),
        (
            "ainv",
            "inverse_relationship_matrix",
            MemoryError(),
            0,
            1,
            "tolmkit: out of memory (inverse relationship matrix)",
        ),
    ],
    ids=[
        "disk_full",
        "out_of_memory",
        "pyarrow_out_of_memory",
        "pyarrow_error",
        "interrupted",
        "terminated",
        "ainv_disk_full_on_the_second_file",
        "ainv_interrupted",
        "ainv_out_of_memory",
    ],
)
def test_a_failed_run_leaves_every_file_as_it_was(
    herd, tmp_path, monkeypatch, capsys, command, writer, error, files, status, message
):
    monkeypatch.chdir(tmp_path)
    for name in ("out", "out.ids"):
        (tmp_path / name).write_text("earlier\n")
    before = {path.name: path.read_text() for path in tmp_path.iterdir()}
    failing = _fail_after_writing(error, files) if files else lambda *a, **k: (_ for _ in ()).throw(error)
    monkeypatch.setattr(tolmkit.cli, writer, failing)
    assert main([command, str(herd), "-o", "out"]) == status
    err = capsys.readouterr().err
    assert err.startswith(message) and err.count("\n") == 1, err
    assert {path.name: path.read_text() for path in tmp_path.iterdir()} == before


@pytest.mark.parametrize("interrupt", [False, True], ids=["rename_fails", "interrupted_between_renames"])
def test_ainv_renames_both_files_or_says_which_is_new(herd, tmp_path, monkeypatch, capsys, interrupt):
    out = tmp_path / "ainv.txt"
    out.write_text("earlier\n")
    (tmp_path / "ainv.txt.ids").write_text("earlier\n")
    replace, renamed = os.replace, []

    def second_fails(source, target):
        if interrupt:
            os.kill(os.getpid(), signal.SIGINT)  # held back until both are renamed
        elif renamed:
            raise OSError(errno.EIO, os.strerror(errno.EIO))
        renamed.append(target)
        replace(source, target)

    monkeypatch.setattr(tolmkit.writing.os, "replace", second_fails)
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)  # Python's, whatever ran before
    try:
        assert main(["ainv", str(herd), "-o", str(out)]) == (130 if interrupt else 1)
    finally:
        signal.signal(signal.SIGINT, previous)
    err = capsys.readouterr().err
    files = sorted(path.name for path in tmp_path.iterdir())
    assert files == ["ainv.txt", "ainv.txt.ids", "herd.csv"]
    assert (
        (tmp_path / "ainv.txt.ids").read_text() != "earlier\n"
        if interrupt
        else (f"{out} is new, {out}.ids as it was" in err and (tmp_path / "ainv.txt.ids").read_text() == "earlier\n")
    )
    assert out.read_text().startswith("1 1 ")


def test_an_earlier_output_is_replaced_keeping_its_permissions(herd, tmp_path):
    out = tmp_path / "f.csv"
    out.write_text("earlier\n")
    out.chmod(0o640)
    assert main(["inbreeding", str(herd), "-o", str(out)]) == 0
    assert out.read_text().startswith("id,sire,dam,") and out.stat().st_mode & 0o777 == 0o640
    assert sorted(path.name for path in tmp_path.iterdir()) == ["f.csv", "herd.csv"]


# e is born before both parents; f within a year of its sire c.
DATED = """animal,sire,dam,birth_date
a,0,0,2020-01-05
b,0,0,2021-03-01
c,a,b,2024-02-01
d,a,b,2023-07-01
e,c,d,2022-12-01
f,c,d,2024-06-01
"""
FILES = {
    "DATED": DATED,
    "TEXT": "id,sire,dam,born\na,0,0,spring\nb,0,0,spring\nc,a,b,autumn\n",
    "NOBIRTH": "id,sire,dam\na,0,0\nb,0,0\nc,a,b\n",
    "FOUNDERS": "id,sire,dam,yob\na,0,0,2001\nb,0,0,2002\n",
    "IDS": '# the reference\n"c"\n\n f \nc # again\n',
    "BADIDS": "c\nx\n",
    "NOIDS": "\n\n",
}


@pytest.mark.parametrize(
    "arguments, status, shown",
    [
        (
            ["check", "DATED"],
            0,
            [
                "births (birth_date): 2 parents born after their offspring (errors), 2 less than 1 "
                "year older (warnings)",
                "e      c sire      2022-12-01   2024-02-01",
                "warning",
            ],
        ),
        (["check", "DATED", "--strict"], 1, ["tolmkit: DATED: --strict: 2 parents born after their offspring\n"]),
        (["check", "DATED", "--min-age", "0"], 0, ["(errors), 0 less than 0 years older (warnings)"]),
        (["check", "NOBIRTH", "--strict"], 0, ["births: no column named such as birth_year"]),
        (
            ["check", "TEXT"],
            0,
            [
                "births: the column 'born', found by its name, is not read as births: the birth of 'a', "
                "'spring', is neither a year nor a date"
            ],
        ),
        (["check", "TEXT", "--birth", "born"], 1, ["tolmkit: TEXT: --birth born: the birth of 'a', 'spring'"]),
        (["report", "TEXT", "--birth", "born", "-o", "r.html"], 1, ["tolmkit: TEXT: --birth born: the birth of 'a'"]),
        (["check", "DATED", "--birth", "born"], 2, ["--birth: no column 'born'; the columns are birth_date"]),
        (["check", "DATED", "--min-age", "-1"], 2, ["argument --min-age: expected a number of years of at least 0"]),
        (
            ["stats", "--reference", "c", "f", "DATED"],
            0,
            ["reference: 2 animals (given)", "all            3.20 0.75  4         0"],
        ),
        (["stats", "DATED", "--reference-file", "IDS"], 0, ["reference: 2 animals (listed in IDS)"]),
        (
            ["stats", "DATED", "--reference-by", "birth_date=2024", "--offspring", "all"],
            0,
            ["reference: 2 animals (birth_date in 2024)", "of every offspring; 2 pairs of a parent born after"],
        ),
        (
            ["stats", "DATED", "--reference", "c", "x"],
            1,
            ["tolmkit: DATED: --reference: animal 'x' is not in the pedigree"],
        ),
        (
            ["stats", "DATED", "--reference-file", "BADIDS"],
            1,
            ["tolmkit: DATED: --reference-file BADIDS, line 2: animal 'x' is not in the pedigree"],
        ),
        (["stats", "DATED", "--reference-file", "NOIDS"], 1, ["--reference-file NOIDS names no animal"]),
        (["stats", "DATED", "--reference-file", "."], 2, ["error: --reference-file .: Is a directory"]),
        (
            ["stats", "DATED", "--reference-by", "birth_date=late"],
            2,
            ["--reference-by: column 'birth_date' holds numbers"],
        ),
        (["stats", "--reference", "c", "--by", "birth_date"], 2, ["the following arguments are required: pedigree"]),
        (
            ["stats", "FOUNDERS"],
            1,
            [
                "no animal has both parents known, which the reference takes by default: give "
                "--reference, --reference-file or --reference-by"
            ],
        ),
        (
            ["stats", "DATED", "--reference", "a", "c"],
            1,
            [
                "none of the 2 reference animals has more than one equivalent generation",
                "(--reference, --reference-file or --reference-by)",
            ],
        ),
        (["stats", "DATED", "-o", "t.csv"], 2, ["-o writes the figures by cohort: give --by COLUMN as well"]),
        (["stats", "DATED", "--by", "birth_date", "-o", "-"], 2, ["give -o a file name"]),
        (["--version"], 0, [f"tolmkit {tolmkit.__version__}\n"]),
    ],
    ids=[
        "check",
        "strict",
        "fish",
        "no_births",
        "births_of_text",
        "births_of_text_given",
        "report_births_given",
        "birth_not_a_column",
        "negative_age",
        "reference_before_the_pedigree",
        "reference_file",
        "reference_by_year",
        "reference_not_in_file",
        "reference_file_line",
        "empty_reference_file",
        "reference_file_a_folder",
        "reference_by_not_a_year",
        "no_pedigree",
        "founders_only",
        "no_ne",
        "output_without_by",
        "table_to_standard_output",
        "version",
    ],
)
def test_births_and_references_on_the_command_line(tmp_path, monkeypatch, capsys, arguments, status, shown):
    monkeypatch.chdir(tmp_path)
    for name, text in FILES.items():
        (tmp_path / name).write_text(text)
    assert main(arguments) == status
    captured = capsys.readouterr()
    missing = [text for text in shown if text not in captured.out + captured.err]
    assert not missing, captured
    assert "Traceback" not in captured.err and captured.err.count("\n") <= (1 if status == 1 else 20)


def test_stats_writes_the_table_by_year_of_dates(tmp_path, capsys):
    (tmp_path / "dated.csv").write_text(DATED)
    out = tmp_path / "by-year.csv"
    assert main(["stats", str(tmp_path / "dated.csv"), "--by", "birth_date", "-o", str(out)]) == 0
    table = pd.read_csv(out, index_col="birth_date")
    assert table.index.tolist() == [2020, 2021, 2022, 2023, 2024] and table["animals"].tolist() == [1, 1, 1, 1, 2]
    assert f"table: {out}" in capsys.readouterr().out


def test_the_help_of_unknown_says_it_replaces_the_default_codes(capsys):
    assert main(["check", "--help"]) == 0
    assert "the codes given replace the default ones, '', '.', '0', 'NA'" in " ".join(capsys.readouterr().out.split())
