"""The cells of a data table as the tabular converters and the table
encoder read them: column values, numeric kinds, missing cells, texts of
numbers, and the small checks both share."""
import math
import operator
import os
import re

_FLOAT = "float64"
_INT = "int64"


def _check_unique_columns(data):
    """A table whose column names repeat has no single column for a name:
    refuse it before any column is read."""
    columns = getattr(data, "columns", None)
    if columns is None:
        return
    seen, repeated = set(), []
    for name in list(columns):
        if name in seen and name not in repeated:
            repeated.append(name)
        seen.add(name)
    if repeated:
        raise ValueError("the table has repeated column names (" +
                         ", ".join(repr(n) for n in repeated) +
                         "); rename or drop the repeated columns first")


def _column_values(data, column):
    """One column's values as plain Python objects, in row order."""
    values = data[column]
    tolist = getattr(values, "tolist", None)
    return tolist() if callable(tolist) else list(values)


# Type names of numeric columns given as texts (numpy's and pandas' own).
_NUMERIC_NAME = re.compile(r"(u?int|U?Int|float|Float)(8|16|32|64)")


def _kind(dtype):
    """_INT or _FLOAT for a numeric column type, None for any other type.

    Booleans are not numbers here: they stay categorical (True, False).
    """
    if dtype == _FLOAT:
        return _FLOAT
    if dtype == _INT:
        return _INT
    kind = getattr(dtype, "kind", None)
    if isinstance(kind, str) and kind in ("i", "u", "f"):
        return _FLOAT if kind == "f" else _INT
    if isinstance(dtype, str):
        match = _NUMERIC_NAME.fullmatch(dtype)
        if match:
            return _FLOAT if match.group(1).lower() == "float" else _INT
    return None


def _narrow_float(dtype):
    """"float32" or "float16" for float columns narrower than 64 bits, else None."""
    size = getattr(dtype, "itemsize", None)
    if not isinstance(size, int) and isinstance(dtype, str):
        size = {"float32": 4, "float16": 2}.get(dtype.lower())
    return {4: "float32", 2: "float16"}.get(size)


def _is_missing(value):
    """None, a NaN of any float type, pandas' NA and NaT."""
    if value is None:
        return True
    if isinstance(value, float):
        return value != value
    name = type(value).__name__
    if name in ("NAType", "NaTType"):
        return True
    if type(value).__module__ == "numpy" and getattr(getattr(value, "dtype", None), "kind", "") in "fcmM":
        return bool(value != value)
    return False


def _present(values):
    """The cells that hold a value and their row numbers, and the count of
    missing cells."""
    kept, rows = [], []
    for row, v in enumerate(values):
        if not _is_missing(v):
            kept.append(v)
            rows.append(row)
    return kept, rows, len(values) - len(kept)


def _float_text(number, narrow):
    """A float as Python writes it, or for a narrow column the shortest
    text that reads back to the same value of that width."""
    if narrow and math.isfinite(number):
        import numpy  # narrow float columns only come from numpy or pandas

        # numpy writes a narrow float in its shortest form; repr() of that
        # text as a Python float gives the usual spelling (2.0, 1e-05, 1e+16).
        return repr(float(str(getattr(numpy, narrow)(number))))
    return repr(number)


def _numeric_cells(values, kind, narrow):
    """Numbers and their texts for a column of a numeric type."""
    if kind == _INT:
        numbers = [operator.index(v) for v in values]
        return numbers, [str(n) for n in numbers]
    numbers = [float(v) for v in values]
    return numbers, [_float_text(n, narrow) for n in numbers]


def _single_line(text):
    """A name or value as one line of the meta-information file."""
    return text.replace("\n", " ").replace("\r", " ")


def _in_folder(folder, name):
    """A file name placed in ``folder`` (made when missing); unchanged
    without a folder or for an absolute name."""
    if folder is None:
        return name
    folder = os.fspath(folder)
    os.makedirs(folder, exist_ok=True)
    return os.path.join(folder, os.fspath(name))


def _text(value):
    """A cell as text: floats in repr form, everything else with str()."""
    if isinstance(value, float):
        # float() first: numpy's float64 is a float whose repr names its type.
        return repr(float(value))
    return str(value)


