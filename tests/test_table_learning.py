"""Learning from a table's encoded columns gives what learning from its
facts as text gives: the same bottom clauses and the same theories."""
import pytest

import vantor
from vantor import Learner, TableEncoder
from vantor._table_learning import row_bottom_clauses

pd = pytest.importorskip("pandas")
np = pytest.importorskip("numpy")


def mixed_table(rows=400, seed=3):
    rng = np.random.default_rng(seed)
    table = pd.DataFrame({
        "Age": rng.integers(18, 90, rows),
        "bmi": np.round(rng.normal(26, 4, rows), 1),
        "colour": rng.choice(["red", "Red", "blue", "1", "2"], rows).astype(object),
        "smoker": rng.choice([True, False], rows),
        "Income (USD)": rng.integers(1, 5, rows) * 1000,
    })
    table.loc[rng.choice(rows, 20), "bmi"] = np.nan
    table.loc[rng.choice(rows, 20), "colour"] = None
    return table


def test_bottom_clauses_from_columns_are_the_scanned_ones(tmp_path):
    table = mixed_table(120)
    encoder = TableEncoder(n_ranges=3).fit(table)
    background = tmp_path / "BK.pl"
    background.write_text("".join(f + "\n" for f in encoder.transform(table)))
    examples = [f"target(e_{i})." for i in range(len(table))]
    constants = list(encoder.constants_)
    scanned, _ = vantor.bottom_clause_generation(
        file=str(background), container="memory", positive_example=examples,
        negative_example=[], constant_set=constants, tqdm_disable=True)
    direct = row_bottom_clauses(encoder, table, constants, (2, "first", "constant", None, 10000))
    assert [list(b) for b in direct] == [scanned[e] for e in examples]
    # Options that change what a bottom clause takes leave it to the scan.
    assert row_bottom_clauses(encoder, table, constants, (2, "any", "constant", None, 10000)) is None
    assert row_bottom_clauses(encoder, table, constants + ["e_3"],
                              (2, "first", "constant", None, 10000)) is None


@pytest.mark.parametrize("options", [
    dict(encoder_strategy="entropy", n_ranges=4, coverage="prolog", selection="cover",
         max_neg=0.05, min_precision=0.8),
    dict(coverage="prolog", max_literals=3),
    dict(n_ranges=3),
])
@pytest.mark.parametrize("classes", [2, 3])
def test_theories_are_those_learned_from_the_facts_as_text(options, classes, monkeypatch):
    table = mixed_table()
    y = ((table.Age > 60) & (table.colour.isin(["red", "1"]))).astype(int)
    if classes == 3:
        y = y + 2 * (table.smoker & (table.Age < 30))
    fast = Learner(random_state=0, **options).fit(table, y)
    slow = Learner(random_state=0, **options)
    # Facts from the background parameter send everything through the text.
    monkeypatch.setattr(slow, "_extra_background", lambda: "% text\n")
    slow.fit(table, y)
    assert fast.theory_ and fast.theory_ == slow.theory_
    assert fast.rules_.equals(slow.rules_)
    assert fast.predict(table).tolist() == slow.predict(table).tolist()


def test_added_facts_send_proofs_to_the_engine_and_survive_pickling(tmp_path):
    import pickle

    extra = tmp_path / "extra.pl"
    extra.write_text("flag(e_0).")  # no final line break
    table = mixed_table()
    y = (table.Age > 60).astype(int)
    options = dict(coverage="prolog", selection="cover", random_state=0)
    plain = Learner(**options).fit(table, y)
    joined = Learner(str(extra), **options).fit(table, y)
    assert joined._rule_masks(table) is None and joined.theory_ == plain.theory_
    fresh = mixed_table(50, seed=9)
    copy = pickle.loads(pickle.dumps(joined))
    expected = plain.predict(fresh).tolist()
    assert copy.predict(fresh).tolist() == joined.predict(fresh).tolist() == expected
