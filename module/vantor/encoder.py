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
"""
import bisect
import heapq
import inspect
import math
from fractions import Fraction

from . import _core
from . import tabular as _tab
from ._files import replace_files

__all__ = ["TableEncoder"]

STRATEGIES = ("equal_count", "equal_width", "edges", "entropy")


def _midpoint(low, high):
    """The cut halfway between two neighbouring values, exact for integers."""
    if isinstance(low, int) and isinstance(high, int):
        return Fraction(low + high, 2)
    middle = low + (high - low) / 2
    return middle if math.isfinite(middle) else high


def _cut_text(cut):
    if isinstance(cut, Fraction):
        return str(cut.numerator) if cut.denominator == 1 else repr(float(cut))
    return str(cut) if isinstance(cut, int) else repr(float(cut))


def _equal_count_groups(distinct, k):
    """The distinct values cut into k consecutive groups of nearly equal
    size, the first n mod k one larger."""
    base, extra = divmod(len(distinct), k)
    groups, start = [], 0
    for i in range(k):
        size = base + (1 if i < extra else 0)
        groups.append(distinct[start:start + size])
        start += size
    return groups


def _entropy(counts, total):
    return -sum(c / total * math.log2(c / total) for c in counts if c)


def _best_cut(counts, lo, hi):
    """The entropy-minimising cut of distinct positions lo..hi-1 (classes
    counted per position), with its information gain, if it passes the
    minimum-description-length test; otherwise None."""
    classes = len(counts[0]) if counts else 0
    whole = [sum(counts[j][c] for j in range(lo, hi)) for c in range(classes)]
    n = sum(whole)
    if hi - lo < 2 or n < 2:
        return None
    left = [0] * classes
    best = None
    for t in range(lo, hi - 1):
        for c in range(classes):
            left[c] += counts[t][c]
        right = [w - l for w, l in zip(whole, left)]
        n_left = sum(left)
        score = (n_left * _entropy(left, n_left) + (n - n_left) * _entropy(right, n - n_left)) / n
        if best is None or score < best[0]:
            best = (score, t, list(left), right)
    score, t, left, right = best
    whole_entropy = _entropy(whole, n)
    gain = whole_entropy - score
    k, k1, k2 = (sum(1 for c in x if c) for x in (whole, left, right))
    delta = math.log2(3 ** k - 2) - (k * whole_entropy - k1 * _entropy(left, sum(left))
                                     - k2 * _entropy(right, sum(right)))
    if gain <= (math.log2(n - 1) + delta) / n:
        return None
    return gain * n, t


def _entropy_groups(distinct, counts, k):
    """Distinct values grouped by the cuts where the class changes most,
    best first, while the cuts pass the description-length test and fewer
    than k groups exist."""
    cuts, heap = [], []

    def consider(lo, hi):
        found = _best_cut(counts, lo, hi)
        if found:
            heapq.heappush(heap, (-found[0], found[1], lo, hi))

    consider(0, len(distinct))
    while heap and len(cuts) < k - 1:
        _, t, lo, hi = heapq.heappop(heap)
        cuts.append(t)
        consider(lo, t + 1)
        consider(t + 1, hi)
    bounds = [0] + sorted(t + 1 for t in cuts) + [len(distinct)]
    return [distinct[a:b] for a, b in zip(bounds, bounds[1:])]


class _NumericColumn:
    """Cut points and the range texts of one discretised column."""

    def __init__(self, cuts, texts, text_of):
        self.cuts, self.texts = cuts, texts
        self.cut_texts = [text_of(c) for c in cuts]

    @classmethod
    def from_groups(cls, groups, text_of):
        cuts = [_midpoint(a[-1], b[0]) for a, b in zip(groups, groups[1:])]
        texts = [f"{text_of(g[0])}--{text_of(g[-1])}" for g in groups]
        return cls(cuts, texts, text_of)

    @classmethod
    def from_cuts(cls, cuts, low, high, text_of):
        """Ranges that are the intervals between the cuts; the outer ones
        are shown from the smallest and up to the largest training value."""
        ends = [min(low, cuts[0])] + list(cuts) + [max(high, cuts[-1])]
        texts = [f"{text_of(a)}--{text_of(b)}" for a, b in zip(ends, ends[1:])]
        return cls(list(cuts), texts, text_of)

    def label(self, value):
        return "g" + str(bisect.bisect_right(self.cuts, value))


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
        for col in columns:
            self.encodings_[col] = self._fit_column(col, types[col], _tab._column_values(data, col), y)
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
            narrow = _tab._narrow_float(dtype)
            model = self._numeric_model(col, numbers, [c for _, c in present], k, narrow)
            if model is not None:
                return model
        texts = {_tab._text(v): None for v, _ in present}
        return {text: _core._tab_value_term(text) for text in texts}

    def _numeric_model(self, col, numbers, classes, k, narrow):
        """The ranges of a numeric column, or None to keep it categorical."""
        def text_of(x):
            if isinstance(x, Fraction) and x.denominator != 1:
                x = float(x)
            return _tab._float_text(x, narrow) if isinstance(x, float) else _cut_text(x)

        distinct = sorted(set(numbers))
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
            groups = _entropy_groups(distinct, self._class_counts(distinct, numbers, classes), k)
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
            values = _tab._column_values(data, col)
            facts.extend(self._column_facts(col, values, start))
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
        facts = []
        for row, v in enumerate(values):
            if _tab._is_missing(v):
                continue
            if isinstance(encoding, _NumericColumn):
                value = encoding.label(self._number(col, row, v))
            else:
                text = _tab._text(v)
                value = encoding.get(text) or _core._tab_value_term(text)
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
        ranges = {}
        for col in self.columns_:
            encoding = self.encodings_[col]
            key = str(col).strip().replace(" ", "_")
            ranges[key] = list(encoding.texts) if isinstance(encoding, _NumericColumn) else []
        if isinstance(rule, str):
            return _core._tab_decode([rule], ranges)[0]
        return _core._tab_decode(list(rule), ranges)
