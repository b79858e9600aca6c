"""Bounded bottom clauses: reach="hops" against a breadth-first walk over facts."""
import random
from collections import Counter

import pytest

from vantor import bottom_clause, bottom_clause_generation, variable_name
from vantor.estimator import Learner
from literal_scan_reach import literal_bottom_clause_reach


def hops_reference(facts, example, depth, follow, recall):
    """Step k takes, for each term reached in step k - 1 (in the order
    reached), the facts holding it (first argument only under "first"), at
    most `recall` per predicate in file order; then writes their literals."""
    predicate, args = example
    known = {}
    for position, term in enumerate(args):
        known.setdefault(term, position)
    count, frontier = len(args), list(dict.fromkeys(args))
    taken, literals = set(), []
    for _ in range(depth):
        batch = []
        for term in frontier:
            per_predicate = Counter()
            for line, (name, fact_args) in enumerate(facts):
                if term not in (fact_args[:1] if follow == "first" else fact_args):
                    continue
                per_predicate[name] += 1
                if per_predicate[name] <= recall and line not in taken:
                    taken.add(line)
                    batch.append(line)
        frontier = []
        for line in batch:
            name, fact_args = facts[line]
            for term in fact_args:
                if term not in known:
                    known[term] = count
                    count += 1
                    frontier.append(term)
            literal = f"{name}({','.join(variable_name(known[t]) for t in fact_args)})"
            if literal not in literals:
                literals.append(literal)
    return literals


def random_graph(rng):
    people = [f"n{i}" for i in range(rng.randint(2, 12))]
    facts = []
    for _ in range(rng.randint(0, 30)):
        name = rng.choice(["p", "q", "r"])
        arity = 1 if name == "r" else 2
        facts.append((name, tuple(rng.choice(people) for _ in range(arity))))
    if facts and rng.random() < 0.3:
        facts.append(rng.choice(facts))  # the same fact on two lines
    # "zz" stands for an example term absent from the background.
    example = ("t", (rng.choice(people + ["zz"]), rng.choice(people)))
    return facts, example


def fact_texts(facts):
    return [f"{name}({','.join(args)})." for name, args in facts]


@pytest.mark.parametrize("follow", ["first", "any"])
def test_hops_match_breadth_first_reference_on_random_graphs(follow):
    rng = random.Random(19)
    for n in range(400):
        facts, example = random_graph(rng)
        depth = rng.choice([1, 2, 3])
        recall = rng.choice([1, 2, 100])
        text = f"{example[0]}({','.join(example[1])})."
        got = bottom_clause(fact_texts(facts), text, depth, [], follow=follow, reach="hops",
                            recall=recall)
        assert got == hops_reference(facts, example, depth, follow, recall), (n, facts, text)


CHAIN = ["parent(ann,bob).", "parent(bob,carl).", "parent(carl,dan).", "parent(dan,eve)."]


def test_depth_counts_steps_not_passes():
    # One pass of the scan follows the chain to its end; one step does not.
    assert bottom_clause(CHAIN, "anc(ann)", 1, []) == [
        "parent(A,B)", "parent(B,C)", "parent(C,D)", "parent(D,E)"]
    assert bottom_clause(CHAIN, "anc(ann)", 0, [], reach="hops") == "anc(A)"
    assert bottom_clause(CHAIN, "anc(ann)", 1, [], reach="hops") == ["parent(A,B)"]
    assert bottom_clause(CHAIN, "anc(ann)", 2, [], reach="hops") == ["parent(A,B)", "parent(B,C)"]
    assert bottom_clause(CHAIN, "anc(ann)", -1, [], reach="hops") == []


def test_recall_keeps_a_hub_from_pulling_in_the_graph():
    hub = [f"likes(p{i},star)." for i in range(500)] + ["likes(ann,star).", "age(ann,7)."]
    got = bottom_clause(hub, "fan(ann)", 2, [], follow="any", reach="hops", recall=3)
    # Step 1: ann's facts; step 2: star brings its first three likes facts.
    assert got == ["likes(A,B)", "age(A,7)", "likes(C,B)", "likes(D,B)", "likes(E,B)"]
    assert len(bottom_clause(hub, "fan(ann)", 2, [], follow="any", reach="hops",
                             recall=None)) == 502
    with pytest.raises(ValueError, match="recall must be None or a number of facts >= 1"):
        bottom_clause(hub, "fan(ann)", 2, [], reach="hops", recall=0)
    with pytest.raises(ValueError, match="reach must be one of 'passes', 'hops'"):
        bottom_clause(hub, "fan(ann)", 2, [], reach="steps")


def test_constant_set_members_lead_facts_as_in_the_scan():
    lines = ["score(3,ann).", "score(3,bob).", "knows(bob,carl)."]
    assert bottom_clause(lines, "p(ann)", 2, ["3"], reach="hops") == ["score(3,A)"]
    assert bottom_clause(lines, "p(bob)", 2, ["3"], reach="hops") == ["score(3,A)",
                                                                       "knows(A,B)"]


def test_default_stays_the_scan_and_hops_reach_every_entry_point(tmp_path):
    rng = random.Random(7)
    for _ in range(100):
        facts, example = random_graph(rng)
        text = f"{example[0]}({','.join(example[1])})."
        path = tmp_path / "BK.pl"
        path.write_text("\n".join(fact_texts(facts)) + "\n")
        expected = literal_bottom_clause_reach(str(path), text, 2, [], "first", "constant")
        assert bottom_clause(str(path), text, 2, []) == expected
        assert bottom_clause(str(path), text, 2, [], reach="passes", recall=1) == expected
    pos, neg = bottom_clause_generation(CHAIN, "memory", ["anc(ann).", "anc(ann)."], ["anc(carl)."],
                                        depth=2, tqdm_disable=True, reach="hops", recall=1)
    assert pos == {"anc(ann).": ["parent(A,B)", "parent(B,C)"]}
    assert neg == {"anc(carl).": ["parent(A,B)", "parent(B,C)"]}
    learner = Learner(CHAIN, reach="hops", recall=5)
    assert learner.get_params()["reach"] == "hops" and learner._reach() == "hops"
    # Left unset, the Learner bounds its bottom clauses unless told to choose nothing.
    assert Learner().reach is None and Learner()._reach() == "hops"
    assert Learner(auto=False)._reach() == "passes"


def test_command_line_passes_reach_and_recall(tmp_path, monkeypatch, capsys):
    import json

    from vantor import cli

    monkeypatch.chdir(tmp_path)
    (tmp_path / "BK.pl").write_text("\n".join(CHAIN) + "\n")
    (tmp_path / "pos.f").write_text("anc(ann).\n")
    (tmp_path / "neg.n").write_text("anc(eve).\n")
    longest = {}
    for reach in ("passes", "hops"):
        assert cli.main(["bottom", "BK.pl", "pos.f", "neg.n", "--depth", "1", "--reach", reach,
                         "--json"]) == 0
        longest[reach] = json.loads(capsys.readouterr().out)["positive_bottom_clause"]["longest"]
    assert longest == {"passes": 4, "hops": 1}
    args = cli.build_parser().parse_args(["cv", "BK.pl", "pos.f", "neg.n", "--reach", "hops",
                                          "--recall", "all"])
    assert {k: cli._learner(args).get_params()[k] for k in ("reach", "recall")} == {
        "reach": "hops", "recall": None}
