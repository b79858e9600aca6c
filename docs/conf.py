"""Sphinx configuration of Vantor's documentation (built by docs/build.sh)."""
import glob
import os
import sys

_HERE = os.path.dirname(os.path.abspath(__file__))
# A development tree (scripts/dev_build.sh) links the extension into
# module/vantor: document that tree. Otherwise the installed package.
_MODULE = os.path.abspath(os.path.join(_HERE, "..", "module"))
if glob.glob(os.path.join(_MODULE, "vantor", "_core*.so")):
    sys.path.insert(0, _MODULE)
    # The tutorial's kernel is another process: it finds the package the same way.
    os.environ["PYTHONPATH"] = os.pathsep.join(
        [_MODULE] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p])
import vantor  # noqa: E402

project = "Vantor"
author = "the Vantor developers"
copyright = "the Vantor developers"
release = version = vantor.__version__

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.napoleon",
    "myst_nb",
    "sphinxarg.ext",
]

source_suffix = {".rst": "restructuredtext", ".md": "myst-nb", ".ipynb": "myst-nb"}
root_doc = "index"
exclude_patterns = ["_build", "build.sh", "Thumbs.db", ".DS_Store", "**.ipynb_checkpoints"]
templates_path = ["_templates"]

# The reference: one page per public name, grouped by task in api/*.md.
autosummary_generate = True
autosummary_imported_members = True
autodoc_default_options = {"members": True, "show-inheritance": False}
autodoc_member_order = "bysource"
autodoc_typehints = "signature"
autodoc_docstring_signature = True  # the extension's functions carry their signature
add_module_names = False

# Docstrings use numpydoc sections; napoleon reads them. The learning options
# of vantor_learn, the cross-validation driver and the Learner are generated
# from one list and read like parameters.
napoleon_google_docstring = False
napoleon_numpy_docstring = True
napoleon_use_rtype = False
# Attributes as fields: autodoc also documents the members themselves.
napoleon_use_ivar = True
napoleon_custom_sections = [("Learning options", "params_style")]

myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3

# The tutorial runs at every build: a notebook that stops working fails it.
nb_execution_mode = "force"
nb_execution_raise_on_error = True
nb_execution_timeout = 600
nb_merge_streams = True

html_theme = "pydata_sphinx_theme"
html_title = "Vantor"
html_static_path = []
html_theme_options = {
    "navigation_with_keys": False,
    "show_toc_level": 2,
    "secondary_sidebar_items": ["page-toc"],
}
html_sidebars = {"**": ["sidebar-nav-bs"]}
