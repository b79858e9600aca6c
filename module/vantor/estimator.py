"""``Learner``: the learner as an estimator with scikit-learn's conventions
(parameters in the constructor, ``fit``/``predict``/``score``,
``get_params``/``set_params``, fitted attributes ending in "_"), without
needing scikit-learn to run.

Examples are fact texts such as ``"grandparent(ann,bob)"`` and labels are
1 (positive) or 0 (negative). Every prediction is a proof in the SWI-Prolog
engine: the theory and the background are consulted and the examples are
run as goals, all of them in one engine call (the background stays loaded
while its file is unchanged).

The table side lives in ``_learner_tables``, single proofs and explanations
in ``_learner_explain``, the parameters in ``_learner_params``.
"""
import os
import textwrap
import warnings

from ._learner_auto import CHOOSING_DOC, _Choosing
from ._learner_explain import _Explaining
from ._learner_inputs import (_Background, _array, _input_tags, _labels, _library_run,
                              _not_fitted, example_texts)
from ._learner_params import (_DEFAULTS, _MEASURES, _PARAMS, _SAVED, _differs,
                              _header_options, _header_scores, _parameters_doc, _signature)
from ._learner_tables import _TableFitting, is_table
from ._lint import warn_file
from ._options import learn_options
from .bottom import bottom_clause_generation
from .data import read_example
from .evaluate import evaluate_theory_prolog
from .folds import vantor_cross_validation, vantor_folds
from .theory_files import (file_sha256, header_background, load_theory, read_theory_header,
                           save_theory)

__all__ = ["Learner"]


