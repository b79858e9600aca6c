"""The Learner's choosing side: which settings the user gave, the plain
values of the rest, the choice from the training examples (``chosen_``)
and the nested cross-validation that keeps held-out examples out of it."""
import random

from ._auto import PROOF_BUDGET, choose_setting, learn_chosen
from ._learner_params import _CHOSEN, _LEARNING_NAMES, _PLAIN

# The method choosing validates with; asking for another one turns it off.
# (The search proves as the candidates are proved, so a user who asks for it
# still gets the structure and thresholds chosen for it.)
_METHOD = {"coverage": "prolog", "selection": "cover"}
# Table encodings tried, the plain one first (it wins ties).
TABLE_ENCODINGS = (("equal_count", 3), ("entropy", 3), ("equal_count", 5), ("entropy", 5))


def _stratified_folds(labels, folds, seed, shuffle=True):
    """For each fold, the positions it holds out: every class spread evenly
    over the folds, shuffled by ``seed``."""
    order = list(range(len(labels)))
    if shuffle:
        random.Random(seed).shuffle(order)
    held = [[] for _ in range(folds)]
    for label in sorted(set(labels)):
        members = [i for i in order if labels[i] == label]
        for place, i in enumerate(members):
            held[place % folds].append(i)
    return [sorted(h) for h in held]


