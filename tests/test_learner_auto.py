"""The Learner's default: options chosen from the training examples alone,
given options kept, the choice shown, and nested validation."""
import os
import shutil

import pytest

import vantor
from vantor import Learner, _auto, _learner_auto, cli

FAMILY = os.path.join(os.path.dirname(__file__), "..", "examples", "family")
RULE = "grandparent(A,B):-parent(A,C),parent(C,B)"


@pytest.fixture
def family(tmp_path, monkeypatch):
    for name in ("BK.pl", "pos_example.f", "neg_example.n"):
        shutil.copy(os.path.join(FAMILY, name), tmp_path / name)
    monkeypatch.chdir(tmp_path)
    pos, neg = vantor.read_example("pos_example.f"), vantor.read_example("neg_example.n")
    return pos + neg, [1] * len(pos) + [0] * len(neg)


def test_inner_folds_are_stratified_seeded_and_need_two_of_each_class():
    folds = _auto.inner_folds(10, 7, seed=3)
    assert len(folds) == 5
    assert sorted(i for p, _ in folds for i in p) == list(range(10))
    assert sorted(i for _, n in folds for i in n) == list(range(7))
    assert {len(p) for p, _ in folds} == {2} and {len(n) for _, n in folds} <= {1, 2}
    assert folds == _auto.inner_folds(10, 7, seed=3) != _auto.inner_folds(10, 7, seed=4)
    assert len(_auto.inner_folds(3, 9, seed=0)) == 3
    assert _auto.inner_folds(1, 9, seed=0) == []


def test_default_chooses_by_deepening_and_records_the_choice(family):
    X, y = family
    learner = Learner("BK.pl").fit(X, y)
    assert learner.theory_ == [RULE]
    record = learner.chosen_
    # One body literal cannot say grandparent; two is perfect, so deepening stops there.
    assert record["options"]["max_literals"] == 2
    assert record["options"]["coverage"] == "prolog" and record["given"] == []
    assert record["options"]["reach"] == "hops" and "reach" in record["chosen"]
    assert {"max_literals", "min_precision", "eval_fn", "follow"} <= set(record["chosen"])
    assert record["inner_accuracy"] == 1.0
    learner.save("theory.pl")
    header = vantor.read_theory_header("theory.pl")
    assert header["chosen"] == learner._choice_line() and "max_literals=2" in header["chosen"]
    assert header["options"]["coverage"] == "prolog"
    assert Learner.load("theory.pl").predict(X).tolist() == y


def test_given_options_are_kept_through_clone_and_never_searched(family):
    sklearn_base = pytest.importorskip("sklearn.base")
    X, y = family
    learner = sklearn_base.clone(Learner("BK.pl", max_literals=1, min_precision=0.9))
    assert learner.get_params()["max_literals"] == 1 and learner.get_params()["max_neg"] is None
    learner.fit(X, y)
    record = learner.chosen_
    assert record["given"] == ["max_literals", "min_precision"]
    assert not {"max_literals", "min_precision"} & set(record["chosen"])
    assert record["options"]["min_precision"] == 0.9
    assert all(rule.count("parent(") == 1 for rule in learner.theory_)


def test_auto_false_gives_the_plain_options(family):
    X, y = family
    plain = Learner("BK.pl", auto=False, random_state=0).fit(X, y)
    assert plain.chosen_["chosen"] == [] and plain.chosen_["options"]["coverage"] == "text"
    assert plain.chosen_["options"]["reach"] == "passes"
    pos, neg = vantor.bottom_clause_generation(container="memory", tqdm_disable=True)
    import random

    random.seed(0)
    expected = vantor.vantor_learn(pos, neg, verbose=True)
    assert plain.theory_ == list(expected.hypothesis)
    # Asking for another selection than the cover selection leaves the rest plain too.
    other = Learner("BK.pl", selection="greedy").fit(X, y)
    assert other.chosen_["chosen"] == [] and other.chosen_["options"]["max_literals"] == 2
    assert other.theory_ == [RULE]
    # The search proves as the candidates are proved: asked for, it gets the rest chosen.
    searched = Learner("BK.pl", search="refine").fit(X, y)
    assert searched.chosen_["given"] == ["search"] and "max_literals" in searched.chosen_["chosen"]
    assert searched.chosen_["options"]["reach"] == "hops" and searched.theory_ == [RULE]


def test_the_search_takes_over_rules_the_candidates_cannot_afford(family, monkeypatch):
    X, y = family
    # Forming two-literal candidates over these bottom clauses is "too dear":
    # one-literal rules teach nothing, and the search reaches the rule.
    monkeypatch.setattr(_auto, "FORMING_BUDGET", 10)
    learner = Learner("BK.pl").fit(X, y)
    assert learner.chosen_["options"]["search"] == "refine" and "search" in learner.chosen_["chosen"]
    assert learner.theory_ == [RULE]
    monkeypatch.setattr(_auto, "RELEARNED", ())
    assert Learner("BK.pl").fit(X, y).theory_ != [RULE]


