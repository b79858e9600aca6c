"""A table through the whole library: facts, bottom clauses, learning, decoding."""
import pytest

import vantor

pd = pytest.importorskip("pandas")
pytestmark = pytest.mark.skipif(
    not all(hasattr(vantor, f) for f in ("bottom_clause_generation", "vantor_learn")),
    reason="needs bottom-clause generation and the learner")


def test_learned_ranges_decode_to_numeric_conditions(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    ages = [25, 35, 45, 55, 65, 75] * 4
    df = pd.DataFrame({"Age (years)": ages,
                       "Colour": ["red", "Light Blue", "green"] * 8,
                       "y": ["old" if a >= 65 else "young" for a in ages]})
    vantor.prepare_logic_rules(df, ["Age (years)", "Colour"])
    assert vantor.prepare_examples(df, "y") == ["pos_example.f", "neg_example.n"]
    constants = vantor.read_constants_meta_info()
    pos, neg = vantor.bottom_clause_generation(constant_set=constants, container="memory",
                                               tqdm_disable=True)
    assert pos["target(e_4)."] == ["age_years(A,g2)", "colour(A,light_blue)"]
    model = vantor.vantor_learn(pos, neg, file="BK.pl", constant_set=constants, verbose=True)
    assert model.hypothesis == ["target(A):-age_years(A,g2)"]
    assert vantor.print_rules(model.hypothesis) == ["target(A):-age_years(A,B),inRange(B,65--75)"]
