import builtins
import ctypes
import importlib.metadata
import json
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import textwrap

import pytest

import tolmkit

from conftest import ARITY as FUNCTIONS, interpreter

STANDARD_ATTRIBUTES = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}
# The module under test was built for the interpreter that runs the tests.
BUILT = "{}.{}".format(*sys.version_info[:2])
GATE_MESSAGE = (
    "Python version mismatch: module was compiled for Python " + BUILT + ", "
    "but the interpreter version is incompatible: {}."
)
MINOR = sys.version_info[1]


def test_module_has_no_docstring(tolm):
    assert tolm.__doc__ is None


def test_functions_are_registered_once_in_order(tolm):
    own = [name for name in vars(tolm) if name not in STANDARD_ATTRIBUTES]
    assert own == list(FUNCTIONS)


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_is_builtin_of_the_module(tolm, name):
    function = getattr(tolm, name)
    assert type(function).__name__ == "builtin_function_or_method"
    assert function.__name__ == name
    assert function.__module__ == "TOLM"


@pytest.mark.parametrize("name", FUNCTIONS)
def test_docstring_is_the_generated_signature(tolm, name):
    parameters = ", ".join(f"arg{k}: buffer" for k in range(FUNCTIONS[name]))
    assert getattr(tolm, name).__doc__ == f"{name}({parameters}) -> None\n"


def test_companion_reports_the_installed_version():
    assert tolmkit.__version__ == importlib.metadata.version("TOLM")


def _interpreter_state_dict():
    # The interpreter keeps the reference that PyInterpreterState_GetDict
    # returns: taken as a new one (a py_object result), it would be dropped
    # once too often and the dictionary freed before the interpreter exits.
    api = ctypes.pythonapi
    state = ctypes.PYFUNCTYPE(ctypes.c_void_p)(("PyInterpreterState_Get", api))
    state_dict = ctypes.PYFUNCTYPE(ctypes.c_void_p, ctypes.c_void_p)(("PyInterpreterState_GetDict", api))
    return ctypes.cast(state_dict(state()), ctypes.py_object).value


def _pybind11_keys():
    # From 3.12 on pybind11 keeps its state in the interpreter's dictionary.
    where = _interpreter_state_dict() if sys.version_info >= (3, 12) else vars(builtins)
    return [key for key in where if key.startswith("__pybind11_internals_")]


def test_shared_state_has_the_version_of_the_build(tolm):
    # In an interpreter of its own: scipy.fft, which dask.array imports for
    # other tests, keeps a pybind11 state of its own. From 3.12 on pybind11
    # requires version 5.
    version = 5 if sys.version_info >= (3, 12) else 4
    code = "import json, test_module; print(json.dumps(test_module._pybind11_keys()))"
    run = subprocess.run(
        [sys.executable, "-c", code], cwd=os.path.dirname(__file__), capture_output=True, text=True, check=True
    )
    keys = json.loads(run.stdout)
    assert len(keys) == 1
    assert re.fullmatch(rf"__pybind11_internals_v{version}_\w+__", keys[0])


def import_from_copy(python, module_file, tmp_path, env=None):
    """Imports the built extension, copied as TOLM.so, in a fresh interpreter."""
    shutil.copy(module_file, tmp_path / "TOLM.so")
    # Some interpreters' version strings span two lines.
    script = textwrap.dedent("""
        import json, sys
        try:
            import TOLM
        except ImportError as error:
            outcome = type(error).__name__ + ": " + str(error)
        else:
            outcome = "imported"
        print(json.dumps([sys.version, outcome]))
    """)
    run = subprocess.run(
        [python, "-c", script], cwd=tmp_path, capture_output=True, text=True, env={**os.environ, **(env or {})}
    )
    assert run.returncode == 0, run.stderr
    version, outcome = json.loads(run.stdout)
    return version, outcome


# 3.13 dropped a function that the builds for 3.9 to 3.12 link to, and its
# build links to the one that replaced it: across that line the loader
# refuses the module before its gate runs.
@pytest.mark.parametrize("minor", [m for m in range(9, 14) if m != MINOR])
def test_other_interpreters_are_refused(tolm, tmp_path, minor):
    version = f"3.{minor}"
    python = interpreter(version)
    if python is None:
        pytest.skip(f"no CPython {version} on this machine")
    reported, outcome = import_from_copy(python, tolm.__file__, tmp_path)
    if (MINOR >= 13) == (minor >= 13):
        assert outcome == "ImportError: " + GATE_MESSAGE.format(reported)
    else:
        assert re.fullmatch(r"ImportError: .*TOLM\.so: undefined symbol: \w+", outcome)


@pytest.fixture(scope="session")
def fake_version_library(tmp_path_factory):
    """A shared library whose Py_GetVersion returns $FAKE_PY_VERSION, preloaded
    ahead of libpython so that the module's gate sees that string."""
    if not sysconfig.get_config_var("Py_ENABLE_SHARED"):
        pytest.skip("this interpreter links libpython statically; Py_GetVersion cannot be replaced")
    compiler = shutil.which("cc") or shutil.which("gcc")
    if compiler is None:
        pytest.skip("no C compiler to build the replacement Py_GetVersion")
    folder = tmp_path_factory.mktemp("fake_version")
    (folder / "fake_version.c").write_text(
        '#include <stdlib.h>\nconst char *Py_GetVersion(void) { return getenv("FAKE_PY_VERSION"); }\n'
    )
    subprocess.run(
        [compiler, "-shared", "-fPIC", "-o", str(folder / "fake_version.so"), str(folder / "fake_version.c")],
        check=True,
    )
    return folder / "fake_version.so"


@pytest.mark.parametrize(
    "version, passes",
    [
        (BUILT, True),
        (BUILT + ".0", True),
        (BUILT + ".7", True),
        (BUILT + ".18 (main, Jan  1 2026, 00:00:00) [GCC 12.2.0]", True),
        (BUILT + "+", True),
        (f"3.{MINOR + 1}.4", False),
        (f"3.{MINOR - 1}.10", False),
        (BUILT + "0", False),
        (BUILT + "5.1 (hypothetical)", False),
        (f"2.{MINOR}.1", False),
        ("3.", False),
    ],
    ids=repr,
)
def test_version_gate(tolm, tmp_path, fake_version_library, version, passes):
    reported, outcome = import_from_copy(
        sys.executable,
        tolm.__file__,
        tmp_path,
        env={"LD_PRELOAD": str(fake_version_library), "FAKE_PY_VERSION": version},
    )
    assert reported == version
    if passes:
        assert outcome == "imported"
    else:
        assert outcome == "ImportError: " + GATE_MESSAGE.format(version)
