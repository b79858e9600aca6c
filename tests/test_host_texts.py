"""Texts from the host: a lone surrogate is a ValueError naming the
parameter, a NUL character is kept whole in texts and refused in file
names."""
import pytest

import vantor
from vantor import learn

LONE = "\ud800"


@pytest.mark.parametrize("call, parameter", [
    (lambda: vantor.make_rule("h" + LONE, []), "head"),
    (lambda: vantor.make_rule("h(A)", ["p(A)", LONE]), "args"),
    (lambda: vantor.make_literal("p", ["a" + LONE]), "args"),
    (lambda: vantor.Clause("p(" + LONE + ")"), "mode"),
    (lambda: vantor.literal_substitution("p(a)", "p(" + LONE + ")"), "b"),
    (lambda: vantor.is_linked("h(A)", ["p(A)"], [LONE]), "constant"),
    (lambda: vantor.apply_meta_rules("t(A)", ["P(A):-Q(A)"], {LONE: 1}, [], False), "dict_1"),
    (lambda: vantor.filter_by_min_pos([["r" + LONE]], 1), "P"),
    (lambda: learn._learn_stages({"t(a)": ["p(" + LONE + ")"]}, {}), "Training_pos"),
    (lambda: learn._learn_stages({"t(a)": ["p(A)"]}, {}, meta_rule=[LONE]), "meta_rule"),
    (lambda: vantor.vantor_abduction({"t(a)": []}, ["p"], meta_rule=[LONE]), "meta_rule"),
    (lambda: vantor.print_rules([LONE], "missing.info"), None),
])
def test_lone_surrogate_names_the_parameter(call, parameter, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    if parameter is None:  # a missing file is reported before the rules are read
        with pytest.raises(FileNotFoundError):
            call()
        return
    with pytest.raises(ValueError, match=f"^{parameter} holds a lone surrogate"):
        call()


def test_nul_is_kept_in_texts():
    assert vantor.make_literal("p", ["a\0b", 1]) == "p(a\0b,1)"
    assert vantor.make_rule("h(A)", ["p(A,\0)"]) == "h(A):-p(A,\0)"
    assert vantor.Clause("p(a\0b)").args() == ["a\0b"]


def test_nul_in_a_file_name(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "BK.pl").write_text("p(a,b).\n")
    pos, neg = {"t(a,b)": ["p(A,B)"]}, {"t(b,a)": []}
    with pytest.raises(ValueError, match="^file must not contain a null character"):
        vantor.vantor_learn(pos, neg, file="BK.pl\0x", verbose=True)
    kfolds = vantor.vantor_folds(1, False, pos, neg)
    with pytest.raises(ValueError, match="^file must not contain a null character"):
        vantor.vantor_cross_validation(kfolds, file="BK.pl\0x", k_fold=1, verbose=True)
    with pytest.raises(TypeError, match="^file must be a file name"):
        vantor.vantor_learn(pos, neg, file=3, verbose=True)
    assert vantor.vantor_learn(pos, neg, file=tmp_path / "BK.pl", verbose=True).accuracy == 1.0
    assert sorted(p.name for p in tmp_path.iterdir()) == ["BK.pl"]
