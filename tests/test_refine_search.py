"""The refinement search (search="refine"): the clauses it builds from a
seed's bottom clause, branch and bound, recursion, thresholds, and that the
theory depends on nothing but the inputs."""
import os
import random
import warnings

import pytest

import vantor
from vantor import _core, _proved, _proving
from vantor._options import learn_options

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")


def write_task(folder, facts, pos, neg):
    os.makedirs(folder, exist_ok=True)
    for name, lines in (("BK.pl", facts), ("pos_example.f", pos), ("neg_example.n", neg)):
        with open(os.path.join(folder, name), "w") as f:
            f.write("".join(line + ".\n" for line in lines))
    return folder


def dictionaries(folder, depth=2):
    return vantor.bottom_clause_generation(
        file=os.path.join(folder, "BK.pl"), container="memory", tqdm_disable=True, depth=depth,
        positive_example=os.path.join(folder, "pos_example.f"),
        negative_example=os.path.join(folder, "neg_example.n"))


def learn(folder, **options):
    pos, neg = dictionaries(folder)
    settings = dict(search="refine", verbose=True)
    settings.update(options)
    return vantor.vantor_learn(pos, neg, file=os.path.join(folder, "BK.pl"), **settings)


@pytest.fixture(scope="module")
def colours(tmp_path_factory):
    """t(X) holds when X has a part coloured red: the colour is an attribute
    (few values, never a first argument), parts are objects."""
    rnd = random.Random(3)
    facts, pos, neg = [], [], []
    for i in range(30):
        parts = [f"p{i}_{k}" for k in range(3)]
        colours_ = [rnd.choice(["blue", "green"]) for _ in parts]
        if i % 2 == 0:
            colours_[rnd.randrange(3)] = "red"
        for part, colour in zip(parts, colours_):
            facts += [f"has(o{i},{part})", f"colour({part},{colour})", f"weight({part},{rnd.randint(1, 9)})"]
        (pos if i % 2 == 0 else neg).append(f"t(o{i})")
    return write_task(str(tmp_path_factory.mktemp("colours")), facts, pos, neg)


def test_literals_link_and_attributes_bind_to_values(colours):
    record = learn(colours, max_literals=2)
    assert record.hypothesis == ["t(A):-has(A,B),colour(B,red)"]
    assert record.accuracy == 1.0


def test_pooled_with_the_candidates_the_search_clause_is_chosen(colours):
    # The text stage alone offers colour(B,C) with any colour; the search's
    # clause names red, and the cover selection over both picks it.
    record = learn(colours, max_literals=2, pool=True, eval_fn="m_estimate")
    assert record.hypothesis == ["t(A):-has(A,B),colour(B,red)"]


def test_runners_up_are_other_passing_clauses_and_join_the_selection(tmp_path):
    from vantor import _core
    from vantor._options import learn_options

    # A red part marks every positive; the tag marks most of them. The tag
    # is found first and beaten, so it is the runner-up; selecting over both
    # keeps the red part alone (the tag adds no positive). tag(A,B) covers
    # what tag(A,yes) covers, so only one of them is reported.
    facts, pos, neg = [], [], []
    for i in range(20):
        colour = "red" if i % 2 == 0 else "blue"
        facts += [f"has(o{i},p{i})", f"colour(p{i},{colour})"]
        if i % 2 == 0 and i < 16:
            facts.append(f"tag(o{i},yes)")
        (pos if i % 2 == 0 else neg).append(f"t(o{i})")
    folder = write_task(str(tmp_path), facts, pos, neg)
    p, n = dictionaries(folder)
    options = learn_options(search="refine", max_literals=2, runners_up=3, verbose=True)
    theory, _, _, _, _, runners, proofs = _core._refine_learn(p, n, os.path.join(folder, "BK.pl"), options)
    assert theory == ["t(A):-has(A,B),colour(B,red)"]
    assert runners == ["t(A):-tag(A,yes)"]
    assert proofs >= len(pos) + len(neg)  # the chosen clause at least, on every example
    record = learn(folder, max_literals=2, runners_up=3)
    assert record.hypothesis == ["t(A):-has(A,B),colour(B,red)"] and record.accuracy == 1.0


