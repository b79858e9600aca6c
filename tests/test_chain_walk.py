"""The chain walk that orders a rule's body first argument to last argument.

normalise_rule and chain_rule_body share it; they differ in when they stop
(a fixed budget of passes against "stop after the pass that reached the
head's last argument, or after a pass that added nothing") and in what they
do with a chain that never gets there (dropped against kept as far as it got).
"""
import random

import pytest

from vantor import chain_rule_body, normalise_rule

import literal_learn as ref


@pytest.mark.parametrize("rule, normalised, chained", [
    # Reaches the stop mid-pass: the budget walks on and appends s(B,D),
    # chain_rule_body stops after the pass that got there.
    ("p(A,B):-q(A,C)&s(B,D)&r(C,B)",
     ["p(A,B):-q(A,C)&r(C,B)&s(B,D)"], ["p(A,B):-q(A,C)&r(C,B)"]),
    # Never reaches the head's last argument: dropped, or kept as far as it got.
    ("p(A,B):-q(A,C)&r(D,B)", [], ["p(A,B):-q(A,C)"]),
    # A repeated body literal is walked once.
    ("p(A,B):-q(A,C)&r(C,D)&r(C,D)&t(D,B)",
     ["p(A,B):-q(A,C)&r(C,D)&t(D,B)"], ["p(A,B):-q(A,C)&r(C,D)&t(D,B)"]),
    # The first sorted literal already holds the head's terms (in any order).
    # Sorting by first argument puts r(A,C) first; q(B,A) never links.
    ("p(A,B):-q(B,A)&r(A,C)", [], ["p(A,B):-r(A,C)"]),
    ("p(A,B):-r(C,D)&q(B,A)", ["p(A,B):-q(B,A)"], ["p(A,B):-q(B,A)"]),
    # Several links in one pass, in the order the waiting literals stand.
    ("p(A,E):-a(A,B)&b(B,C)&c(C,D)&d(D,E)",
     ["p(A,E):-a(A,B)&b(B,C)&c(C,D)&d(D,E)"], ["p(A,E):-a(A,B)&b(B,C)&c(C,D)&d(D,E)"]),
    # Links that only become available in a later pass (sorted order puts
    # the later link first).
    ("p(A,Z):-a(A,Y)&c(X,Z)&b(Y,X)",
     ["p(A,Z):-a(A,Y)&b(Y,X)&c(X,Z)"], ["p(A,Z):-a(A,Y)&b(Y,X)&c(X,Z)"]),
])
def test_walk_stops_and_keeps(rule, normalised, chained):
    assert normalise_rule([rule]) == normalised == ref.normalise_rule([rule])
    assert chain_rule_body([rule]) == chained


def test_walk_budget_runs_out_before_a_late_link():
    # Every pass looks at the waiting literals once; with many that never
    # link, the budget is spent before a link that would need further passes.
    rule = "p(A,Z):-a(A,B)&e(B,C)&d(C,D)&c(D,E)&b(E,Z)&x1(F,G)&x2(H,I)"
    assert normalise_rule([rule]) == ref.normalise_rule([rule])
    assert chain_rule_body([rule]) == ["p(A,Z):-a(A,B)&e(B,C)&d(C,D)&c(D,E)&b(E,Z)"]


def test_rules_without_a_chain():
    # chain_rule_body keeps the first literal under a head without
    # arguments; normalise_rule refuses it, and both refuse a body literal
    # without arguments.
    assert chain_rule_body(["p:-q(A,B)&r(B,C)"]) == ["p:-q(A,B)"]
    with pytest.raises(IndexError):
        normalise_rule(["p:-q(A,B)&r(B,C)"])
    for walk in (normalise_rule, chain_rule_body):
        with pytest.raises(IndexError):
            walk(["p(A,B):-q&r(A,B)"])


def test_walk_matches_the_reference_on_random_chains():
    rng = random.Random(7)
    terms = "ABCDEF"
    for _ in range(400):
        body = [f"{rng.choice('qrs')}({rng.choice(terms)},{rng.choice(terms)})"
                for _ in range(rng.randint(1, 6))]
        rule = "p(A,B):-" + "&".join(body)
        assert normalise_rule([rule]) == ref.normalise_rule([rule]), rule
        chained = chain_rule_body([rule])[0]
        # The chain holds body literals only, each linked to the one before
        # it by last argument to first argument.
        links = chained.split(":-")[1].split("&")
        assert set(links) <= set(body), rule
        for left, right in zip(links, links[1:]):
            assert left[:-1].split(",")[-1] == right.split("(")[1].split(",")[0], rule
