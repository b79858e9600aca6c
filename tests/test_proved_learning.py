"""Learning with coverage proved in the engine and the noise-tolerant cover
selection: what the options promise, and that the result depends on neither
n_jobs nor joblib's backend."""
import os
import random
import shutil

import pytest

import vantor
from vantor._options import learn_options
from vantor import _core, _proved, _proving

HERE = os.path.dirname(os.path.abspath(__file__))
PATH = os.path.join(HERE, "data", "path")
FAMILY = os.path.join(HERE, "..", "examples", "family")


def dictionaries(folder, **kw):
    random.seed(0)
    return vantor.bottom_clause_generation(
        file=os.path.join(folder, "BK.pl"), container="memory", tqdm_disable=True,
        positive_example=os.path.join(folder, "pos_example.f"),
        negative_example=os.path.join(folder, "neg_example.n"), **kw)


@pytest.fixture(scope="module")
def family():
    return dictionaries(FAMILY)


def learn(pos, neg, folder, **options):
    random.seed(0)
    return vantor.vantor_learn(dict(pos), dict(neg), file=os.path.join(folder, "BK.pl"),
                               verbose=True, **options)


def test_proved_coverage_counts_what_the_engine_proves(tmp_path):
    # q covers a positive the bottom-clause text never forms (through the
    # constant c); the engine proves it.
    bk = tmp_path / "BK.pl"
    bk.write_text("p(a,b).\np(x,y).\nq(b).\nq(y).\nr(n,m).\n")
    rules = ["t(A):-p(A,B)&q(B)", "t(A):-r(A,B)"]
    covered, over = _core._prove_rules(rules, str(bk), ["t(a)", "t(x)"], ["t(n)", "t(z)"])
    assert over == 0
    assert covered == [([0, 1], [], 2), ([], [0], 1)]


def holds(body, binding, facts):
    """Whether some facts satisfy every literal of body under binding (a
    plain join, the reference for the engine's answers)."""
    if not body:
        return True
    (name, args), rest = body[0], body[1:]
    for fact in facts.get((name, len(args)), []):
        extended = dict(binding)
        if all(extended.setdefault(a, v) == v if a[0].isupper() else a == v for a, v in zip(args, fact)):
            if holds(rest, extended, facts):
                return True
    return False


@pytest.mark.parametrize("seed", range(8))
def test_proved_coverage_matches_a_plain_join(tmp_path, seed):
    # Pruning by each literal alone must never lose or add an example.
    rng = random.Random(seed)
    consts = ["a", "b", "c", "d", "e"]
    facts = {}
    lines = []
    for name, arity in (("p", 2), ("q", 2), ("r", 1)):
        for _ in range(6):
            fact = tuple(rng.choice(consts) for _ in range(arity))
            facts.setdefault((name, arity), []).append(fact)
            lines.append(f"{name}({','.join(fact)}).")
    bk = tmp_path / "BK.pl"
    bk.write_text("\n".join(lines) + "\n")
    shapes = [[("p", ["A", "B"]), ("q", ["B", "C"])], [("q", ["A", "B"]), ("r", ["B"])],
              [("p", ["A", "B"]), ("p", ["B", "C"])], [("p", ["A", "c"]), ("q", ["C", "A"])],
              [("r", ["A"]), ("q", ["B", "C"])],
              [("p", ["A", "B"]), ("q", ["B", "C"]), ("r", ["C"])],
              [("p", ["A", "B"]), ("r", ["B"]), ("q", ["A", "C"]), ("p", ["C", "C"])],
              [("q", ["B", "C"]), ("p", ["C", "B"]), ("r", ["A"])]]
    rules = ["t(A):-" + "&".join(f"{n}({','.join(a)})" for n, a in shape) for shape in shapes]
    pos = [f"t({c})" for c in consts[:3]]
    neg = [f"t({c})" for c in consts[3:]]
    covered, over = _core._prove_rules(rules, str(bk), pos, neg)
    assert over == 0
    for shape, (p, n, length) in zip(shapes, covered):
        want_p = [i for i, c in enumerate(consts[:3]) if holds(shape, {"A": c}, facts)]
        want_n = [i for i, c in enumerate(consts[3:]) if holds(shape, {"A": c}, facts)]
        assert (p, n, length) == (want_p, want_n, len(shape))


def test_learned_theory_with_max_neg_zero_proves_no_negative(family):
    pos, neg = family
    r = learn(pos, neg, FAMILY, coverage="prolog")
    assert r.hypothesis == ["grandparent(A,B):-parent(A,C),parent(C,B)"]
    assert r.accuracy == 1.0 and r.specificity == 1.0
    r = learn(pos, neg, FAMILY, coverage="prolog", selection="cover")
    assert r.hypothesis == ["grandparent(A,B):-parent(A,C),parent(C,B)"]


def test_text_coverage_with_cover_selection(family):
    pos, neg = family
    r = learn(pos, neg, FAMILY, selection="cover", eval_fn="compression")
    assert r.hypothesis == ["grandparent(A,B):-parent(A,C),parent(C,B)"]


