"""The examples of the pages, run by sphinx.ext.doctest's builder
(``sphinx-build -b doctest``, which ``make docs`` runs), a page at a time,
with the time each page takes.

Python examples are doctest blocks. Shell examples are written in a
``command-line`` directive, shown as a shell block and run by bash when the
examples run, with the ``tolmkit`` of the interpreter that runs them first
on the PATH, in ``build/docs-examples/shell``, where ``examples`` stands for
the repository's: a block reads ``examples/...`` and writes ``build/...`` as
it would from the repository root. A command that exits with other than 0
fails the page::

    .. command-line::

       tolmkit check examples/herd.csv

A page whose examples take longer than ``LIMIT`` seconds is marked as long
by a field at its top, before its title, naming why::

    :long: a cluster of four workers and 10^5 candidates

and its examples are then not run; an unmarked page that takes longer is
reported as a warning, which ``make docs`` (``-W``) turns into a failure.
"""

import time

from docutils import nodes
from sphinx.ext.doctest import DocTestBuilder
from sphinx.util import logging
from sphinx.util.docutils import SphinxDirective

LIMIT = 30.0

logger = logging.getLogger(__name__)


class ExamplesBuilder(DocTestBuilder):
    """The doctest builder, skipping the pages marked as long and timing the others."""

    def test_doc(self, docname, doctree):
        reason = self.env.metadata[docname].get("long")
        if reason is not None:
            logger.info(f"{docname}: examples not run (long: {reason})")
            return
        start = time.perf_counter()
        super().test_doc(docname, doctree)
        seconds = time.perf_counter() - start
        if seconds >= 0.05:
            logger.info(f"{docname}: examples ran in {seconds:.1f} s")
        if seconds > LIMIT:
            logger.warning(
                f"the examples of {docname} took {seconds:.0f} s, more than {LIMIT:.0f}: "
                "shorten them or mark the page as long (:long: at its top)",
                location=docname,
            )


# Run in the namespace of the page's examples, as a testcode block, from the
# folder where they run (the repository root).
RUN = """
import os as _os, subprocess as _subprocess, sys as _sys
_folder = _os.path.join("build", "docs-examples", "shell")
_os.makedirs(_os.path.join(_folder, "build"), exist_ok=True)
if not _os.path.lexists(_os.path.join(_folder, "examples")):
    _os.symlink(_os.path.abspath("examples"), _os.path.join(_folder, "examples"))
_path = _os.pathsep.join([_os.path.dirname(_sys.executable), _os.environ.get("PATH", "")])
_run = _subprocess.run(["bash", "-euo", "pipefail", "-c", {commands!r}], cwd=_folder, capture_output=True,
                       text=True, env=dict(_os.environ, PATH=_path))
assert _run.returncode == 0, f"exit status {{_run.returncode}}: {{_run.stderr}}"
"""


class CommandLine(SphinxDirective):
    """Shell commands, shown as written and run with the page's examples."""

    has_content = True

    def run(self):
        commands = "\n".join(self.content)
        node = nodes.literal_block(commands, commands, language="sh")
        node["testnodetype"] = "testcode"
        node["groups"] = ["default"]
        node["options"] = {}
        node["test"] = RUN.format(commands=commands)
        self.set_source_info(node)
        return [node]


def setup(app):
    app.setup_extension("sphinx.ext.doctest")
    app.add_builder(ExamplesBuilder, override=True)
    app.add_directive("command-line", CommandLine)
    return {"parallel_read_safe": True}
