"""A fitted table encoder: ranges learned from some rows, facts for any rows.

``TableEncoder`` follows scikit-learn's transformer conventions (parameters
stored as given, ``fit`` returns the encoder, learned state ends in "_",
``get_params`` / ``set_params``) without needing scikit-learn::

    encoder = TableEncoder().fit(train)
    facts = encoder.transform(table)         # background facts of any rows
    constants = encoder.constants_           # range labels and category values
    encoder.decode("target(A):-age(A,g1)")   # readable numeric conditions

Facts are spelled exactly as ``prepare_logic_rules`` spells them; with the
default strategy and the same rows they are the same facts.

How a numeric value finds its range: every column keeps its cut points, and
range i holds the values v with cut(i-1) <= v < cut(i); the first range is
open below and the last open above, so values beyond the training rows go to
the end ranges. For the data-driven strategies ("equal_count", "entropy") a
cut lies halfway between the largest training value of one range and the
smallest of the next, so a new value between two ranges goes to the nearer
one (exactly halfway: the upper one). The meta-information text lists the
cuts of each column on a "(Cuts)" note line.

Categorical values are spelled as ``prepare_logic_rules`` spells them, except
that values which would share a spelling ("a b" and "a_b") are told apart by
a suffix; a "(Spelled) - j : constant" note after the column's block records
the constant of its value j, and ``decode`` shows such values as they are.
"""
import inspect
from fractions import Fraction

from . import _core
from . import _table_cells as _tab
from ._binning import _NumericColumn, _cut_text, _entropy_groups, _equal_count_groups
from ._files import replace_files
from ._value_terms import (_distinct_terms, _original_values, _prolog_quoted, _respelled,
                           _UnseenValues)

__all__ = ["TableEncoder"]

STRATEGIES = ("equal_count", "equal_width", "edges", "entropy")


def _class_positions(y):
    """(position of every row's class among the classes in repr order, the
    number of classes), or None when the classes do not sort that way."""
    import numpy

    try:
        kinds = sorted(set(y), key=repr)
    except TypeError:
        return None
    position = {c: i for i, c in enumerate(kinds)}
    return numpy.asarray([position[c] for c in y], dtype=numpy.int64), len(kinds)


def _class_counts_of(inverse, count, classes, present):
    """Per distinct value (``inverse``: of every present row), the rows of
    each class that occurs among the present rows, classes in repr order."""
    import numpy

    rows, kinds = classes
    if present is not None:
        rows = rows[present]
    counts = numpy.bincount(inverse * kinds + rows, minlength=count * kinds)
    counts = counts.reshape(count, kinds)
    return counts[:, counts.sum(axis=0) > 0].tolist()


def _cell_constants(encoding, series, unseen):
    """(constants, codes) of a column as ``transform`` writes it, read in
    one pass: the constants its cells are written as and, per row, the
    position of its cell's constant there (-1: missing). A category not
    seen in fitting gets its constant as ``_UnseenValues`` spells it when
    ``unseen``, else the answer is None; None too where only reading cell by
    cell is exact."""
    import numpy

    if isinstance(encoding, _NumericColumn):
        array = getattr(series, "values", None)
        if not isinstance(array, numpy.ndarray) or array.dtype.kind not in "iuf":
            return None
        cuts = [float(c) for c in encoding.cuts]
        if any(f != c for f, c in zip(cuts, encoding.cuts)):
            return None
        if array.dtype.kind != "f" and len(array) and max(
                abs(int(array.max())), abs(int(array.min()))) > 2 ** 53:
            return None  # beyond 2^53 a float no longer holds every integer
        values = array.astype(numpy.float64)
        present = ~numpy.isnan(values)
        index = numpy.searchsorted(numpy.asarray(cuts, dtype=numpy.float64),
                                   numpy.where(present, values, 0.0), side="right")
        return ["g" + str(i) for i in range(len(encoding.texts))], numpy.where(present, index, -1)
    found = _tab._distinct_cells(series)
    if found is None:
        return None
    cells, codes = found
    texts = [_tab._text(cell) for cell in cells]
    if not unseen:
        terms = [encoding.get(text) for text in texts]
        return None if None in terms else (terms, codes)
    spelled = _UnseenValues(encoding)
    return [encoding.get(text) or spelled.term(text) for text in texts], codes


