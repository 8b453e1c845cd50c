"""Sphinx configuration of zef's documentation (`make docs` builds it into build/docs).

The pages are MyST Markdown, so that GitHub shows them as they are and the
tests run their examples with one parser; the API reference (api.rst) is
reStructuredText, generated from the numpydoc docstrings by autodoc.
"""

from __future__ import annotations

import importlib.metadata
import pathlib
import sys

DOCS = pathlib.Path(__file__).resolve().parent
# The plots of the benchmark pages read their data through docs/benchmark_data.py.
sys.path.insert(0, str(DOCS))

project = "zef"
author = "the zef developers"
copyright = "the zef developers"
release = version = importlib.metadata.version("zef")

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "numpydoc",
    "matplotlib.sphinxext.plot_directive",
]

source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
root_doc = "index"
exclude_patterns = ["_build"]

# Headings up to level 3 get anchors, so that pages link to each other's sections.
myst_heading_anchors = 3

# autodoc: members in the order of the source; the signatures of the native
# classes are those that pybind11 writes into their docstrings.
autodoc_member_order = "bysource"
autodoc_typehints = "none"
autosummary_generate = False
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False

# Plots are drawn when the site is built, from the code in the pages.
plot_include_source = True
plot_html_show_source_link = False
plot_html_show_formats = False
plot_formats = [("png", 100)]
plot_rcparams = {"figure.max_open_warning": 0}

html_theme = "alabaster"
html_title = "zef"
html_static_path: list[str] = []

# numpydoc checks the docstrings as it reads them (warnings, so errors in
# `make docs`): every parameter documented (PR01), none documented that the
# signature lacks (PR02), and the returns of every function (RT01). The result
# records made by zef (dataclasses) document their fields under Attributes,
# which is what their readers use; they are not checked for Parameters.
numpydoc_validation_checks = {"PR01", "PR02", "RT01"}
numpydoc_validation_exclude = {
    r"^zef\.DiscoveredMotif$",
    r"^zef\.io\.Dataset$",
    r"^zef\.io\.Prepared$",
    r"^zef\.shapes\.Planted$",
}