def _spy(monkeypatch):
    """Record the examples each choice learned from and each score saw."""
    seen, scored = [], []
    real_choose, real_score = _learner_auto.choose_setting, Learner.score

    def choose(background, given, bottoms_of, seed):
        choice = real_choose(background, given, bottoms_of, seed)
        seen.append({e.rstrip(".") for part in choice.bottoms for e in part})
        return choice

    def score(self, X, y=None):
        scored.append({e.rstrip(".") for e in X})
        return real_score(self, X, y)

    monkeypatch.setattr(_learner_auto, "choose_setting", choose)
    monkeypatch.setattr(Learner, "score", score)
    return seen, scored


def test_cross_validation_is_nested(family, monkeypatch):
    X, y = family
    seen, scored = _spy(monkeypatch)
    scores = Learner("BK.pl", random_state=1).cross_validate(X, y, folds=4)
    assert len(scores) == len(seen) == len(scored) == 4
    for chose_on, held_out in zip(seen, scored):
        assert chose_on and held_out and not chose_on & held_out
    assert set().union(*scored) == {e.rstrip(".") for e in X}

    model_selection = pytest.importorskip("sklearn.model_selection")
    seen.clear(), scored.clear()
    model_selection.cross_val_score(Learner("BK.pl"), X, y,
                                    cv=model_selection.StratifiedKFold(4))
    assert len(seen) == 4
    for chose_on, held_out in zip(seen, scored):
        assert not chose_on & held_out


def test_command_line_shows_and_stores_the_choice(family, capsys):
    files = ["BK.pl", "pos_example.f", "neg_example.n"]
    assert cli.main(["learn", *files, "--max-neg", "0", "-o", "t.pl"]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[0].startswith("% setting: chosen") and "given: max_neg=0" in lines[0]
    assert lines[1].startswith(RULE + ".")
    assert cli.main(["learn", *files, "--json", "--plain"]) == 0
    import json

    out = json.loads(capsys.readouterr().out)
    assert out["chosen"]["chosen"] == [] and out["chosen"]["options"]["coverage"] == "text"


def test_table_encoding_is_chosen_unless_given(tmp_path, monkeypatch):
    pd = pytest.importorskip("pandas")
    np = pytest.importorskip("numpy")
    monkeypatch.chdir(tmp_path)
    rng = np.random.default_rng(0)
    table = pd.DataFrame({"age": rng.integers(18, 91, 120),
                          "smoker": rng.choice(["yes", "no"], 120)})
    y = np.where((table.age >= 65) & (table.age <= 75) & (table.smoker == "yes"), 1, 0)
    learner = Learner().fit(table, y)
    assert {"encoder_strategy", "n_ranges"} <= set(learner.chosen_["chosen"])
    assert learner.encoder_.strategy == learner.chosen_["options"]["encoder_strategy"]
    assert learner.score(table, y) >= 0.95
    given = Learner(n_ranges=4).fit(table, y)
    assert given.chosen_["options"]["n_ranges"] == 4 and "n_ranges" in given.chosen_["given"]
    assert given.encoder_.n_ranges == 4


def test_recursion_is_chosen_where_it_gives_shorter_rules(tmp_path, monkeypatch):
    folder = os.path.join(os.path.dirname(__file__), "data", "path")
    monkeypatch.chdir(tmp_path)
    pos = vantor.read_example(os.path.join(folder, "pos_example.f"))
    neg = vantor.read_example(os.path.join(folder, "neg_example.n"))
    learner = Learner(os.path.join(folder, "BK.pl"), random_state=0)
    learner.fit(pos + neg, [1] * len(pos) + [0] * len(neg))
    assert learner.chosen_["options"]["recursive"] is True
    assert any(rule.split(":-")[1].count("path(") for rule in learner.theory_)
    assert learner.training_scores_["accuracy"] == 1.0
    # Same seed, same choice and theory.
    again = Learner(os.path.join(folder, "BK.pl"), random_state=0)
    again.fit(pos + neg, [1] * len(pos) + [0] * len(neg))
    assert again.chosen_["options"] == learner.chosen_["options"]
    assert again.theory_ == learner.theory_


def test_a_method_learning_per_inner_fold_is_scored_on_held_out_examples(family):
    def bottoms_of(follow, numbers):
        return vantor.bottom_clause_generation(container="memory", tqdm_disable=True,
                                               follow=follow, numbers=numbers)

    trial = _auto._Trial("BK.pl", {"verbose": True}, bottoms_of, seed=0)
    selection = _auto.SELECTION_GRID[0]
    trial.grid = [selection]
    # Learning per fold agrees with selecting per fold from the shared proofs.
    for level in (1, 2):
        structure = dict(_auto.BASE_STRUCTURE, max_literals=level)
        relearned = _auto._relearned(trial, structure, selection)
        assert relearned == trial.level(structure)[0]
    assert relearned == 1.0 and _auto._relearned(trial, dict(structure, max_literals=1),
                                                 selection) < 1.0
