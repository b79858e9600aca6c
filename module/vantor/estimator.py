"""``Learner``: the learner as an estimator with scikit-learn's conventions
(parameters in the constructor, ``fit``/``predict``/``score``,
``get_params``/``set_params``, fitted attributes ending in "_"), without
needing scikit-learn to run.

Examples are fact texts such as ``"grandparent(ann,bob)"`` and labels are
1 (positive) or 0 (negative). Every prediction is a proof in the SWI-Prolog
engine: the theory and the background are consulted and the example is run
as a goal, one example per engine call (the background stays loaded while
its file is unchanged, so a call costs the consult of the theory and one
goal).
"""
import contextlib
import inspect
import io
import os
import random
import shutil
import tempfile
import textwrap
import weakref
from typing import Any, Optional

from . import _core
from ._lint import _split_arguments, first_problem, warn_file
from ._options import _OPTIONS, learn_options, options_doc
from .bottom import bottom_clause_generation
from .data import read_example
from .evaluate import evaluate_theory_prolog
from .folds import vantor_cross_validation, vantor_folds
from .learn import vantor_learn
from .theory_files import load_theory, read_theory_header, save_theory

__all__ = ["Learner"]

# The library's own ``verbose`` is a quiet switch; here it has the usual
# meaning, so the option becomes this class's own parameter.
_LEARNING = tuple(option for option in _OPTIONS if option.name != "verbose")
_LEARNING_NAMES = tuple(option.name for option in _LEARNING)
_OWN = (
    ("background", "BK.pl", "the background knowledge: a file name, a list of fact texts "
     "('parent(ann,bob).'), or a pandas DataFrame whose rows are (predicate, argument, "
     "...) with missing trailing arguments left empty. A list or DataFrame is written to "
     "a private temporary file the learner owns. Default 'BK.pl'."),
    ("depth", 2, "passes over the background when building bottom clauses. Default 2; an "
     "int of at least 0."),
    ("encoder_strategy", "equal_count", "how a table's numeric columns are cut into ranges "
     "when X is a DataFrame: 'equal_count' (default), 'equal_width' or 'entropy' (cuts "
     "where the class changes); see TableEncoder."),
    ("n_ranges", 3, "number of ranges of a table's numeric columns (for 'entropy' the "
     "largest number) when X is a DataFrame. Default 3; an int of at least 1."),
    ("follow", "first", "which facts bottom clauses take: 'first' (default) those whose first "
     "argument is a known term, 'any' those with a known term in any argument."),
    ("size_limit", None, "most literals a bottom clause keeps; None (default) keeps all."),
    ("size_warning", 10000, "a bottom clause longer than this gives a RuntimeWarning; None "
     "never warns. Default 10000."),
    ("verbose", 0, "0 (default) prints nothing, 1 shows progress bars on stderr, 2 also "
     "prints the library's theory and tables."),
    ("random_state", None, "an int seeds Python's random generator (the library's only "
     "one) before fitting, making a fit repeatable; None (default) leaves it as it is."),
)
_PARAMS = tuple(name for name, _, _ in _OWN[:4]) + _LEARNING_NAMES + tuple(
    name for name, _, _ in _OWN[4:])
_DEFAULTS = {name: default for name, default, _ in _OWN}
_DEFAULTS.update({option.name: option.default for option in _LEARNING})
_MEASURES = ("accuracy", "precision", "sensitivity", "specificity", "fscore")


def _signature():
    self_parameter = inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)
    parameters = [self_parameter]
    for name in _PARAMS:
        kind = (inspect.Parameter.POSITIONAL_OR_KEYWORD if name == "background"
                else inspect.Parameter.KEYWORD_ONLY)
        parameters.append(inspect.Parameter(name, kind, default=_DEFAULTS[name]))
    return inspect.Signature(parameters)


def _parameters_doc():
    lines = ["Parameters", "----------"]
    for name, _, text in _OWN:
        lines += textwrap.wrap(f"{name}: {text}", width=76, subsequent_indent="    ")
    return "\n".join(lines) + "\n\n" + options_doc(indent="", skip=("verbose",))


# ---------------------------------------------------------------- inputs


def example_texts(X, parameter="X"):
    """A list of example texts from a list, tuple, array, pandas Series or
    one-column DataFrame of texts."""
    if isinstance(X, (str, bytes)):
        raise TypeError(f"{parameter} must be a sequence of example texts, not one text")
    columns = getattr(X, "columns", None)
    if columns is not None:
        if len(columns) != 1:
            raise ValueError(f"{parameter} must have one column of example texts, "
                             f"got {len(columns)} columns")
        X = X.iloc[:, 0]
    if hasattr(X, "tolist"):
        X = X.tolist()
    try:
        items = list(X)
    except TypeError:
        raise TypeError(f"{parameter} must be a sequence of example texts, "
                        f"not {type(X).__name__}") from None
    texts = []
    for position, item in enumerate(items):
        if isinstance(item, (list, tuple)) and len(item) == 1:
            item = item[0]  # a row of a one-column array
        if not isinstance(item, str):
            raise TypeError(f"{parameter}[{position}] must be an example text, "
                            f"not {type(item).__name__}")
        text = item.strip()
        if not text:
            raise ValueError(f"{parameter}[{position}] is an empty example text")
        texts.append(text)
    return texts


