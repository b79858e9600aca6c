"""Learning from a table's rows without writing their facts as text.

A row's facts are one per column, ``column(e_<n>,constant)``, and every
constant is in the learner's constant set. Bottom-clause generation then
takes exactly the row's own facts, with the row as ``A``, in column order:
``column(A,constant)``. Rows with the same constants share one bottom
clause, built here once per distinct combination instead of by scanning
the background text.

With proved coverage, a candidate that reads only its row's columns proves
a row exactly when its mask (``_table_masks``) holds there, so coverage of
such candidates is read from masks; any other candidate is proved in the
engine as before. Candidates, their order and the selection are the ones
``vantor_learn`` uses, so the theory is the same.
"""
import re
import time

import numpy

from . import _core
from .encoder import _cell_constants
from ._table_masks import MISSING, compile_rule

# Constants that bottom-clause generation reads exactly as written: plain
# atoms and numbers, none of them the name of a row.
_PLAIN_TERM = re.compile(r"[a-z][A-Za-z0-9_]*|-?[0-9]+(\.[0-9]+)?([eE][+-]?[0-9]+)?")
_ROW_NAME = re.compile(r"e_[0-9]+")


def encoded_columns(encoder, table):
    """(predicate, constants, codes) of every fitted column of the training
    rows (codes: per row the position of its constant, -1 missing); None
    when some column must be read cell by cell."""
    columns = []
    for col in encoder.columns_:
        found = _cell_constants(encoder.encodings_[col], table[col], False)
        if found is None:
            return None
        columns.append((_core._tab_predicate_term(str(col)), found[0], found[1]))
    return columns


def column_ids(columns, vocabulary):
    """predicate -> id arrays of its columns, as ``_table_masks.column_codes``
    gives them, from ``encoded_columns``."""
    out = {}
    for predicate, terms, codes in columns:
        ids = numpy.asarray([vocabulary.id(t) for t in terms] + [MISSING], dtype=numpy.int64)
        out.setdefault(predicate, []).append(ids[codes])
    return out


def row_bottom_clauses(encoder, table, constants, options, columns=None):
    """The bottom clause of every row (a tuple of literal texts, shared by
    rows with the same constants), as bottom-clause generation builds it
    from the training facts; None when that needs the text scan (options
    that change what is taken, constants that are not plain, a row name
    among the constants)."""
    depth, follow, numbers, size_limit, size_warning = options
    if depth < 1 or follow != "first" or numbers != "constant":
        return None
    if size_limit is not None and size_limit < len(encoder.columns_):
        return None
    if size_warning is not None and size_warning < len(encoder.columns_):
        return None
    if any(_ROW_NAME.fullmatch(str(c)) for c in constants):
        return None
    columns = encoded_columns(encoder, table) if columns is None else columns
    if not columns or not all(_PLAIN_TERM.fullmatch(t) for _, terms, _ in columns
                              for t in terms):
        return None
    combinations, inverse = _distinct_rows([codes for _, _, codes in columns],
                                           [len(terms) + 1 for _, terms, _ in columns])
    clauses = []
    for combination in combinations.tolist():
        literals = [f"{name}(A,{terms[c]})" for (name, terms, _), c in zip(columns, combination)
                    if c >= 0]
        clauses.append(tuple(dict.fromkeys(literals)))
    return [clauses[i] for i in inverse.reshape(-1).tolist()]


def _distinct_rows(codes, sizes):
    """The distinct rows of the code columns (codes from -1 to size - 2) and
    the position of every row among them; one number per row when the
    combinations fit in 62 bits, which sorts far faster than rows."""
    if numpy.prod([float(s) for s in sizes]) < 2.0 ** 62:
        key = numpy.zeros(len(codes[0]), dtype=numpy.int64)
        for column, size in zip(codes, sizes):
            key = key * size + (column + 1)
        distinct, first, inverse = numpy.unique(key, return_index=True, return_inverse=True)
        return numpy.stack([c[first] for c in codes], axis=1), inverse
    return numpy.unique(numpy.stack(codes, axis=1), axis=0, return_inverse=True)


def covered_by_masks(rules, head, predicates, codes, vocabulary, is_positive):
    """For every candidate (internal form), (covered positions among the
    positives, among the negatives, body length) when its mask can say,
    else None (to be proved in the engine)."""
    positives = numpy.flatnonzero(is_positive)
    negatives = numpy.flatnonzero(~is_positive)
    out = []
    for rule in rules:
        compiled = compile_rule(rule.replace("&", ","), head, predicates)
        if compiled is None:
            out.append(None)
            continue
        mask = compiled.mask(codes, vocabulary, len(is_positive))
        out.append((numpy.flatnonzero(mask[positives]).tolist(),
                    numpy.flatnonzero(mask[negatives]).tolist(), len(compiled.literals)))
    return out


def learn_proved_by_masks(pos, n_neg, options, covered_of, prove_rest):
    """``learn_proved`` with coverage from ``covered_of(rules)`` (None for
    a rule it cannot say) and ``prove_rest(rules)`` for the others; returns
    (theory, seconds as ``time_learn`` counts them)."""
    from ._proved import _print_theory, _select

    tic = time.time()
    rules, _ = _core._formed_rules(pos, options)
    covered = covered_of(rules)
    missing = [i for i, c in enumerate(covered) if c is None]
    if missing:
        for i, proved in zip(missing, prove_rest([rules[i] for i in missing])):
            covered[i] = proved
    theory, announce = _select(rules, covered, len(pos), n_neg, options)
    if announce and not options.quiet:
        _print_theory(theory)
    return theory, time.time() - tic
