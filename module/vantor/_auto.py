"""Choosing the learning setting from the training examples alone.

The default learner proves candidates in the engine and selects with the
cover selection; what remains to choose is the structure of the rules
(``max_literals``, ``recursive``, how bottom clauses follow facts and read
numbers) and the selection thresholds (``min_pos``, ``max_neg``,
``min_precision``, ``eval_fn``). Both are chosen by a stratified inner
cross-validation on the training examples, seeded, so held-out examples of
an outer validation never shape the choice.

Proofs are made once: every candidate of a structure is proved over all the
training examples, and each inner fold selects from those proofs restricted
to its training part and is scored on its held-out part by reading the same
proofs (a theory covers an example when one of its rules does). The
selection thresholds therefore cost only selections; each structure costs
one pass of forming and proving. Structures are tried simplest first, and a
more complex one only while it helps: ``max_literals`` grows by one while
the inner accuracy does not fall and the next level's forming and proving
are predicted to stay within counted budgets (not timed, so the choice does
not depend on the machine's load); recursion, numbers as variables and
following facts by any argument are tried only when the data can use them,
and once the inner folds are all right only for shorter rules. Ties go to
the simpler setting.
"""
import math
import random
import re
import time
import warnings
from itertools import product

from . import _core, _proved
from ._host import library_run
from ._options import learn_options
from ._refine import counting_proofs
from .evaluate import Vantor, evaluate_theory_prolog, evaluate_theory_prolog_training

__all__ = ["Choice", "choose_setting", "inner_folds", "learn_chosen", "SELECTION_GRID"]

# What the default learner always does (unless the user says otherwise).
METHOD = {"coverage": "prolog", "selection": "cover"}

# The selection thresholds tried, the README's noisy-data setting first so
# that it wins ties, then the stricter settings first and compression (the
# shorter rule among equals) before plain coverage. Shares (floats in (0, 1)) scale with the examples. A
# rule needs 5% of the positives: letting single-positive rules in (min_pos
# 1) was measured to overfit the inner folds on the noisy sets.
SELECTION_GRID = tuple(
    dict(zip(("min_pos", "max_neg", "min_precision", "eval_fn"), values))
    for values in ((0.05, 0.3, 0.65, "compression"),) + tuple(
        (0.05,) + rest for rest in product((0, 0.1, 0.3), (0.5, 0.65, 0.8),
                                           ("compression", "coverage"))))
# Methods that learn as they prove, with no table of proofs to share between
# inner folds: each is validated by learning on every inner fold and replaces
# the candidates' method when it does better, where its predicted proofs fit
# the budget (the refinement search on the chemistry sets takes seconds per
# fit, far too many to learn once per inner fold).
RELEARNED = ({"search": "refine"},)

# The plain structure and the settings a structure may change.
BASE_STRUCTURE = {"max_literals": 1, "recursive": False, "follow": "first", "numbers": "constant"}
MAX_LITERALS = 4
# Choices of body literals (summed over the positives' bottom clauses) the
# next level's forming may take: about a second of forming on the chemistry
# sets. Counted rather than timed, so the choice never depends on the load.
FORMING_BUDGET = 5_000_000
# Proofs (rule x example) one choice may make: a few plain fits' worth on
# the chemistry sets. Counted, not timed, so the choice does not depend on
# the machine's load.
PROOF_BUDGET = 10_000_000
INNER_FOLDS = 5


class Choice:
    """The chosen setting: ``options`` (every learning option the fit uses,
    with ``follow``), ``chosen`` (names chosen here, the rest were given or
    fixed), the inner accuracy, the bottom clauses of the chosen structure
    and the seconds spent choosing."""

    def __init__(self, options, chosen, score, bottoms, seconds, candidates=None):
        self.options, self.chosen, self.score = options, chosen, score
        self.bottoms, self.seconds = bottoms, seconds
        # (rules, proofs over all training examples) of the chosen structure,
        # when the choice proved them all: the fit then only selects.
        self.candidates = candidates


