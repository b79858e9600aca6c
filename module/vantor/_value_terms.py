"""The constants a table's categorical values are written as: the
background file's usual spelling, told apart where two values would share
it, and shown again as the values they stand for when rules are decoded."""
from . import _core
from . import _table_cells as _tab
from ._lint import _split_arguments


def _distinct_terms(texts):
    """text -> constant for the distinct values of a categorical column.

    Each value is spelled as the background file spells values (lower case,
    blanks and brackets as "_"), except where two values would share one
    spelling ("a b" and "a_b", "Ann" and "ann"): a value already spelled
    that way keeps it and the others, in text order, get "_2", "_3", ...
    appended, skipping spellings the column already uses. Distinct values
    thus stay distinct constants, and a rule can tell them apart."""
    usual = {text: _core._tab_value_term(text) for text in texts}
    groups = {}
    for text, term in usual.items():
        groups.setdefault(_tab._term_key(term), []).append(text)
    taken = {_tab._term_key(term) for term in usual.values()}
    terms = dict(usual)
    for key, group in groups.items():
        if len(group) < 2:
            continue
        # A value spelled as it is keeps that spelling, a number in its usual
        # form ("1", not "01") first.
        canonical = str(key[1])
        group.sort(key=lambda text: (usual[text] != text, usual[text] != canonical, text))
        for text in group[1:]:
            terms[text] = _fresh_term(text, taken)
    return terms


def _fresh_term(text, taken):
    """The usual spelling of ``text`` with the first "_<n>" (n >= 2) that
    gives a constant whose key (``_term_key``) is not in ``taken``; that key
    is added to ``taken``."""
    n = 2
    while True:
        term = _core._tab_value_term(f"{text}_{n}")
        if _tab._term_key(term) not in taken:
            taken.add(_tab._term_key(term))
            return term
        n += 1


def _prolog_quoted(text):
    """A text as a quoted Prolog atom, line breaks and quotes escaped."""
    escaped = text.replace("\\", "\\\\").replace("'", "\\'")
    escaped = escaped.replace("\n", "\\n").replace("\r", "\\r").replace("\t", "\\t")
    return "'" + escaped + "'"


class _UnseenValues:
    """Constants for categories not seen in fitting: their usual spelling,
    unless a fitted value (or another unseen one) already has it, so that no
    rule about a fitted value proves a row of another value."""

    def __init__(self, encoding):
        self.taken = {_tab._term_key(term) for term in encoding.values()}
        self.terms = {}

    def term(self, text):
        if text not in self.terms:
            term = _core._tab_value_term(text)
            if _tab._term_key(term) in self.taken:
                term = _fresh_term(text, self.taken)
            self.taken.add(_tab._term_key(term))
            self.terms[text] = term
        return self.terms[text]


def _respelled(encoding):
    """(position, constant) of the categorical values whose constant is not
    their usual spelling (told apart from a value that shares it)."""
    return [(j, term) for j, (text, term) in enumerate(encoding.items())
            if term != _core._tab_value_term(text)]


def _original_values(rule, originals):
    """A decoded rule with every respelled constant of a categorical column
    (``originals``: predicate -> constant -> quoted value) shown as the value
    it stands for, so that ``a b`` and ``a_b`` read apart."""
    if not any(originals.values()):
        return rule
    head, sep, body = rule.partition(":-")
    literals = []
    for text in _split_arguments(body) if body else []:
        name, _, inner = text.partition("(")
        if inner and originals.get(name.strip()):
            name = name.strip()
            args = _split_arguments(inner.rsplit(")", 1)[0])
            text = f"{name}({','.join(originals[name].get(a, a) for a in args)})"
        literals.append(text)
    return head + sep + ",".join(literals)