@pytest.mark.parametrize("eval_fn", ["coverage", "compression"])
def test_of_equally_scored_clauses_the_one_with_fewer_negatives_is_kept(tmp_path, eval_fn):
    # With compression has(A,B) (two negatives), has,a (one) and has,a,b
    # (none) score alike on the four positives; with coverage has,a,b
    # scores highest. Either way the clause without negatives is kept.
    facts = []
    for i, x in enumerate(["p0", "p1", "p2", "p3", "n0", "n1"]):
        facts += [f"has({x},c{i})"] + ([f"a(c{i})"] if x != "n1" else []) + ([f"b(c{i})"] if x != "n0" else [])
    folder = write_task(str(tmp_path / "ties"), facts, [f"t(p{i})" for i in range(4)], ["t(n0)", "t(n1)"])
    record = learn(folder, max_literals=3, max_neg=2, min_precision=0.5, eval_fn=eval_fn)
    assert record.hypothesis == ["t(A):-has(A,B),a(B),b(B)"]


@pytest.mark.parametrize("max_failed_seeds, learned", [(None, ["t(A):-a(A)"]), (3, [])])
def test_covering_goes_on_past_failed_seeds_while_a_clause_may_be_left(tmp_path, max_failed_seeds, learned):
    # The first four positives share b with the negatives, so no clause
    # holds for them; the sixteen after them share a.
    facts = [f"b(q{i})" for i in range(4)] + [f"b(n{i})" for i in range(10)] + [f"a(p{i})" for i in range(16)]
    pos = [f"t(q{i})" for i in range(4)] + [f"t(p{i})" for i in range(16)]
    folder = write_task(str(tmp_path / "failed"), facts, pos, [f"t(n{i})" for i in range(10)])
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # no clause, with max_failed_seeds=3
        record = learn(folder, max_literals=1, min_pos=2, max_failed_seeds=max_failed_seeds)
    assert record.hypothesis == learned


def test_numbers_get_threshold_tests(tmp_path):
    # Sizes 1..40; positives from 22 up, a cut the background's values offer.
    facts = [f"size(o{i},{i})" for i in range(1, 41)]
    pos = [f"big(o{i})" for i in range(22, 41)]
    neg = [f"big(o{i})" for i in range(1, 22)]
    folder = write_task(str(tmp_path / "sizes"), facts, pos, neg)
    record = learn(folder, max_literals=2)
    assert record.hypothesis == ["big(A):-size(A,B),>=(B,22)"]
    assert record.accuracy == 1.0


def test_a_body_splits_where_only_the_head_links_its_literals():
    parts = _core._independent_parts
    assert parts("t(A)", ["has(A,B)", "colour(B,red)", "has(A,C)", ">=(D,1)", "w(C,D)"]) == [[0, 1], [2, 3, 4]]
    # Head variables, `_` and constants link nothing.
    assert parts("p(A,B)", ["q(A,_)", "q(B,_)", "r(A,c)", "r(B,c)"]) == [[0], [1], [2], [3]]
    # A compound argument hides its variables: the body stays whole.
    assert parts("p(A)", ["q(A,f(B))", "r(B)", "s(A)"]) == [[0, 1, 2]]


@pytest.mark.parametrize("wrong, learned", [(4, ["t(A):-a(A)", "t(A):-b(A)"]), (6, ["t(A):-a(A)"])])
def test_a_later_clause_is_judged_on_every_positive_and_must_raise_accuracy(tmp_path, wrong, learned):
    # a(X) covers positives 0-14; b(X) covers positives 5-19 and `wrong`
    # negatives. On the positives a leaves, b's precision is below 0.65; on
    # every positive it is above. It is kept when its five new positives
    # outnumber its negatives.
    facts = [f"a(p{i})" for i in range(15)] + [f"b(p{i})" for i in range(5, 20)]
    facts += [f"b(n{i})" for i in range(wrong)] + [f"c(n{i})" for i in range(20)]
    pos, neg = [f"t(p{i})" for i in range(20)], [f"t(n{i})" for i in range(20)]
    folder = write_task(str(tmp_path / "later"), facts, pos, neg)
    record = learn(folder, max_literals=1, min_pos=2, max_neg=10, min_precision=0.65, eval_fn="m_estimate")
    assert record.hypothesis == learned


