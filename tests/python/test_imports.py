"""tolmkit's modules import one way: no circle, not even through an import
inside a function, and no private name of another module."""

import ast
from pathlib import Path

import tolmkit

PACKAGE = Path(tolmkit.__file__).parent
MODULES = {path.name.split(".")[0] for path in PACKAGE.iterdir() if path.suffix in (".py", ".so")}


def imports(path):
    """The tolmkit modules that a module imports anywhere in its text, and
    the names that it takes from each; the package itself is __init__."""
    taken = {}
    for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
        if isinstance(node, ast.ImportFrom) and (node.level or (node.module or "").split(".")[0] == "tolmkit"):
            module = (node.module or "").removeprefix("tolmkit").lstrip(".").split(".")[0]
            for alias in node.names:
                source = module or (alias.name if alias.name in MODULES else "__init__")
                taken.setdefault(source, set()).add(alias.name)
        elif isinstance(node, ast.Import):
            for alias in node.names:
                if alias.name.split(".")[0] == "tolmkit":
                    taken.setdefault((alias.name.split(".") + ["__init__"])[1], set())
    return taken


GRAPH = {path.stem: imports(path) for path in PACKAGE.glob("*.py")}


def test_no_module_imports_one_that_imports_it():
    circles, state = [], {}

    def visit(module, path):
        state[module] = "open"
        for other in GRAPH.get(module, {}):
            if state.get(other) == "open":
                circles.append(path[path.index(other) :] + [other])
            elif other not in state:
                visit(other, path + [other])
        state[module] = "done"

    for module in sorted(GRAPH):
        if module not in state:
            visit(module, [module])
    assert circles == []


def test_no_private_name_is_taken_from_another_module():
    private = sorted(
        (module, source, name)
        for module, taken in GRAPH.items()
        for source, names in taken.items()
        for name in names
        if name.startswith("_") and not name.startswith("__") and name not in MODULES
    )
    assert private == []