def test_cover_options_are_checked():
    with pytest.raises(ValueError, match="eval_fn must be one of 'accuracy', 'coverage', 'compression'"):
        learn_options(selection="cover", eval_fn="gain")
    learn_options(eval_fn="gain")  # the greedy selection never reads it
    with pytest.raises(ValueError, match="coverage must be one of 'text', 'prolog', got 'engine'"):
        learn_options(coverage="engine")
    with pytest.raises(ValueError, match="min_precision must be between 0 and 1"):
        learn_options(min_precision=1.5)
    with pytest.raises(ValueError, match="max_rules"):
        learn_options(max_rules=0)
    with pytest.raises(ValueError, match="n_jobs"):
        learn_options(n_jobs=0)
    assert learn_options(selection="cover", max_neg=0.25).max_neg_fraction == 0.25
    assert learn_options(max_neg=0.25).max_neg_fraction == -1.0  # a threshold, as ever


def covered_table(n_pos, n_neg, rows):
    return [(list(p), list(n), length) for p, n, length in rows]


def select(rows, n_pos, n_neg, **options):
    rules = [f"t(A):-r{i}(A)" for i in range(len(rows))]
    theory, _ = _core._select_proved(rules, rows, n_pos, n_neg,
                                     learn_options(selection="cover", **options))
    return theory


def test_cover_selection_stops_when_no_rule_adds_anything():
    rows = [([0, 1, 2], [], 1), ([2, 3], [], 1), ([3], [0], 1), ([0, 1], [], 1)]
    # r0 first, then r1 (one new positive); r3 adds nothing; r2 costs a negative.
    assert select(rows, 4, 2) == ["t(A):-r0(A)", "t(A):-r1(A)"]
    assert select(rows, 4, 2, max_rules=1) == ["t(A):-r0(A)"]
    # min_pos counts a rule's positives in all, not only the new ones.
    assert select(rows, 4, 2, min_pos=3) == ["t(A):-r0(A)"]
    # A share of the positives: 0.6 of 4 rounds up to 3; a tiny share is one.
    assert select(rows, 4, 2, min_pos=0.6) == ["t(A):-r0(A)"]
    assert select(rows, 4, 2, min_pos=0.01) == ["t(A):-r0(A)", "t(A):-r1(A)"]


def test_cover_selection_precision_negatives_and_compression():
    rows = [([0, 1, 2, 3], [0, 1], 1), ([0, 1], [], 2), ([2], [], 1)]
    # max_neg 0 rules r0 out; with 2 allowed it wins (4 - 2 > 2).
    assert select(rows, 4, 4)[0] == "t(A):-r1(A)"
    assert select(rows, 4, 4, max_neg=2, min_precision=0.6)[0] == "t(A):-r0(A)"
    # A share of the negatives: half of 4 is 2.
    assert select(rows, 4, 4, max_neg=0.5, min_precision=0.6)[0] == "t(A):-r0(A)"
    # Precision 4/6 is under 0.7.
    assert select(rows, 4, 4, max_neg=2, min_precision=0.7)[0] == "t(A):-r1(A)"
    # Compression charges r1's second literal: 2 - 0 - 2 + 1 = 1 ties r2 (1),
    # and the earlier candidate wins the tie.
    assert select(rows, 4, 4, eval_fn="compression") == ["t(A):-r1(A)", "t(A):-r2(A)"]


def test_results_do_not_depend_on_n_jobs(family, monkeypatch):
    monkeypatch.setattr(_proving, "_SMALLEST_SHARED_BATCH", 0)  # every batch goes to the workers
    pos, neg = family
    one = learn(pos, neg, FAMILY, coverage="prolog", selection="cover")
    two = learn(pos, neg, FAMILY, coverage="prolog", selection="cover", n_jobs=2)
    assert one.hypothesis == two.hypothesis and one.accuracy == two.accuracy
    # Recursive candidates: the positives answer the target's calls in every worker.
    pos, neg = dictionaries(PATH)
    settings = dict(coverage="prolog", selection="cover", recursive=True, max_neg=0,
                    eval_fn="compression", key_size=10)
    one = learn(pos, neg, PATH, **settings)
    assert one.accuracy == 1.0 and any("path(" in rule.split(":-")[1] for rule in one.hypothesis)
    assert learn(pos, neg, PATH, n_jobs=2, **settings).hypothesis == one.hypothesis


