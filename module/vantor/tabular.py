"""Data tables to background facts, example files and meta-information, and
learned rules back to readable numeric conditions.

A data table is any object with a column-type map ``data.dtypes`` (column
name -> element type, compared with the texts "float64" and "int64") and
``data[column]`` giving one column's values in row order; a pandas DataFrame
is the usual one. Only those two operations are used.

Numeric columns of any width (8- to 64-bit, signed or unsigned, float32,
pandas' nullable integers and floats) are discretised; booleans and
everything else are categorical. Cells become texts the way Python writes
them: integers plain, floats in their shortest round-trip form (``2.0``,
``0.1``, ``1e-05``; float32 and float16 columns in the shortest form of their
own width). A missing cell (None, NaN, pandas' NA or NaT) gives no fact; the
column's block in the meta-information file then ends with one
``(Missing)`` note line, which the readers skip.

Every file is written completely or not at all: its text is built first,
written to a temporary file beside it and then renamed over it. The writers
take a ``folder``: relative file names are then placed in that folder
(made when missing) instead of the working directory.
"""
import os
from typing import Any, Optional, Union

from . import _core
from ._files import replace_files
from ._table_cells import (_check_count, _check_unique_columns, _column_values, _condition_for,
                           _in_folder, _is_missing, _kind, _narrow_float, _numbers,
                           _numeric_cells, _present, _read_text, _same_file, _text)
from .encoder import TableEncoder

__all__ = [
    "prepare_logic_rules",
    "discretise_numeric_column",
    "write_categorical_column",
    "prepare_examples",
    "read_constants_meta_info",
    "read_meta_information",
    "print_rules",
    "decode_rule",
    "TableEncoder",
]

Path = Union[str, os.PathLike]

# --------------------------------------------------- background and ranges


def prepare_logic_rules(data: Any, column_list: list, file_name: Path = "BK.pl",
                        meta_information: Path = "meta_data.info", default_div: int = 3,
                        conditions: Optional[dict[Any, int]] = None,
                        folder: Optional[Path] = None) -> None:
    """Write the background file and the feature blocks of the meta-information file.

    Every cell becomes one fact ``column(e_<row>,value).``; numeric columns are
    discretised into ranges and their facts name the range ``g0``, ``g1``, ...
    Predicates and values are lower case with blanks as "_"; anything that is
    not then a plain Prolog atom or number is quoted so that the file always
    consults. Missing cells give no fact.

    Parameters
    ----------
    data : pandas.DataFrame
        The table.
    column_list : list
        The columns to write.
    file_name : str or os.PathLike, default 'BK.pl'
        The background file.
    meta_information : str or os.PathLike, default 'meta_data.info'
        The meta-information file.
    default_div : int, default 3
        The number of ranges of a numeric column.
    conditions : dict, optional
        Column -> its own number of ranges (1 keeps a column categorical); a
        new empty dict on every call when omitted.
    folder : str or os.PathLike, optional
        Write both files into this folder.

    Raises
    ------
    KeyError
        For a missing column.
    ValueError
        For a number of ranges below 1, or one file for both.
    TypeError
        When ``column_list`` is a single name.

    Notes
    -----
    This spelling is the file format other tools read, so values that differ
    only in case, blanks or brackets ("a b" and "a_b", "Ann" and "ann")
    share one constant here. ``TableEncoder`` keeps every distinct value a
    distinct constant; use it when such values must be told apart.

    Both files are replaced only when all of their text has been built: a
    failed call leaves them untouched.

    Examples
    --------
    >>> import pandas as pd
    >>> table = pd.DataFrame({"age": [23, 67, 70, 45], "smoker": ["no", "yes", "yes", "no"]})
    >>> prepare_logic_rules(table, ["age", "smoker"], default_div=2)
    >>> read_example("BK.pl")[:3]
    ['age(e_0,g0).', 'age(e_1,g1).', 'age(e_2,g1).']
    """
    conditions = {} if conditions is None else conditions
    default_div = _check_count(default_div, "default_div")
    for key in conditions:
        _check_count(conditions[key], f"conditions[{key!r}]")
    if isinstance(column_list, (str, bytes)):
        raise TypeError("column_list must be a list of column names, not a single name")
    file_name = _in_folder(folder, file_name)
    meta_information = _in_folder(folder, meta_information)
    if _same_file(file_name, meta_information):
        raise ValueError(f"file_name and meta_information both name {file_name!r}")
    _check_unique_columns(data)
    types = data.dtypes
    columns = list(column_list)
    for col in columns:
        if col not in types:
            raise KeyError(f"column {col!r} is not in the table")
    background, meta = [], []
    for col in columns:
        values, rows, missing = _present(_column_values(data, col))
        name = str(col)
        kind = _kind(types[col])
        if kind is None:
            block, lines, _ = _core._tab_categorical([_text(v) for v in values], name, True,
                                                     rows, missing)
        else:
            numbers, texts = _numeric_cells(values, kind, _narrow_float(types[col]))
            block, lines, _ = _core._tab_numeric(numbers, texts, name, default_div,
                                                 _condition_for(conditions, col), True,
                                                 rows, missing)
        meta.append(block)
        background.append(lines)
    replace_files({file_name: "".join(background), meta_information: "".join(meta)})