def _numbers(values, column_name):
    """Numbers and their texts for a numeric column.

    numpy scalars (from columns read without tolist()) become Python ints
    and floats, so that their text is exactly Python's.
    """
    numbers, texts = [], []
    for row, v in enumerate(values):
        if isinstance(v, float):
            n = float(v)
        elif isinstance(v, int):
            n = int(v)
        elif hasattr(type(v), "__index__"):
            n = operator.index(v)
        elif hasattr(type(v), "__float__") and not isinstance(v, (str, bytes)):
            n = float(v)
        else:
            raise TypeError(
                f"column {column_name}, row {row}: expected a number, not "
                f"{type(v).__name__} {v!r}"
            )
        numbers.append(n)
        texts.append(repr(n) if isinstance(n, float) else str(n))
    return numbers, texts


def _check_count(value, what):
    if isinstance(value, bool) or not isinstance(value, int):
        if hasattr(type(value), "__index__") and not isinstance(value, bool):
            value = operator.index(value)
        else:
            raise TypeError(f"{what} must be a whole number of ranges, not {type(value).__name__}")
    if value < 1:
        raise ValueError(f"{what} must be at least 1 (the number of ranges), got {value}")
    # More ranges than any column has values all mean "categorical".
    return min(value, 2 ** 62)


def _condition_for(conditions, column_name):
    if column_name in conditions:
        return _check_count(conditions[column_name], f"conditions[{column_name!r}]")
    return None


def _same_file(a, b):
    return os.path.abspath(os.fspath(a)) == os.path.abspath(os.fspath(b))


def _read_text(path):
    # utf-8-sig: a byte-order mark that an editor put at the start is skipped.
    with open(path, encoding="utf-8-sig") as handle:
        return handle.read()


_PLAIN_NUMBER = re.compile(r"-?[0-9]+(\.[0-9]+)?([eE][+-]?[0-9]+)?")


def _term_key(term):
    """What a constant of the background file stands for in the engine:
    plain numbers by their value ("01" and "1" are one integer, "1e5" and
    "1.0e5" one float), anything else by its text."""
    if _PLAIN_NUMBER.fullmatch(term):
        if term.lstrip("-").isdigit():
            return ("integer", int(term))
        return ("float", repr(float(term)))
    if len(term) >= 2 and term[0] == term[-1] == "'":
        return ("atom", _QUOTED_ESCAPE.sub(_unescape, term[1:-1]))
    return ("atom", term)


# The escapes of a quoted atom that the background file and rules use.
_QUOTED_ESCAPE = re.compile(r"''|\\x([0-9a-fA-F]+)\\|\\(.)")
_SIMPLE_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", "'": "'", '"': '"', "`": "`"}


def _unescape(match):
    if match.group(0) == "''":
        return "'"
    if match.group(1) is not None:
        return chr(int(match.group(1), 16))
    return _SIMPLE_ESCAPES.get(match.group(2), match.group(0))


def _distinct_cells(series):
    """(cells, codes) of a column: its distinct cells as Python values in
    order of first occurrence and, per row, the position of its cell there
    (-1 for a missing cell); None when equal cells might not share one text
    (then the caller reads the column cell by cell).

    Numbers of a numpy type are compared by value, floats by their bits (so
    0.0 and -0.0 stay apart); other columns only when every cell is a text."""
    import numpy
    import pandas

    array = getattr(series, "values", None)
    kind = getattr(getattr(array, "dtype", None), "kind", "")
    numeric = isinstance(array, numpy.ndarray) and kind in "iubf"
    if numeric and kind == "f":
        keys = array.astype(numpy.float64).view(numpy.int64)
    else:
        keys = array if numeric else series
    codes, uniques = pandas.factorize(keys, use_na_sentinel=True)
    codes = numpy.asarray(codes, dtype=numpy.int64)
    if not len(uniques):
        return [], codes
    present = numpy.flatnonzero(codes >= 0)
    _, first = numpy.unique(codes[present], return_index=True)
    first_rows = present[first]
    cells = series.iloc[first_rows].tolist()
    if not numeric and not all(type(cell) is str for cell in cells):
        return None
    if numeric and kind == "f":
        # NaN cells (of any bits) are missing cells.
        nan = [i for i, cell in enumerate(cells) if cell != cell]
        if nan:
            codes = numpy.where(numpy.isin(codes, nan), -1, codes)
            keep = [i for i in range(len(cells)) if i not in set(nan)]
            renumber = numpy.full(len(cells) + 1, -1, dtype=numpy.int64)
            renumber[keep] = numpy.arange(len(keep))
            codes = renumber[codes]
            cells = [cells[i] for i in keep]
    return cells, codes