def test_a_literal_cut_short_alone_still_lets_its_rule_be_proved(tmp_path, monkeypatch):
    # q(a,B) loops until the inference limit, q(a,b) holds at once: the rule
    # binds B first, so it proves t(a) although its literal alone was cut short.
    bk = tmp_path / "bk.pl"
    bk.write_text("r(b).\nq(X,Y) :- var(Y), !, spin.\nq(a,b).\nspin :- spin.\n")
    rules = ["t(A):-r(B)&q(A,B)", "t(A):-q(A,B)", "t(A):-r(A)"]
    covered, over = _core._prove_rules(rules, str(bk), ["t(a)"], [])
    assert covered == [([0], [], 2), ([], [], 1), ([], [], 1)] and over == 1
    monkeypatch.setattr(_proving, "_SMALLEST_SHARED_BATCH", 0)
    with pytest.warns(RuntimeWarning, match="1 goal"):
        assert _proved.prove_covered(rules, str(bk), ["t(a)"], [], n_jobs=2) == covered


def folds_of(pos, neg, k=3):
    random.seed(3)
    return vantor.VantorFold(
        {i: {e: pos[e] for j, e in enumerate(pos) if j % k == i} for i in range(k)},
        {i: {e: neg[e] for j, e in enumerate(neg) if j % k == i} for i in range(k)},
        dict(pos), dict(neg))


def test_cross_validation_with_proved_coverage(family):
    pos, neg = family
    folds = folds_of(pos, neg)
    cv = vantor.vantor_cross_validation(folds, file=os.path.join(FAMILY, "BK.pl"), k_fold=3,
                                        verbose=True, coverage="prolog", selection="cover")
    assert cv.accuracy == [1.0, 1.0, 1.0]
    assert cv.hypothesis == ["grandparent(A,B):-parent(A,C),parent(C,B)"]


def test_recursive_cross_validation_proves_each_fold_on_its_own_positives(monkeypatch):
    ancestor = os.path.join(HERE, "data", "ancestor")
    pos, neg = dictionaries(ancestor)
    settings = dict(file=os.path.join(ancestor, "BK.pl"), k_fold=3, verbose=True, coverage="prolog",
                    selection="cover", recursive=True, max_neg=0, eval_fn="compression")
    random.seed(0)
    one = vantor.vantor_cross_validation(folds_of(pos, neg), **settings)
    assert one.accuracy == [1.0] * 3
    for theory in one.theories:  # a recursive rule and a base case in every fold
        bodies = [rule.split(":-")[1] for rule in theory]
        assert any("ancestor(" in b for b in bodies) and any("ancestor(" not in b for b in bodies)
    monkeypatch.setattr(_proving, "_SMALLEST_SHARED_BATCH", 0)
    random.seed(0)
    assert vantor.vantor_cross_validation(folds_of(pos, neg), n_jobs=2, **settings).theories == one.theories


def test_dask_cluster_gives_the_serial_result(family):
    distributed = pytest.importorskip("distributed")
    joblib = pytest.importorskip("joblib")
    pos, neg = family
    serial = learn(pos, neg, FAMILY, coverage="prolog", selection="cover")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        with joblib.parallel_config(backend="dask"):
            clustered = learn(pos, neg, FAMILY, coverage="prolog", selection="cover", n_jobs=2)
    assert clustered.hypothesis == serial.hypothesis
    assert clustered.accuracy == serial.accuracy


@pytest.mark.parametrize("coverage", ["text", "prolog"])
def test_candidates_per_fold(family, coverage):
    pos, neg = family
    background = os.path.join(FAMILY, "BK.pl")
    random.seed(5)
    cv = vantor.vantor_cross_validation(folds_of(pos, neg), file=background, k_fold=3, verbose=True,
                                        coverage=coverage, candidates_per_fold=True)
    assert cv.accuracy == [1.0, 1.0, 1.0] and len(cv.theories) == 3
    # A fold whose training part holds no positive has no head to learn.
    one = dict(list(pos.items())[:1])
    folds = vantor.VantorFold({0: one, 1: {}}, {0: {}, 1: dict(neg)}, one, dict(neg))
    with pytest.raises(IndexError, match="no training positive"):
        vantor.vantor_cross_validation(folds, file=background, k_fold=2, verbose=True,
                                       coverage=coverage, candidates_per_fold=True)


def test_cross_validation_keeps_every_fold_theory(family):
    pos, neg = family
    cv = vantor.vantor_cross_validation(folds_of(pos, neg), file=os.path.join(FAMILY, "BK.pl"),
                                        k_fold=3, verbose=True)
    assert len(cv.theories) == 3 and cv.theories[-1] == cv.hypothesis
    assert all(t == ["grandparent(A,B):-parent(A,C),parent(C,B)"] for t in cv.theories)


def test_cover_selection_prefers_the_rule_naming_fewer_constants_on_a_tie():
    rows = [([0, 1], [], 2), ([0, 1], [], 2), ([2], [], 1)]
    rules = ["t(A):-has(A,B)&size(B,2)", "t(A):-has(A,B)&short(B)", "t(A):-odd(A,7)"]
    for eval_fn in ("coverage", "compression"):
        theory, _ = _core._select_proved(rules, rows, 3, 1, learn_options(selection="cover",
                                                                           eval_fn=eval_fn))
        assert theory == ["t(A):-has(A,B),short(B)", "t(A):-odd(A,7)"]
