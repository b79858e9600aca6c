import os
import random
import shutil

import pytest

import vantor
from vantor import learn

FAMILY = os.path.join(os.path.dirname(__file__), "..", "examples", "family")


@pytest.fixture
def family(tmp_path, monkeypatch):
    for name in ("BK.pl", "pos_example.f", "neg_example.n"):
        shutil.copy(os.path.join(FAMILY, name), tmp_path / name)
    monkeypatch.chdir(tmp_path)
    return vantor.bottom_clause_generation(container="memory", tqdm_disable=True)


def test_family_learns_grandparent(family, capsys):
    pos, neg = family
    result = vantor.vantor_learn(pos, neg)
    assert result.hypothesis == ["grandparent(A,B):-parent(A,C),parent(C,B)"]
    assert result.accuracy == 1.0 and result.fscore == 1.0
    assert isinstance(result.time_learn, float)
    out = capsys.readouterr().out
    assert out.startswith("+----------+ Hypothesis +----------+\n"
                          "['grandparent(A,B):-parent(A,C),parent(C,B)']\n")
    assert not os.path.exists("copy_bk.pl")


def test_verbose_prints_nothing(family, capsys):
    pos, neg = family
    vantor.vantor_learn(pos, neg, verbose=True)
    captured = capsys.readouterr()
    assert captured.out == "" and captured.err == ""


def test_meta_rule_replaces_generated_templates(family):
    pos, neg = family
    result = vantor.vantor_learn(pos, neg, meta_rule=["P(A,B):-Q(A,B)"], verbose=True)
    assert result.hypothesis == []


def test_sampled_bottom_clauses_are_sorted_in_place():
    pos = {f"f(a{i},b)": ["q(A,C)", "p(C,B)", "p(A,C)"] for i in range(3)}
    neg = {"f(x,y)": ["p(A,B)"]}
    learn._learn_stages(pos, neg, key_size=3, verbose=True)
    assert all(v == ["p(A,C)", "p(C,B)", "q(A,C)"] for v in pos.values())


@pytest.mark.parametrize("pos, kwargs, error, match", [
    ({}, {}, IndexError, "Training_pos is empty"),
    ({"f(a,b)": ["p(A,B)"], "f(c,d)": ["p(A,B)"]}, {"key_size": 5}, ValueError, r"5.*2|2.*5"),
    ("positive_bottom_clause", {}, TypeError, "read_pickle"),
])
def test_bad_input(pos, kwargs, error, match):
    with pytest.raises(error, match=match):
        vantor.vantor_learn(pos, {"f(x,y)": []}, verbose=True, **kwargs)


def random_task(rng, n):
    preds = {"p": 2, "q": 2, "r": 1, "s": 2}
    def bk(tag):
        out = {}
        for i in range(n):
            bc = []
            for _ in range(rng.randint(1, 8)):
                name = rng.choice(list(preds))
                lit = f"{name}({','.join(rng.choice('ABCDE') for _ in range(preds[name]))})"
                if lit not in bc:
                    bc.append(lit)
            out[f"f({tag}{i},b{i})"] = bc
        return out
    return bk("a"), bk("n")


@pytest.mark.parametrize("seed", range(8))
@pytest.mark.parametrize("options", [
    dict(),
    dict(optimize=True, rule_noise_check=True, max_neg=1),
    dict(max_literals=3, exact_literals=True, recursive=True),
    dict(reduce_bc=True, bc_count=1, set_chain=True, distinct=True),
])
def test_driver_runs_the_public_stages_in_order(seed, options):
    rng = random.Random(seed)
    pos, neg = random_task(rng, 12)
    pos2 = {k: list(v) for k, v in pos.items()}
    o = dict(min_pos=1, max_neg=0, max_literals=2, exact_literals=False, key_size=[], distinct=False,
             optimize=False, reduce_bc=False, bc_count=20, set_chain=False, pi=False,
             recursive=False, rule_noise_check=False)
    o.update(options)

    random.seed(seed)
    H, _, _ = learn._learn_stages(pos, neg, constant_set=[], meta_rule=[], verbose=True, **o)

    random.seed(seed)
    head = "f(A,B)"
    table = vantor.predicate_arity_table(pos2, neg, len(pos2), len(pos2), o["key_size"])
    relation = vantor.relation_chains(pos2, len(pos2), [], o["key_size"], o["set_chain"])
    templates = vantor.generate_hypotheses(pos2, [], o["max_literals"], o["exact_literals"], o["key_size"])
    theory = vantor.apply_meta_rules(head, templates, table, relation, o["distinct"])
    theory = sorted(theory, key=len, reverse=True)
    args = ([], o["optimize"], True, o["reduce_bc"], o["bc_count"], o["rule_noise_check"])
    fp, hd, rd = vantor.compute_coverage(pos2, head, theory, table, {}, {}, *args)
    fn, hd, rd = vantor.compute_coverage(neg, head, theory, table, hd, rd, *args)
    p1 = vantor.filter_by_min_pos(fp, o["min_pos"])
    p2 = vantor.filter_by_max_neg(p1, fn, o["max_neg"])
    want = vantor.select_theory(p1, p2, len(pos2), len(neg), "accuracy", True, o["pi"], o["recursive"])
    assert H == want
    assert pos == pos2
