"""A Learner on a data table: the classes a table's labels ask for, the
encoding of its rows, one theory per class, and rules shown as conditions
on the columns."""
import random

from ._learner_inputs import _Background, _is_variable, _library_run, _literal
from ._learner_params import _DEFAULTS
from ._lint import _split_arguments
from ._options import learn_options
from ._table_predicting import _TablePredicting
from .bottom import bottom_clause_generation
from .learn import vantor_learn


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

    def positions(self):
        """Per row the position of its label in ``classes`` (computed once)."""
        import numpy

        if getattr(self, "_positions", None) is None:
            index = {c: i for i, c in enumerate(self.classes)}
            self._positions = numpy.asarray([index[v] for v in self.labels], dtype=numpy.int64)
        return self._positions

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
    from ._table_cells import _check_unique_columns, _is_missing

    _check_unique_columns(X)
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
    kind = getattr(getattr(y, "dtype", None), "kind", "")
    if kind in ("i", "u", "b"):  # labels of these types are never missing
        keep = range(len(labels))
    else:
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
        from ._binning import _NumericColumn

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


class _RowNames:
    """The entity names e_0, e_1, ... of a table's rows, made as read."""

    def __init__(self, count):
        self._count = count

    def __len__(self):
        return self._count

    def __getitem__(self, index):
        if isinstance(index, slice):
            return [f"e_{i}" for i in range(self._count)[index]]
        if not -self._count <= index < self._count:
            raise IndexError(index)
        return f"e_{index % self._count}"

    def __iter__(self):
        return (f"e_{i}" for i in range(self._count))


class _TrainingExamples:
    """(positive, negative) example texts of a two-class table fit, written
    only when ``rule_coverage`` or ``plot`` asks for them."""

    def __init__(self, task):
        self._task, self._pair = task, None

    def __getitem__(self, index):
        if self._pair is None:
            positive, head = self._task.heads[0]
            labels = self._task.labels
            self._pair = ([f"{head}(e_{r})" for r, v in enumerate(labels) if v == positive],
                          [f"{head}(e_{r})" for r, v in enumerate(labels) if v != positive])
        return self._pair[index]


class _TableBackground(_Background):
    """The training rows' facts, then the ``background`` parameter's, as
    text only once something reads it: learning from masks never does."""

    def __init__(self, encoder, table, extra, text=None):
        super().__init__(text, None)
        self._source = (encoder, table) if text is None else None
        self.extra = extra

    @property
    def text(self):
        if self._text is None:
            encoder, table = self._source
            self._text = "\n".join(encoder.transform(table)) + "\n" + self.extra
            self._source = None
        return self._text

    @text.setter
    def text(self, value):
        self._text = value

    def with_rows(self, facts):
        """The text with the facts of more rows after the training rows'
        (before the ``background`` parameter's facts)."""
        text = self.text
        rows = text[:len(text) - len(self.extra)]
        return rows + "".join(fact + "\n" for fact in facts) + self.extra

    def __reduce__(self):
        return _TableBackground, (None, None, self.extra, self.text)


