"""Sphinx configuration of tarnwell's documentation (``make docs``)."""

import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")

import tarnwell  # noqa: E402

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE / "_ext"))

project = "tarnwell"
author = "the tarnwell developers"
copyright = "2026, the tarnwell developers"
version = release = tarnwell.__version__

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.mathjax",
    "numpydoc",
    "myst_parser",
    "sphinx_gallery.gen_gallery",
    "matplotlib.sphinxext.plot_directive",
    "house_docstrings",
    "api_pages",
]

source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build", "**/GALLERY_HEADER.rst", "api/generated/*.inc", "api/generated/*.md"]
templates_path = []
root_doc = "index"

# Backticks in docstrings name objects: links where they resolve, code otherwise.
default_role = "py:obj"
# A reference to one of tarnwell's public objects that does not resolve
# fails the build; names of other libraries and private ones are plain text
# (the machine that builds this has no network for other projects' inventories).
nitpicky = True
nitpick_ignore_regex = [
    (r"py:.*", r"(?!tarnwell\b).*"),
    (r"py:.*", r"tarnwell\.(.*\.)?_.*"),
]

myst_enable_extensions = ["dollarmath", "colon_fence", "deflist"]
myst_heading_anchors = 3

autodoc_member_order = "groupwise"
autodoc_typehints = "signature"
autodoc_default_options = {"exclude-members": "__init__, __new__"}
autosummary_generate = False
numpydoc_show_class_members = False
numpydoc_xref_param_type = False
numpydoc_validation_checks: set[str] = set()
numpydoc_attributes_as_param_list = False

# The gallery's examples run at every build and draw their figures; an
# example that raises fails the build.
sphinx_gallery_conf = {
    "examples_dirs": str(HERE.parent / "examples" / "gallery"),
    "gallery_dirs": "gallery",
    "filename_pattern": r"/plot_",
    "abort_on_example_error": True,
    "only_warn_on_example_error": False,
    "download_all_examples": False,
    "remove_config_comments": True,
    "within_subsection_order": "gallery_order.GalleryOrder",
    "matplotlib_animations": False,
    "image_scrapers": ("matplotlib",),
    "show_memory": False,
    "plot_gallery": "True",
    # Figures, printed output and the code: not the repr of a script's last value.
    "capture_repr": (),
}

# The figures of the pages (``{plot}``): drawn at the build from the code
# shown above them.
plot_basedir = str(HERE)
plot_include_source = True
plot_html_show_source_link = False
plot_html_show_formats = False
plot_formats = [("png", 90)]
plot_pre_code = "import matplotlib\nmatplotlib.use('Agg')"

html_theme = "pydata_sphinx_theme"
html_title = f"tarnwell {release}"
html_static_path: list[str] = []
html_show_sourcelink = False
html_copy_source = False
html_theme_options = {
    "navigation_with_keys": False,
    "show_toc_level": 2,
    "secondary_sidebar_items": ["page-toc"],
    "footer_start": ["copyright"],
    "footer_end": [],
}
html_sidebars = {"changelog": [], "index": []}