def discretise_numeric_column(list_temp: list, column_name: Any, file_object: Any,
                              conditions: dict[Any, int], default_div: int) -> list[str]:
    """Ranges of one numeric column: its meta-information block and facts.

    The sorted distinct values are cut into k nearly equal chunks (k is
    ``conditions[column_name]`` when given, else ``default_div``); a column
    with two distinct values, fewer than k, or k = 1 is written as categorical
    instead.

    Parameters
    ----------
    list_temp : list
        The column's values, in row order.
    column_name : object
        The column name (the predicate, as written).
    file_object : file
        An open text file the block is written to.
    conditions : dict
        Column -> number of ranges.
    default_div : int
        The number of ranges otherwise.

    Returns
    -------
    list of str
        One fact text per row, such as ``age(e_0,g1).``; missing cells give no
        fact (the list is then shorter than the column).

    Examples
    --------
    >>> import io
    >>> block = io.StringIO()
    >>> discretise_numeric_column([23, 67, 70, 45], "age", block, {}, 2)
    ['age(e_0,g0).', 'age(e_1,g1).', 'age(e_2,g1).', 'age(e_3,g0).']
    >>> block.getvalue().splitlines()
    ['Feature Name : age\\t (Encoded) - 2', '\\tg0\\t[23--45]', '\\tg1\\t[67--70]']
    """
    default_div = _check_count(default_div, "default_div")
    condition = _condition_for(conditions, column_name)
    name = str(column_name)
    values, rows, missing = _present(list(list_temp))
    numbers, texts = _numbers(values, name)
    block, facts, _ = _core._tab_numeric(numbers, texts, name, default_div, condition, False,
                                         rows, missing)
    file_object.write(block)
    return facts


def write_categorical_column(list_temp: list, column_name: Any, file_object: Any) -> list[str]:
    """One categorical column: its meta-information block and facts.

    Parameters
    ----------
    list_temp : list
        The column's values, in row order.
    column_name : object
        The column name (the predicate, as written).
    file_object : file
        An open text file the block (distinct values in order of first
        occurrence) is written to.

    Returns
    -------
    list of str
        One fact text per row, such as ``colour(e_3,blue).``; missing cells give
        no fact.

    Examples
    --------
    >>> import io
    >>> write_categorical_column(["no", "yes", "no"], "smoker", io.StringIO())
    ['smoker(e_0,no).', 'smoker(e_1,yes).', 'smoker(e_2,no).']
    """
    values, rows, missing = _present(list(list_temp))
    block, facts, _ = _core._tab_categorical([_text(v) for v in values], str(column_name), False,
                                             rows, missing)
    file_object.write(block)
    return facts


# ------------------------------------------------------------- examples


def prepare_examples(data: Any, target_column: Any, example_label: str = "target",
                     meta_information: Path = "meta_data.info",
                     positive_example: Path = "pos_example.f",
                     negative_example: Path = "neg_example.n",
                     folder: Optional[Path] = None) -> list:
    """Write one example file per class and append the target block to the meta-information file.

    The smallest class goes to ``positive_example``, the next to
    ``negative_example``, class r >= 2 to ``neg_example_<r>.n``. Row n becomes
    ``<example_label>(e_<n>).``.

    Parameters
    ----------
    data : pandas.DataFrame
        The table.
    target_column : object
        The class column.
    example_label : str, default 'target'
        The example predicate.
    meta_information : str or os.PathLike, default 'meta_data.info'
        The meta-information file.
    positive_example, negative_example : str or os.PathLike
        The example files (default 'pos_example.f' and 'neg_example.n').
    folder : str or os.PathLike, optional
        Put every file (the meta-information file included) in this folder;
        the names returned include it.

    Returns
    -------
    list
        The file names, in class order.

    Raises
    ------
    ValueError
        For a missing class in a row, or an example file that is the
        meta-information file.

    Examples
    --------
    >>> import pandas as pd
    >>> table = pd.DataFrame({"age": [23, 67, 70, 45], "smoker": ["no", "yes", "yes", "no"]})
    >>> table["label"] = ["well", "sick", "sick", "well"]
    >>> prepare_examples(table, "label")
    ['pos_example.f', 'neg_example.n']
    >>> read_example("pos_example.f")
    ['target(e_1).', 'target(e_2).']
    """
    _check_unique_columns(data)
    values = _column_values(data, target_column)
    meta_information = _in_folder(folder, meta_information)
    positive_example = _in_folder(folder, positive_example)
    negative_example = _in_folder(folder, negative_example)
    for name in (positive_example, negative_example):
        if _same_file(name, meta_information):
            raise ValueError(f"the example file {name!r} is the meta-information file")
    for row, v in enumerate(values):
        if _is_missing(v):
            raise ValueError(
                f"column {target_column}, row {row}: the class is missing ({v!r}); "
                "drop or fill missing classes first"
            )
    classes = sorted(set(values))
    rank = {c: r for r, c in enumerate(classes)}
    names = []
    for r in range(len(classes)):
        if r == 0:
            names.append(positive_example)
        elif r == 1:
            names.append(negative_example)
        else:
            names.append(_in_folder(folder, "neg_example_" + str(r) + ".n"))
    block, texts = _core._tab_example_texts(
        example_label, str(target_column), [_text(c) for c in classes],
        [str(n) for n in names], [rank[v] for v in values])
    try:
        old_meta = _read_text(meta_information)
    except FileNotFoundError:
        old_meta = ""
    contents = {}
    for name, text in zip(names, texts):
        # Two classes given the same file share it, as appending would.
        contents[name] = contents.get(name, "") + text
    contents[meta_information] = old_meta + block
    replace_files(contents)
    return names


