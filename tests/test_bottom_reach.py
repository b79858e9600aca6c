"""Facts reached through any argument position, and numbers taken as values."""
import pickle
import random

import pytest

from vantor import bottom_clause, bottom_clause_generation, bottom_clauses_for_set
from literal_scan_reach import literal_bottom_clause_reach
from test_bottom_clause import case

MODES = [("first", "constant"), ("any", "constant"), ("first", "variable"), ("any", "variable")]


@pytest.mark.parametrize("follow, numbers", MODES)
@pytest.mark.parametrize("seed", range(3))
def test_indexed_builder_matches_plain_scan_in_every_mode(follow, numbers, seed, tmp_path):
    rng = random.Random(1000 + seed)
    for n in range(400):
        source, example, depth, constant = case(rng, tmp_path)
        expected = literal_bottom_clause_reach(source, example, depth, constant, follow, numbers)
        got = bottom_clause(source, example, depth, constant, follow=follow, numbers=numbers)
        assert got == expected, (n, source, example, depth, constant)


SCHOOL = ["teaches(logic,ann).", "room(logic,r1).", "age(ann,41).", "likes(bob,ann)."]


@pytest.mark.parametrize("lines, example, depth, follow, numbers, expected", [
    # A fact whose known term sits in a later position is taken only with "any".
    (SCHOOL, "busy(ann)", 1, "first", "constant", ["age(A,41)"]),
    # logic becomes known on the teaches line: room is taken in the same pass.
    (SCHOOL, "busy(ann)", 1, "any", "constant",
     ["teaches(B,A)", "room(B,C)", "age(A,41)", "likes(D,A)"]),
    # room(logic,r1) comes before logic is known: the next pass takes it.
    (SCHOOL[1:] + SCHOOL[:1], "busy(ann)", 1, "any", "constant",
     ["age(A,41)", "likes(B,A)", "teaches(C,A)"]),
    (SCHOOL[1:] + SCHOOL[:1], "busy(ann)", 2, "any", "constant",
     ["age(A,41)", "likes(B,A)", "teaches(C,A)", "room(C,D)"]),
    # Numbers as values: the measured value links two literals.
    (["size(c1,0.3).", "small(0.3).", "small(0.9)."], "obj(c1)", 1, "first", "variable",
     ["size(A,B)", "small(B)"]),
    (["size(c1,0.3).", "small(0.3).", "small(0.9)."], "obj(c1)", 1, "first", "constant",
     ["size(A,0.3)"]),
    # A number of the example is the variable of its position, as in the head.
    (["g(3,x).", "h(x,3)."], "f(a,3)", 1, "first", "variable", ["g(B,C)", "h(C,B)"]),
    (["g(3,x).", "h(x,3)."], "f(a,3)", 1, "first", "constant", ["g(3,C)", "h(C,3)"]),
    (["g(3,x).", "h(y,3)."], "f(a,3)", 1, "any", "variable", ["g(B,C)", "h(D,B)"]),
    # Upper-case arguments stay literal whatever the mode.
    (["p(a,X,2)."], "f(a)", 1, "any", "variable", ["p(A,X,B)"]),
])
def test_listed_cases(lines, example, depth, follow, numbers, expected):
    assert literal_bottom_clause_reach(lines, example, depth, [], follow, numbers) == expected
    assert bottom_clause(lines, example, depth, [], follow=follow, numbers=numbers) == expected


def test_constant_set_members_stay_literal_when_numbers_are_values():
    lines = ["age(ann,3).", "score(3,ann).", "age(bob,4)."]
    got = bottom_clause(lines, "p(ann)", 1, ["3"], numbers="variable")
    assert got == ["age(A,3)", "score(3,A)"]
    # Without the constant set, 3 is a value the two facts share.
    assert bottom_clause(lines, "p(ann)", 1, [], numbers="variable") == ["age(A,B)", "score(B,A)"]


def test_defaults_are_the_first_argument_and_literal_numbers():
    lines = SCHOOL + ["size(ann,0.5).", "small(0.5)."]
    assert (bottom_clause(lines, "busy(ann)", 2, [])
            == bottom_clause(lines, "busy(ann)", 2, [], follow="first", numbers="constant")
            == ["age(A,41)", "size(A,0.5)"])


def test_generation_passes_both_switches_to_both_sets(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    pos, neg = bottom_clause_generation(
        file=SCHOOL + ["size(bob,2)."], container="memory", positive_example=["busy(ann)."],
        negative_example=["busy(bob)."], depth=1, tqdm_disable=True, follow="any", numbers="variable")
    assert pos == {"busy(ann).": ["teaches(B,A)", "room(B,C)", "age(A,D)", "likes(E,A)", "size(E,F)"]}
    assert neg == {"busy(bob).": ["likes(A,B)", "size(A,C)"]}
    name = bottom_clauses_for_set(SCHOOL, [], 1, ["busy(ann)."], "stored", "dict", True,
                                  follow="any")
    with open(name, "rb") as stream:
        assert pickle.load(stream) == {
            "busy(ann).": ["teaches(B,A)", "room(B,C)", "age(A,41)", "likes(D,A)"]}


@pytest.mark.parametrize("parameter, value, allowed", [
    ("follow", "all", "'first', 'any'"),
    ("follow", "First", "'first', 'any'"),
    ("numbers", "threshold", "'constant', 'variable', 'compare'"),
    ("numbers", "", "'constant', 'variable'"),
])
def test_values_outside_the_sets_are_refused(parameter, value, allowed, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    calls = [
        lambda: bottom_clause(SCHOOL, "busy(ann)", 1, [], **{parameter: value}),
        lambda: bottom_clauses_for_set(SCHOOL, [], 1, ["busy(ann)."], "out", "dict", True,
                                       **{parameter: value}),
        lambda: bottom_clause_generation(file=SCHOOL, positive_example=["busy(ann)."],
                                         negative_example="", **{parameter: value}),
    ]
    for call in calls:
        with pytest.raises(ValueError, match=f"{parameter} must be one of {allowed}"):
            call()
    # Refused before any dictionary file is written.
    assert not (tmp_path / "out").exists()
    assert not (tmp_path / "positive_bottom_clause").exists()


@pytest.mark.parametrize("parameter", ["follow", "numbers"])
@pytest.mark.parametrize("value", [None, 1, ["any"]])
def test_non_text_values_are_type_errors_naming_the_choices(parameter, value):
    with pytest.raises(TypeError, match=parameter + ".*one of the texts"):
        bottom_clause(SCHOOL, "busy(ann)", 1, [], **{parameter: value})