def _labels(y, count):
    if isinstance(y, (str, bytes)):
        raise TypeError("y must be a sequence of 0/1 labels, not a text")
    if hasattr(y, "tolist"):
        y = y.tolist()
    labels = list(y)
    if len(labels) != count:
        raise ValueError(f"X holds {count} examples but y holds {len(labels)} labels")
    for position, label in enumerate(labels):
        if isinstance(label, bool) or label in (0, 1):
            continue
        raise ValueError(f"y must hold only the labels 0 and 1, got {label!r} at "
                         f"position {position}")
    return [int(label) for label in labels]


def _term(value):
    """A table cell as a Prolog term, quoted when Prolog would read it
    differently."""
    if isinstance(value, bool):
        value = str(value).lower()
    text = value if isinstance(value, str) else (
        str(value) if isinstance(value, int) else repr(value))
    if first_problem(f"p({text}).") is None:
        return text
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def _frame_facts(frame):
    facts = []
    for row in frame.itertuples(index=False):
        cells = [cell for cell in row if not _missing(cell)]
        if not cells:
            continue
        facts.append(f"{cells[0]}({','.join(_term(cell) for cell in cells[1:])}).")
    return facts


def _missing(cell):
    return cell is None or (isinstance(cell, float) and cell != cell)


class _Background:
    """The background text and a private file holding it (made when first
    needed, removed with this object)."""

    def __init__(self, text, name):
        self.text = text
        self.name = name
        self._folder = None

    @classmethod
    def from_parameter(cls, background):
        if isinstance(background, (str, os.PathLike)):
            warn_file(background, stacklevel=4)
            with open(background, encoding="utf-8") as stream:
                return cls(stream.read(), os.fsdecode(background))
        if hasattr(background, "itertuples"):
            return cls("\n".join(_frame_facts(background)) + "\n", None)
        if isinstance(background, (list, tuple)):
            lines = [str(fact).strip() for fact in background]
            warn_file(lines, name="background", stacklevel=4)
            return cls("\n".join(lines) + "\n", None)
        raise TypeError("background must be a file name, a list of fact texts or a pandas "
                        f"DataFrame, not {type(background).__name__}")

    @property
    def path(self):
        if self._folder is None:
            self._folder = tempfile.mkdtemp(prefix="vantor-learner-")
            weakref.finalize(self, shutil.rmtree, self._folder, True)
            with open(os.path.join(self._folder, "BK.pl"), "w", encoding="utf-8") as out:
                out.write(self.text)
        return os.path.join(self._folder, "BK.pl")

    def facts(self):
        """predicate -> list of argument tuples of the background's facts."""
        table = {}
        for line in self.text.splitlines():
            text = line.strip()
            if not text or text.startswith(("%", ":-")) or ":-" in text or "(" not in text:
                continue
            name, inner = text.rstrip(".").split("(", 1)
            table.setdefault(name.strip(), []).append(
                tuple(_split_arguments(inner.rsplit(")", 1)[0])))
        return table

    def __getstate__(self):
        return {"text": self.text, "name": self.name}

    def __setstate__(self, state):
        self.__init__(state["text"], state["name"])


@contextlib.contextmanager
def _library_output(verbose):
    """The library prints theory and tables to stdout unless told to be quiet;
    below level 2 they are dropped."""
    if verbose >= 2:
        yield
        return
    with contextlib.redirect_stdout(io.StringIO()):
        yield


def _literal(text):
    name, inner = text.split("(", 1)
    return name.strip(), tuple(_split_arguments(inner.rsplit(")", 1)[0]))


def _is_variable(term):
    return bool(term) and (term[0].isupper() or term[0] == "_")


# ---------------------------------------------------------------- tables

_TABLE_STRATEGIES = ("equal_count", "equal_width", "entropy")


def is_table(X, target=None):
    """Whether ``X`` is a data table (one row per example) rather than a
    column of example texts: a DataFrame with a target column named, with
    several columns, or with one column that does not hold example texts."""
    columns = getattr(X, "columns", None)
    if columns is None or not hasattr(X, "iloc"):
        return False
    if target is not None or len(columns) != 1:
        return True
    return not all(isinstance(v, str) and "(" in v for v in X.iloc[:, 0].tolist())


def _sorted_labels(labels):
    try:
        return sorted(set(labels))
    except TypeError:
        return sorted(set(labels), key=repr)


def _head_names(labels):
    """One target predicate per class: ``class_<label>`` when every label
    gives a distinct plain name, else ``class_<position>``."""
    from . import _core

    names = ["class_" + _core._tab_value_term(str(label)) for label in labels]
    plain = all(name.replace("_", "").isalnum() and name.isascii() for name in names)
    if plain and len(set(names)) == len(names):
        return names
    return [f"class_{i}" for i in range(len(labels))]


