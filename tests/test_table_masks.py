"""Table rules evaluated as column masks agree with the engine's proofs, on
random tables and random rules, and the Learner's predictions agree on both
paths."""
import os

import pytest

from vantor import Learner, TableEncoder, _core
from vantor._table_masks import Vocabulary, column_codes, compile_rule, predicate_columns

pd = pytest.importorskip("pandas")
np = pytest.importorskip("numpy")
hypothesis = pytest.importorskip("hypothesis")
st = hypothesis.strategies

# Values that collide when spelled carelessly, numbers Prolog reads alike,
# and missing cells.
TEXTS = ["a b", "a_b", "Ann", "ann", "01", "1", "e_0", "x", None]
# Constants of rules written as the engine reads them alike or apart.
SPELLINGS = ["zzz", "'a b'", "'a_b'", "1.0", "001", "'1'", "-0.0"]


@st.composite
def tables(draw):
    rows = draw(st.integers(1, 10))
    column = lambda values: draw(st.lists(values, min_size=rows, max_size=rows))  # noqa: E731
    table = pd.DataFrame({
        "num": column(st.integers(-3, 40)),
        "flt": column(st.one_of(st.floats(-2, 2, allow_nan=False), st.just(float("nan")),
                                st.just(-0.0))),
        "cat": pd.Series(column(st.sampled_from(TEXTS)), dtype=object),
        # Spelled as the predicate of "cat": one predicate, two columns.
        "Cat": pd.Series(column(st.sampled_from(TEXTS[:4])), dtype=object),
    })
    return table, draw(st.integers(1, rows))


@st.composite
def rules(draw, constants, predicates):
    literals = []
    for _ in range(draw(st.integers(1, 3))):
        predicate = draw(st.sampled_from(predicates))
        row = draw(st.sampled_from(["A", "A", "A", "B"]))
        value = draw(st.one_of(st.sampled_from(constants), st.sampled_from(SPELLINGS),
                               st.sampled_from(["B", "C", "_", "A"])))
        literals.append(f"{predicate}({row},{value})")
    return "target(A):-" + ",".join(literals)


def engine_proofs(rule, facts, rows, folder, predicates):
    path = os.path.join(folder, "BK.pl")
    with open(path, "w", encoding="utf-8") as out:
        # A column without any fact is still a known predicate.
        out.write("".join(f":- dynamic({p}/2).\n" for p in predicates))
        out.write("".join(f + "\n" for f in facts))
    goals = [f"target(e_{i})" for i in range(rows)]
    return _core._evaluate_theory([rule], path, goals, [], True, False, each=True)["proved"]


@hypothesis.settings(max_examples=60, deadline=None,
                     suppress_health_check=list(hypothesis.HealthCheck))
@hypothesis.given(data=st.data())
def test_masks_prove_what_the_engine_proves(data, tmp_path):
    table, fitted_rows = data.draw(tables())
    strategy = data.draw(st.sampled_from(["equal_count", "equal_width"]))
    encoder = TableEncoder(n_ranges=3, strategy=strategy).fit(table.iloc[:fitted_rows])
    predicates = sorted(predicate_columns(encoder))
    rule = data.draw(rules(list(encoder.constants_) or ["g0"], predicates))
    compiled = compile_rule(rule, "target", predicate_columns(encoder))
    hypothesis.assume(compiled is not None)
    vocabulary = Vocabulary()
    mask = compiled.mask(column_codes(encoder, table, vocabulary), vocabulary, len(table))
    assert mask.tolist() == engine_proofs(rule, encoder.transform(table), len(table), tmp_path,
                                          predicates)


def test_only_rules_on_the_rows_own_columns_compile():
    columns = {"age": 1, "cat": 2}
    assert compile_rule("target(A):-age(A,g1),cat(A,red)", "target", columns) is not None
    for rule in ["target(A):-age(B,g1)", "target(A):-age(A,B),>=(B,3)", "target(A):-other(A,x)",
                 "target(A):-target(A)", "target(A):-cat(A,B)", "other(A):-age(A,g1)",
                 "target(x):-age(x,g1)", "target(A):-age(A,A)"]:
        assert compile_rule(rule, "target", columns) is None, rule


@pytest.mark.parametrize("labels", ["two", "three"])
def test_learner_predicts_alike_with_masks_and_in_the_engine(labels, monkeypatch):
    rng = np.random.default_rng(1)
    table = pd.DataFrame({"age": rng.integers(18, 90, 300),
                          "colour": rng.choice(["red", "Red", "blue", None], 300),
                          "w": rng.normal(0, 1, 300)})
    y = (table.age > 50).astype(int) + (table.colour == "red") * (labels == "three")
    learner = Learner(encoder_strategy="entropy", n_ranges=4, coverage="prolog",
                      selection="cover", max_neg=0.2, min_precision=0.5).fit(table, y)
    fresh = pd.DataFrame({"age": rng.integers(0, 120, 500),
                          "colour": rng.choice(["red", "RED", "green", None], 500),
                          "w": rng.normal(0, 2, 500)})
    by_masks, records = learner.predict(fresh), learner.rules_.copy()
    monkeypatch.setattr("vantor._table_predicting._PREDICT_CHUNK", 70)
    learner._extra = "% facts here send every proof to the engine\n"
    assert learner._rule_masks(fresh) is None
    assert learner.predict(fresh).tolist() == by_masks.tolist()
    refitted = Learner(**learner.get_params())
    monkeypatch.setattr(refitted, "_extra_background", lambda: "% engine\n")
    refitted.fit(table, y)
    assert refitted.rules_.equals(records)


@hypothesis.settings(max_examples=80, deadline=None,
                     suppress_health_check=list(hypothesis.HealthCheck))
@hypothesis.given(data=st.data())
def test_reading_columns_in_one_pass_fits_and_writes_the_same(data):
    table, fitted_rows = data.draw(tables())
    table["f32"] = table["flt"].astype("float32")
    fitted = table.iloc[:fitted_rows]
    y = data.draw(st.lists(st.sampled_from(["p", "n", "m"]), min_size=fitted_rows,
                           max_size=fitted_rows))
    options = dict(n_ranges=data.draw(st.integers(1, 4)),
                   strategy=data.draw(st.sampled_from(["equal_count", "equal_width", "entropy"])))
    fast = TableEncoder(**options).fit(fitted, y)
    slow = TableEncoder(**options)
    slow._fit_column_fast = lambda *args: None
    slow.fit(fitted, y)
    assert fast.meta_information() == slow.meta_information()
    # Rows beyond the fitted ones bring unseen categories.
    cell_by_cell = [fact for col in fast.columns_
                    for fact in fast._column_facts(col, table[col].tolist(), 3)]
    assert fast.transform(table, start=3) == cell_by_cell
