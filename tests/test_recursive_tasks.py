"""Recursive candidates and the generated recursive tasks: the variants each
rule gives, and that every task's known theory is learned from its data."""
import filecmp
import os
import random
import subprocess
import sys

import pytest

import vantor
from vantor import _core

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
DATA = os.path.join(HERE, "data")

SG = "same_generation"


def test_single_literal_variants_keep_the_path_steps():
    got = _core._recursive_variants(["path(A,B):-edge(A,C)&edge(C,B)", "path(A,B):-edge(A,B)"])
    assert got == ["path(A,B):-path(A,C)&edge(C,B)", "path(A,B):-edge(A,C)&path(C,B)"]


def test_pair_joined_by_a_private_variable_becomes_one_call():
    rule = f"{SG}(A,B):-child(A,C)&child(B,D)&child(C,E)&child(D,E)"
    got = _core._recursive_variants([rule])
    assert f"{SG}(A,B):-child(A,C)&child(B,D)&{SG}(C,D)" in got
    # child(A,C)&child(C,E) is joined by C alone as well: A's grandparent E.
    assert f"{SG}(A,B):-{SG}(A,E)&child(B,D)&child(D,E)" in got
    # child(B,D)&child(C,E) share nothing; child(A,C)&child(B,D) neither.
    assert not any(f"{SG}(B,C)" in v or f"{SG}(A,B)" in v.split(":-")[1] for v in got)


def test_pair_variants_are_left_out_where_they_would_be_circular_or_unlinked():
    # child(A,C)&child(B,C): the call would be over head variables alone.
    got = _core._recursive_variants([f"{SG}(A,B):-child(A,C)&child(B,C)"])
    assert got == [f"{SG}(A,B):-{SG}(A,C)&child(B,C)", f"{SG}(A,B):-child(A,C)&{SG}(B,C)"]
    # The shared variable occurs in a third literal: not a private link.
    got = _core._recursive_variants([f"{SG}(A,B):-child(A,C)&child(B,D)&child(C,E)&child(D,E)&age(E,F)"])
    assert not any(f"{SG}(C,D)" in v for v in got)
    # The shared variable is in the head.
    got = _core._recursive_variants(["t(A,B):-p(A,C)&q(C,D)&r(B,A)"])
    assert "t(A,B):-t(A,D)&r(B,A)" not in got
    # Unary targets get no pair variants.
    assert _core._recursive_variants(["t(A):-p(A,C)&q(C,D)&r(D,E)"]) == []


def test_calls_with_a_variable_of_their_own_are_left_out():
    # path(D,B) would only ask whether some positive ends in B.
    got = _core._recursive_variants(["path(A,B):-edge(A,C)&edge(D,B)"])
    assert got == []
    got = _core._recursive_variants(["path(A,B):-edge(A,C)&edge(C,D)&edge(D,B)"])
    assert "path(A,B):-path(A,D)&edge(D,B)" in got  # pair edge(A,C)&edge(C,D)


def test_no_variant_repeats_a_rule_or_another_variant():
    rules = ["p(A,B):-q(A,C)&q(C,B)", "p(A,B):-q(A,C)&q(C,B)", "p(A,B):-p(A,C)&q(C,B)"]
    got = _core._recursive_variants(rules)
    assert len(got) == len(set(got))
    assert not set(got) & set(rules)


# task: (options, known theory)
TASKS = {
    "path": ({}, {"path(A,B):-path(A,C),edge(C,B)", "path(A,B):-edge(A,B)"}),
    "ancestor": ({}, {"ancestor(A,B):-ancestor(A,C),parent(C,B)", "ancestor(A,B):-parent(A,B)"}),
    SG: ({"max_literals": 4}, {f"{SG}(A,B):-child(A,C),child(B,D),{SG}(C,D)",
                               f"{SG}(A,B):-child(A,C),child(B,C)"}),
    "updown": ({"max_literals": 3}, {"sg(A,B):-down(C,B),sg(D,C),up(A,D)", "sg(A,B):-flat(A,B)"}),
}


@pytest.mark.parametrize("task", sorted(TASKS))
def test_known_theory_is_learned_exactly(task):
    options, known = TASKS[task]
    folder = os.path.join(DATA, task)
    random.seed(0)
    pos, neg = vantor.bottom_clause_generation(
        file=os.path.join(folder, "BK.pl"), container="memory", tqdm_disable=True,
        positive_example=os.path.join(folder, "pos_example.f"),
        negative_example=os.path.join(folder, "neg_example.n"))
    random.seed(0)
    r = vantor.vantor_learn(pos, neg, file=os.path.join(folder, "BK.pl"), verbose=True, recursive=True,
                            coverage="prolog", selection="cover", **options)
    assert set(r.hypothesis) == known
    assert r.accuracy == 1.0


def test_same_generation_needs_the_pair_variant():
    # Without it the best theory stops at cousins.
    folder = os.path.join(DATA, SG)
    random.seed(0)
    pos, _ = vantor.bottom_clause_generation(
        file=os.path.join(folder, "BK.pl"), container="memory", tqdm_disable=True,
        positive_example=os.path.join(folder, "pos_example.f"),
        negative_example=os.path.join(folder, "neg_example.n"))
    from vantor._options import learn_options
    random.seed(0)
    rules, _ = _core._formed_rules(pos, learn_options(max_literals=4, coverage="prolog", recursive=True))
    wanted = f"{SG}(A,B):-child(A,C)&child(B,D)&{SG}(C,D)"
    assert wanted not in rules
    assert wanted in _core._recursive_variants(rules)


def test_generated_tasks_are_reproduced_and_labelled_by_their_theory(tmp_path):
    subprocess.run([sys.executable, os.path.join(REPO, "scripts", "make_recursive_tasks.py"),
                    "--out", str(tmp_path)], check=True)
    for task in ("ancestor", SG, "updown"):
        for name in ("BK.pl", "pos_example.f", "neg_example.n", "README.md"):
            assert filecmp.cmp(tmp_path / task / name, os.path.join(DATA, task, name), shallow=False), \
                (task, name)
        pos = set(open(tmp_path / task / "pos_example.f").read().split())
        neg = set(open(tmp_path / task / "neg_example.n").read().split())
        assert pos and len(neg) == len(pos) and not pos & neg