def inner_folds(n_pos, n_neg, seed, k=INNER_FOLDS):
    """Stratified folds: for each, (held-out positive positions, held-out
    negative positions), shuffled by ``seed``; [] when either class has
    fewer than two examples."""
    k = min(k, n_pos, n_neg)
    if k < 2:
        return []
    rnd = random.Random(seed)
    pos, neg = list(range(n_pos)), list(range(n_neg))
    rnd.shuffle(pos)
    rnd.shuffle(neg)
    return [(set(pos[f::k]), set(neg[f::k])) for f in range(k)]


def _literal_choices(lengths, level):
    """Ways to pick ``level`` body literals from each bottom clause, summed."""
    return sum(math.comb(n, level) for n in lengths)


def _numeric_arguments(bottoms):
    number = re.compile(r"[(,]-?\d+(\.\d+)?(e-?\d+)?[,)]")
    return any(number.search(lit) for body in bottoms.values() for lit in body)


def _terms(example):
    inner = example.strip().rstrip(".")
    inner = inner[inner.find("(") + 1:inner.rfind(")")] if "(" in inner else ""
    return [t.strip() for t in inner.split(",") if t.strip()]


def _unreached_terms(positives, background_text):
    """Whether some positive has a term that no background fact holds as
    its first argument but some fact holds elsewhere: following facts by
    their first argument alone would not reach it."""
    first = set(re.findall(r"^\s*[a-z]\w*\(\s*([^,()\s]+)", background_text, re.M))
    for example in positives:
        for term in _terms(example):
            if term not in first and re.search(r"[(,]\s*" + re.escape(term) + r"\s*[,)]",
                                               background_text):
                return True
    return False