class _TableTask:
    """What a table's labels ask for: the classes, the class each target
    predicate stands for and the class given when no theory proves a row.

    Two classes: one theory for the positive class (``positive``, default
    the larger label), the other class when it proves nothing. More classes:
    one theory per class against the rest, unless ``positive`` is given; then
    the labels become 1 (that class) and 0 (any other)."""

    def __init__(self, labels, positive):
        classes = _sorted_labels(labels)
        if positive is not None and positive not in classes:
            raise ValueError(f"positive={positive!r} is not a class of y "
                             f"(classes: {', '.join(map(repr, classes))})")
        self.positive = positive
        self.binarised = positive is not None and len(classes) != 2
        if self.binarised:
            labels = self.relabel(labels)
            classes = [0, 1]
            positive = 1
        if len(classes) < 2:
            raise ValueError(f"y holds one class ({classes[0]!r}); give positive= to learn "
                             "that class against no negatives, or rows of a second class")
        self.classes = classes
        self.counts = {c: sum(1 for label in labels if label == c) for c in classes}
        if len(classes) == 2:
            positive = classes[1] if positive is None else positive
            self.heads = [(positive, "target")]
            self.default = classes[0] if positive == classes[1] else classes[1]
        else:
            self.heads = list(zip(classes, _head_names(classes)))
            self.default = max(classes, key=lambda c: self.counts[c])  # first on ties
        self.labels = labels

    def relabel(self, labels):
        if not self.binarised:
            return list(labels)
        return [int(label == self.positive) for label in labels]

    def choose(self, proved):
        """The class of a row from ``proved`` (class -> the precisions of its
        rules proving the row): the only proved class; among several, the one
        whose proving rule has the best training precision, then the most
        frequent; with none, ``default``."""
        if len(self.heads) == 1:
            label, _ = self.heads[0]
            return label if proved.get(label) else self.default
        found = [c for c, rules in proved.items() if rules]
        if not found:
            return self.default
        order = {c: i for i, c in enumerate(self.classes)}
        return max(found, key=lambda c: (max(proved[c]), self.counts[c], -order[c]))


def _table_parts(X, y, target):
    """(features, labels) of a table with rows of a missing label left out;
    a named target column is taken out of the features."""
    from .tabular import _is_missing

    if target is not None:
        if y is not None:
            raise ValueError("give the labels either as y or as target=, not both")
        if target not in X.columns:
            raise KeyError(f"target column {target!r} is not in the table")
        y, X = X[target], X.drop(columns=[target])
    if y is None:
        raise ValueError("a table needs its labels: fit(table, y) or fit(table, target=column)")
    labels = y.tolist() if hasattr(y, "tolist") else list(y)
    if len(labels) != len(X):
        raise ValueError(f"X holds {len(X)} rows but y holds {len(labels)} labels")
    keep = [i for i, label in enumerate(labels) if not _is_missing(label)]
    if not keep:
        raise ValueError("y holds no label (every one is missing)")
    if len(keep) < len(labels):
        X, labels = X.iloc[keep], [labels[i] for i in keep]
    return X, labels


class _Readable:
    """Learned table rules as conditions on the columns:
    ``age in [63, 76] and smoker = yes``. A range is shown by the smallest
    and largest training values it holds, the first as ``<=`` and the last
    as ``>=`` (those ranges are open); a literal on no column, or on another
    row, is shown as it is."""

    def __init__(self, encoder):
        from . import _core
        from .encoder import _NumericColumn

        self.columns = {}
        for col in encoder.columns_:
            encoding = encoder.encodings_[col]
            if isinstance(encoding, _NumericColumn):
                shown = encoding.texts
            else:
                shown = {term: text for text, term in encoding.items()}
            self.columns[_core._tab_predicate_term(str(col))] = (str(col), shown)

    def __call__(self, rule):
        head, _, body = rule.partition(":-")
        head_args = _literal(head)[1]
        row = head_args[0] if len(head_args) == 1 else None
        parts = [self._condition(text, row) for text in _split_arguments(body)] if body else []
        return " and ".join(parts) or "always"

    def _condition(self, text, row):
        if "(" not in text:
            return text
        name, args = _literal(text)
        if name not in self.columns or len(args) != 2 or args[0] != row or _is_variable(args[1]):
            return text
        column, shown = self.columns[name]
        if isinstance(shown, dict):
            return f"{column} = {shown.get(args[1], args[1])}"
        index = int(args[1][1:]) if args[1][:1] == "g" and args[1][1:].isdigit() else -1
        if not 0 <= index < len(shown):
            return text
        low, high = shown[index].split("--", 1)
        if len(shown) == 1:
            return f"{column} is any value"
        if index == 0:
            return f"{column} <= {high}"
        if index == len(shown) - 1:
            return f"{column} >= {low}"
        return f"{column} in [{low}, {high}]"


# -------------------------------------------------------------- estimator


