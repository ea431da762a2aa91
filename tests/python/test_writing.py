import functools
import os
import re

import numpy as np
import pandas as pd
import pytest

import tolmkit.writing
from tolmkit.writing import OutputError, outputs, write_csv

from conftest import bits


def _frame(rng, n):
    numbers = rng.integers(0, 2**64, size=n, dtype=np.uint64).view(np.float64)
    numbers[np.isnan(numbers)] = np.nan  # a NaN is written empty, whatever its payload
    numbers[:12] = [0.0, -0.0, 1.0, 0.5, 1e16, 1e15, 1e-4, 1e-5, 5e-324, np.inf, -np.inf, np.nan]
    # Sums of powers of one half, written exactly when below 15 digits.
    numbers[12:22] = [
        -0.75,
        7.96875,
        2.0**-22,
        3 * 2.0**-22,
        2.0**-23,
        999999999999999.0,
        1e15 + 2,
        1200.0,
        2.0**49,
        -(2.0**50),
    ]
    text = rng.choice(np.array(["a", "NL01", "éx", "", None], dtype=object), size=n)
    count = rng.integers(-5, 10**12, size=n)
    count[:2] = np.iinfo(np.int64).min, np.iinfo(np.int64).max
    return pd.DataFrame(
        {
            "value": numbers,
            "small": rng.random(n),
            "count": count,
            "known": pd.Series(rng.integers(0, 9, size=n), dtype="Int64").where(rng.random(n) > 0.3).array,
            "flag": rng.random(n) > 0.5,
            "text": text,
        },
        index=pd.Index([f"A{k}" for k in range(n)], name="id"),
    )


@pytest.mark.parametrize(
    "change, sep, header, index",
    [
        (None, ",", True, True),
        (None, " ", False, False),
        (None, "\t", True, False),
        ("quoted", ",", True, True),
        ("quoted", " ", False, True),
        ("categorical", ",", True, True),
        ("float32", ",", True, True),
        (None, ".", True, True),
        (None, "§", True, False),
        ("long", ",", True, True),
        ("comments", ",", True, True),
        ("tab", " ", True, True),
    ],
    ids=[
        "csv",
        "spaces",
        "tabs",
        "text_needing_quotes",
        "spaces_in_text",
        "other_types",
        "float32",
        "separator_in_numbers",
        "separator_not_ascii",
        "chunks_written_in_two_halves",
        "text_read_as_comments_quoted",
        "tab_among_blanks_quoted",
    ],
)
def test_tables_are_written_as_pandas_writes_them_and_read_back_to_the_same_bits(
    tmp_path, monkeypatch, change, sep, header, index
):
    if change != "long":
        monkeypatch.setattr(tolmkit.writing, "CHUNK_ROWS", 64)  # chunks with and without text needing quotes
    frame = _frame(np.random.default_rng(7), 30_000 if change == "long" else 500)
    if change == "quoted":
        frame.iloc[300, frame.columns.get_loc("text")] = 'say "a,b"\tc'
    if change == "comments":
        frame.iloc[[300, 301, 302], frame.columns.get_loc("text")] = ["#5", "x #1", "a\rb"]
    if change == "tab":
        frame.iloc[300, frame.columns.get_loc("text")] = "x\ty"
    if change == "categorical":
        frame["text"] = frame["text"].astype("category")
        frame["mixed"] = pd.Series([1, "a", 2.5, None] * 125, index=frame.index, dtype=object)
        frame["large"] = np.arange(500, dtype=np.uint64) * np.uint64(2**55)
        text = frame["text"]
        frame["chunked"] = pd.concat([part.astype("string[pyarrow]") for part in (text[:250], text[250:])])
    frame.iloc[::7, frame.columns.get_loc("text")] = pd.NA
    if change == "float32":
        frame["small"] = frame["small"].astype(np.float32)
    path = tmp_path / "table.csv"
    write_csv(frame, str(path), sep=sep, header=header, index=index)
    expected = frame.to_csv(sep=sep, header=header, index=index, lineterminator="\n")
    # Quoted where tolmkit's readers would take them for comments or split them, as pandas does not.
    quoted = {",#5\n": ',"#5"\n', ",x #1\n": ',"x #1"\n', ",a\rb\n": ',"a\rb"\n', " x\ty\n": ' "x\ty"\n'}
    written = path.read_bytes().decode()  # a carriage return kept
    assert written == functools.reduce(lambda text, bare: text.replace(*bare), quoted.items(), expected)
    # The text read back by Python's own float(), which rounds correctly on every pandas.
    back = pd.read_csv(
        path,
        sep=sep,
        header=0 if header else None,
        dtype=str,
        keep_default_na=False,
        engine="c" if sep.isascii() else "python",
    )
    assert bits([float(text) if text else np.nan for text in back.iloc[:, int(index)]]) == bits(frame["value"])


