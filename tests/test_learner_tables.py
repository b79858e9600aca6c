"""The learner on data tables: encoding fitted on the training rows, one
label per row, readable rules, several classes, scikit-learn's tools."""
import pickle

import pytest

pd = pytest.importorskip("pandas")
np = pytest.importorskip("numpy")

from vantor import Learner, TableEncoder  # noqa: E402


@pytest.fixture(autouse=True)
def in_tmp(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)


def patients(rows=120, seed=0):
    """Target: 65 <= age <= 75 and smoker, with a noise column."""
    rng = np.random.default_rng(seed)
    table = pd.DataFrame({
        "age": rng.integers(18, 91, rows),
        "smoker": rng.choice(["yes", "no"], rows),
        "region": rng.choice(["north", "south"], rows),
    })
    sick = (table.age >= 65) & (table.age <= 75) & (table.smoker == "yes")
    return table, np.where(sick, "sick", "well")


def three_classes(rows=90, seed=0):
    rng = np.random.default_rng(seed)
    x = rng.uniform(0, 30, rows)
    table = pd.DataFrame({"x": x, "noise": rng.choice(["a", "b"], rows)})
    return table, np.where(x < 10, "low", np.where(x < 20, "mid", "high"))


BEST = {"encoder_strategy": "entropy", "n_ranges": 4, "coverage": "prolog",
        "selection": "cover"}


def test_table_rule_is_learned_with_the_encoding_constants_and_shown_readably():
    table, y = patients()
    learner = Learner(**BEST).fit(table, y)
    assert list(learner.classes_) == ["sick", "well"]
    # "sick" < "well": the larger label is learned unless positive= says otherwise.
    assert set(learner.rules_["class"]) == {"well"}
    assert learner.training_scores_["accuracy"] == 1.0
    learner = Learner(**BEST).fit(table, y, positive="sick")
    assert learner.theory_ == ["target(A):-age(A,g1),smoker(A,yes)"]
    first = learner.rules_.iloc[0]
    assert first["rule"].startswith("age in [6") and first["rule"].endswith(" and smoker = yes")
    assert (first["negatives"], first["precision"]) == (0, 1.0)
    assert first["positives"] == int((y == "sick").sum())
    new = pd.DataFrame({"age": [70, 70, 30, 95], "smoker": ["yes", "no", "yes", "yes"],
                        "region": ["east", "north", "south", "north"]})
    assert list(learner.predict(new)) == ["sick", "well", "well", "well"]
    assert learner.training_scores_["accuracy"] == 1.0


def test_target_column_and_score_without_y():
    table, y = patients()
    table["status"] = y
    learner = Learner(**BEST).fit(table, target="status", positive="sick")
    assert "status" not in learner.encoder_.columns_
    assert list(learner.feature_names_in_) == ["age", "smoker", "region"]
    assert learner.score(table) == 1.0  # the target column of the table is the truth
    assert list(learner.predict(table)) == list(y)  # and is not read for predicting
    flipped = table.assign(status=np.where(table.status == "sick", "well", "sick"))
    assert learner.score(flipped) == 0.0


def test_several_classes_each_get_a_theory_and_predict_a_class():
    table, y = three_classes()
    learner = Learner(**BEST).fit(table, y)
    assert list(learner.classes_) == ["high", "low", "mid"]
    assert set(learner.theories_) == {"high", "low", "mid"}
    assert all(learner.theories_[c] for c in learner.classes_)
    assert set(learner.rules_["class"]) == {"high", "low", "mid"}
    assert learner.score(table, y) >= 0.95
    new = pd.DataFrame({"x": [1.0, 15.0, 29.0], "noise": ["a", "b", "c"]})
    assert list(learner.predict(new)) == ["low", "mid", "high"]
    # One class against the rest: the labels become 1 and 0.
    one = Learner(**BEST).fit(table, y, positive="mid")
    assert list(one.classes_) == [0, 1]
    assert list(one.predict(new)) == [0, 1, 0]
    assert one.score(table, y) >= 0.95  # y is read with the same relabelling


def test_several_proofs_and_none_are_resolved_as_documented():
    from vantor._learner_tables import _TableTask

    task = _TableTask(["a", "b", "b", "c", "c", "c"], None)
    assert task.choose({"a": [], "b": [], "c": []}) == "c"  # no proof: most frequent
    assert task.choose({"a": [0.9], "b": [], "c": []}) == "a"
    assert task.choose({"a": [0.5, 0.95], "b": [0.9], "c": [0.8]}) == "a"  # best rule
    assert task.choose({"a": [0.9], "b": [0.9], "c": []}) == "b"  # then most frequent
    tied = _TableTask(["a", "b", "c"], None)
    assert tied.choose({"a": [0.5], "b": [0.5], "c": [0.5]}) == "a"
    assert tied.choose({"a": [], "b": [], "c": []}) == "a"
    binary = _TableTask([0, 1, 1], None)
    assert binary.heads == [(1, "target")] and binary.choose({1: []}) == 0
    assert _TableTask([0, 1, 1], 0).choose({0: []}) == 1