class _TableFitting(_TablePredicting):
    """The table side of ``Learner`` (fit, predict, score and cross-validate
    on a DataFrame)."""

    def _forget_table(self):
        for name in ("encoder_", "theories_", "target_", "feature_names_in_", "_training_rows"):
            self.__dict__.pop(name, None)

    def _check_table_parameters(self):
        strategy, n_ranges = self._resolved("encoder_strategy"), self._resolved("n_ranges")
        if strategy not in _TABLE_STRATEGIES:
            raise ValueError(f"encoder_strategy must be one of {', '.join(_TABLE_STRATEGIES)}, "
                             f"got {strategy!r}")
        if isinstance(n_ranges, bool) or not isinstance(n_ranges, int) or n_ranges < 1:
            raise ValueError(f"n_ranges must be an int of at least 1, got {n_ranges!r}")

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
        strategy, n_ranges = self._table_encoding(table, task, labels)
        encoder = TableEncoder(n_ranges=n_ranges, strategy=strategy)
        encoder.fit(table, labels if strategy == "entropy" else None)
        self._extra = self._extra_background()
        self._background = _TableBackground(encoder, table, self._extra)
        self._training_rows = len(table)
        learning["verbose"] = self.verbose < 1
        learning["constant_set"] = list(dict.fromkeys(
            list(learning["constant_set"] or []) + list(encoder.constants_)))
        self.encoder_, self.target_, self._task = encoder, target, task
        rows = _RowNames(len(table))
        encoded = self._encoded_training(table)
        with _library_run(self.verbose, self.random_state):
            bottoms = self._row_bottom_clauses(table, rows, learning["constant_set"], encoded)
            theories, seconds = self._learn_classes(task, rows, bottoms, learning, table,
                                                    encoded)
        self._finish_table_fit(task, rows, theories, seconds, table, encoded)
        return self

    def _encoded_training(self, table):
        """The training rows' columns encoded once for bottom clauses and
        masks; None when facts of the ``background`` parameter join them or
        a column must be read cell by cell."""
        from ._table_learning import encoded_columns

        return None if self._extra.strip() else encoded_columns(self.encoder_, table)

    def _row_bottom_clauses(self, table, rows, constants, encoded):
        """The bottom clause of every row, built once: it does not depend on
        which class the row is an example of. Built from the encoded columns
        when only the rows' own facts make the background."""
        from ._table_learning import row_bottom_clauses

        if not self._extra.strip():
            options = (self.depth, self._resolved("follow"), self._resolved("numbers"),
                       self.size_limit, self.size_warning)
            found = row_bottom_clauses(self.encoder_, table, constants, options, encoded)
            if found is not None:
                return found
        texts = [f"target({row})." for row in rows]
        bottoms, _ = bottom_clause_generation(
            file=self._background.path, container="memory", positive_example=texts,
            negative_example=[], constant_set=constants, depth=self.depth,
            tqdm_disable=self.verbose < 1, size_limit=self.size_limit,
            size_warning=self.size_warning, follow=self._resolved("follow"),
            numbers=self._resolved("numbers"), reach=self._reach(), recall=self.recall,
            check_input=False, n_jobs=self.n_jobs)
        return [bottoms[f"target({row})."] for row in rows]

    def _learn_classes(self, task, rows, bottoms, learning, table, encoded):
        import numpy

        codes = None
        theories, seconds = {}, 0.0
        for label, head in task.heads:
            is_positive = task.positions() == task.classes.index(label)
            pos = {f"{head}(e_{i}).": list(bottoms[i])
                   for i in numpy.flatnonzero(is_positive).tolist()}
            if not pos:
                theories[label] = []
                continue

            def negatives():
                return {f"{head}({rows[i]}).": list(bottoms[i])
                        for i in numpy.flatnonzero(~is_positive).tolist()}

            class_learning = self._class_learning(pos, negatives, learning)
            options = learn_options(**class_learning)
            if (options.coverage == "prolog" and not options.recursive
                    and options.numbers != "compare" and not self._extra.strip()):
                codes = codes or self._training_codes(table, encoded)
                theories[label], spent = self._learn_by_masks(pos, head, is_positive, options,
                                                              codes)
                seconds += spent
                continue
            result = vantor_learn(pos, negatives(), file=self._background.path, **class_learning)
            theories[label] = list(result.hypothesis)
            seconds += result.time_learn or 0.0
        return theories, seconds

    def _learn_by_masks(self, pos, head, is_positive, options, encoded):
        """One class's theory with proved coverage read from masks where the
        candidates allow (the same theory as proving every candidate)."""
        import numpy

        from ._proved import _evaluation, prove_covered
        from ._table_learning import covered_by_masks, learn_proved_by_masks
        from ._table_masks import predicate_columns
        from .evaluate import evaluate_theory_prolog_training

        vocabulary, codes = encoded
        predicates = predicate_columns(self.encoder_)
        def negatives():  # written only for the engine
            return [f"{head}(e_{i})." for i in numpy.flatnonzero(~is_positive).tolist()]

        theory, seconds = learn_proved_by_masks(
            pos, int((~is_positive).sum()), options,
            lambda rules: covered_by_masks(rules, head, predicates, codes, vocabulary,
                                           is_positive),
            lambda rules: prove_covered(rules, self._background.path, list(pos), negatives(),
                                        options.n_jobs, prover=options.prover,
                                        **_evaluation(options)))
        if not options.quiet:  # the training tables a verbose fit shows
            evaluate_theory_prolog_training(theory, self._background.path, list(pos),
                                            negatives(), False, **_evaluation(options))
        return theory, seconds

    def _training_codes(self, table, encoded):
        """(vocabulary, predicate -> id arrays) of the training rows."""
        from ._table_learning import column_ids
        from ._table_masks import Vocabulary, column_codes

        vocabulary = Vocabulary()
        if encoded is not None:
            return vocabulary, column_ids(encoded, vocabulary)
        return vocabulary, column_codes(self.encoder_, table, vocabulary)

    def _finish_table_fit(self, task, rows, theories, seconds, table, encoded):
        import numpy

        self.theories_ = theories
        self.theory_ = [rule for label, _ in task.heads for rule in theories[label]]
        masks = self._rule_masks(table, self._training_codes(table, encoded))
        self.rules_ = self._rule_records(task, rows, masks)
        self.classes_ = numpy.asarray(task.classes)
        self.n_features_in_ = table.shape[1]
        self.feature_names_in_ = numpy.asarray([str(c) for c in table.columns], dtype=object)
        self.time_learn_ = seconds
        self._coverage = None
        self._training = None
        if len(task.heads) == 1:
            self._training = _TrainingExamples(task)
        if masks is not None:
            correct = int((self._classes_from_masks(masks, len(rows)) == task.positions()).sum())
        else:
            predicted = self._predict_encoded(None, rows)
            correct = sum(p == t for p, t in zip(predicted, task.labels))
        self.training_scores_ = {"accuracy": correct / len(rows)}

    def _rule_records(self, task, rows, masks):
        """``rules_``: each rule alone, its covered training rows of its class
        and of the others, by masks where the rules allow, else proved."""
        import pandas

        readable = _Readable(self.encoder_)
        records = []
        for label, head in task.heads:
            theory = self.theories_[label]
            if masks is not None:
                mine = task.positions() == task.classes.index(label)
                counts = [(int((masks[(label, r)] & mine).sum()),
                           int((masks[(label, r)] & ~mine).sum())) for r in theory]
            else:
                pos = [f"{head}({r})" for r, v in zip(rows, task.labels) if v == label]
                neg = [f"{head}({r})" for r, v in zip(rows, task.labels) if v != label]
                covered = self._prove_each(theory, pos, neg) if theory else []
                counts = [(len(p), len(n)) for p, n, _ in covered]
            for rule, (p, n) in zip(theory, counts):
                records.append((label, readable(rule), rule, p, n,
                                p / (p + n) if p + n else float("nan")))
        return pandas.DataFrame(records, columns=[
            "class", "rule", "clause", "positives", "negatives", "precision"])

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