class _Trial:
    """Inner validation of the structures tried on one set of training
    examples; proofs are cached by rule text per bottom-clause setting."""

    def __init__(self, background, fixed, bottoms_of, seed, budget=PROOF_BUDGET, prover=None):
        self.background, self.fixed, self.bottoms_of = background, fixed, bottoms_of
        self.prover = prover
        # Every load and goal of the engine under the user's sandbox and time bound.
        self.bounds = _proved._evaluation(learn_options(
            **{n: v for n, v in fixed.items() if n in ("time_limit", "sandbox")}))
        self.seed = seed
        self.bottoms, self.proofs = {}, {}
        self.proofs_left = budget
        self.cut_at = 0  # the shortest rule length the candidates could not afford
        self.last_search_proofs = 0  # example proofs of the last relearning
        self._records, self.candidates = {}, {}
        grid = [{**g, **{n: fixed[n] for n in g if n in fixed}} for g in SELECTION_GRID]
        self.grid = [dict(t) for t in dict.fromkeys(tuple(sorted(g.items())) for g in grid)]
        # Positions are those of the bottom-clause dictionaries (a repeated
        # example counts once).
        pos, neg = self.bottom_clauses(fixed.get("follow", "first"),
                                       fixed.get("numbers", "constant"))
        self.positives, self.negatives = list(pos), list(neg)
        self.folds = inner_folds(len(pos), len(neg), seed)
        self.least_positives = _least_positives(self.grid, self.folds, len(pos))

    def bottom_clauses(self, follow, numbers):
        key = (follow, numbers)
        if key not in self.bottoms:
            self.bottoms[key] = self.bottoms_of(follow, numbers)
        return self.bottoms[key]

    def _options(self, structure, selection):
        key = tuple(sorted(structure.items())) + tuple(sorted(selection.items()))
        if key not in self._records:
            self._records[key] = self._make_options(structure, selection)
        return self._records[key]

    def _make_options(self, structure, selection):
        given = {n: v for n, v in self.fixed.items() if n != "follow"}
        given.update({n: v for n, v in structure.items() if n != "follow"})
        given.update(selection)
        given.update(METHOD, verbose=True)
        return learn_options(**given)

    def prove(self, key, rules):
        """Proofs over all training examples, each rule proved once; None for
        a rule with too few positives for any setting tried (its negatives
        are never proved)."""
        cache = self.proofs.setdefault(key, {})
        pos, neg = self.bottom_clauses(*key)
        new = [r for r in rules if r not in cache]
        if new and self.prover is not None:
            self._prove_by(new, cache, list(pos), list(neg))
        elif new:
            on_pos = self._proved(new, list(pos), [])
            kept = [i for i, (p, _, _) in enumerate(on_pos) if len(p) >= self.least_positives]
            on_neg = self._proved([new[i] for i in kept], [], list(neg))
            self.proofs_left -= len(new) * len(pos) + len(kept) * len(neg)
            cache.update((r, None) for r in new)
            for i, (_, n, _) in zip(kept, on_neg):
                cache[new[i]] = (on_pos[i][0], n, on_pos[i][2])
        return [cache[r] for r in rules]

    def _prove_by(self, new, cache, pos, neg):
        """Coverage from the caller's prover (table masks), the engine for
        the rules it cannot say. Counted as proofs all the same, so that the
        choice does not depend on how coverage is found."""
        covered = self.prover(new)
        missing = [i for i, c in enumerate(covered) if c is None]
        for i, proved in zip(missing, self._proved([new[i] for i in missing], pos, neg)):
            covered[i] = proved
        kept = 0
        for rule, c in zip(new, covered):
            kept += len(c[0]) >= self.least_positives
            cache[rule] = c if len(c[0]) >= self.least_positives else None
        self.proofs_left -= len(new) * len(pos) + kept * len(neg)

    def _proved(self, rules, pos, neg):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            return _proved.prove_covered(rules, self.background, pos, neg,
                                         self.fixed.get("n_jobs", 1),
                                         prover=self.fixed.get("prover", "facts"), **self.bounds)

    def level(self, structure):
        """(inner accuracy, selection, bottom lengths, number of candidates)
        of one structure."""
        key = (structure["follow"], structure["numbers"])
        pos, _ = self.bottom_clauses(*key)
        # Forming samples positives: the same seed, the same candidates.
        with library_run(rng=random.Random(self.seed)):
            rules, formed = _core._formed_rules(dict(pos), self._options(structure, {}))
        lengths = [len(body) for body in pos.values()]
        if structure["recursive"]:
            score, selection = self._recursive_score(structure, key, rules)
        else:
            covered = self.prove(key, rules)
            self.candidates[tuple(sorted(structure.items()))] = (rules, covered)
            score, selection = self._score(structure, rules, covered, formed)
        return score, selection, lengths, len(rules)

    def _score(self, structure, rules, covered, formed):
        """Best pooled held-out accuracy over the grid (first best wins)."""
        at = {r.replace("&", ","): i for i, r in enumerate(rules)}
        stand_in = _representatives(covered)
        formers = [0] * len(rules)  # positives forming each rule
        for made in formed:
            for r in made:
                formers[r] += 1
        correct = [0] * len(self.grid)
        for test_pos, test_neg in self.folds:
            train_pos = [i for i in range(len(self.positives)) if i not in test_pos]
            train_neg = [i for i in range(len(self.negatives)) if i not in test_neg]
            # A fold's candidates: the rules some training positive forms.
            held = [0] * len(rules)
            for i in test_pos:
                for r in formed[i]:
                    held[r] += 1
            mine = sorted({stand_in[r] for r in stand_in if formers[r] > held[r]})
            pos_at = {x: j for j, x in enumerate(train_pos)}
            neg_at = {x: j for j, x in enumerate(train_neg)}
            fold_covered = [_proved._restricted(covered[r], pos_at, neg_at) for r in mine]
            keep = self._selectable(fold_covered, len(train_neg))
            texts = [rules[mine[k]] for k in keep]
            fold_covered = [fold_covered[k] for k in keep]
            seen = {}
            for g, selection in enumerate(self.grid):
                options = self._options(structure, selection)
                theory, _ = _core._select_proved(texts, fold_covered, len(train_pos),
                                                 len(train_neg), options)
                if tuple(theory) not in seen:
                    seen[tuple(theory)] = self._held_out(theory, at, covered, test_pos, test_neg)
                correct[g] += seen[tuple(theory)]
        return _best(correct, len(self.positives) + len(self.negatives), self.grid)

    def _selectable(self, fold_covered, n_neg):
        """Positions of the rules some setting of the grid could select: the
        others fail its filters under every setting, and passing them on
        only costs the selection time."""
        precision = min(g["min_precision"] for g in self.grid)
        most = max(g["max_neg"] * n_neg if isinstance(g["max_neg"], float) and g["max_neg"] < 1
                   else g["max_neg"] for g in self.grid)
        keep = []
        for k, (p, n, _) in enumerate(fold_covered):
            if p and len(n) <= most + 1 and len(p) >= precision * (len(p) + len(n)):
                keep.append(k)
        return keep

    @staticmethod
    def _held_out(theory, at, covered, test_pos, test_neg):
        """Correct predictions on the held-out examples, read off the proofs."""
        hit_pos, hit_neg = set(), set()
        for rule in theory:
            p, n, _ = covered[at[rule]]  # selection returns candidates as they are
            hit_pos.update(p)
            hit_neg.update(n)
        return len(test_pos & hit_pos) + len(test_neg - hit_neg)

    def _recursive_score(self, structure, key, rules):
        """Recursive candidates answer calls of the target from the training
        positives, which differ per fold: each fold proves its own, and a
        theory with a recursive rule is scored in the engine, tabled (one
        without is read off the proofs)."""
        pos, neg = self.bottom_clauses(*key)
        pos, neg = list(pos), list(neg)
        variants = _core._recursive_variants(rules)
        base = self.prove(key, rules)
        at = {r.replace("&", ","): i for i, r in enumerate(rules)}
        correct = [0] * len(self.grid)
        for test_pos, test_neg in self.folds:
            train_pos = [e for i, e in enumerate(pos) if i not in test_pos]
            train_neg = [e for i, e in enumerate(neg) if i not in test_neg]
            pos_at = {i: j for j, i in enumerate(i for i in range(len(pos)) if i not in test_pos)}
            neg_at = {i: j for j, i in enumerate(i for i in range(len(neg)) if i not in test_neg)}
            self.proofs_left -= len(variants) * (len(train_pos) + len(train_neg))
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", RuntimeWarning)
                proved = _proved.prove_covered(variants, self.background, train_pos, train_neg,
                                               self.fixed.get("n_jobs", 1), train_pos,
                                               prover=self.fixed.get("prover", "facts"),
                                               **self.bounds)
            proven = [i for i, c in enumerate(base) if c is not None]
            texts = [rules[i] for i in proven] + variants
            fold_covered = [_proved._restricted(base[i], pos_at, neg_at) for i in proven] + proved
            seen = {}
            for g, selection in enumerate(self.grid):
                options = self._options(structure, selection)
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore", RuntimeWarning)
                    theory, _ = _proved._select(texts, fold_covered, len(train_pos),
                                                len(train_neg), options)
                if tuple(theory) in seen:
                    pass
                elif all(rule in at for rule in theory):
                    seen[tuple(theory)] = self._held_out(theory, at, base, test_pos, test_neg)
                else:
                    held_pos = [pos[i] for i in sorted(test_pos)]
                    held_neg = [neg[i] for i in sorted(test_neg)]
                    seen[tuple(theory)] = _engine_correct(theory, self.background, held_pos,
                                                          held_neg, self.bounds)
                correct[g] += seen[tuple(theory)]
        return _best(correct, len(pos) + len(neg), self.grid)


