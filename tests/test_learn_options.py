"""The learning options: one checked record behind vantor_learn and
vantor_cross_validation, and the parameters both show."""
import inspect
import os
import shutil

import pytest

import vantor
from vantor import learn
from vantor._options import learn_options

FAMILY = os.path.join(os.path.dirname(__file__), "..", "examples", "family")


@pytest.fixture
def family(tmp_path, monkeypatch):
    for name in ("BK.pl", "pos_example.f", "neg_example.n"):
        shutil.copy(os.path.join(FAMILY, name), tmp_path / name)
    monkeypatch.chdir(tmp_path)
    return vantor.bottom_clause_generation(container="memory", tqdm_disable=True)


def test_defaults_and_normalised_values():
    o = learn_options()
    assert (o.constant_set, o.meta_rule, o.min_pos, o.max_neg, o.max_literals) == ([], [], 1, 0, 2)
    assert o.key_size is None and o.quiet is False and o.bc_count == 20
    o = learn_options(constant_set=("a", 3, "b"), key_size=[], verbose="yes", min_pos=True,
                      max_neg=1.5, exact_literals=[1], eval_fn=object())
    # Non-text constants can never equal a term; truthiness decides flags.
    assert o.constant_set == ["a", "b"] and o.key_size is None and o.quiet is True
    assert o.min_pos == 1 and type(o.min_pos) is int and o.max_neg == 1.5
    # Any eval_fn is accepted by the greedy selection (it scores by accuracy).
    assert o.exact_literals is True and o.eval_fn == "accuracy"


BAD = [
    (dict(min_pos="1"), TypeError, r"min_pos must be a number \(an int, or a float threshold\), not str"),
    (dict(max_neg=None), TypeError, "max_neg must be a number"),
    (dict(max_literals=2.0), TypeError, "max_literals must be an int, not float"),
    (dict(key_size="2"), TypeError, "key_size must be a number of examples"),
    (dict(key_size=-2), ValueError, "key_size must be a positive number of examples, got -2"),
    (dict(reduce_bc=True, bc_count=-1), ValueError, r"bc_count must be at least 0 .*, got -1"),
    (dict(reduce_bc=True, bc_count=2.5), TypeError, "bc_count must be an int, not float"),
    (dict(meta_rule="P(A,B):-Q(A,B)"), TypeError, "meta_rule must be a list of texts, not str"),
    (dict(meta_rule=["P(A,B):-Q(A,B)", 7]), TypeError, r"meta_rule must be a list of texts \(every element a str\), not int"),
    (dict(constant_set=5), TypeError, "constant_set must be a list of texts, not int"),
]


@pytest.mark.parametrize("given, error, message", BAD)
def test_one_message_for_every_entry(family, given, error, message):
    pos, neg = family
    with pytest.raises(error, match=message):
        learn_options(**given)
    with pytest.raises(error, match=message):
        vantor.vantor_learn(pos, neg, verbose=True, **given)
    kfolds = vantor.vantor_folds(2, False, pos, neg)
    with pytest.raises(error, match=message):
        vantor.vantor_cross_validation(kfolds, k_fold=2, verbose=True, **given)
    assert not os.path.exists("copy_bk.pl")


def test_bc_count_is_read_only_when_reducing(family):
    pos, neg = family
    result = vantor.vantor_learn(pos, neg, verbose=True, bc_count="not read")
    assert result.hypothesis == ["grandparent(A,B):-parent(A,C),parent(C,B)"]


def test_unknown_and_repeated_parameters():
    with pytest.raises(TypeError, match="min_poss"):
        vantor.vantor_learn({}, {}, min_poss=1)
    with pytest.raises(TypeError, match="multiple values"):
        vantor.vantor_learn({}, {}, "BK.pl", [], min_pos=1, constant_set=[])
    with pytest.raises(TypeError, match="unknown learning option 'quiet'"):
        learn_options(quiet=True)


def test_positional_call_means_the_same(family):
    pos, neg = family
    by_name = learn._learn_stages(pos, neg, constant_set=[], meta_rule=[], min_pos=2, max_neg=0,
                                  max_literals=3, key_size=2, verbose=True)
    in_order = learn._learn_stages(pos, neg, [], [], 2, 0, 3, False, 2, False, False, True)
    assert by_name[0] == in_order[0] and by_name[2]["candidates"] == in_order[2]["candidates"]


def test_float_thresholds_round_toward_the_exact_comparison(family):
    pos, neg = family
    def theory(**options):
        return learn._learn_stages(pos, neg, verbose=True, max_literals=3, **options)[0]
    # At least 1.5 covered positives means at least 2; at most 0.5 negatives means none.
    assert theory(min_pos=1.5) == theory(min_pos=2)
    assert theory(max_neg=0.5) == theory(max_neg=0)
    assert theory(min_pos=float("nan")) == []


def test_core_refuses_a_record_it_cannot_read(family):
    pos, neg = family
    with pytest.raises(TypeError, match="learn_options.*'constant_set'"):
        vantor._core._learn_stages(pos, neg, object())


PUBLIC = [vantor.vantor_learn, vantor.vantor_cross_validation, vantor.compute_coverage,
          vantor.select_theory, vantor.filter_by_min_pos, vantor.relation_chains,
          vantor.vantor_folds, vantor.split_examples, vantor.vantor_abduction, vantor.read_pickle,
          vantor.read_constants_bk, vantor.prepare_logic_rules, vantor.print_rules]


@pytest.mark.parametrize("function", PUBLIC, ids=lambda f: f.__name__)
def test_public_parameters_are_annotated(function):
    signature = inspect.signature(function)
    missing = [name for name, p in signature.parameters.items()
               if p.annotation is inspect.Parameter.empty]
    assert missing == []
    assert signature.return_annotation is not inspect.Signature.empty


def test_learning_parameters_in_help_order():
    names = list(inspect.signature(vantor.vantor_cross_validation).parameters)
    assert names[:3] == ["kfolds", "file", "k_fold"]
    learn_names = list(inspect.signature(vantor.vantor_learn).parameters)
    assert learn_names[:3] == ["Training_pos", "Training_neg", "file"]
    # The documented parameters keep their positions; newer options follow.
    assert names[3:-1] == learn_names[3:] and names[-1] == "candidates_per_fold"
    assert inspect.signature(vantor.vantor_cross_validation).parameters[
        "candidates_per_fold"].kind == inspect.Parameter.KEYWORD_ONLY
    assert names[3:20] == [
        "constant_set", "meta_rule", "min_pos", "max_neg", "max_literals", "exact_literals",
        "key_size", "distinct", "optimize", "verbose", "eval_fn", "reduce_bc", "bc_count",
        "set_chain", "pi", "recursive", "rule_noise_check"]
    assert names[20:25] == ["coverage", "selection", "min_precision", "max_rules", "n_jobs"]
    text = vantor.vantor_learn.__doc__
    assert "Learn a theory" in text
    assert "min_pos: Union[int, float] = 1" in str(inspect.signature(vantor.vantor_learn))
