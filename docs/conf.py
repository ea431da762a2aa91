"""Sphinx configuration of TOLM's documentation: a user guide whose examples
run when the site builds (``make docs``), the API reference from tolmkit's
numpydoc docstrings, the benchmark figures and the layout of the code.

No extension fetches anything: the site builds without a network and the
pages load nothing from elsewhere."""

import doctest
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(Path(__file__).parent / "_ext"))

import tolmkit  # noqa: E402  (the installed package, which the pages document)

project = "TOLM"
author = "the TOLM developers"
copyright = "the TOLM developers, BSD-3-Clause"
release = version = tolmkit.__version__

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.doctest",
    "numpydoc",
    "examples",
]

exclude_patterns = ["_build"]
templates_path = ["_templates"]
default_role = "autolink"
highlight_language = "python3"
html_theme = "alabaster"
html_title = f"TOLM {release}"
html_theme_options = {
    "description": "Inbreeding and relationships from a pedigree",
    "fixed_sidebar": True,
    "page_width": "80rem",
}

autosummary_generate = True
autodoc_typehints = "none"
autodoc_default_options = {"member-order": "bysource"}
# The classes' attributes are listed by their docstrings' Attributes sections.
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False

# Examples run from the repository root, where examples/ holds the shipped
# files, and write their files under build/docs-examples. The docstrings'
# examples use the names of their modules, as numpy's use np: tolmkit's
# public names, numpy, pandas and io.
doctest_global_setup = f"""
import io
import os

import numpy as np
import pandas as pd

from tolmkit import *

os.chdir({str(ROOT)!r})
os.makedirs("build/docs-examples", exist_ok=True)
"""
doctest_show_successes = False
doctest_default_flags = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE | doctest.DONT_ACCEPT_TRUE_FOR_1