class TableEncoder:
    """Background facts from a data table, with ranges fitted on chosen rows.

    A numeric column with two distinct values, or fewer than its number of
    ranges, stays categorical (except with given edges), as in
    ``prepare_logic_rules``. Missing cells (None, NaN, pandas' NA) give no
    fact.

    Parameters
    ----------
    columns : list, optional
        The columns to encode, in order (default: every column of the table
        given to ``fit`` except a target named there).
    n_ranges : int, default 3
        The number of ranges of a numeric column (for "entropy" the largest
        number).
    strategy : {'equal_count', 'equal_width', 'edges', 'entropy'}, default 'equal_count'
        "equal_count": the distinct values cut into groups of nearly equal
        size, as ``prepare_logic_rules`` does; "equal_width": ranges of
        equal width between the smallest and largest value; "edges": the
        cut points of ``edges``, which every numeric column then needs;
        "entropy" (supervised): cuts where the class changes, kept while
        they pass a minimum-description-length test; needs ``y``.
    ranges : dict, optional
        Column -> its own number of ranges, 1 keeping the column
        categorical.
    edges : dict, optional
        Column -> ascending cut points; a column listed here uses its cuts
        whatever the strategy.

    Attributes
    ----------
    columns_ : list
        The encoded columns.
    constants_ : list of str
        The range labels and category values, which a learner must keep as
        constants.
    encodings_ : dict
        Column -> its fitted ranges or categories.
    missing_ : dict
        Column -> number of cells without a value.
    target_column_ : object
        The class column named in ``fit``, or None.

    Examples
    --------
    >>> import pandas as pd
    >>> table = pd.DataFrame({"age": [23, 67, 70, 45], "smoker": ["no", "yes", "yes", "no"],
    ...                       "label": ["well", "sick", "sick", "well"]})
    >>> encoder = TableEncoder(n_ranges=2).fit(table, "label")
    >>> encoder.constants_
    ['g0', 'g1', 'no', 'yes']
    >>> encoder.transform(table)[:2]
    ['age(e_0,g0).', 'age(e_1,g1).']
    >>> encoder.examples(table["label"])
    (['target(e_1).', 'target(e_2).'], ['target(e_0).', 'target(e_3).'])
    >>> encoder.decode("target(A):-age(A,g1),smoker(A,yes)")
    'target(A):-age(A,B),inRange(B,67--70),smoker(A,yes)'
    """

    def __init__(self, columns=None, n_ranges=3, strategy="equal_count", ranges=None, edges=None):
        self.columns = columns
        self.n_ranges = n_ranges
        self.strategy = strategy
        self.ranges = ranges
        self.edges = edges

    # ------------------------------------------------ scikit-learn conventions

    def get_params(self, deep=True):
        """The constructor parameters by name (``deep`` has nothing to reach).

        Returns
        -------
        dict
            Parameter name -> value.
        """
        names = [p for p in inspect.signature(type(self).__init__).parameters if p != "self"]
        return {name: getattr(self, name) for name in names}

    def set_params(self, **params):
        """Set constructor parameters by name.

        Returns
        -------
        TableEncoder
            The encoder itself.

        Raises
        ------
        ValueError
            For a name that is no parameter.
        """
        valid = self.get_params()
        for name, value in params.items():
            if name not in valid:
                raise ValueError(f"TableEncoder has no parameter {name!r}")
            setattr(self, name, value)
        return self

    def __repr__(self):
        changed = {k: v for k, v in self.get_params().items()
                   if v != inspect.signature(TableEncoder.__init__).parameters[k].default}
        return "TableEncoder(" + ", ".join(f"{k}={v!r}" for k, v in changed.items()) + ")"

    # ------------------------------------------------------------- fitting

    def fit(self, data, y=None):
        """Learn the ranges of the numeric columns and the values of the
        categorical ones from the rows of a table.

        Parameters
        ----------
        data : pandas.DataFrame
            The rows to fit on.
        y : sequence or str, optional
            The classes of those rows, or the name of a column of ``data``
            (which is then not encoded); needed by the "entropy" strategy
            only.

        Returns
        -------
        TableEncoder
            The fitted encoder.

        Raises
        ------
        ValueError
            For a parameter out of range, classes that do not match the
            rows, or "entropy" without classes.
        """
        self._check_parameters()
        _tab._check_unique_columns(data)
        types = data.dtypes
        self.target_column_ = None
        if isinstance(y, str) and y in types:
            self.target_column_ = y
            y = _tab._column_values(data, y)
        columns = self._chosen_columns(types)
        if y is not None:
            y = list(y)
            rows = len(_tab._column_values(data, columns[0])) if columns else len(y)
            if len(y) != rows:
                raise ValueError(f"y gives {len(y)} classes for a table of {rows} rows")
        if self.strategy == "entropy" and y is None:
            raise ValueError('the "entropy" strategy places cuts where the class changes: '
                             "give the classes, fit(data, y)")
        self.columns_, self.encodings_, self.missing_ = columns, {}, {}
        classes = _class_positions(y) if y is not None else None
        for col in columns:
            encoding = None
            if classes is not None or self.strategy != "entropy":
                encoding = self._fit_column_fast(col, types[col], data[col], classes)
            if encoding is None:
                values = _tab._column_values(data, col)
                encoding = self._fit_column(col, types[col], values, y)
            self.encodings_[col] = encoding
        self.constants_ = self._constants()
        return self

    def _check_parameters(self):
        if self.strategy not in STRATEGIES:
            raise ValueError(f"strategy must be one of {', '.join(STRATEGIES)}, "
                             f"not {self.strategy!r}")
        _tab._check_count(self.n_ranges, "n_ranges")
        for col, count in (self.ranges or {}).items():
            _tab._check_count(count, f"ranges[{col!r}]")
        for col, cuts in (self.edges or {}).items():
            cuts = list(cuts)
            if not cuts or any(not b > a for a, b in zip(cuts, cuts[1:])):
                raise ValueError(f"edges[{col!r}] must be a non-empty list of ascending cut points")

    def _chosen_columns(self, types):
        if self.columns is None:
            return [c for c in types.keys() if c != self.target_column_]
        if isinstance(self.columns, (str, bytes)):
            raise TypeError("columns must be a list of column names, not a single name")
        columns = list(self.columns)
        for col in columns:
            if col not in types:
                raise KeyError(f"column {col!r} is not in the table")
        return columns

    def _fit_column(self, col, dtype, values, y):
        kind = _tab._kind(dtype)
        present = [(v, y[r] if y is not None else None) for r, v in enumerate(values)
                   if not _tab._is_missing(v)]
        self.missing_[col] = len(values) - len(present)
        k = _tab._check_count((self.ranges or {}).get(col, self.n_ranges), f"ranges[{col!r}]")
        if kind is not None and (k > 1 or col in (self.edges or {})):
            numbers, _ = _tab._numeric_cells([v for v, _ in present], kind, False)
            classes = [c for _, c in present]
            distinct = sorted(set(numbers))
            model = self._numeric_model(
                col, distinct, lambda: self._class_counts(distinct, numbers, classes), k,
                _tab._narrow_float(dtype))
            if model is not None:
                return model
        return _distinct_terms(list(dict.fromkeys(_tab._text(v) for v, _ in present)))

    def _fit_column_fast(self, col, dtype, series, classes):
        """``_fit_column`` over the column's numpy array: the same encoding,
        read in one pass; None where only reading cell by cell is exact.
        ``classes``: (class position of every row, number of classes)."""
        import numpy

        kind = _tab._kind(dtype)
        k = _tab._check_count((self.ranges or {}).get(col, self.n_ranges), f"ranges[{col!r}]")
        if kind is not None and (k > 1 or col in (self.edges or {})):
            array = getattr(series, "values", None)
            if not isinstance(array, numpy.ndarray) or array.dtype.kind not in "iuf":
                return None
            present = ~numpy.isnan(array) if array.dtype.kind == "f" else None
            values = array if present is None else array[present].astype(numpy.float64)
            zero = numpy.signbit(values[values == 0]) if present is not None else []
            if len(set(zero)) > 1:
                return None  # 0.0 and -0.0: which one stands for both is the first's
            distinct, inverse = numpy.unique(values, return_inverse=True)
            self.missing_[col] = len(array) - len(values)
            model = self._numeric_model(
                col, distinct.tolist(),
                lambda: _class_counts_of(inverse.reshape(-1), len(distinct), classes, present),
                k, _tab._narrow_float(dtype))
            if model is not None:
                return model
        found = _tab._distinct_cells(series)
        if found is None:
            return None
        cells, codes = found
        self.missing_[col] = int((codes < 0).sum())
        return _distinct_terms(list(dict.fromkeys(_tab._text(cell) for cell in cells)))

    def _numeric_model(self, col, distinct, class_counts, k, narrow):
        """The ranges of a numeric column (``distinct``: its distinct values,
        ascending; ``class_counts()``: per value, rows of each class), or
        None to keep it categorical."""
        def text_of(x):
            if isinstance(x, Fraction) and x.denominator != 1:
                x = float(x)
            return _tab._float_text(x, narrow) if isinstance(x, float) else _cut_text(x)

        if col in (self.edges or {}):
            if not distinct:
                distinct = [self.edges[col][0]]
            return _NumericColumn.from_cuts(list(self.edges[col]), distinct[0], distinct[-1], text_of)
        if self.strategy == "edges":
            raise ValueError(f'the "edges" strategy needs edges[{col!r}] for the numeric column {col!r}')
        if len(distinct) == 2 or len(distinct) < k:
            return None
        if self.strategy == "equal_width":
            low, high = distinct[0], distinct[-1]
            cuts = sorted({low + (high - low) * i / k for i in range(1, k)})
            return _NumericColumn.from_cuts(cuts, low, high, text_of)
        if self.strategy == "entropy":
            groups = _entropy_groups(distinct, class_counts(), k)
        else:
            groups = _equal_count_groups(distinct, k)
        return _NumericColumn.from_groups(groups, text_of)

    @staticmethod
    def _class_counts(distinct, numbers, classes):
        kinds = sorted(set(classes), key=repr)
        position = {c: i for i, c in enumerate(kinds)}
        index = {v: i for i, v in enumerate(distinct)}
        counts = [[0] * len(kinds) for _ in distinct]
        for v, c in zip(numbers, classes):
            counts[index[v]][position[c]] += 1
        return counts

    def _constants(self):
        out = {}
        for encoding in self.encodings_.values():
            if isinstance(encoding, _NumericColumn):
                out.update(("g" + str(i), None) for i in range(len(encoding.texts)))
            else:
                out.update((term, None) for term in encoding.values())
        return list(out)

    # ----------------------------------------------------------- transforming

    def _fitted(self):
        if not hasattr(self, "encodings_"):
            raise RuntimeError("this TableEncoder is not fitted yet: call fit(data) first")

    def transform(self, data, start=0):
        """The background facts of every row of a table, with the fitted ranges.

        A category not seen in fitting is written as it is.

        Parameters
        ----------
        data : pandas.DataFrame
            The rows.
        start : int, default 0
            The number of the first row.

        Returns
        -------
        list of str
            ``column(e_<n>,value).`` facts, column by column.
        """
        self._fitted()
        facts = []
        for col in self.columns_:
            found = _cell_constants(self.encodings_[col], data[col], True)
            if found is None:
                facts.extend(self._column_facts(col, _tab._column_values(data, col), start))
                continue
            # One pass over the column's codes, each constant spelled once.
            terms, codes = found
            predicate = _core._tab_predicate_term(str(col))
            ends = [f",{term})." for term in terms]
            facts.extend(f"{predicate}(e_{row}" + ends[code]
                         for row, code in enumerate(codes.tolist(), start) if code >= 0)
        return facts

    def fit_transform(self, data, y=None, start=0):
        """``fit(data, y)`` then ``transform(data, start)``.

        Returns
        -------
        list of str
            The facts of every row.
        """
        return self.fit(data, y).transform(data, start)

    def _column_facts(self, col, values, start):
        encoding = self.encodings_[col]
        predicate = _core._tab_predicate_term(str(col))
        unseen = _UnseenValues(encoding) if not isinstance(encoding, _NumericColumn) else None
        facts = []
        for row, v in enumerate(values):
            if _tab._is_missing(v):
                continue
            if unseen is None:
                value = encoding.label(self._number(col, row, v))
            else:
                text = _tab._text(v)
                value = encoding.get(text) or unseen.term(text)
            facts.append(f"{predicate}(e_{start + row},{value}).")
        return facts

    @staticmethod
    def _number(col, row, value):
        if isinstance(value, (bool, str, bytes)) or not hasattr(type(value), "__float__"):
            raise TypeError(f"column {col!r}, row {row}: expected a number, not "
                            f"{type(value).__name__} {value!r}")
        return int(value) if hasattr(type(value), "__index__") else float(value)

    def examples(self, y, label="target", positive=None, start=0):
        """Example texts of the rows, split by class.

        Parameters
        ----------
        y : sequence
            The class of every row; rows whose class is missing give no
            example.
        label : str, default 'target'
            The example predicate.
        positive : optional
            The positive class (default: the smallest class, as
            ``prepare_examples`` takes it).
        start : int, default 0
            The number of the first row.

        Returns
        -------
        positives, negatives : list of str
            ``label(e_<n>).`` texts of the rows of class ``positive`` and of
            all others.
        """
        y = list(y)
        present = [c for c in y if not _tab._is_missing(c)]
        if positive is None:
            positive = sorted(set(present))[0]
        pos, neg = [], []
        for row, c in enumerate(y):
            if not _tab._is_missing(c):
                (pos if c == positive else neg).append(f"{label}(e_{start + row}).")
        return pos, neg

    # ------------------------------------------------------- meta information

    def meta_information(self):
        """The meta-information text of the fitted columns.

        Returns
        -------
        str
            The blocks that ``read_meta_information`` and
            ``read_constants_meta_info`` read, each numeric block followed by
            its cut points.
        """
        self._fitted()
        out = []
        for col in self.columns_:
            encoding, name = self.encodings_[col], _tab._single_line(str(col))
            if isinstance(encoding, _NumericColumn):
                out.append(f"Feature Name : {name}\t (Encoded) - {len(encoding.texts)}\n")
                out.extend(f"\tg{i}\t[{t}]\n" for i, t in enumerate(encoding.texts))
                cuts = ", ".join(encoding.cut_texts) or "none"
                out.append(f"\t(Cuts) - {cuts} : range g<i> holds the values from cut i-1 "
                           "(included) to cut i (excluded); the first and last ranges are open\n")
            else:
                out.append(f"Feature Name : {name}\t (Not Encoded) - {len(encoding)}\n")
                out.extend(f"\t{_tab._single_line(t)}\n" for t in encoding)
                out.extend(f"\t(Spelled) - {j} : {term}\n" for j, term in _respelled(encoding))
            if self.missing_[col]:
                out.append(f"\t(Missing) - {self.missing_[col]} cells without a value, "
                           "written as no fact\n")
        return "".join(out)

    def write(self, data, folder=None, file_name="BK.pl", meta_information="meta_data.info",
              start=0):
        """Write the background facts of a table and the meta-information
        text, each file replaced whole.

        Parameters
        ----------
        data : pandas.DataFrame
            The rows.
        folder : str or os.PathLike, optional
            Where to write (default: the working directory).
        file_name : str, default 'BK.pl'
            The background file.
        meta_information : str, default 'meta_data.info'
            The meta-information file.
        start : int, default 0
            The number of the first row.

        Returns
        -------
        tuple of str
            The two file names.

        Raises
        ------
        ValueError
            When both names are one file.
        """
        facts = self.transform(data, start)
        file_name = _tab._in_folder(folder, file_name)
        meta_information = _tab._in_folder(folder, meta_information)
        if _tab._same_file(file_name, meta_information):
            raise ValueError(f"file_name and meta_information both name {file_name!r}")
        replace_files({file_name: "".join(f + "\n" for f in facts),
                       meta_information: self.meta_information()})
        return file_name, meta_information

    # ---------------------------------------------------------------- decoding

    def decode(self, rule):
        """A learned rule with every range label replaced by its range.

        Parameters
        ----------
        rule : str or list of str
            A rule, or a list of rules.

        Returns
        -------
        str or list of str
            The rule(s) with every range label of a fitted numeric column
            replaced by a variable and its range, ``inRange(B,65--75)``; all
            other literals stay as they are.
        """
        self._fitted()
        ranges, originals = {}, {}
        for col in self.columns_:
            encoding = self.encodings_[col]
            key = str(col).strip().replace(" ", "_")
            ranges[key] = list(encoding.texts) if isinstance(encoding, _NumericColumn) else []
            if not isinstance(encoding, _NumericColumn):
                texts = list(encoding)
                originals[_core._tab_predicate_term(str(col))] = {
                    term: _prolog_quoted(texts[j]) for j, term in _respelled(encoding)}
        rules = [rule] if isinstance(rule, str) else list(rule)
        decoded = [_original_values(r, originals) for r in _core._tab_decode(rules, ranges)]
        return decoded[0] if isinstance(rule, str) else decoded