def test_cross_val_score_never_lets_test_rows_shape_the_ranges():
    model_selection = pytest.importorskip("sklearn.model_selection")
    table, y = patients(100)
    folds = list(model_selection.StratifiedKFold(4, shuffle=True, random_state=0).split(table, y))
    seen = []

    def record(estimator, X, y_true):
        seen.append(estimator.encoder_.meta_information())
        return estimator.score(X, y_true)

    scores = model_selection.cross_val_score(Learner(**BEST), table, y, cv=folds,
                                             scoring=record, params={"positive": "sick"})
    assert min(scores) >= 0.9
    for (train, test), meta in zip(folds, seen):
        alone = TableEncoder(strategy="entropy", n_ranges=4).fit(table.iloc[train], y[train])
        assert meta == alone.meta_information()
        # Test rows made extreme change nothing fitted on the training rows.
        wild = table.copy()
        wild.loc[wild.index[test], "age"] = 1000
        refit = Learner(**BEST).fit(wild.iloc[train], y[train], positive="sick")
        assert refit.encoder_.meta_information() == meta
    assert len(set(seen)) > 1  # the folds did fit their own ranges


def test_grid_search_tunes_the_encoding():
    model_selection = pytest.importorskip("sklearn.model_selection")
    table, y = patients(80)
    grid = {"encoder_strategy": ["equal_count", "entropy"], "n_ranges": [2, 4]}
    search = model_selection.GridSearchCV(Learner(coverage="prolog", selection="cover"),
                                          grid, cv=model_selection.StratifiedKFold(2))
    search.fit(table, y)
    assert len(search.cv_results_["params"]) == 4
    # Two ranges cannot isolate the age band; four can.
    results = search.cv_results_
    two = results["mean_test_score"][np.asarray(results["param_n_ranges"]) == 2]
    assert search.best_params_["n_ranges"] == 4 and search.best_score_ >= 0.9 > max(two)
    two = Learner(n_ranges=2).fit(table, y)
    assert len(two.encoder_.encodings_["age"].texts) == 2


def test_learner_cross_validate_fits_each_fold_on_its_rows():
    table, y = three_classes(60)
    scores = Learner(random_state=1, **BEST).cross_validate(table, y, folds=3)
    assert len(scores) == 3 and min(scores) >= 0.8
    again = Learner(random_state=1, **BEST).cross_validate(table, y, folds=3)
    assert again == scores


def test_missing_labels_and_cells_and_the_default_background_file():
    table, y = patients(80)
    with open("BK.pl", "w") as stream:  # an earlier table's facts, not this one's
        stream.write("age(e_0,g9).\nsmoker(e_0,yes).\n")
    labels = pd.Series(y, dtype=object)
    labels[[0, 5]] = None
    table.loc[3, "region"] = None
    learner = Learner(**BEST).fit(table, labels, positive="sick")
    assert len(learner._task.labels) == 78
    assert learner.theory_ == ["target(A):-age(A,g1),smoker(A,yes)"]
    with_extra = Learner(["hint(yes).", "hint(no)."], **BEST).fit(table, labels,
                                                                   positive="sick")
    assert list(with_extra.predict(table)) == list(learner.predict(table))


def test_pickled_table_learner_predicts_alike():
    table, y = three_classes(45)
    learner = Learner(**BEST).fit(table, y)
    copy = pickle.loads(pickle.dumps(learner))
    assert list(copy.predict(table)) == list(learner.predict(table))
    assert copy.rules_.equals(learner.rules_)


@pytest.mark.parametrize("call,error,message", [
    (lambda t, y: Learner().fit(t, y, positive="ill"), ValueError, "not a class of y"),
    (lambda t, y: Learner().fit(t.assign(s=y), y, target="s"), ValueError, "not both"),
    (lambda t, y: Learner().fit(t, target="status"), KeyError, "status"),
    (lambda t, y: Learner().fit(t), ValueError, "needs its labels"),
    (lambda t, y: Learner().fit(t, ["sick"] * len(t)), ValueError, "one class"),
    (lambda t, y: Learner().fit(t, y[:5]), ValueError, "labels"),
    (lambda t, y: Learner(encoder_strategy="edges").fit(t, y), ValueError, "encoder_strategy"),
    (lambda t, y: Learner(n_ranges=0).fit(t, y), ValueError, "n_ranges"),
    (lambda t, y: Learner().fit(["p(a)"], [1], target="x"), TypeError, "table"),
    (lambda t, y: Learner().fit(t, y).predict(["target(e_1)"]), ValueError, "fitted on a table"),
])
def test_table_mistakes_are_refused_with_a_message(call, error, message):
    table, y = patients(60)
    with pytest.raises(error, match=message):
        call(table, y)
