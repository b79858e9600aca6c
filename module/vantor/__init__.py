"""Vantor: inductive logic programming with a C++ core.

From Prolog background facts and positive and negative examples of one
target predicate, Vantor learns a short theory of Horn clauses, scores it in
an embedded SWI-Prolog engine, cross-validates it, abduces missing facts and
converts data tables to and from logic.
"""
from .text import *  # noqa: F401,F403
from .data import *  # noqa: F401,F403
from .bottom import *  # noqa: F401,F403
from .candidates import *  # noqa: F401,F403
from .learn import *  # noqa: F401,F403
from .evaluate import *  # noqa: F401,F403
from .folds import *  # noqa: F401,F403
from .abduce import *  # noqa: F401,F403
from .tabular import *  # noqa: F401,F403
from .theory_files import *  # noqa: F401,F403
from .estimator import *  # noqa: F401,F403

__version__ = "0.1.0"
