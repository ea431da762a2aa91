"""The type stubs shipped for TOLM describe the functions that the module has."""

import ast
import pathlib

import pytest

from conftest import ARITY

PARAMETERS = {
    "fcoeff": "sire dam inbreeding sampling_var n_animals compute_inbreeding",
    "cald": "sire dam a_col a_rowstart a_val n_animals d_val d_col d_rowstart d_count",
    "dijp": "sire dam n_pairs pair_i pair_j a_col a_rowstart a_val d_pair",
}


@pytest.fixture(scope="module")
def stubs(tolm):
    path = pathlib.Path(tolm.__file__).parent / "TOLM-stubs" / "__init__.pyi"
    tree = ast.parse(path.read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def test_stubs_declare_exactly_the_module_functions(stubs):
    assert list(stubs) == list(ARITY)


@pytest.mark.parametrize("name", ARITY)
def test_parameters_are_positional_only_buffers_and_the_result_none(stubs, name):
    function = stubs[name].args
    assert [a.arg for a in function.posonlyargs] == PARAMETERS[name].split()
    assert len(function.posonlyargs) == ARITY[name]
    assert not (function.args or function.kwonlyargs or function.vararg or function.kwarg)
    assert {ast.unparse(a.annotation) for a in function.posonlyargs} == {"_Buffer"}
    assert ast.unparse(stubs[name].returns) == "None"
