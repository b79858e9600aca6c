import random

import pytest

from vantor import (chain_rule_body, filter_by_max_neg, filter_by_min_pos, make_recursive_rules,
                    postprocess_hypotheses, select_theory)

import literal_learn as ref


def test_min_pos_above_examples_gives_empty_theory_without_printing(capsys):
    P = [["f(A,B):-p(A,B)"], ["f(A,B):-p(A,B)"]]
    pos = filter_by_min_pos(P, 3)
    neg = filter_by_max_neg(pos, [[]], 0)
    assert pos == {} and neg == {}
    assert select_theory(pos, neg, 2, 1, "accuracy", False, False, False) == []
    assert capsys.readouterr().out == ""


def test_rule_counts_once_per_example():
    P = [["r1", "r1"], ["r1"], []]
    assert filter_by_min_pos(P, 1) == {"r1": [0, 1]}
    assert filter_by_max_neg({"r1": [0, 1]}, [["r1", "r1"]], 1) == {"r1": [0]}


def test_banner_and_list_notation_unless_verbose(capsys):
    P, N = {"f(A,B):-p(A,C)&q(C,B)": [0]}, {"f(A,B):-p(A,C)&q(C,B)": []}
    out = select_theory(P, N, 1, 1, "accuracy", False, False, False)
    assert out == ["f(A,B):-p(A,C),q(C,B)"]
    assert capsys.readouterr().out == ("+----------+ Hypothesis +----------+\n"
                                       "['f(A,B):-p(A,C),q(C,B)']\n")
    assert select_theory(P, N, 1, 1, "other", True, False, False) == out
    assert capsys.readouterr().out == ""


def test_rule_inside_covered_positives_never_joins():
    P = {"a": [0, 1, 2], "b": [1, 2], "c": [3]}
    N = {"a": [], "b": [], "c": [0]}
    # c adds one positive and one negative: no gain.
    assert select_theory(P, N, 4, 2, "accuracy", True, False, False) == ["a"]
    N["c"] = []
    assert select_theory(P, N, 4, 2, "accuracy", True, False, False) == ["a", "c"]


@pytest.mark.parametrize("P, N, p, n", [
    ({"r": []}, {"r": []}, 1, 1),
    ({"r": [0]}, {"r": []}, 0, 0),
])
def test_division_by_zero(P, N, p, n):
    with pytest.raises(ZeroDivisionError, match="float division by zero"):
        select_theory(P, N, p, n, "accuracy", True, False, False)


def test_pi_returns_rules_unchanged():
    H = ["f(A,B):-p(A,C)&p(C,B)"]
    assert postprocess_hypotheses(H) is H
    assert select_theory({H[0]: [0]}, {H[0]: []}, 1, 0, "", True, True, False) == ["f(A,B):-p(A,C),p(C,B)"]


def test_recursive_option_rewrites():
    r = "f(A,B):-p(A,C)&p(C,B)"
    assert select_theory({r: [0]}, {r: []}, 1, 0, "", True, False, True) == [
        "f(A,B):-p(A,C),f(C,B)", "f(A,B):-p(A,B)"]


@pytest.mark.parametrize("rules, chained, recursive", [
    (["f(A,B):-p(A,C)&p(C,B)"], ["f(A,B):-p(A,C)&p(C,B)"], ["f(A,B):-p(A,C)&f(C,B)", "f(A,B):-p(A,B)"]),
    (["f(A,B):-p(A,C)&p(C,B)", "f(A,B):-p(A,C)&p(C,D)&p(D,B)"], None,
     ["f(A,B):-p(A,C)&f(C,B)", "f(A,B):-p(A,B)"]),
    (["f(A,B):-p(A,B)&q(B,C)"], ["f(A,B):-p(A,B)"], ["f(A,B):-p(A,B)"]),
    (["f(A,B):-p(A,C)&q(C,B)"], ["f(A,B):-p(A,C)&q(C,B)"], []),
    (["f(A,B):-p(A,B)"], ["f(A,B):-p(A,B)"], ["f(A,B):-p(A,B)"]),
    # never reaches B: terminates, keeps the chain walked so far
    (["f(A,B):-p(A,C)&q(C,D)"], ["f(A,B):-p(A,C)&q(C,D)"], []),
    (["f(A,B):-q(C,D)&p(A,C)"], ["f(A,B):-p(A,C)&q(C,D)"], []),
    (["f(A,B):-p(A,C)&r(E,F)"], ["f(A,B):-p(A,C)"], ["f(A,B):-p(A,C)"]),
    # the first literal already ends in B: one pass still keeps the tail from B
    (["f(A,B):-p(A,C,B)&q(B,D)&r(E,F)"], ["f(A,B):-p(A,C,B)&q(B,D)"], []),
    # reaching B does not end the pass: a later literal from B is kept
    (["f(A,C):-p(A,B)&q(B,C)&s(C,D)"], ["f(A,C):-p(A,B)&q(B,C)&s(C,D)"], []),
])
def test_chain_and_recursive(rules, chained, recursive):
    got = chain_rule_body(rules)
    if chained is not None:
        assert got == chained
    assert make_recursive_rules(got) == recursive


def test_recursive_leaves_out_rule_that_cannot_be_written():
    # The step rule's call f(A,B) equals the head: renaming collapses it.
    assert make_recursive_rules(["f(A,B):-p(A,C)&p(A,B)"]) == ["f(A,B):-p(A,B)"]


@pytest.mark.parametrize("seed", range(40))
def test_filters_and_selection_match_literal_version(seed):
    rng = random.Random(seed)
    rules = [f"f(A,B):-p{i}(A,B)" for i in range(rng.randint(1, 12))]
    P = [rng.sample(rules, rng.randint(0, min(4, len(rules)))) for _ in range(rng.randint(1, 15))]
    N = [rng.sample(rules, rng.randint(0, min(3, len(rules)))) for _ in range(rng.randint(0, 15))]
    min_pos, max_neg = rng.randint(0, 3), rng.randint(0, 3)
    pos = filter_by_min_pos(P, max(1, min_pos))
    want_pos = ref.filter_by_min_pos(P, max(1, min_pos))
    assert list(pos.items()) == list(want_pos.items())
    neg = filter_by_max_neg(pos, N, max_neg)
    want_neg = ref.filter_by_max_neg(want_pos, N, max_neg)
    assert list(neg.items()) == list(want_neg.items())
    assert select_theory(pos, neg, len(P), len(N), "accuracy", True, False, False) == \
        ref.select_theory(want_pos, want_neg, len(P), len(N))


def test_negative_key_missing_from_positive_cover():
    with pytest.raises(KeyError):
        select_theory({}, {"r": []}, 1, 1, "accuracy", True, False, False)