class Learner(_Choosing, _TableFitting, _Explaining):
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
        """The constructor parameters by name.

        Parameters
        ----------
        deep : bool, default True
            Accepted for scikit-learn; a learner holds no estimator to reach.

        Returns
        -------
        dict
            Parameter name -> value.
        """
        return {name: getattr(self, name) for name in _PARAMS}

    def set_params(self, **params):
        """Set constructor parameters by name.

        Returns
        -------
        Learner
            The learner itself.

        Raises
        ------
        ValueError
            For a name that is no parameter.
        """
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
        learning = self._plain_learning()
        learn_options(**learning)  # TypeError / ValueError naming the option
        if isinstance(self.depth, bool) or not isinstance(self.depth, int) or self.depth < 0:
            raise ValueError(f"depth must be an int of at least 0, got {self.depth!r}")
        if self.verbose not in (0, 1, 2) or isinstance(self.verbose, float):
            raise ValueError(f"verbose must be 0, 1 or 2, got {self.verbose!r}")
        if self.random_state is not None and not isinstance(self.random_state, int):
            raise ValueError(f"random_state must be None or an int, got {self.random_state!r}")
        return learning

    def _bottom_clauses(self, positives, negatives, follow, numbers):
        constants = list(self.constant_set or [])
        pos, neg = bottom_clause_generation(
            file=self._background.path, container="memory", positive_example=positives,
            negative_example=negatives, constant_set=constants, depth=self.depth,
            tqdm_disable=self.verbose < 1, size_limit=self.size_limit,
            size_warning=self.size_warning, follow=follow, numbers=numbers,
            reach=self._reach(), recall=self.recall, check_input=False, n_jobs=self.n_jobs)
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
        learning["verbose"] = self.verbose < 1
        return learning, positives, negatives

    def fit(self, X, y=None, target=None, positive=None):
        """Learn a theory from labelled examples.

        Sets ``theory_`` (the rules), ``rules_`` (a pandas DataFrame: rule,
        covered positives and negatives and precision of each rule proved
        alone, without the other rules, on the training examples; a
        recursive step rule alone proves nothing), ``training_scores_`` (the
        five measures of the theory), ``time_learn_``, ``classes_`` and
        ``n_features_in_`` (1: one column of example texts).

        Parameters
        ----------
        X : list of str, or pandas.DataFrame
            Example texts (facts such as ``"grandparent(ann,bob)"``; a list,
            tuple, array, Series or one-column DataFrame), or a table with
            one row per example: see "Tables" in the class documentation.
        y : list of int, or array-like, optional
            The labels: 1 positive, 0 negative (at least one positive); for
            a table, the class of each row (or give ``target``).
        target : str, optional
            For a table: the column holding the class.
        positive : optional
            For a table: the class to learn.

        Returns
        -------
        Learner
            The fitted learner.

        Raises
        ------
        TypeError, ValueError
            For a parameter or an input of the wrong kind or value.
        """
        if is_table(X, target):
            return self._fit_table(X, y, target, positive)
        if target is not None or positive is not None:
            raise TypeError("target= and positive= apply to a table (a pandas DataFrame); "
                            "example texts are labelled 1/0 by y")
        if y is None:
            raise ValueError("fit needs y, the 0/1 labels of the example texts")
        learning, positives, negatives = self._prepare(X, y)
        with _library_run(self.verbose, self.random_state):
            learning, pos, neg = self._choose(positives, negatives, learning)
            result = self._learn(pos, neg, learning)
            self._forget_table()
            self.theory_ = list(result.hypothesis)
            self.rules_ = self._rule_table(positives, negatives)
        self.training_scores_ = {m: getattr(result, m) for m in _MEASURES}
        self.time_learn_ = result.time_learn
        self._training = (positives, negatives)
        self._coverage = None
        self.classes_ = _array([0, 1])
        self.n_features_in_ = 1
        return self

    def fit_files(self, positive_file, negative_file=None):
        """``fit`` with the examples of example files (one fact per line).

        Parameters
        ----------
        positive_file : str or os.PathLike
            The positive examples.
        negative_file : str or os.PathLike, optional
            The negative examples.

        Returns
        -------
        Learner
            The fitted learner.
        """
        positives = read_example(positive_file)
        negatives = read_example(negative_file) if negative_file else []
        for path in (positive_file, negative_file):
            if path:
                warn_file(path, stacklevel=3)
        return self.fit(positives + negatives, [1] * len(positives) + [0] * len(negatives))

    def cross_validate(self, X, y=None, folds=5, shuffle=True, target=None, positive=None):
        """Per-fold test accuracies of a k-fold cross-validation.

        The candidates are built once from all positives. For a table, each
        fold is fitted as ``fit`` does on its training rows alone (its own
        ranges and candidates); folds are stratified by class and shuffled
        with ``random_state``.

        Parameters
        ----------
        X, y, target, positive
            The examples and labels, as for ``fit``.
        folds : int, default 5
            At least 1 and at most the number of negatives and of positives.
        shuffle : bool, default True
            Shuffle the examples before cutting the folds.

        Returns
        -------
        list of float
            One test accuracy per fold, also kept in ``cv_scores_``.
        """
        if is_table(X, target):
            return self._cross_validate_table(X, y, folds, shuffle, target, positive)
        if self.auto:
            return self._cross_validate_nested(example_texts(X), _labels(y, len(example_texts(X))),
                                               folds, shuffle)
        learning, positives, negatives = self._prepare(X, y)
        with _library_run(self.verbose, self.random_state):
            pos, neg = self._bottom_clauses(positives, negatives, self._resolved("follow"),
                                            learning["numbers"])
            kfolds = vantor_folds(folds=folds, shuffle=bool(shuffle),
                                  positive_file_dictionary=pos, negative_file_dictionary=neg)
            result = vantor_cross_validation(kfolds, file=self._background.path, k_fold=folds,
                                             **learning)
        self.cv_scores_ = list(result.accuracy)
        return self.cv_scores_

    def _rule_table(self, positives, negatives):
        import pandas

        from ._proved import _calls_own_predicate, prove_covered

        bounds = {"time_limit": self.time_limit, "sandbox": bool(self.sandbox)}
        # Rules that do not call the target are proved together (from the
        # indexed facts where they answer exactly); a recursive rule alone
        # is evaluated as a theory of its own.
        plain = [rule for rule in self.theory_ if ":-" in rule and not _calls_own_predicate(rule)]
        proofs = dict(zip(plain, prove_covered(plain, self._background.path, positives,
                                               negatives, **bounds))) if plain else {}
        rows = []
        for rule in self.theory_:
            if rule in proofs:
                covered_pos, covered_neg = len(proofs[rule][0]), len(proofs[rule][1])
            else:
                scores = evaluate_theory_prolog([rule], self._background.path, positives,
                                                negatives, True, **bounds)
                covered_pos = round((scores.sensitivity or 0) * len(positives))
                covered_neg = (len(negatives) - round(scores.specificity * len(negatives))
                               if negatives else 0)
            covered = covered_pos + covered_neg
            rows.append((rule, covered_pos, covered_neg,
                         covered_pos / covered if covered else float("nan")))
        return pandas.DataFrame(rows, columns=["rule", "positives", "negatives", "precision"])

    # --------------------------------------------------------- prediction

    def _fitted(self):
        if not hasattr(self, "theory_"):
            raise _not_fitted()

    def predict(self, X):
        """Label examples by proving them with the theory.

        Parameters
        ----------
        X : list of str, or pandas.DataFrame
            Example texts; for a learner fitted on a table, a table of the
            same columns.

        Returns
        -------
        numpy.ndarray
            1 where the theory proves the example in the engine (all
            examples in one engine call), else 0; for a table, one class per
            row.

        Raises
        ------
        sklearn.exceptions.NotFittedError or AttributeError
            Before ``fit``.
        """
        self._fitted()
        if is_table(X):
            return self._predict_table(X)
        if hasattr(self, "encoder_"):
            raise ValueError("this Learner was fitted on a table; predict takes a DataFrame "
                             "of the same columns")
        texts = example_texts(X)
        return _array([int(p) for p in self._proved_each(self.theory_, texts)])

    def score(self, X, y=None):
        """Accuracy of ``predict(X)`` against ``y``.

        Parameters
        ----------
        X : list of str, or pandas.DataFrame
            The examples, as for ``predict``.
        y : array-like, optional
            The true labels; for a table fitted with ``target=``, may be left
            out (the target column of ``X``).

        Returns
        -------
        float
            The share of examples labelled right.
        """
        if is_table(X):
            self._fitted()
            return self._score_table(X, y)
        labels = _labels(y, len(example_texts(X)))
        predicted = self.predict(X)
        if not labels:
            raise ValueError("X holds no example to score")
        return sum(int(p) == t for p, t in zip(predicted, labels)) / len(labels)

    # ------------------------------------------------------------ storage

    def save(self, path, dataset=None):
        """Write the theory to a file with the learning options and training
        scores in its header (see ``save_theory``).

        The header also names the background file the theory was learned
        with (when it was given as a file that still holds what was read),
        by path and SHA-256.

        Parameters
        ----------
        path : str or os.PathLike
            The theory file.
        dataset : str, optional
            A data set name for the header.

        Warns
        -----
        RuntimeWarning
            When the background file changed since the fit or is gone; the
            saved theory then names no background.
        """
        self._fitted()
        options = {name: self._resolved(name) for name in _SAVED}
        used = getattr(self, "chosen_", {}).get("options", {})
        options.update({name: value for name, value in used.items() if name in _SAVED})
        save_theory(self.theory_, path, options=options, dataset=dataset,
                    scores=self.training_scores_, background=self._saved_background(),
                    chosen=self._choice_line() or None)

    def _saved_background(self):
        source = self._background.source
        if source is None:
            return None
        path, digest = source
        try:
            if file_sha256(path) == digest:
                return path
        except OSError:
            pass
        warnings.warn(f"{path!r} changed since the fit or is gone: the saved theory names no "
                      "background, so loading it needs background=", RuntimeWarning,
                      stacklevel=3)
        return None

    @classmethod
    def load(cls, path, background=None, **params):
        """A learner predicting with the theory of a file.

        ``rules_`` is not set (no training examples).

        Parameters
        ----------
        path : str or os.PathLike
            A theory file, as ``save`` writes it.
        background : optional
            The background (as for the constructor). Default: the file the
            header names; its path is taken relative to the theory file, and
            it is used only when its content has the SHA-256 the header
            records.
        **params
            Any constructor parameter, such as ``sandbox=True`` or
            ``time_limit=10``; these win over the header's options. Those
            are checked like constructor arguments, and the header can
            shorten the time bound but never lengthen or remove it.

        Returns
        -------
        Learner
            A fitted learner.

        Raises
        ------
        ValueError
            When no background is given and the header names none, or one
            whose content changed (and for older files without a SHA-256);
            for header options out of range.
        TypeError
            For an unknown parameter, or a header option of the wrong kind.
        """
        unknown = set(params) - set(_PARAMS[1:])
        if unknown:
            raise TypeError(f"Learner.load got an unknown parameter {sorted(unknown)[0]!r}")
        header = read_theory_header(path)
        options = _header_options(path, header.get("options"))
        try:
            cls(**options)._check_parameters()
        except (TypeError, ValueError) as error:
            raise type(error)(f"{os.fsdecode(path)!r}, header options: {error}") from None
        if background is None:
            background = header_background(path, header)
        learner = cls(background, **dict(options, **params))
        learner._check_parameters()
        learner._background = _Background.from_parameter(background)
        learner.theory_ = load_theory(path)
        learner.training_scores_ = _header_scores(path, header.get("training"))
        learner.classes_ = _array([0, 1])
        learner.n_features_in_ = 1
        learner._training = None
        learner._coverage = None
        return learner

