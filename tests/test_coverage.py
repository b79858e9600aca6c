import random

import pytest

import vantor
from vantor import compute_coverage, match_literals, normalise_rule, rename_variables

import literal_learn as ref

HEAD = "f(A,B)"


def cover(BK, BT, hypo=None, rules=None, constant=(), optimize=False, reduce_bc=False,
          bc_count=20, noise=False):
    hypo = {} if hypo is None else hypo
    rules = {} if rules is None else rules
    return compute_coverage(BK, HEAD, BT, {}, hypo, rules, list(constant), optimize, True,
                            reduce_bc, bc_count, noise)


def test_first_order_met_fixes_rule_text_for_later_candidates():
    BK = {"f(a,b)": ["p(A,C)", "q(C,B)"]}
    final, hypo, rules = cover(BK, ["f(A,B):-p(X,Y)&q(Y,Z)", "f(A,B):-q(X,Y)&p(Y,Z)"])
    assert final == [["f(A,B):-p(A,C)&q(C,B)"]]
    assert rules[("p(A,C)", "q(C,B)")] == "f(A,B):-p(A,C)&q(C,B)"
    assert list(rules) == [("p(A,C)", "q(C,B)")]


def test_caches_extended_in_place_and_same_objects_returned():
    BK = {"f(a,b)": ["p(A,C)", "q(C,B)"], "f(c,d)": ["p(A,B)"]}
    hypo, rules = {}, {}
    final, h2, r2 = cover(BK, ["f(A,B):-p(X,Y)"], hypo, rules)
    assert h2 is hypo and r2 is rules
    assert final[0] is hypo["f(a,b)"] and final[1] is hypo["f(c,d)"]
    assert final == [["f(A,B):-p(A,C)"], ["f(A,B):-p(A,B)"]]
    # A second call takes every list from the cache: the very objects.
    again, _, _ = cover(BK, ["f(A,B):-q(X,Y)"], hypo, rules)
    assert again[0] is final[0] and again[1] is final[1]


def test_caller_rule_entries_are_honoured():
    BK = {"f(a,b)": ["p(A,C)", "q(C,B)"]}
    rules = {("p(A,C)", "q(C,B)"): "f(A,B):-q(C,B)&p(A,C)", ("p(A,C)",): []}
    final, _, _ = cover(BK, ["f(A,B):-p(X,Y)&q(Y,Z)", "f(A,B):-p(X,Y)"], rules=rules)
    assert final == [["f(A,B):-q(C,B)&p(A,C)"]]


@pytest.mark.parametrize("BT, bc, expected", [
    ([], ["p(A,B)"], [[]]),
    (["f(A,B):-r(X,Y)"], ["p(A,B)"], [[]]),                       # predicate absent
    (["f(A,B):-p(X,Y)&p(Y,Z)"], ["p(A,C)"], [[]]),                # second chunk empty
    (["f(A,B):-p(X,Y)&q(Y,Z)"], ["p(A,C)", "q(D,E)"], [[]]),      # q not linked
    (["f(A,B):-p(X,Y)"], ["p(A,A)"], [[]]),                       # repeated argument
    (["f(A,B):-p(X,Y)&p(Y,Z)"], ["p(A,C)", "p(C,B)"], [["f(A,B):-p(A,C)&p(C,B)"]]),
])
def test_edge_cases(BT, bc, expected):
    final, hypo, _ = cover({"f(a,b)": bc}, BT)
    assert final == expected and hypo == {"f(a,b)": expected[0]}


def test_second_literal_linked_only_through_a_later_one_is_discarded():
    final, _, _ = cover({"e": ["p(A,C)", "r(D,E)", "q(C,D)"]}, ["f(A,B):-p(X,Y)&r(Y,Z)&q(Z,W)"])
    assert final == [[]]


def test_reduce_bc_keeps_a_bottom_clause_no_longer_than_bc_count():
    # Nothing to reduce: the whole clause is used and nothing is drawn.
    state = random.getstate()
    final, _, _ = cover({"f(x,y)": ["p(A,B)", "q(B,C)"]}, ["f(A,B):-p(X,Y)"], reduce_bc=True, bc_count=3)
    assert final == [["f(A,B):-p(A,B)"]] and random.getstate() == state
    final, _, _ = cover({"f(x,y)": ["p(A,B)"]}, ["f(A,B):-p(X,Y)"], reduce_bc=True, bc_count=1)
    assert final == [["f(A,B):-p(A,B)"]]


def test_file_name_instead_of_dict():
    with pytest.raises(TypeError, match="read_pickle"):
        cover("positive_bottom_clause", ["f(A,B):-p(X,Y)"])


@pytest.mark.parametrize("hypo, expected", [
    ([["f(X,Y)", "p(X,Z)", "q(Z,Y)"]], "f(A,B):-p(A,C)&q(C,B)"),
    ([["f(X,a)", "p(X,1)"]], "f(A,a):-p(A,1)"),
    ([["f(X,Y)", "p(X,Y)", "p(X,Y)"]], []),
])
def test_rename_variables(hypo, expected):
    assert rename_variables(hypo) == expected


