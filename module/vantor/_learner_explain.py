"""Which rule proves an example, with one proof's bindings, and the
rule-by-example coverage grid of a fitted Learner."""
from . import _core
from ._learner_inputs import _is_variable, _library_output, _literal, example_texts
from ._lint import _split_arguments


class _Explaining:
    """Proofs of single examples for ``Learner``: ``proving_rule``,
    ``explain``, ``rule_coverage`` and ``plot``."""

    def _proves(self, theory, example):
        return self._proved_each(theory, [example])[0]

    def _proved_each(self, theory, examples):
        """Whether the theory proves each example, in one engine call."""
        if not theory:
            return [False] * len(examples)
        with _library_output(self.verbose):  # what the programs print
            outcome = _core._evaluate_theory(theory, self._background.path, examples, [], True,
                                             False, time_limit=self.time_limit,
                                             sandbox=bool(self.sandbox), each=True)
        return outcome["proved"]

    def _checked_example(self, x):
        """The text of example ``x`` once the engine reads it as exactly one
        fact of a predicate the theory defines; ValueError otherwise."""
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

    def proving_rule(self, x):
        """The first rule of the theory that proves an example.

        Parameters
        ----------
        x : str
            An example text.

        Returns
        -------
        str or None
            The first rule that is the last step of a proof of ``x`` with the
            whole theory, or None when the theory does not prove it.
        """
        self._fitted()
        text = self._checked_example(x)
        for rule in self.theory_:
            if self._proves_through(rule, text):
                return rule
        return None

    def explain(self, x):
        """The rules that prove an example, with the bindings of one proof.

        Each rule is the last step of a proof in the engine with the whole
        theory below it. The bindings are one proof's: the head's from
        ``x``, the body's found by matching the body against the background
        facts in rule order, a literal of a predicate that no fact defines
        (the target itself, in a recursive rule) being proved in the engine
        once its arguments are bound.

        Parameters
        ----------
        x : str
            An example text.

        Returns
        -------
        list of dict
            One ``{"rule": ..., "bindings": {variable: term}, "complete":
            bool}`` per proving rule; ``bindings`` lacks a variable only when
            no fact binds it (a background with rules), and ``complete``
            says whether all are bound.
        """
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

    def rule_coverage(self):
        """Which rule proves which training example.

        A rule proves an example when it is the last step of a proof with
        the whole theory. One engine call per rule and example; computed
        once per fit.

        Returns
        -------
        rules : list of str
            The theory.
        matrix : list of list of int
            One row per rule and one 0/1 column per training example,
            positives first.

        Raises
        ------
        ValueError
            For a loaded theory, which has no training examples.
        """
        self._fitted()
        if self._training is None:
            raise ValueError("a loaded theory has no training examples; fit the learner")
        if self._coverage is None:
            examples = self._training[0] + self._training[1]
            self._coverage = [[int(self._proves_through(rule, x)) for x in examples]
                              for rule in self.theory_]
        return self.theory_, self._coverage

    def plot(self, ax=None, path=None):
        """Draw which rule covers which training example and, after
        ``cross_validate``, the per-fold test accuracies. Needs matplotlib.

        Parameters
        ----------
        ax : optional
            Not used: the figure is drawn whole, with panels of its
            own.
        path : str, optional
            Save the figure to this file (PNG, SVG, ...).

        Returns
        -------
        matplotlib.figure.Figure
            The figure.
        """
        from ._plot import draw

        rules, matrix = self.rule_coverage()
        return draw(rules, matrix, len(self._training[0]), len(self._training[1]),
                    getattr(self, "cv_scores_", None), path=path)


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