@pytest.mark.parametrize("eval_fn, learned", [("m_estimate", 2), ("compression", 1)])
def test_with_compression_a_later_clause_must_pay_for_its_literals(tmp_path, eval_fn, learned):
    # has(X,Y),b(Y) adds positives 15-19 and four negatives: one more right
    # than wrong, which does not pay for its second literal (has alone
    # covers ten negatives).
    facts = [f"a(p{i})" for i in range(15)]
    facts += [f"has({x},h{x})" for x in [f"p{i}" for i in range(5, 20)] + [f"n{i}" for i in range(10)]]
    facts += [f"b(h{x})" for x in [f"p{i}" for i in range(5, 20)] + [f"n{i}" for i in range(4)]]
    facts += [f"c(n{i})" for i in range(20)]
    pos, neg = [f"t(p{i})" for i in range(20)], [f"t(n{i})" for i in range(20)]
    folder = write_task(str(tmp_path / "pay"), facts, pos, neg)
    record = learn(folder, max_literals=2, min_pos=2, max_neg=10, min_precision=0.65, eval_fn=eval_fn)
    assert record.hypothesis[0] == "t(A):-a(A)" and len(record.hypothesis) == learned


def test_a_number_may_keep_the_seeds_value(tmp_path):
    # The positives share one charge; the negatives' charges lie on both
    # sides of it, so no single threshold separates them.
    charges = ["0.%02d" % v for v in range(1, 100, 3) if v != 25]
    facts = [f"charge(p{i},0.25)" for i in range(10)] + [f"charge(n{i},{c})" for i, c in enumerate(charges)]
    pos = [f"t(p{i})" for i in range(10)]
    neg = [f"t(n{i})" for i in range(len(charges))]
    folder = write_task(str(tmp_path / "charges"), facts, pos, neg)
    record = learn(folder, max_literals=1)
    assert record.hypothesis == ["t(A):-charge(A,0.25)"]


def test_branch_and_bound_keeps_the_best_clause(colours):
    pos, neg = dictionaries(colours)
    background = os.path.join(colours, "BK.pl")
    for score in ("coverage", "compression", "laplace", "m_estimate"):
        options = learn_options(search="refine", max_literals=3, max_nodes=100000, eval_fn=score,
                                min_precision=0.0, max_neg=5)
        pruned = _core._refine_first_clause(pos, neg, background, options, True)
        exhaustive = _core._refine_first_clause(pos, neg, background, options, False)
        assert pruned == exhaustive != ""


def test_recursive_path_without_key_size():
    record = learn(os.path.join(DATA, "path"), recursive=True, max_literals=3, eval_fn="compression")
    assert "path(A,B):-edge(A,C),path(C,B)" in record.hypothesis
    assert record.accuracy == 1.0


def test_a_reflexive_first_positive_does_not_shape_the_base_clause(tmp_path):
    # A cycle a-b-c and an edge d-e; the first positive is path(a,a), whose
    # clauses cover only pairs of one node (path(A,A):-edge(A,B),edge(C,A)
    # holds on this data but not beyond it).
    edges = [("a", "b"), ("b", "c"), ("c", "a"), ("d", "e")]
    nodes = "abcde"
    reach = {(x, y) for x, y in edges}
    while True:
        more = {(x, z) for x, y in reach for y2, z in reach if y == y2} - reach
        if not more:
            break
        reach |= more
    pos = ["path(a,a)"] + sorted(f"path({x},{y})" for x, y in reach if (x, y) != ("a", "a"))
    neg = sorted(f"path({x},{y})" for x in nodes for y in nodes if (x, y) not in reach)
    folder = write_task(str(tmp_path), [f"edge({x},{y})" for x, y in edges], pos, neg)
    record = learn(folder, recursive=True, max_literals=2, eval_fn="compression")
    assert "path(A,B):-edge(A,B)" in record.hypothesis
    assert all(not rule.startswith("path(A,A)") for rule in record.hypothesis)
    assert record.accuracy == 1.0


def test_same_generation_with_reflexive_positives(tmp_path):
    source = os.path.join(DATA, "same_generation")
    with open(os.path.join(source, "BK.pl")) as f:
        facts = [line.strip().rstrip(".") for line in f if line.strip()]
    read = lambda name: [line.strip().rstrip(".") for line in open(os.path.join(source, name)) if line.strip()]
    people = sorted({fact[len("child("):].split(",")[0] for fact in facts})
    pos = sorted(read("pos_example.f") + [f"same_generation({p},{p})" for p in people])
    folder = write_task(str(tmp_path / "sgen"), facts, pos, read("neg_example.n"))
    record = learn(folder, recursive=True, max_literals=3, eval_fn="compression")
    assert record.accuracy == 1.0
    assert any("same_generation(" in rule.split(":-")[1] for rule in record.hypothesis)