class _Choosing:
    """Mixed into ``Learner``: the settings of a fit, given or chosen."""

    def _auto_applies(self, learning=None):
        """Choosing reads proofs: it runs with proved coverage and the cover
        selection, so a user who asks for another selection or text coverage
        gets plain values (the search proves, so it is chosen for)."""
        return self.auto and all(getattr(self, n) in (None, v) for n, v in _METHOD.items())

    def _given_names(self):
        return [name for name in _CHOSEN if getattr(self, name) is not None]

    def _resolved(self, name):
        """A parameter's value, its plain default when left to be chosen."""
        value = getattr(self, name)
        return _PLAIN[name] if value is None and name in _PLAIN else value

    def _reach(self):
        """How far bottom clauses reach: as given, else bounded ('hops')
        when choosing and the scan of the documented default otherwise."""
        if self.reach is not None:
            return self.reach
        return "hops" if self._auto_applies() else _PLAIN["reach"]

    def _plain_learning(self):
        """The learning options with every None resolved to its plain value."""
        return {name: self._resolved(name) for name in _LEARNING_NAMES}

    def _choose(self, positives, negatives, learning):
        """(learning options, positive and negative bottom clauses) of this
        fit. With ``auto`` the options left to be chosen are chosen on the
        training examples; ``chosen_`` records the outcome either way."""
        self._choice = None
        given_names = self._given_names()
        follow = self._resolved("follow")
        if not self._auto_applies(learning):
            # Inner validation reads proofs; other methods keep the plain values.
            pos, neg = self._bottom_clauses(positives, negatives, follow, learning["numbers"])
            self._record_choice(dict(learning, follow=follow), [], None, 0.0)
            return learning, pos, neg
        fixed = {n: v for n, v in learning.items() if n not in _CHOSEN or n in given_names}
        if "follow" in given_names:
            fixed["follow"] = follow

        def bottoms_of(follow_, numbers):
            return self._bottom_clauses(positives, negatives, follow_, numbers)

        seed = self.random_state if self.random_state is not None else 0
        choice = choose_setting(self._background.path, fixed, bottoms_of, seed)
        self._choice = choice
        options = dict(choice.options)
        self._record_choice(options, choice.chosen, choice.score, choice.seconds)
        options.pop("follow")
        pos, neg = choice.bottoms
        return options, pos, neg

    def _learn(self, pos, neg, learning):
        """The ``Vantor`` record of this fit: selected from the proofs the
        choice made when they serve, else learned afresh."""
        from .learn import vantor_learn

        choice, self._choice = getattr(self, "_choice", None), None
        result = learn_chosen(choice, self._background.path) if choice else None
        return result or vantor_learn(pos, neg, file=self._background.path, **learning)

    def _record_choice(self, options, chosen, score, seconds):
        options = dict(options, reach=self._reach())
        if self._auto_applies() and self.reach is None:
            chosen = list(chosen) + ["reach"]
        used = {n: options[n] for n in _CHOSEN if n in options}
        self.chosen_ = {"options": used, "chosen": [n for n in chosen if n in used],
                        "given": [n for n in self._given_names() if n in used],
                        "inner_accuracy": score, "seconds": seconds}

    def _choice_line(self):
        """One line saying which settings were chosen and which were given."""
        record = getattr(self, "chosen_", None)
        if not record:
            return ""
        shown = lambda names: " ".join(f"{n}={record['options'][n]!r}" for n in names)  # noqa: E731
        parts = []
        if record["chosen"]:
            inner = record["inner_accuracy"]
            note = f" (inner accuracy {inner:.3f})" if inner is not None else ""
            parts.append(f"chosen{note}: {shown(record['chosen'])}")
        if record["given"]:
            parts.append(f"given: {shown(record['given'])}")
        return "; ".join(parts) or "plain settings (auto=False)"

    def _cross_validate_nested(self, texts, labels, folds, shuffle):
        """Per-fold test accuracies, each fold choosing and fitting on its
        training examples alone (a fresh learner with these parameters)."""
        if isinstance(folds, bool) or not isinstance(folds, int) or folds < 2:
            raise ValueError(f"folds must be an int of at least 2, got {folds!r}")
        if folds > min(labels.count(0), labels.count(1)):
            raise ValueError(f"folds={folds} is more than the positives or negatives "
                             f"({labels.count(1)} and {labels.count(0)})")
        scores = []
        for held in _stratified_folds(labels, folds, self.random_state, shuffle):
            out = set(held)
            train = [i for i in range(len(texts)) if i not in out]
            fitted = type(self)(**self.get_params())
            fitted.fit([texts[i] for i in train], [labels[i] for i in train])
            scores.append(fitted.score([texts[i] for i in held], [labels[i] for i in held]))
        self.cv_scores_ = scores
        return scores

    # ------------------------------------------------------------ tables

    def _class_learning(self, pos, negatives, learning):
        """The learning options of one class of a table, chosen on its rows
        (by the encoding's trial when it ran; ``negatives()`` gives the
        negative bottom clauses when a choice still has to be made)."""
        # Taken out once used: the proofs are not kept on the fitted learner.
        found = getattr(self, "_table_choices", {}).pop(next(iter(pos), None), None)
        if found is None and self._auto_applies(learning):
            found = self._choose_on(pos, negatives(), learning)
        return found[0] if found else learning

    def _choose_on(self, pos, neg, learning, budget=PROOF_BUDGET, prover=None):
        """(options, names chosen, inner accuracy, the choice) on given
        bottom clauses."""
        if not self._auto_applies(learning):
            return learning, [], None, None
        given = self._given_names()
        fixed = {n: v for n, v in learning.items() if n not in _CHOSEN or n in given}
        fixed.update(follow=self._resolved("follow"), numbers=self._resolved("numbers"))
        seed = self.random_state if self.random_state is not None else 0
        choice = choose_setting(self._background.path, fixed, lambda f, n: (pos, neg), seed,
                                budget, prover)
        options = dict(choice.options)
        options.pop("follow")
        return options, choice.chosen, choice.score, choice

    def _table_encoding(self, table, task, labels):
        """(strategy, number of ranges) of a table's encoding: given, plain
        (auto=False) or the one whose rows validate best, the plain one on
        ties. The winner's per-class choices are kept for the fit."""
        from ._learner_tables import _TableBackground
        from .encoder import TableEncoder

        self._table_choices = {}
        plain = (self._resolved("encoder_strategy"), self._resolved("n_ranges"))
        given = self._given_names()
        tried = [(s, k) for s, k in TABLE_ENCODINGS
                 if ("encoder_strategy" not in given or s == plain[0])
                 and ("n_ranges" not in given or k == plain[1])]
        if not self.auto or len(tried) < 2:
            self._record_table_choice(plain, None)
            return plain
        learning = self._plain_learning()
        learning["verbose"] = True
        best, extra = None, self._extra_background()
        for strategy, n_ranges in tried:
            encoder = TableEncoder(n_ranges=n_ranges, strategy=strategy)
            encoder.fit(table, labels if strategy == "entropy" else None)
            # The fit sets these again for the encoding chosen.
            self.encoder_, self._extra = encoder, extra
            self._background = _TableBackground(encoder, table, extra)
            constants = list(dict.fromkeys(list(learning["constant_set"] or [])
                                           + list(encoder.constants_)))
            rows = [f"e_{i}" for i in range(len(table))]
            encoded = self._encoded_training(table)
            bottoms = self._row_bottom_clauses(table, rows, constants, encoded)
            masks = self._mask_prover(table, encoded, task)
            choices, scores = {}, []
            for label, head in task.heads:
                pos = {f"{head}({r}).": list(b) for r, b, v in zip(rows, bottoms, task.labels)
                       if v == label}
                neg = {f"{head}({r}).": list(b) for r, b, v in zip(rows, bottoms, task.labels)
                       if v != label}
                if not pos:
                    continue
                # One fit's proofs, shared out over the encodings and classes.
                share = PROOF_BUDGET // (len(tried) * len(task.heads))
                found = self._choose_on(pos, neg, dict(learning, constant_set=constants), share,
                                        masks and masks(label, head))
                choices[next(iter(pos))] = found
                scores.append(found[2] or 0.0)
            score = sum(scores) / len(scores) if scores else 0.0
            if best is None or score > best[0]:
                best = (score, (strategy, n_ranges), choices)
        self._table_choices = best[2]
        self._record_table_choice(best[1], best[2], best[0])
        return best[1]

    def _mask_prover(self, table, encoded, task):
        """``prover(label, head)``: one class's coverage read from the
        encoded columns' masks, as the fit reads it; None when facts of the
        ``background`` parameter join the rows'."""
        if self._extra.strip():
            return None
        from ._table_learning import covered_by_masks
        from ._table_masks import predicate_columns

        vocabulary, codes = self._training_codes(table, encoded)
        predicates = predicate_columns(self.encoder_)

        def prover(label, head):
            is_positive = task.positions() == task.classes.index(label)
            return lambda rules: covered_by_masks(rules, head, predicates, codes, vocabulary,
                                                  is_positive)
        return prover

    def _record_table_choice(self, encoding, choices, score=None):
        """``chosen_`` of a table fit: the encoding and the first class's
        options (``classes`` holds each class's when there are several)."""
        chosen = ["encoder_strategy", "n_ranges"] if choices else []
        first = next(iter((choices or {}).values()), None)
        options = dict(first[0]) if first else self._plain_learning()
        options.update(follow=self._resolved("follow"), encoder_strategy=encoding[0],
                       n_ranges=encoding[1])
        given = self._given_names()
        chosen = [n for n in chosen if n not in given] + (list(first[1]) if first else [])
        self._record_choice(options, chosen, score, 0.0)
        if choices and len(choices) > 1:
            self.chosen_["classes"] = {key.split("(")[0]: {n: found[0][n] for n in _CHOSEN
                                                           if n in found[0]}
                                       for key, found in choices.items()}