@pytest.mark.parametrize("sep", ["", ";;", None])
def test_a_separator_of_other_than_one_character_is_refused_before_writing(tmp_path, sep):
    with pytest.raises(ValueError, match="sep must be one character"):
        write_csv(pd.DataFrame({"a": [1]}), str(tmp_path / "t.csv"), sep=sep)
    assert not (tmp_path / "t.csv").exists()


def _next_to(values, steps=8):
    """The values and the doubles up to `steps` above and below each."""
    whole = np.ascontiguousarray(values, dtype=np.float64).view(np.int64)
    return np.concatenate([(whole + step).view(np.float64) for step in range(-steps, steps + 1)])


_REALS = {  # the families of doubles whose shortest digits take different turns
    "bit_patterns": lambda rng: rng.integers(0, 2**63, 200_000, dtype=np.uint64).view(np.float64),
    "below_one": lambda rng: rng.random(100_000),
    "powers_of_two": lambda rng: _next_to(np.ldexp(1.0, np.arange(-1073, 1024))),
    "integers": lambda rng: np.concatenate([np.arange(1.0, 50_000), rng.integers(1, 2**53, 50_000).astype(float)]),
    "subnormals": lambda rng: np.concatenate([np.arange(1, 10_000), rng.integers(1, 2**52, 50_000)]).view(np.float64),
    "near_powers_of_ten": lambda rng: _next_to([float(f"1e{k}") for k in range(-323, 309)]),
    "short_decimals": lambda rng: np.array(
        [
            float(f"{d}e{e}")
            for d, e in zip(rng.integers(1, 10 ** rng.integers(1, 8, 100_000)), rng.integers(-330, 310, 100_000))
        ]
    ),
    "halfway_at_17_digits": lambda rng: (2 * rng.integers(2**45, 2**47, 50_000) + 1) * 2.0**-5,
    "largest": lambda rng: _next_to([np.finfo(np.float64).max], 1000)[:1001],
}


@pytest.mark.parametrize("family", list(_REALS))
def test_reals_are_written_with_the_digits_of_repr(tmp_path, family):
    values = _REALS[family](np.random.default_rng(11))
    values = values[np.isfinite(values)]
    values[::5] *= -1
    path = tmp_path / "reals.csv"
    write_csv(pd.DataFrame({"value": values}), str(path), header=False, index=False)
    assert path.read_text() == "".join(f"{value!r}\n" for value in values.tolist())


@pytest.mark.parametrize("index", [True, False])
def test_a_frame_without_columns_is_written_as_pandas_writes_it(tmp_path, index):
    frame = pd.DataFrame(index=pd.Index(["a", "b"], name="id"))
    write_csv(frame, str(tmp_path / "t.csv"), index=index)
    assert (tmp_path / "t.csv").read_text() == frame.to_csv(index=index, lineterminator="\n")


@pytest.mark.parametrize(
    "target, message",
    [
        ("new/", "new/: names a folder; give the name of a file"),
        ("t.csv/x", "t.csv/x: Not a directory"),
        ("loop", "loop: Too many levels of symbolic links"),
        ("none/t.csv", "there is no folder"),
    ],
)
def test_a_target_that_names_no_file_is_refused_before_any_work(tmp_path, monkeypatch, target, message):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "t.csv").write_text("kept\n")
    os.symlink("loop", tmp_path / "loop")
    with pytest.raises(OutputError, match=re.escape(message)):
        with outputs(target):
            pytest.fail("ran")
    assert sorted(os.listdir(tmp_path)) == ["loop", "t.csv"] and (tmp_path / "t.csv").read_text() == "kept\n"


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="a device that is always full")
def test_a_device_that_cannot_be_written_is_named():
    with pytest.raises(OutputError, match=r"^cannot write /dev/full: No space left on device"):
        with outputs("/dev/full") as (path,):
            write_csv(pd.DataFrame({"f": np.arange(100_000.0)}), path)