def _least_positives(grid, folds, n_pos):
    """The fewest positives any setting tried asks of a rule in any inner
    fold (the cover selection's share is rounded up, at least one)."""
    if not folds:
        return 0
    train = n_pos - max(len(p) for p, _ in folds)
    least = []
    for selection in grid:
        m = selection["min_pos"]
        least.append(max(1, math.ceil(m * train)) if isinstance(m, float) and 0 < m < 1
                     else math.ceil(m))
    return max(0, min(least))


def _best(correct, total, grid):
    """(inner accuracy, selection setting): the most correct, the first on
    ties. (Keeping the first setting unless another is better by one
    standard error was measured too: no better on the shared sets.)"""
    best = max(range(len(grid)), key=lambda g: (correct[g], -g))
    return correct[best] / total, grid[best]


def _relearned(trial, structure, selection):
    """Inner accuracy of ``structure`` when every inner fold learns on its
    training part (as a method that proves as it searches must) and is
    scored on its held-out part in the engine."""
    pos, neg = trial.bottom_clauses(structure["follow"], structure["numbers"])
    names_pos, names_neg = list(pos), list(neg)
    options = trial._options(structure, selection)
    correct = 0
    with counting_proofs() as proofs:
        for test_pos, test_neg in trial.folds:
            train_pos = {e: pos[e] for i, e in enumerate(names_pos) if i not in test_pos}
            train_neg = {e: neg[e] for i, e in enumerate(names_neg) if i not in test_neg}
            correct += _learned_correct(trial, train_pos, train_neg, options,
                                        [names_pos[i] for i in sorted(test_pos)],
                                        [names_neg[i] for i in sorted(test_neg)])
    # What the searches proved, charged to the budget and kept for predicting
    # the next level's cost.
    trial.proofs_left -= proofs[0]
    trial.last_search_proofs = proofs[0]
    return correct / (len(names_pos) + len(names_neg))