CHOOSING_DOC = """Notes
-----
Choosing the setting. With ``auto=True`` (the default) the parameters left at None are chosen
from the training examples alone: bottom clauses are bounded
(``reach="hops"``), coverage is proved in the engine
(``coverage="prolog"``) and rules are picked by the cover selection; the
selection thresholds (``min_pos``, ``max_neg``, ``min_precision``,
``eval_fn``) and the structure (``max_literals`` by iterative deepening,
``recursive``, ``follow``, ``numbers``; for a table the encoding,
``encoder_strategy`` and ``n_ranges``) are those with the best accuracy in
a stratified inner cross-validation on the training examples, seeded by
``random_state`` (0 when None). Candidates are proved once over all
training examples and every inner fold selects from those proofs, so the
thresholds cost only selections; each structure tried costs one more
proving pass, simplest first, a more complex one only while it helps and
within a bounded number of proofs. Ties go to the simpler setting.

A parameter you pass is kept as given and never searched over (None means
"choose", and survives ``get_params`` and scikit-learn's ``clone``).
``chosen_`` holds the options used (``options``), which were ``chosen``
and which ``given``, and the inner accuracy; ``save`` writes it into the
theory file's header. ``cross_validate`` and scikit-learn's
``cross_val_score`` fit a fresh learner per fold, so held-out examples
never shape the choice. ``auto=False`` gives the plain options: every
parameter left at None takes the documented default of ``vantor_learn``
(text coverage, greedy selection, ``max_literals=2``, ...), ``reach``
'passes', ``follow`` 'first', ``encoder_strategy`` 'equal_count' and
``n_ranges`` 3. Choosing
also stands aside (plain values) when you ask for ``coverage="text"`` or
``selection="greedy"``, whose inner validation would need re-learning; with
``search="refine"`` the rest is chosen as above, except ``max_literals``,
deepened by learning with the search on the inner folds (while it helps and
the proofs the last levels made predict the next one fits the budget). The refinement search is itself tried, learning once per inner fold,
where its predicted proofs fit the budget and the candidates leave the inner
folds imperfect, and where the candidates could not afford longer rules and
taught nothing (the search then gets those longer rules).
"""
