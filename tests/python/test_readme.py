"""Every ```python block of README.md, in order, in one namespace, as a
reader pastes them, and every ```sh block in bash, with the `tolmkit` of
the interpreter that runs the tests first on the PATH, as an activated venv
has it; a block whose first line is `# not run: <why>` is skipped.

The blocks run in a copy of `examples/` in a temporary folder, which stands
for the repository root: they read `examples/...` as written there, and the
files they write (plots, reports, matrices) land in the copy, never in the
repository. A block may read nothing of the repository but `examples/`.
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BLOCK = re.compile(r"^```python\n(.*?)^```$", re.S | re.M)
SHELL = re.compile(r"^```sh\n(.*?)^```$", re.S | re.M)


def _blocks(kind=BLOCK):
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    for match in kind.finditer(text):
        code = match.group(1)
        line = text.count("\n", 0, match.start()) + 2
        if code.startswith("# not run:"):
            continue
        yield pytest.param(line, code, id=f"line_{line}")


@pytest.fixture(scope="module")
def session(tmp_path_factory):
    """The namespace of the blocks, and the lines of those already run."""
    root = tmp_path_factory.mktemp("readme")
    shutil.copytree(ROOT / "examples", root / "examples")
    return root, {"__name__": "__readme__"}, set()


@pytest.mark.parametrize("line, code", list(_blocks()))
def test_readme_block_runs(session, monkeypatch, line, code):
    root, namespace, done = session
    monkeypatch.chdir(root)
    # A case chosen alone (pytest -k) runs the blocks before it first.
    for earlier, earlier_code in [p.values for p in _blocks()]:
        if earlier >= line:
            break
        if earlier not in done:
            done.add(earlier)
            exec(compile(earlier_code, f"README.md:{earlier}", "exec"), namespace)
    done.add(line)
    exec(compile(code, f"README.md:{line}", "exec"), namespace)


@pytest.mark.parametrize("line, code", list(_blocks(SHELL)))
def test_readme_command_line_block_runs(tmp_path, line, code):
    shutil.copytree(ROOT / "examples", tmp_path / "examples")
    path = os.pathsep.join([os.path.dirname(sys.executable), os.environ.get("PATH", "")])
    run = subprocess.run(
        ["bash", "-euo", "pipefail", "-c", code],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        env=dict(os.environ, PATH=path),
    )
    assert run.returncode == 0, f"README.md:{line}: {run.stderr}"