def test_match_literals_examples():
    assert match_literals([["p(A,B)", "p(A,C)"]], []) == [["p(A,B)"]]
    assert match_literals([["p(A,B)", "p(A,C)"], ["q(C,D)"]], []) == [["p(A,B)"], ["q(B,D)"]]
    assert match_literals([["p(a,B)", "p(b,C)"]], []) == [["p(a,B)", "p(b,C)"]]


@pytest.mark.parametrize("rule, expected", [
    ("f(A,B):-p(A,C)&q(C,B)&r(D,E)", ["f(A,B):-p(A,C)&q(C,B)"]),
    ("f(A,B):-p(A,B)&q(B,C)", ["f(A,B):-p(A,B)"]),
    ("f(A,B):-p(A,C)&q(C,D)", []),
    ("f(A,B):-p(A,C)&q(C,B)&r(B,D)", ["f(A,B):-p(A,C)&q(C,B)&r(B,D)"]),
    ("f(A,B):-q(C,B)&p(A,C)", ["f(A,B):-p(A,C)&q(C,B)"]),
])
def test_normalise_rule(rule, expected):
    assert normalise_rule([rule]) == expected == ref.normalise_rule([rule])


# ---- property tests against the literal implementation -------------------

PREDS = {"p": 2, "q": 2, "r": 3, "s": 1}


def random_literal(rng):
    name = rng.choice(list(PREDS))
    pool = "ABCDEF" if rng.random() < 0.9 else "ABCDEFa1"
    return f"{name}({','.join(rng.choice(pool) for _ in range(PREDS[name]))})"


def random_bk(rng, n, tag):
    out = {}
    for i in range(n):
        bc = []
        for _ in range(rng.randint(0, 9)):
            lit = random_literal(rng)
            if lit not in bc:
                bc.append(lit)
        out[f"f({tag}{i},b)"] = bc
    return out


def random_candidates(rng):
    out = []
    for _ in range(rng.randint(1, 6)):
        body = [rng.choice(list(PREDS)) for _ in range(rng.randint(1, 3))]
        out.append("f(A,B):-" + "&".join(f"{p}(X{i},Y{i})" for i, p in enumerate(body)))
    return out


@pytest.mark.parametrize("optimize, noise, constant", [
    (False, False, []), (True, False, []), (False, True, []), (True, True, ["A"]), (False, False, ["C"]),
])
@pytest.mark.parametrize("seed", range(12))
def test_two_passes_with_shared_caches_match_literal_version(seed, optimize, noise, constant):
    rng = random.Random(seed)
    pos, neg = random_bk(rng, 8, "a"), random_bk(rng, 8, "n")
    neg[next(iter(pos))] = ["p(A,B)"]  # an example text in both sets
    BT = random_candidates(rng)
    h1, r1 = {}, {}
    fp, _, _ = compute_coverage(pos, HEAD, BT, {}, h1, r1, constant, optimize, True, False, 20, noise)
    fn, _, _ = compute_coverage(neg, HEAD, BT, {}, h1, r1, constant, optimize, True, False, 20, noise)
    h2, r2 = {}, {}
    ep, _, _ = ref.compute_coverage(pos, HEAD, BT, h2, r2, constant, optimize, noise)
    en, _, _ = ref.compute_coverage(neg, HEAD, BT, h2, r2, constant, optimize, noise)
    assert (fp, fn) == (ep, en)
    assert list(h1.items()) == list(h2.items())
    assert list(r1.items()) == list(r2.items())


@pytest.mark.parametrize("seed", range(6))
def test_reduce_bc_draws_match_random_sample(seed):
    rng = random.Random(seed)
    pos = {k: v for k, v in random_bk(rng, 10, "a").items() if len(v) >= 3}
    BT = random_candidates(rng)
    random.seed(seed)
    got, _, _ = cover(pos, BT, reduce_bc=True, bc_count=3)
    random.seed(seed)
    want, _, _ = ref.compute_coverage(pos, HEAD, BT, {}, {}, [], False, False,
                                      bk_of=lambda e: random.sample(pos[e], 3))
    assert got == want


def test_error_part_way_keeps_what_was_added(monkeypatch):
    BK = {"f(a,b)": ["p(A,C)", "q(C,B)", "p(A,B)"], "f(x,y)": ["p(A,B)", "q(A,B)", "p(B,A)"]}
    hypo, rules = {}, {}
    random.seed(1)
    draws = []

    def failing_second_draw(population, k):
        draws.append(k)
        if len(draws) == 2:
            raise ValueError("drawing failed for f(x,y)")
        return real_sample(population, k)

    real_sample = random.sample
    monkeypatch.setattr(random, "sample", failing_second_draw)
    with pytest.raises(ValueError, match=r"f\(x,y\)"):
        cover(BK, ["f(A,B):-p(X,Y)"], hypo, rules, reduce_bc=True, bc_count=2)
    assert list(hypo) == ["f(a,b)"] and rules