Learner.__doc__ = (
    """Learns a theory of Horn clauses from labelled example texts.

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
    Rules that read only their row's own columns are evaluated as numpy
    masks over the encoded columns (rows in chunks), not in the engine.

    """ + _parameters_doc().lstrip() + """

    Attributes
    ----------
    theory_ : list of str
        The learned rules in Prolog form (body literals joined by ",").
    rules_ : pandas.DataFrame
        One row per rule: the rule, the training positives and negatives it
        proves alone and its precision.
    training_scores_ : dict
        Accuracy, precision, sensitivity, specificity and F1 score of the
        theory on the training examples.
    time_learn_ : float
        Seconds the learning took.
    classes_ : numpy.ndarray
        The labels: 0 and 1, or a table's classes.
    cv_scores_ : list of float
        The per-fold test accuracies of the last ``cross_validate``.
    chosen_ : dict
        The options a fit used (``options``), which of them it ``chosen``
        and which were ``given``, and the inner accuracy of the choice.
    encoder_, theories_ : TableEncoder, dict
        After a fit on a table: the fitted encoder, and class -> rules.

    See Also
    --------
    vantor_learn : the learner as a function of bottom-clause dictionaries.
    TableEncoder : the encoding of tables.

""" + textwrap.indent(CHOOSING_DOC, "    ") + """
    Examples
    --------
    In a folder holding the family example (``examples/family``):

    >>> pos = read_example("pos_example.f")
    >>> neg = read_example("neg_example.n")
    >>> learner = Learner("BK.pl", random_state=0)
    >>> learner.fit(pos + neg, [1] * len(pos) + [0] * len(neg)).theory_
    ['grandparent(A,B):-parent(A,C),parent(C,B)']
    >>> learner.predict(["grandparent(arthur,diana)", "grandparent(diana,arthur)"])
    array([1, 0])
    >>> learner.explain("grandparent(arthur,diana)")[0]["bindings"]
    {'A': 'arthur', 'B': 'diana', 'C': 'charles'}
    >>> learner.score(pos + neg, [1] * len(pos) + [0] * len(neg))
    1.0
    """
)