def _learned_correct(trial, train_pos, train_neg, options, held_pos, held_neg):
    """Correct predictions on the held-out examples of a theory learned on
    the training part."""
    from .learn import _learn_run

    with warnings.catch_warnings(), library_run(rng=random.Random(trial.seed)):
        warnings.simplefilter("ignore", RuntimeWarning)
        record, _ = _learn_run(train_pos, train_neg, trial.background, options)
    return _engine_correct(list(record.hypothesis), trial.background, held_pos, held_neg,
                           trial.bounds)


def _deepen_search(trial, best):
    """``best`` with the search's own ``max_literals``: one literal more
    while its inner accuracy does not fall, the theory is not perfect and the
    predicted proofs fit the budget, or while nothing has been learned (the
    search's work grows with its nodes, not with the ways to form rules)."""
    _, structure, selection = best
    found, previous, made = None, None, []
    for level in range(1, MAX_LITERALS + 1):
        current = dict(structure, max_literals=level)
        # The next level's proofs, predicted from those the last ones made.
        growth = made[-1] / max(1, made[-2]) if len(made) >= 2 else 2.0
        cost = made[-1] * max(1.0, growth) if made else 0
        if found is not None and cost > trial.proofs_left and not _learned_nothing(trial, found[0]):
            break
        score = _relearned(trial, current, selection)
        made.append(trial.last_search_proofs)
        if previous is not None and score < previous:
            break
        if found is None or score > found[0]:
            found = (score, current, selection)
        previous = score
        if score >= 1.0:
            break
    return found


def _search_proofs(trial, structure):
    """Proofs a refinement search would make over the inner folds, at most:
    every node's refinements (one per bottom-clause literal) proved on the
    examples a search scores on (at most ``search_sample`` of each class),
    for each clause of a theory of about one clause per twenty positives."""
    pos, neg = trial.bottom_clauses(structure["follow"], structure["numbers"])
    literals = sum(len(body) for body in pos.values()) / max(1, len(pos))
    clauses = 1 + len(pos) // 20
    nodes = trial.fixed.get("max_nodes", 100)
    sample = trial.fixed.get("search_sample", 300) or max(len(pos), len(neg))
    examples = min(len(pos), sample) + min(len(neg), sample)
    return len(trial.folds) * clauses * nodes * literals * examples