class Learner:
    def __init__(self, background="BK.pl", **params):
        unknown = set(params) - set(_PARAMS)
        if unknown:
            raise TypeError(f"Learner got an unknown parameter {sorted(unknown)[0]!r}")
        self.background = background
        for name in _PARAMS[1:]:
            setattr(self, name, params.get(name, _DEFAULTS[name]))

    __init__.__signature__ = _signature()

    # scikit-learn reads these; they cost nothing without it.
    _estimator_type = "classifier"

    def __sklearn_tags__(self):
        from sklearn.utils import ClassifierTags, Tags, TargetTags

        return Tags(estimator_type="classifier", target_tags=TargetTags(required=True),
                    classifier_tags=ClassifierTags(multi_class=True),
                    input_tags=_input_tags())

    def get_params(self, deep=True):
        """The constructor parameters by name (``deep`` has nothing to reach)."""
        return {name: getattr(self, name) for name in _PARAMS}

    def set_params(self, **params):
        """Set constructor parameters by name; returns the learner."""
        for name, value in params.items():
            if name not in _PARAMS:
                raise ValueError(f"invalid parameter {name!r} for Learner; valid "
                                 f"parameters: {', '.join(_PARAMS)}")
            setattr(self, name, value)
        return self

    def __repr__(self):
        changed = [f"{name}={getattr(self, name)!r}" for name in _PARAMS
                   if _differs(getattr(self, name), _DEFAULTS[name])]
        return f"Learner({', '.join(changed)})"

    # ------------------------------------------------------------ fitting

    def _check_parameters(self):
        learning = {name: getattr(self, name) for name in _LEARNING_NAMES}
        learn_options(**learning)  # TypeError / ValueError naming the option
        if isinstance(self.depth, bool) or not isinstance(self.depth, int) or self.depth < 0:
            raise ValueError(f"depth must be an int of at least 0, got {self.depth!r}")
        if self.verbose not in (0, 1, 2) or isinstance(self.verbose, float):
            raise ValueError(f"verbose must be 0, 1 or 2, got {self.verbose!r}")
        if self.random_state is not None and not isinstance(self.random_state, int):
            raise ValueError(f"random_state must be None or an int, got {self.random_state!r}")
        return learning

    def _bottom_clauses(self, positives, negatives):
        constants = list(self.constant_set or [])
        pos, neg = bottom_clause_generation(
            file=self._background.path, container="memory", positive_example=positives,
            negative_example=negatives, constant_set=constants, depth=self.depth,
            tqdm_disable=self.verbose < 1, size_limit=self.size_limit,
            size_warning=self.size_warning, follow=self.follow, numbers=self.numbers,
            check_input=False)
        return pos, (neg or {})

    def _prepare(self, X, y):
        learning = self._check_parameters()
        texts = example_texts(X)
        labels = _labels(y, len(texts))
        positives = [t for t, label in zip(texts, labels) if label == 1]
        negatives = [t for t, label in zip(texts, labels) if label == 0]
        if not positives:
            raise ValueError("y holds no positive example (label 1); at least one is needed")
        warn_file(texts, name="X", stacklevel=4)
        self._background = _Background.from_parameter(self.background)
        if self.random_state is not None:
            random.seed(self.random_state)
        learning["verbose"] = self.verbose < 1
        return learning, positives, negatives

    def fit(self, X, y=None, target=None, positive=None):
        """Learn a theory from examples ``X`` (fact texts) labelled by ``y``
        (1 positive, 0 negative; at least one positive). Returns the learner.

        ``X`` may instead be a pandas DataFrame with one row per example,
        labelled by ``y`` or by its column ``target``: see "Tables" in the
        class documentation. ``positive`` is the class to learn there.

        Sets ``theory_`` (the rules), ``rules_`` (a pandas DataFrame: rule,
        covered positives and negatives and precision of each rule proved
        alone, without the other rules, on the training examples; a
        recursive step rule alone proves nothing), ``training_scores_`` (the five
        measures of the theory), ``time_learn_``, ``classes_`` and
        ``n_features_in_`` (1: one column of example texts).
        """
        if is_table(X, target):
            return self._fit_table(X, y, target, positive)
        if target is not None or positive is not None:
            raise TypeError("target= and positive= apply to a table (a pandas DataFrame); "
                            "example texts are labelled 1/0 by y")
        if y is None:
            raise ValueError("fit needs y, the 0/1 labels of the example texts")
        learning, positives, negatives = self._prepare(X, y)
        with _library_output(self.verbose):
            pos, neg = self._bottom_clauses(positives, negatives)
            result = vantor_learn(pos, neg, file=self._background.path, **learning)
        self._forget_table()
        self.theory_ = list(result.hypothesis)
        self.training_scores_ = {m: getattr(result, m) for m in _MEASURES}
        self.time_learn_ = result.time_learn
        self._training = (positives, negatives)
        self._coverage = None
        self.classes_ = _array([0, 1])
        self.n_features_in_ = 1
        self.rules_ = self._rule_table(positives, negatives)
        return self

    def fit_files(self, positive_file, negative_file=None):
        """``fit`` with the examples of example files (one fact per line)."""
        positives = read_example(positive_file)
        negatives = read_example(negative_file) if negative_file else []
        for path in (positive_file, negative_file):
            if path:
                warn_file(path, stacklevel=3)
        return self.fit(positives + negatives, [1] * len(positives) + [0] * len(negatives))

    def cross_validate(self, X, y=None, folds=5, shuffle=True, target=None, positive=None):
        """Per-fold test accuracies of a k-fold cross-validation on ``X``,
        ``y`` (the candidates are built once from all positives); kept in
        ``cv_scores_`` and returned. ``folds`` is an int of at least 1 and at
        most the number of negatives and of positives.

        For a table, each fold is fitted as ``fit`` does on its training rows
        alone (its own ranges and candidates); folds are stratified by class
        and shuffled with ``random_state``."""
        if is_table(X, target):
            return self._cross_validate_table(X, y, folds, shuffle, target, positive)
        learning, positives, negatives = self._prepare(X, y)
        with _library_output(self.verbose):
            pos, neg = self._bottom_clauses(positives, negatives)
            kfolds = vantor_folds(folds=folds, shuffle=bool(shuffle),
                                  positive_file_dictionary=pos, negative_file_dictionary=neg)
            result = vantor_cross_validation(kfolds, file=self._background.path, k_fold=folds,
                                             **learning)
        self.cv_scores_ = list(result.accuracy)
        return self.cv_scores_

    def _rule_table(self, positives, negatives):
        import pandas

        rows = []
        for rule in self.theory_:
            scores = evaluate_theory_prolog([rule], self._background.path, positives,
                                            negatives, True)
            covered_pos = round((scores.sensitivity or 0) * len(positives))
            covered_neg = (len(negatives) - round(scores.specificity * len(negatives))
                           if negatives else 0)
            covered = covered_pos + covered_neg
            rows.append((rule, covered_pos, covered_neg,
                         covered_pos / covered if covered else float("nan")))
        return pandas.DataFrame(rows, columns=["rule", "positives", "negatives", "precision"])

    # ------------------------------------------------------------- tables

    def _forget_table(self):
        for name in ("encoder_", "theories_", "target_", "feature_names_in_"):
            self.__dict__.pop(name, None)

    def _check_table_parameters(self):
        if self.encoder_strategy not in _TABLE_STRATEGIES:
            raise ValueError(f"encoder_strategy must be one of {', '.join(_TABLE_STRATEGIES)}, "
                             f"got {self.encoder_strategy!r}")
        if (isinstance(self.n_ranges, bool) or not isinstance(self.n_ranges, int)
                or self.n_ranges < 1):
            raise ValueError(f"n_ranges must be an int of at least 1, got {self.n_ranges!r}")

    def _extra_background(self):
        """Facts the ``background`` parameter adds to a table's encoding; the
        default file name adds nothing (a BK.pl in the working directory is
        most often an earlier table's encoding)."""
        if isinstance(self.background, str) and self.background == _DEFAULTS["background"]:
            return ""
        return _Background.from_parameter(self.background).text

    def _fit_table(self, X, y, target, positive):
        from .encoder import TableEncoder

        learning = self._check_parameters()
        self._check_table_parameters()
        table, labels = _table_parts(X, y, target)
        task = _TableTask(labels, positive)
        encoder = TableEncoder(n_ranges=self.n_ranges, strategy=self.encoder_strategy)
        encoder.fit(table, labels if self.encoder_strategy == "entropy" else None)
        self._extra = self._extra_background()
        self._training_facts = encoder.transform(table)
        self._background = _Background("\n".join(self._training_facts) + "\n" + self._extra,
                                       None)
        if self.random_state is not None:
            random.seed(self.random_state)
        learning["verbose"] = self.verbose < 1
        learning["constant_set"] = list(dict.fromkeys(
            list(learning["constant_set"] or []) + list(encoder.constants_)))
        self.encoder_, self.target_, self._task = encoder, target, task
        rows = [f"e_{i}" for i in range(len(table))]
        with _library_output(self.verbose):
            bottoms = self._row_bottom_clauses(rows, learning["constant_set"])
            theories, seconds = self._learn_classes(task, rows, bottoms, learning)
        self._finish_table_fit(task, rows, theories, seconds, table)
        return self

    def _row_bottom_clauses(self, rows, constants):
        """The bottom clause of every row, built once: it does not depend on
        which class the row is an example of."""
        texts = [f"target({row})." for row in rows]
        bottoms, _ = bottom_clause_generation(
            file=self._background.path, container="memory", positive_example=texts,
            negative_example=[], constant_set=constants, depth=self.depth,
            tqdm_disable=self.verbose < 1, size_limit=self.size_limit,
            size_warning=self.size_warning, follow=self.follow, numbers=self.numbers,
            check_input=False)
        return [bottoms[f"target({row})."] for row in rows]

    def _learn_classes(self, task, rows, bottoms, learning):
        theories, seconds = {}, 0.0
        for label, head in task.heads:
            pos, neg = {}, {}
            for row, bottom, value in zip(rows, bottoms, task.labels):
                (pos if value == label else neg)[f"{head}({row})."] = list(bottom)
            if not pos:
                theories[label] = []
                continue
            result = vantor_learn(pos, neg, file=self._background.path, **learning)
            theories[label] = list(result.hypothesis)
            seconds += result.time_learn or 0.0
        return theories, seconds

    def _finish_table_fit(self, task, rows, theories, seconds, table):
        import numpy
        import pandas

        readable = _Readable(self.encoder_)
        records = []
        for label, head in task.heads:
            theory = theories[label]
            pos = [f"{head}({r})" for r, v in zip(rows, task.labels) if v == label]
            neg = [f"{head}({r})" for r, v in zip(rows, task.labels) if v != label]
            covered = self._prove_each(theory, pos, neg) if theory else []
            for rule, (p, n, _) in zip(theory, covered):
                total = len(p) + len(n)
                records.append((label, readable(rule), rule, len(p), len(n),
                                len(p) / total if total else float("nan")))
        self.rules_ = pandas.DataFrame(records, columns=[
            "class", "rule", "clause", "positives", "negatives", "precision"])
        self.theories_ = theories
        self.theory_ = [rule for label, _ in task.heads for rule in theories[label]]
        self.classes_ = numpy.asarray(task.classes)
        self.n_features_in_ = table.shape[1]
        self.feature_names_in_ = numpy.asarray([str(c) for c in table.columns], dtype=object)
        self.time_learn_ = seconds
        self._coverage = None
        self._training = None
        if len(task.heads) == 1:
            _, head = task.heads[0]
            positive = task.heads[0][0]
            self._training = ([f"{head}({r})" for r, v in zip(rows, task.labels) if v == positive],
                              [f"{head}({r})" for r, v in zip(rows, task.labels) if v != positive])
        predicted = self._predict_encoded(self._training_facts, rows)
        correct = sum(p == t for p, t in zip(predicted, task.labels))
        self.training_scores_ = {"accuracy": correct / len(rows)}

    def _prove_each(self, theory, pos, neg, background=None):
        """For every rule alone: (covered positions of pos, of neg, length)."""
        from ._proved import prove_covered

        return prove_covered(theory, background or self._background.path, pos, neg,
                             time_limit=self.time_limit, sandbox=bool(self.sandbox))

    def _predict_encoded(self, facts, rows, background=None):
        """The class of every row whose facts are in ``background`` (default
        the training background)."""
        task = self._task
        proved = [{label: [] for label, _ in task.heads} for _ in rows]
        precision = {}
        for record in self.rules_.itertuples(index=False):
            precision[(record[0], record[2])] = record[5]
        for label, head in task.heads:
            theory = self.theories_[label]
            if not theory:
                continue
            goals = [f"{head}({row})" for row in rows]
            for rule, (covered, _, _) in zip(theory, self._prove_each(theory, goals, [],
                                                                        background)):
                score = precision.get((label, rule), 0.0)
                for position in covered:
                    proved[position][label].append(0.0 if score != score else score)
        return [task.choose(row) for row in proved]

    def _predict_table(self, X):
        if not hasattr(self, "encoder_"):
            raise ValueError("this Learner was fitted on example texts; predict takes example "
                             "texts, not a table")
        if self.target_ is not None and self.target_ in X.columns:
            X = X.drop(columns=[self.target_])
        if len(X) == 0:
            return _labels_array([], self.classes_)
        start = len(self._training_facts)
        facts = self.encoder_.transform(X, start=start)
        rows = [f"e_{start + i}" for i in range(len(X))]
        background = _Background("\n".join(self._training_facts + facts) + "\n" + self._extra,
                                 None)
        return _labels_array(self._predict_encoded(facts, rows, background.path), self.classes_)

    def _score_table(self, X, y):
        table, labels = _table_parts(X, y, self.target_ if y is None else None)
        labels = self._task.relabel(labels)
        predicted = self._predict_table(table)
        return sum(p == t for p, t in zip(predicted.tolist(), labels)) / len(labels)

    def _cross_validate_table(self, X, y, folds, shuffle, target, positive):
        """Per-fold test accuracies, a fresh encoding fitted on each fold's
        training rows (folds stratified by class)."""
        table, labels = _table_parts(X, y, target)
        if isinstance(folds, bool) or not isinstance(folds, int) or folds < 2:
            raise ValueError(f"folds must be an int of at least 2 for a table, got {folds!r}")
        order = list(range(len(labels)))
        if shuffle:
            random.Random(self.random_state).shuffle(order)
        fold_of = {}
        for label in _sorted_labels(labels):
            members = [i for i in order if labels[i] == label]
            for place, i in enumerate(members):
                fold_of[i] = place % folds
        scores = []
        for k in range(folds):
            train = [i for i in range(len(labels)) if fold_of[i] != k]
            test = [i for i in range(len(labels)) if fold_of[i] == k]
            if not test:
                continue
            fitted = type(self)(**self.get_params())
            fitted._fit_table(table.iloc[train], [labels[i] for i in train], None, positive)
            scores.append(fitted._score_table(table.iloc[test], [labels[i] for i in test]))
        self.cv_scores_ = scores
        return scores

    # --------------------------------------------------------- prediction

    def _fitted(self):
        if not hasattr(self, "theory_"):
            raise _not_fitted()

    def _proves(self, theory, example):
        return self._proved_each(theory, [example])[0]

    def _proved_each(self, theory, examples):
        """Whether the theory proves each example, in one engine call."""
        if not theory:
            return [False] * len(examples)
        time_limit = self.time_limit if self.time_limit is not None else None
        outcome = _core._evaluate_theory(theory, self._background.path, examples, [], True, False,
                                         time_limit=time_limit, sandbox=bool(self.sandbox),
                                         each=True)
        return outcome["proved"]

    def _checked_example(self, x):
        """The text of example ``x`` once the engine reads it as exactly one
        fact of the theory's target; ValueError otherwise."""
        text = example_texts([x], "x")[0]
        try:
            shape = _core._example_shape(text)
        except ValueError as e:
            raise ValueError(f"example {text!r} is not one fact: {e}") from None
        targets = {_core._example_shape(rule.partition(":-")[0]) for rule in self.theory_}
        if targets and shape not in targets:
            named = ", ".join(sorted(f"{name}/{arity}" for name, arity in targets))
            raise ValueError(f"example {text!r} is {shape[0]}/{shape[1]}, not a fact of the "
                             f"theory's target ({named})")
        return text

    def _proves_through(self, rule, example):
        """Whether ``example`` is proved with ``rule`` as the last step and the
        whole theory below it (so a recursive step rule counts): a copy of
        the rule under a fresh head predicate is added to the theory and its
        head is run as the goal."""
        name = rule.split("(", 1)[0].strip()
        example_name = example.split("(", 1)[0].strip()
        if name != example_name or "(" not in example:
            return False
        probe = "vantor_probe_" + name
        probe_rule = probe + rule.strip()[len(name):]
        goal = probe + example.strip()[len(example_name):]
        return self._proves(self.theory_ + [probe_rule], goal)

    def predict(self, X):
        """A numpy array of 0/1: 1 where the theory proves the example in the
        engine (all examples in one engine call). For a learner fitted on a
        table, ``X`` is a table of the same columns and the array holds one
        class per row."""
        self._fitted()
        if is_table(X):
            return self._predict_table(X)
        if hasattr(self, "encoder_"):
            raise ValueError("this Learner was fitted on a table; predict takes a DataFrame "
                             "of the same columns")
        texts = example_texts(X)
        return _array([int(p) for p in self._proved_each(self.theory_, texts)])

    def score(self, X, y=None):
        """Accuracy of ``predict(X)`` against ``y`` (for a table fitted with
        ``target=``, ``y`` may be left out: the target column of ``X``)."""
        if is_table(X):
            self._fitted()
            return self._score_table(X, y)
        labels = _labels(y, len(example_texts(X)))
        predicted = self.predict(X)
        if not labels:
            raise ValueError("X holds no example to score")
        return sum(int(p) == t for p, t in zip(predicted, labels)) / len(labels)

    def proving_rule(self, x):
        """The first rule of the theory that proves example ``x`` (as the last
        step of a proof with the whole theory), or None."""
        self._fitted()
        text = self._checked_example(x)
        for rule in self.theory_:
            if self._proves_through(rule, text):
                return rule
        return None

    def explain(self, x):
        """The rules that prove example ``x`` (each as the last step of a proof
        in the engine with the whole theory below it), as a list of ``{"rule": ..., "bindings": {variable: term}}``.

        The bindings are one proof's: the head's from ``x``, the body's found
        by matching the body against the background facts in rule order, a
        literal of a predicate that no fact defines (the target itself, in a
        recursive rule) being proved in the engine once its arguments are
        bound. ``bindings`` lacks a variable only when no fact binds it (a
        background with rules); ``complete`` says whether all are bound."""
        self._fitted()
        text = self._checked_example(x)
        facts = self._background.facts()
        found = []
        for rule in self.theory_:
            if not self._proves_through(rule, text):
                continue
            bindings = self._one_proof(rule, text, facts)
            variables = _rule_variables(rule)
            found.append({"rule": rule, "bindings": bindings or {},
                          "complete": bindings is not None and variables <= set(bindings)})
        return found

    def _one_proof(self, rule, example, facts):
        head, _, body = rule.partition(":-")
        name, head_args = _literal(head)
        example_name, example_args = _literal(example.rstrip("."))
        bindings = _unify(head_args, example_args, {})
        if bindings is None or name != example_name:
            return None
        literals = [_literal(text) for text in _split_arguments(body)] if body else []
        budget = [100000]
        return self._search(literals, bindings, facts, budget)

    def _search(self, literals, bindings, facts, budget):
        """Depth-first search for bindings satisfying every literal."""
        if not literals:
            return bindings
        budget[0] -= 1
        if budget[0] < 0:
            return None
        for index, (name, args) in enumerate(literals):
            rest = literals[:index] + literals[index + 1:]
            if name in facts:
                for fact in facts[name]:
                    extended = _unify(args, fact, bindings)
                    if extended is not None:
                        answer = self._search(rest, extended, facts, budget)
                        if answer is not None:
                            return answer
                return None
            if all(not _is_variable(bindings.get(a, a)) for a in args):
                goal = f"{name}({','.join(bindings.get(a, a) for a in args)})"
                if not self._proves(self.theory_, goal):
                    return None
                return self._search(rest, bindings, facts, budget)
        return bindings  # only unbound literals of derived predicates are left

    # ------------------------------------------------------------ storage

    def save(self, path, dataset=None):
        """Write the theory to ``path`` (see ``save_theory``) with the
        learning options and training scores in its header."""
        self._fitted()
        options = {name: getattr(self, name) for name in _LEARNING_NAMES + ("depth",)}
        source = self._background.name
        save_theory(self.theory_, path, options=options, dataset=dataset,
                    scores=self.training_scores_, background=source)

    @classmethod
    def load(cls, path, background=None):
        """A learner predicting with the theory of file ``path``; its options
        come from the header, its background from ``background`` or else the
        file named in the header (a relative name missing from the working
        directory is looked for beside the theory file). ``rules_`` is not
        set (no training examples)."""
        header = read_theory_header(path)
        background = background if background is not None else header.get("background")
        if background is None:
            raise ValueError(f"{os.fsdecode(path)!r} names no background file; pass background=")
        beside = os.path.join(os.path.dirname(os.fsdecode(path)), os.fsdecode(background))
        if (isinstance(background, str) and not os.path.isabs(background)
                and not os.path.exists(background) and os.path.exists(beside)):
            background = beside  # a relative name from the header, next to the theory
        options = {k: v for k, v in (header.get("options") or {}).items() if k in _PARAMS}
        learner = cls(background, **options)
        learner._background = _Background.from_parameter(background)
        learner.theory_ = load_theory(path)
        learner.training_scores_ = header.get("training")
        learner.classes_ = _array([0, 1])
        learner.n_features_in_ = 1
        learner._training = None
        learner._coverage = None
        return learner

    # ------------------------------------------------------------ picture

    def rule_coverage(self):
        """Which rule proves which training example: (rules, matrix) with one
        row per rule and one 0/1 column per example, positives first; a rule
        proves an example when it is the last step of a proof with the whole
        theory. One engine call per rule and example; computed once per fit."""
        self._fitted()
        if self._training is None:
            raise ValueError("a loaded theory has no training examples; fit the learner")
        if self._coverage is None:
            examples = self._training[0] + self._training[1]
            self._coverage = [[int(self._proves_through(rule, x)) for x in examples]
                              for rule in self.theory_]
        return self.theory_, self._coverage

    def plot(self, ax=None, path=None):
        """Draw which rule covers which training example (positives and
        negatives apart) and, after ``cross_validate``, the per-fold test
        accuracies; saves the figure to ``path`` when given. Needs matplotlib.
        Returns the figure."""
        from ._plot import draw

        rules, matrix = self.rule_coverage()
        return draw(rules, matrix, len(self._training[0]), len(self._training[1]),
                    getattr(self, "cv_scores_", None), path=path)


