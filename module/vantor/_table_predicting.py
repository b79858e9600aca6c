"""Predictions of a Learner fitted on a table: the rules as column masks
where every rule reads only its row's own columns, else proofs in the
engine beside the training facts; the class of each row from the rules
that prove it."""
from ._learner_inputs import _Background, _labels_array

# Rows predicted at once: a chunk's encoded columns (or, for the engine, its
# facts) are all that a prediction holds besides the fitted learner.
_PREDICT_CHUNK = 200_000


class _TablePredicting:
    """The prediction side of ``_TableFitting`` (``predict`` and the
    per-rule masks that ``rules_`` and the training score read)."""

    def _compiled_rules(self):
        """(class, rule) -> the rule as a mask rule, for every rule of the
        theories; None when a rule, or facts the ``background`` parameter
        added, need the engine."""
        from ._table_masks import compile_rule, predicate_columns

        if self._extra.strip():
            return None
        predicates = predicate_columns(self.encoder_)
        compiled = {}
        for label, head in self._task.heads:
            for rule in self.theories_[label]:
                compiled[(label, rule)] = compile_rule(rule, head, predicates)
                if compiled[(label, rule)] is None:
                    return None
        return compiled

    def _rule_masks(self, X, encoded=None):
        """(class, rule) -> the rows of ``X`` the rule proves, from the
        columns the rules read (or ``encoded``: X's vocabulary and id
        arrays); None when the engine has to prove them."""
        from ._table_masks import Vocabulary, column_codes

        compiled = self._compiled_rules()
        if compiled is None:
            return None
        if encoded is not None:
            vocabulary, codes = encoded
        else:
            read = {literal[0] for rule in compiled.values() for literal in rule.literals}
            vocabulary = Vocabulary()
            codes = column_codes(self.encoder_, X, vocabulary, read)
        return {key: rule.mask(codes, vocabulary, len(X)) for key, rule in compiled.items()}

    def _classes_from_masks(self, masks, rows):
        """Per row the position in ``classes_`` of the class chosen as
        ``_TableTask.choose`` chooses it, from the rules' masks."""
        import numpy

        task = self._task
        position = {c: i for i, c in enumerate(task.classes)}
        chosen = numpy.full(rows, position[task.default], dtype=numpy.int64)
        precision = {(r[0], r[2]): r[5] for r in self.rules_.itertuples(index=False)}
        if len(task.heads) == 1:
            label, _ = task.heads[0]
            proved = numpy.zeros(rows, dtype=bool)
            for rule in self.theories_[label]:
                proved |= masks[(label, rule)]
            chosen[proved] = position[label]
            return chosen
        # Classes in order of preference on equal precision (the more
        # frequent, then the first); a later class wins only when better.
        order = sorted(task.classes, key=lambda c: (-task.counts[c], position[c]))
        best = numpy.full(rows, -1.0)
        for label in order:
            score = numpy.full(rows, -1.0)
            for rule in self.theories_.get(label, []):
                value = precision.get((label, rule), 0.0)
                value = 0.0 if value != value else value
                score = numpy.where(masks[(label, rule)], numpy.maximum(score, value), score)
            better = score > best
            chosen[better] = position[label]
            best = numpy.where(better, score, best)
        return chosen

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
        from ._table_cells import _check_unique_columns

        _check_unique_columns(X)
        if self.target_ is not None and self.target_ in X.columns:
            X = X.drop(columns=[self.target_])
        if len(X) == 0:
            return _labels_array([], self.classes_)
        # Rows go in chunks, so that memory stays bounded for any length.
        import numpy

        parts = [_labels_array(self._predict_rows(X.iloc[start:start + _PREDICT_CHUNK]),
                               self.classes_)
                 for start in range(0, len(X), _PREDICT_CHUNK)]
        return numpy.concatenate(parts)

    def _predict_rows(self, X):
        """The classes of the rows of ``X``: by the rules' masks over the
        encoded columns when every rule reads only its row's columns, else
        proved in the engine beside the training facts."""
        masks = self._rule_masks(X)
        if masks is not None:
            return self.classes_[self._classes_from_masks(masks, len(X))]
        start = self._training_rows
        facts = self.encoder_.transform(X, start=start)
        rows = [f"e_{start + i}" for i in range(len(X))]
        background = _Background(self._background.with_rows(facts), None)
        return self._predict_encoded(facts, rows, background.path)
