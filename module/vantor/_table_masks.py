"""Rules over a table row's own columns, evaluated as numpy masks.

A theory learned from a table mostly holds rules such as
``target(A):-age(A,g1),smoker(A,yes)``: every body literal reads one column
of the head's row. Such a rule proves a row exactly when each of those
columns holds the literal's constant (or, for a variable, any value, the
same value wherever the variable occurs again). Written as boolean masks
over the encoded columns this needs no engine and no fact text.

Every column cell becomes the id of the constant the background file would
write for it, ids compared by what the engine reads (``_term_key``: "01"
and "1" are one integer). Rules of any other shape (other predicates,
another row's facts, tests, recursion) are not compiled: the caller then
proves in the engine.
"""
import numpy

from ._lint import _split_arguments
from ._table_cells import _distinct_cells, _is_missing, _term_key, _text

MISSING = -1


class Vocabulary:
    """Constant -> id, by what the engine reads the constant as."""

    def __init__(self):
        self._ids = {}

    def id(self, term):
        return self._ids.setdefault(_term_key(term), len(self._ids))

    def known(self, term):
        return self._ids.get(_term_key(term))


def _is_variable(term):
    return bool(term) and (term[0].isupper() or term[0] == "_")


def _literal(text):
    name, _, inner = text.partition("(")
    if not inner.endswith(")"):
        return None
    return name.strip(), _split_arguments(inner[:-1])


class MaskRule:
    """One compiled rule: (predicate, constant or None, variable or None)
    per body literal."""

    def __init__(self, literals):
        self.literals = literals

    def mask(self, codes, vocabulary, rows):
        """Which of ``rows`` rows the rule proves, given ``codes``
        (predicate -> id arrays of its columns)."""
        out = numpy.ones(rows, dtype=bool)
        bound = {}
        for predicate, constant, variable in self.literals:
            columns = codes[predicate]
            if constant is not None:
                wanted = vocabulary.known(constant)
                hit = numpy.zeros(rows, dtype=bool)
                if wanted is not None:
                    for ids in columns:
                        hit |= ids == wanted
                out &= hit
                continue
            (ids,) = columns  # compile() keeps variables to one-column predicates
            out &= ids != MISSING
            if variable in bound:
                out &= ids == bound[variable]
            else:
                bound[variable] = ids
        return out


def compile_rule(rule, head, predicates):
    """The rule as a ``MaskRule``, or None when it is not a conjunction of
    conditions on the head row's own columns. ``predicates``: predicate ->
    number of columns written under that name."""
    head_text, sep, body = rule.partition(":-")
    parsed = _literal(head_text.strip())
    if parsed is None or parsed[0] != head or len(parsed[1]) != 1 or not sep:
        return None
    row = parsed[1][0]
    if not _is_variable(row) or row == "_":
        return None
    literals = []
    for text in _split_arguments(body):
        parsed = _literal(text)
        if parsed is None:
            return None
        name, args = parsed
        if name not in predicates or len(args) != 2 or args[0] != row or args[1] == row:
            return None
        value = args[1]
        if not _is_variable(value):
            literals.append((name, value, None))
        elif predicates[name] == 1:
            # Each "_" is a variable of its own.
            literals.append((name, None, object() if value == "_" else value))
        else:
            return None
    return MaskRule(literals) if literals else None


def column_codes(encoder, table, vocabulary, predicates=None):
    """predicate -> the id arrays of its columns (one id per row, MISSING
    where the cell is missing), every cell encoded as ``encoder.transform``
    writes it; only the columns of ``predicates`` when given."""
    from ._binning import _NumericColumn
    from ._value_terms import _UnseenValues

    codes = {}
    for col in encoder.columns_:
        if predicates is not None and _predicate(col) not in predicates:
            continue
        encoding = encoder.encodings_[col]
        if isinstance(encoding, _NumericColumn):
            ids = _range_ids(encoder, col, encoding, table[col], vocabulary)
        else:
            ids = _category_ids(encoding, _UnseenValues(encoding), table[col], vocabulary)
        codes.setdefault(_predicate(col), []).append(ids)
    return codes


def _predicate(col):
    from . import _core

    return _core._tab_predicate_term(str(col))


def predicate_columns(encoder):
    """predicate -> how many columns the encoder writes under that name."""
    out = {}
    for col in encoder.columns_:
        name = _predicate(col)
        out[name] = out.get(name, 0) + 1
    return out


def _exact_float_cuts(cuts):
    try:
        floats = [float(c) for c in cuts]
    except (TypeError, ValueError, OverflowError):
        return None
    return floats if all(f == c for f, c in zip(floats, cuts)) else None


def _range_ids(encoder, col, encoding, series, vocabulary):
    """Range label ids of a numeric column: numpy's searchsorted where it
    compares exactly as the encoder's bisection does, else cell by cell."""
    labels = numpy.asarray([vocabulary.id("g" + str(i)) for i in range(len(encoding.texts))],
                           dtype=numpy.int64)
    array = getattr(series, "values", None)
    kind = getattr(getattr(array, "dtype", None), "kind", "")
    cuts = _exact_float_cuts(encoding.cuts)
    if isinstance(array, numpy.ndarray) and kind in "iuf" and cuts is not None:
        values = array.astype(numpy.float64)
        present = ~numpy.isnan(values)
        exact = kind == "f" or not len(array) or (
            int(array.max()) <= 2 ** 53 and int(array.min()) >= -2 ** 53)
        if exact:
            index = numpy.searchsorted(numpy.asarray(cuts, dtype=numpy.float64),
                                       numpy.where(present, values, 0.0), side="right")
            return numpy.where(present, labels[index], MISSING)
    out = numpy.full(len(series), MISSING, dtype=numpy.int64)
    for row, value in enumerate(_values(series)):
        if not _is_missing(value):
            out[row] = labels[int(encoding.label(encoder._number(col, row, value))[1:])]
    return out


def _values(series):
    tolist = getattr(series, "tolist", None)
    return tolist() if callable(tolist) else list(series)


def _category_ids(encoding, unseen, series, vocabulary):
    """Constant ids of a categorical column: each distinct cell spelled once
    where ``_distinct_cells`` can tell them apart, else every cell."""
    distinct = _distinct_cells(series)
    if distinct is not None:
        cells, codes = distinct
        ids = numpy.asarray([_cell_id(cell, encoding, unseen, vocabulary) for cell in cells]
                            + [MISSING], dtype=numpy.int64)
        return ids[codes]
    return numpy.asarray([_cell_id(v, encoding, unseen, vocabulary) for v in _values(series)],
                         dtype=numpy.int64)


def _cell_id(value, encoding, unseen, vocabulary):
    if _is_missing(value):
        return MISSING
    text = _text(value)
    return vocabulary.id(encoding.get(text) or unseen.term(text))