Learner.__doc__ = (
    """Learns a theory of Horn clauses from labelled example texts.

    >>> learner = Learner("BK.pl", max_literals=2).fit(examples, labels)
    >>> learner.predict(["grandparent(ann,carl)"]), learner.explain("grandparent(ann,carl)")

    Nothing is done in the constructor; parameter values are checked by
    ``fit`` (TypeError or ValueError naming the parameter).
    ``decision_function`` and ``predict_proba`` are not offered: a theory
    either proves an example or not, and no score between carries a
    calibrated meaning.

    Tables: ``fit(df, y)`` or ``fit(df, target="column", positive=value)``
    with a pandas DataFrame encodes it with a ``TableEncoder`` fitted on
    those rows alone (``encoder_strategy``, ``n_ranges``), learns with the
    encoding's range labels and category values as constants, and sets
    ``encoder_``, ``theories_`` (class -> rules) and ``rules_`` with each
    rule as conditions on the columns (``age in [65, 75] and smoker =
    yes``). ``predict(df)`` gives one label per row. Two classes: one theory
    for ``positive`` (default the larger label). More classes: one theory
    per class against the rest; a row proved by several gets the class of
    the proving rule with the best training precision (then the more
    frequent class), a row proved by none the most frequent class; with
    ``positive`` given the labels become 1 (that class) and 0. The
    ``background`` parameter adds facts (its default file name is not read).

    """ + _parameters_doc().replace("\n", "\n    ")
)


