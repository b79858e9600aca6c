"""Rules learned from classic tables, beside scikit-learn's models.

Tables: iris (virginica against the rest), wine (class 0 against the rest)
and a generated table whose target is ``65 <= age <= 75 and smoker`` with a
few noise columns. Each runs a stratified 5-fold cross-validation
(StratifiedKFold(5, shuffle=True, random_state=0)). Per fold, a TableEncoder
is fitted on the training rows only and writes the facts of all rows; the
bottom clauses of the training examples are built with the encoder's
constants (range labels and category values), vantor_learn learns from
them and evaluate_theory_prolog scores the theory on the test rows.

Vantor settings: ``Learner()`` with nothing but the table (the first
column: each fold's learner chooses its encoding and options on its
training rows alone), "default" (TableEncoder() and vantor_learn's defaults) and
"best documented setting" (BEST below, run through ``Learner.fit`` on the
DataFrame, which fits the encoding on each fold's training rows itself:
supervised cut points, coverage proved in the engine, cover selection, a
rule may cover up to 5% of the negatives at a precision of at least 0.8).
Columns: mean test accuracy, mean number of rules, seconds per fold (bottom
clauses and learning); then scikit-learn's DecisionTreeClassifier (default
and max_depth=3: accuracy, leaves) and LogisticRegression (accuracy). The
generated table's rule learned on all its rows is printed as conditions.

With ``--scale``: the generated table grown to 10^4, 10^5 and 10^6 rows,
``Learner(**BEST)`` fitted on all rows and predicting them, beside
scikit-learn's depth-3 tree (seconds of fit and predict; whether the known
rule, age in the range holding 65..75 and smoker = yes, was found).
``--sizes 10000,20000`` chooses other sizes.

Needs pandas and scikit-learn. Usage: python benchmarks/tables.py [--scale]
"""
import argparse
import contextlib
import io
import os
import tempfile
import time
import warnings

import numpy as np
import pandas as pd
from sklearn.datasets import load_iris, load_wine
from sklearn.linear_model import LogisticRegression
from sklearn.model_selection import StratifiedKFold
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler
from sklearn.tree import DecisionTreeClassifier

import vantor

# The best setting found (Learner parameters): cut points where the class
# changes; rules proved in the engine and chosen by cover, each allowed a
# few negatives (a share of them) at a high precision.
BEST = {"encoder_strategy": "entropy", "n_ranges": 4, "coverage": "prolog",
        "selection": "cover", "max_neg": 0.05, "min_precision": 0.8}


def iris():
    data = load_iris(as_frame=True)
    table = data.data.rename(columns=lambda c: c.replace(" (cm)", ""))
    return table, (data.target == 2).astype(int).to_numpy()


def wine():
    data = load_wine(as_frame=True)
    return data.data, (data.target == 0).astype(int).to_numpy()


def generated(rows=400):
    rng = np.random.default_rng(0)
    table = pd.DataFrame({
        "age": rng.integers(18, 91, rows),
        "smoker": rng.choice(["yes", "no"], rows),
        "bmi": np.round(rng.normal(26, 4, rows), 1),
        "income": rng.integers(10, 200, rows) * 1000,
        "region": rng.choice(["north", "south", "east", "west"], rows),
    })
    target = ((table.age >= 65) & (table.age <= 75) & (table.smoker == "yes")).astype(int)
    return table, target.to_numpy()


def learn(table, y, train, encoder_options, learn_options, folder):
    """Fit the encoder on the training rows, write the facts of every row,
    learn from the training rows; the theory and the seconds taken."""
    encoder = vantor.TableEncoder(**encoder_options).fit(table.iloc[train], y[train])
    background, _ = encoder.write(table, folder=folder)
    pos, neg = encoder.examples(y, positive=1)
    train_rows = set(train)
    pos_train = [e for e in pos if int(e[9:-2]) in train_rows]
    neg_train = [e for e in neg if int(e[9:-2]) in train_rows]
    tic = time.perf_counter()
    pos_dict, neg_dict = vantor.bottom_clause_generation(
        file=background, container="memory", positive_example=pos_train,
        negative_example=neg_train, constant_set=list(encoder.constants_), tqdm_disable=True)
    with contextlib.redirect_stdout(io.StringIO()), warnings.catch_warnings():
        warnings.simplefilter("ignore")
        model = vantor.vantor_learn(pos_dict, neg_dict, file=background,
                                    constant_set=list(encoder.constants_), verbose=True,
                                    **learn_options)
    return encoder, background, model.hypothesis, time.perf_counter() - tic, (pos, neg)


def vantor_fold(table, y, train, test, encoder_options, learn_options, folder):
    _, background, theory, seconds, (pos, neg) = learn(table, y, train, encoder_options,
                                                       learn_options, folder)
    test_rows = set(test)
    pos_test = [e for e in pos if int(e[9:-2]) in test_rows]
    neg_test = [e for e in neg if int(e[9:-2]) in test_rows]
    with contextlib.redirect_stdout(io.StringIO()):
        score = vantor.evaluate_theory_prolog(theory, background, pos_test, neg_test, True)
    if not theory:  # no rule: every test row is called negative
        score_value = len(neg_test) / (len(pos_test) + len(neg_test))
    else:
        score_value = score.accuracy or 0.0
    return score_value, len(theory), seconds