def _learned_nothing(trial, score):
    """Whether an inner accuracy is no better than predicting the larger
    class: the candidates taught nothing."""
    n_pos, n_neg = len(trial.positives), len(trial.negatives)
    return score <= max(n_pos, n_neg) / max(1, n_pos + n_neg)


def _representatives(covered):
    """Each proved candidate's stand-in: the shortest (then the first) rule
    of the same coverage. Rules that cover the same examples predict alike
    in every fold, and selection prefers the shorter of equals, so the
    others only cost selection time."""
    kept = {}
    for r, c in enumerate(covered):
        if c is not None:
            key = (tuple(c[0]), tuple(c[1]))
            if key not in kept or c[2] < covered[kept[key]][2]:
                kept[key] = r
    return {r: kept[(tuple(c[0]), tuple(c[1]))] for r, c in enumerate(covered) if c is not None}


def _engine_correct(theory, background, pos, neg, bounds):
    if not theory:
        return len(neg)
    result = evaluate_theory_prolog(theory, background, pos, neg, True, **bounds)
    found = round((result.sensitivity or 0) * len(pos))
    rejected = round((result.specificity or 0) * len(neg)) if neg else 0
    return found + rejected


def _deepen(trial, structure, given, deepest=MAX_LITERALS):
    """The best level of ``max_literals`` for a structure, by iterative
    deepening: one literal more while the inner accuracy does not fall, the
    theory is not perfect and the next level's forming stays affordable (a
    level too short to say anything scores like the next one); the best
    level wins, the shorter on ties. Returns (score, structure, selection)."""
    best = previous = None
    levels = [given["max_literals"]] if "max_literals" in given else range(1, deepest + 1)
    for level in levels:
        current = dict(structure, max_literals=level)
        score, selection, lengths, count = trial.level(current)
        if previous is not None and score < previous:
            break
        if best is None or score > best[0]:
            best = (score, current, selection)
        previous = score
        choices = _literal_choices(lengths, level + 1)
        growth = choices / max(1, _literal_choices(lengths, level))
        examples = len(trial.positives) + len(trial.negatives)
        proofs = count * growth * examples * (1 + len(trial.folds) * structure["recursive"])
        if score >= 1.0:
            break
        if choices > FORMING_BUDGET or proofs > trial.proofs_left:
            # Longer rules were not affordable for the candidates; the
            # search may still reach them.
            trial.cut_at = max(trial.cut_at, level + 1)
            break
    return best


def _alternatives(trial, given, target_arity, background_text):
    """The structures worth trying beyond the plain one, simplest first."""
    out = []
    pos, _ = trial.bottom_clauses(given.get("follow", "first"), given.get("numbers", "constant"))
    if "numbers" not in given and _numeric_arguments(pos):
        out.append({"numbers": "variable"})
    if "follow" not in given and _unreached_terms(trial.positives, background_text):
        out.append({"follow": "any"})
    if "recursive" not in given and target_arity >= 2:
        out.append({"recursive": True})
    return out