def _rule_variables(rule):
    variables = set()
    for text in _split_arguments(rule.replace(":-", ",", 1)):
        if "(" in text:
            variables.update(a for a in _literal(text)[1] if _is_variable(a))
    return variables


def _unify(pattern, values, bindings):
    """``bindings`` extended so that ``pattern`` (terms and variables) equals
    ``values`` (ground terms), or None."""
    if len(pattern) != len(values):
        return None
    result = dict(bindings)
    for term, value in zip(pattern, values):
        if _is_variable(term):
            if result.setdefault(term, value) != value:
                return None
        elif term != value:
            return None
    return result


def _differs(value, default):
    try:
        return bool(value != default)
    except Exception:
        return True


def _array(values):
    import numpy

    return numpy.asarray(values, dtype=int)


def _labels_array(values, classes):
    import numpy

    return numpy.asarray(values, dtype=classes.dtype)


def _input_tags():
    from sklearn.utils import InputTags

    return InputTags(one_d_array=True, two_d_array=False, string=True, categorical=True,
                     allow_nan=True)


def _not_fitted():
    try:
        from sklearn.exceptions import NotFittedError
    except ImportError:
        class NotFittedError(ValueError, AttributeError):
            pass
    return NotFittedError("this Learner is not fitted yet; call fit first")
