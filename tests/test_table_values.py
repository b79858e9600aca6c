"""Distinct table values stay distinct constants through encoding, learning,
meta-information and decoding; tables with repeated column names are
refused."""
import pytest

import vantor
from vantor import Learner, TableEncoder

pd = pytest.importorskip("pandas")

# Pairs that the background file's usual spelling (lower case, blanks and
# brackets as "_") would merge.
PAIRS = [("a b", "a_b"), ("Ann", "ann"), ("x\ny", "x_y"), ("p(q)", "p_q_")]


def colliding_table(repeat=6):
    values, labels = [], []
    for _ in range(repeat):
        for first, second in PAIRS:
            values += [first, second]
            labels += [1, 0]
    return pd.DataFrame({"c": values}), labels


def test_values_that_share_a_spelling_are_learned_apart():
    table, labels = colliding_table()
    learner = Learner(encoder_strategy="entropy", n_ranges=4, coverage="prolog",
                      selection="cover", max_neg=0.05, min_precision=0.8).fit(table, labels)
    assert learner.score(table, labels) == 1.0
    assert sorted(learner.rules_["rule"]) == sorted(f"c = {first}" for first, _ in PAIRS)
    assert list(learner.rules_["negatives"]) == [0] * 4


def test_meta_information_and_decoding_keep_the_values_apart(tmp_path):
    table, labels = colliding_table(1)
    encoder = TableEncoder(columns=["c"]).fit(table)
    terms = encoder.encodings_["c"]
    assert len(set(terms.values())) == 8
    # A value already spelled plainly keeps its spelling.
    assert all(terms[second] == second.lower() for _, second in PAIRS)
    _, meta = encoder.write(table, folder=tmp_path)
    assert vantor.read_constants_meta_info(meta) == encoder.constants_
    assert vantor.read_meta_information(meta) == {"c": []}
    rule = f"target(A):-c(A,{terms['a b']}),c(A,{terms['a_b']}),c(A,{terms['x' + chr(10) + 'y']})"
    assert encoder.decode(rule) == "target(A):-c(A,'a b'),c(A,a_b),c(A,'x\\ny')"


def test_an_unseen_value_never_takes_a_fitted_constant():
    encoder = TableEncoder().fit(pd.DataFrame({"c": ["ann", "bob"]}))
    facts = encoder.transform(pd.DataFrame({"c": ["Ann", "ANN", "ann"]}))
    values = [fact.split(",", 1)[1][:-2] for fact in facts]
    assert values[2] == "ann" and len(set(values)) == 3


def test_the_table_converter_keeps_its_documented_spelling(tmp_path):
    vantor.prepare_logic_rules(pd.DataFrame({"c": ["a b", "a_b"]}), ["c"], folder=tmp_path)
    assert (tmp_path / "BK.pl").read_text() == "c(e_0,a_b).\nc(e_1,a_b).\n"


@pytest.mark.parametrize("call", [
    lambda df: TableEncoder().fit(df),
    lambda df: vantor.prepare_logic_rules(df, ["a"]),
    lambda df: vantor.prepare_examples(df, "b"),
    lambda df: Learner().fit(df, [0, 1]),
    lambda df: Learner().fit(df.iloc[:, 1:], [0, 1]).predict(df),
])
def test_repeated_column_names_are_refused(call, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    table = pd.DataFrame([[1, 2, 0], [3, 4, 1]], columns=["a", "a", "b"])
    with pytest.raises(ValueError, match="repeated column names \\('a'\\)"):
        call(table)
    assert not list(tmp_path.iterdir())