def sklearn_fold(model, features, y, train, test):
    model.fit(features.iloc[train], y[train])
    accuracy = float((model.predict(features.iloc[test]) == y[test]).mean())
    tree = getattr(model, "get_n_leaves", None)
    return accuracy, tree() if tree else 0


def vantor_row(table, y, folds, encoder_options, learn_options):
    with tempfile.TemporaryDirectory() as folder:
        try:
            figures = [vantor_fold(table, y, train, test, encoder_options, learn_options, folder)
                       for train, test in folds]
        except TypeError as error:  # an option this build does not have yet
            if not learn_options:
                raise
            return None, error
    return [sum(x) / len(x) for x in zip(*figures)], None


def learner_row(table, y, folds, params=BEST):
    """Mean test accuracy, rules and seconds per fold of ``Learner(**params)``
    fitted on each fold's training rows of the DataFrame."""
    figures = []
    for train, test in folds:
        tic = time.perf_counter()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            learner = vantor.Learner(**params).fit(table.iloc[train], y[train])
        seconds = time.perf_counter() - tic
        figures.append((learner.score(table.iloc[test], y[test]), len(learner.theory_), seconds))
    return [sum(x) / len(x) for x in zip(*figures)]


def run(name, table, y):
    folds = list(StratifiedKFold(5, shuffle=True, random_state=0).split(table, y))
    features = pd.get_dummies(table, dtype=float)
    cells = [name]
    chosen = learner_row(table, y, folds, {})
    default, _ = vantor_row(table, y, folds, {}, {})
    best = learner_row(table, y, folds)
    for acc, rules, seconds in (chosen, default, best):
        cells.append("%.3f | %.1f | %.2f" % (acc, rules, seconds))
    for model in (DecisionTreeClassifier(random_state=0),
                  DecisionTreeClassifier(max_depth=3, random_state=0)):
        acc, leaves = (sum(x) / len(x) for x in zip(*(sklearn_fold(model, features, y, tr, te)
                                                       for tr, te in folds)))
        cells.append("%.3f | %.1f" % (acc, leaves))
    logistic = make_pipeline(StandardScaler(), LogisticRegression(max_iter=5000))
    cells.append("%.3f" % (sum(sklearn_fold(logistic, features, y, tr, te)[0]
                               for tr, te in folds) / len(folds)))
    print(" | ".join(cells), flush=True)


def known_rule_found(learner):
    """Whether the theory is one rule: smoker = yes and an age range whose
    training values run from 65 to 75."""
    if len(learner.rules_) != 1:
        return False
    rule = learner.rules_["rule"].iloc[0]
    return "smoker = yes" in rule and "age in [65, 75]" in rule


def scale(sizes):
    print("rows | learner fit s | learner predict s | known rule | training accuracy"
          " | tree depth 3 fit s | tree predict s")
    for rows in sizes:
        table, y = generated(rows)
        tic = time.perf_counter()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            learner = vantor.Learner(**BEST).fit(table, y)
        fit = time.perf_counter() - tic
        tic = time.perf_counter()
        predicted = learner.predict(table)
        predict = time.perf_counter() - tic
        features = pd.get_dummies(table, dtype=float)
        tree = DecisionTreeClassifier(max_depth=3, random_state=0)
        tic = time.perf_counter()
        tree.fit(features, y)
        tree_fit = time.perf_counter() - tic
        tic = time.perf_counter()
        tree.predict(features)
        tree_predict = time.perf_counter() - tic
        print("%d | %.2f | %.2f | %s | %.4f | %.2f | %.3f" % (
            rows, fit, predict, "yes" if known_rule_found(learner) else "no: %s" % learner.theory_,
            float((predicted == y).mean()), tree_fit, tree_predict), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scale", action="store_true",
                        help="fit and predict seconds of the generated table at growing sizes")
    parser.add_argument("--sizes", default="10000,100000,1000000",
                        help="row counts for --scale, comma separated")
    args = parser.parse_args()
    if args.scale:
        scale([int(n) for n in args.sizes.split(",")])
        return
    print("table | Learner(): acc | rules | s/fold | vantor default: acc | rules | s/fold"
          " | vantor best documented setting: acc | rules | s/fold"
          " | tree: acc | leaves | tree depth 3: acc | leaves | logistic: acc")
    for name, (table, y) in (("iris", iris()), ("wine", wine()), ("generated", generated())):
        run(name, table, y)
    print("best documented setting: Learner(%s)" % ", ".join(
        "%s=%r" % item for item in BEST.items()))
    data = load_iris(as_frame=True)
    y = data.target.to_numpy()
    folds = list(StratifiedKFold(5, shuffle=True, random_state=0).split(data.data, y))
    acc, rules, seconds = learner_row(data.data, y, folds)
    chosen = learner_row(data.data, y, folds, {})
    tree = sum(sklearn_fold(DecisionTreeClassifier(max_depth=3, random_state=0), data.data, y,
                            tr, te)[0] for tr, te in folds) / len(folds)
    print("iris, three classes (one theory each): Learner() %.3f | %.1f rules | %.2f s/fold;"
          " best documented setting %.3f | %.1f rules | %.2f s/fold; tree depth 3 %.3f"
          % (*chosen, acc, rules, seconds, tree))
    table, y = generated()
    learner = vantor.Learner(**BEST).fit(table, y)
    print("generated table, all rows:", list(learner.rules_["rule"]), learner.theory_)


if __name__ == "__main__":
    main()