# ---------------------------------------------------- meta-information


def read_constants_meta_info(meta_information: Path = "meta_data.info",
                             user_input: Optional[list] = None) -> list:
    """The constants a learner must keep, from the meta-information file.

    Parameters
    ----------
    meta_information : str or os.PathLike, default 'meta_data.info'
        The file.
    user_input : list, optional
        Constants to append; a new empty list on every call when omitted.

    Returns
    -------
    list
        ``g0`` .. ``g(k-1)`` for every encoded feature, then every categorical
        value spelled exactly as the background file spells it, then the
        elements of ``user_input``; not deduplicated.

    Raises
    ------
    ValueError
        For a malformed file, naming the line.

    Examples
    --------
    >>> import pandas as pd
    >>> table = pd.DataFrame({"age": [23, 67, 70, 45], "smoker": ["no", "yes", "yes", "no"]})
    >>> prepare_logic_rules(table, ["age", "smoker"], default_div=2)
    >>> read_constants_meta_info()
    ['g0', 'g1', 'no', 'yes']
    """
    user_input = [] if user_input is None else user_input
    constants = _core._tab_meta_constants(_read_text(meta_information), str(meta_information))
    constants.extend(user_input)
    return constants


def read_meta_information(filename: Path) -> dict[str, list[str]]:
    """The range texts of every feature of a meta-information file.

    Parameters
    ----------
    filename : str or os.PathLike
        The file.

    Returns
    -------
    dict
        Feature key -> list of range texts (``"5--7"``), in file order;
        categorical features map to an empty list. Keys keep the column's case
        and brackets, with blanks as "_" (``Income_(USD)``).
    """
    return _core._tab_meta_information(_read_text(filename), str(filename))


# --------------------------------------------------------------- decoding


def print_rules(rule_set: Optional[list[str]] = None,
                meta_information: Path = "meta_data.info") -> list[str]:
    """Decode rules with the ranges of the meta-information file.

    Nothing is printed.

    Parameters
    ----------
    rule_set : list of str, optional
        The rules; a new empty list on every call when omitted.
    meta_information : str or os.PathLike, default 'meta_data.info'
        The file.

    Returns
    -------
    list of str
        The decoded rules (see ``decode_rule``), in input order.

    Examples
    --------
    >>> import pandas as pd
    >>> table = pd.DataFrame({"age": [23, 67, 70, 45], "smoker": ["no", "yes", "yes", "no"]})
    >>> prepare_logic_rules(table, ["age", "smoker"], default_div=2)
    >>> print_rules(["target(A):-age(A,g1),smoker(A,yes)"])
    ['target(A):-age(A,B),inRange(B,67--70),smoker(A,yes)']
    """
    rule_set = [] if rule_set is None else rule_set
    if isinstance(rule_set, (str, bytes)):
        raise TypeError("rule_set must be a list of rule texts, not a single rule; "
                        "use [rule] or decode_rule")
    dict_1 = read_meta_information(meta_information)
    return _core._tab_decode(list(rule_set), dict_1)


def decode_rule(rule: str, dict_1: dict[str, list[str]]) -> str:
    """One rule with its range labels replaced by the ranges they stand for.

    An argument ``g<digits>`` of a predicate with ranges is a range label: the
    literal is written with a fresh variable in its place, followed by
    ``inRange(Var,lo--hi)``. Every other literal and argument (categorical
    values such as ``red``, predicates without ranges) stays as it is. The
    fresh variable is the first name, counting from the number of body
    variables seen, not used anywhere in the rule.

    Parameters
    ----------
    rule : str
        ``h:-b1,b2`` or ``h:-b1&b2``.
    dict_1 : dict
        The map of ``read_meta_information``; a predicate matches its key
        either exactly or as the background file spells the column.

    Returns
    -------
    str
        The decoded rule.

    Examples
    --------
    >>> decode_rule("target(A):-age(A,g1)", {"age": ["23--45", "67--70"]})
    'target(A):-age(A,B),inRange(B,67--70)'
    """
    if not isinstance(rule, str):
        raise TypeError(f"rule must be a rule text, not {type(rule).__name__}")
    return _core._tab_decode([rule], dict_1)[0]