def test_same_inputs_same_theory_whatever_n_jobs(colours, monkeypatch):
    pos, neg = dictionaries(colours)
    background = os.path.join(colours, "BK.pl")
    settings = dict(search="refine", verbose=True, max_literals=3, eval_fn="m_estimate", seeds=2,
                    search_sample=10, min_precision=0.5, max_neg=2)
    first = vantor.vantor_learn(dict(pos), dict(neg), background, **settings).hypothesis
    random.seed(99)  # the search draws nothing from Python's generator
    assert vantor.vantor_learn(dict(pos), dict(neg), background, **settings).hypothesis == first
    monkeypatch.setattr(_proving, "_SMALLEST_SHARED_BATCH", 0)  # every batch goes to the workers
    assert vantor.vantor_learn(dict(pos), dict(neg), background, n_jobs=2, **settings).hypothesis == first


def test_both_provers_give_the_same_theory(colours, monkeypatch):
    settings = dict(max_literals=3, eval_fn="m_estimate", search_sample=10, max_neg=2)
    facts = learn(colours, prover="facts", **settings).hypothesis
    assert facts and learn(colours, prover="engine", **settings).hypothesis == facts
    monkeypatch.setattr(_proving, "_SMALLEST_SHARED_BATCH", 0)  # the workers get the choice too
    assert learn(colours, prover="engine", n_jobs=2, **settings).hypothesis == facts
    with pytest.raises(ValueError, match="prover must be one of 'facts', 'engine'"):
        learn(colours, prover="swi")
    pos, neg = dictionaries(colours)
    rules = ["t(A):-has(A,B)&colour(B,red)", "t(A):-has(A,B)&weight(B,C)"]
    covered = {prover: _proved.prove_covered(rules, os.path.join(colours, "BK.pl"), list(pos), list(neg),
                                             prover=prover) for prover in ("facts", "engine")}
    assert covered["facts"] == covered["engine"] and covered["facts"][0][0]


def test_time_budget_returns_the_theory_so_far_with_a_warning(colours):
    with pytest.warns(RuntimeWarning, match="time_budget"):
        record = learn(colours, max_literals=3, time_budget=1e-9)
    assert record.hypothesis == []


def test_search_options_are_checked():
    with pytest.raises(ValueError, match="search must be one of"):
        learn_options(search="beam")
    with pytest.raises(ValueError, match="eval_fn"):
        learn_options(search="refine", eval_fn="gain")
    with pytest.raises(ValueError, match="eval_fn"):
        learn_options(selection="cover", eval_fn="laplace")
    assert learn_options(search="refine", eval_fn="laplace", max_neg=0.2).max_neg_fraction == 0.2
    with pytest.raises(ValueError, match="max_nodes"):
        learn_options(max_nodes=0)


def test_command_line_and_cross_validation_run_the_search(colours, capsys, monkeypatch):
    from vantor import cli

    monkeypatch.chdir(colours)
    cli.main(["learn", "BK.pl", "pos_example.f", "neg_example.n", "--search", "refine", "--json"])
    assert "colour(B,red)" in capsys.readouterr().out
    pos, neg = dictionaries(colours)
    folds = vantor.vantor_folds(3, False, pos, neg)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        record = vantor.vantor_cross_validation(folds, file="BK.pl", k_fold=3, verbose=True,
                                                search="refine")
        pooled = vantor.vantor_cross_validation(folds, file="BK.pl", k_fold=3, verbose=True,
                                                search="refine", pool=True)
    assert len(record.theories) == 3 and min(record.accuracy) == 1.0
    assert len(pooled.theories) == 3 and min(pooled.accuracy) == 1.0
    # Each fold's theory is what learning on that fold's training examples gives.
    train = [{e: pos[e] for j in (1, 2) for e in folds.pos_fold[j]},
             {e: neg[e] for j in (1, 2) for e in folds.neg_fold[j]}]
    alone = vantor.vantor_learn(*train, "BK.pl", verbose=True, search="refine").hypothesis
    assert record.theories[0] == alone