def choose_setting(background, given, bottoms_of, seed, budget=PROOF_BUDGET, prover=None):
    """The ``Choice`` for these training examples. ``given`` holds the
    options the user set (kept as given, never searched over) and the fixed
    ones (verbose, n_jobs, ...); ``bottoms_of(follow, numbers)`` builds the
    bottom clauses of the training examples; ``budget`` bounds the proofs
    (a caller making several choices for one fit shares one budget out);
    ``prover(rules)``, when given, says the coverage of rules over all
    training examples (None for a rule it cannot say) in place of the
    engine."""
    tic = time.perf_counter()
    searched = {n for n in ("max_literals", "recursive", "follow", "numbers", "min_pos",
                            "max_neg", "min_precision", "eval_fn") if n not in given}
    trial = _Trial(background, given, bottoms_of, seed, budget, prover)
    plain = {n: given.get(n, v) for n, v in BASE_STRUCTURE.items()}
    if not trial.folds:  # too few examples to validate: the plain structure, noisy setting
        selection = {n: given.get(n, v) for n, v in SELECTION_GRID[0].items()}
        plain["max_literals"] = given.get("max_literals", 2)
        return _finish(trial, plain, selection, None, searched, tic)
    best = _deepen(trial, plain, given)
    with open(background, encoding="utf-8", errors="replace") as f:
        text = f.read()
    arity = len(_terms(trial.positives[0]))
    # Each alternative is tried on top of the best structure so far. Once
    # the inner folds are all right, an alternative can only win by shorter
    # rules, so it is deepened no further than one literal less.
    for change in _alternatives(trial, given, arity, text):
        level = best[1]["max_literals"]
        deepest = level - 1 if best[0] >= 1.0 else MAX_LITERALS
        if trial.proofs_left <= 0 or (deepest < 1 and "max_literals" not in given):
            continue
        found = _deepen(trial, dict(best[1], **change), given, deepest)
        if found[0] > best[0] or (found[0] == best[0] and found[1]["max_literals"] < level):
            best = found
    for method in RELEARNED:
        # The search is tried where the candidates leave the inner folds
        # imperfect and its proofs fit the budget, and also, with the rule
        # length the candidates could not afford, where they learned nothing
        # (the search grows one clause at a time, so long rules over large
        # bottom clauses stay within reach).
        rescue = trial.cut_at and _learned_nothing(trial, best[0])
        if (best[0] >= 1.0 or any(name in given for name in method)
                or (_search_proofs(trial, best[1]) > trial.proofs_left and not rescue)):
            continue
        searched.update(method)
        structure = dict(best[1], **method)
        if rescue and "max_literals" not in given:
            structure["max_literals"] = max(structure["max_literals"], trial.cut_at)
        score = _relearned(trial, structure, best[2])
        if score > best[0]:
            best = (score, structure, best[2])
    if given.get("search") == "refine" and "max_literals" not in given:
        # The search asked for can say what the candidates cannot (an
        # attribute's value, a rule too long to form): its rule length is
        # deepened by learning with it on the inner folds.
        best = _deepen_search(trial, best)
    score, structure, selection = best
    return _finish(trial, structure, selection, score, searched, tic)


def _finish(trial, structure, selection, score, searched, tic):
    options = dict(trial.fixed)
    options.update(structure)
    options.update(selection)
    options.update({n: v for n, v in METHOD.items() if n not in trial.fixed})
    bottoms = trial.bottom_clauses(options["follow"], options["numbers"])
    chosen = sorted(searched | {n for n in METHOD if n not in trial.fixed})
    # The proofs serve the fit only when it uses the candidates' method.
    candidates = (trial.candidates.get(tuple(sorted(structure.items())))
                  if options.get("search", "candidates") == "candidates" else None)
    return Choice(options, chosen, score, bottoms, time.perf_counter() - tic, candidates)


def learn_chosen(choice, background):
    """The ``Vantor`` record of learning with the chosen options from the
    proofs the choice already made over all training examples; None when it
    made none for them (recursive rules, a method that proves as it
    searches, too few examples to validate)."""
    if choice.candidates is None:
        return None
    tic = time.perf_counter()
    rules, covered = choice.candidates
    kept = [i for i, c in enumerate(covered) if c is not None]
    options = learn_options(**{n: v for n, v in choice.options.items() if n != "follow"})
    pos, neg = choice.bottoms
    theory, _ = _proved._select([rules[i] for i in kept], [covered[i] for i in kept], len(pos),
                                len(neg), options)
    seconds = choice.seconds + time.perf_counter() - tic
    test = evaluate_theory_prolog_training(theory, background, pos, neg, options.quiet,
                                           **_proved._evaluation(options))
    return Vantor(theory, test.accuracy, test.precision, test.sensitivity, test.specificity,
                  test.fscore, seconds)
