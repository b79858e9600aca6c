"""Literal and rule texts: the parser classes, builders, matching and linkage."""
from ._core import (
    Clause,
    Meta,
    argument_kind,
    argument_positions,
    is_chained,
    is_float,
    is_linked,
    literal_substitution,
    make_literal,
    make_prolog_rule,
    make_rule,
    split_term,
)

__all__ = [
    "Clause",
    "Meta",
    "argument_kind",
    "argument_positions",
    "is_chained",
    "is_float",
    "is_linked",
    "literal_substitution",
    "make_literal",
    "make_prolog_rule",
    "make_rule",
    "split_term",
]
