"""Abduction: splitting abducible literals, consistency, instantiation and the driver."""
import collections
import os
import pickle
import warnings

import pytest

from vantor import (
    consistent_substitutions,
    instantiate_abducibles,
    separate_abducibles,
    vantor_abduction,
)

OUT = "abduced_facts.txt"
HEADER = "fact \t coverage \n"


@pytest.fixture(autouse=True)
def in_tmp(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return tmp_path


def output():
    with open(OUT, encoding="utf-8") as handle:
        return handle.read()


# ------------------------------------------------------------ the three steps


@pytest.mark.parametrize(
    "rules, abduce, expected",
    [
        (["p(A,B):-q(A,C)&ab(C,B)&r(B)"], ["ab"], (["p(A,B):-q(A,C)&r(B)"], ["ab(C,B)"])),
        (["p(A,B):-q(A,C)&ab(C,B)"], [], (["p(A,B):-q(A,C)&ab(C,B)"], [])),
        (
            ["h(A):-ab(A,B)&q(B)", "g(A):-r(A)&ab(A)"],
            ["ab"],
            (["h(A):-q(B)", "g(A):-r(A)"], ["ab(A,B)", "ab(A)"]),
        ),
        # Only abducible literals: the rule keeps an empty body.
        (["h(A):-ab(A)"], ["ab"], (["h(A):-"], ["ab(A)"])),
        # The literal is kept exactly as written in the body.
        (["h(A):-q(A)&ab( A )"], ["ab", "zz"], (["h(A):-q(A)"], ["ab( A )"])),
    ],
)
def test_separate_abducibles(rules, abduce, expected):
    assert separate_abducibles(rules, abduce) == expected


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ([], [{"X": "a"}], True),
        ([{"X": "a"}], [{"Y": "b"}], True),
        ([{"X": "a"}, {"Y": "b"}], [{"X": "a"}], True),
        ([{"X": "a"}], [{"X": "c"}], False),
        # Multiplicity and order of the values count.
        ([{"X": "a"}, {"X": "a"}], [{"X": "a"}], False),
        ([{"X": "a"}], [{"X": "a"}, {"X": "a"}], False),
        ([{"X": "a"}, {"X": "b"}], [{"X": "b"}, {"X": "a"}], False),
        ([{"X": "a"}, {"Y": "c"}, {"X": "b"}], [{"X": "a"}, {"X": "b"}, {"Z": "q"}], True),
        ([{"X": "a"}, {"Y": "c"}], [{"Y": "d"}, {"X": "a"}], False),
    ],
)
def test_consistent_substitutions(a, b, expected):
    assert consistent_substitutions(a, b) is expected
    assert consistent_substitutions(b, a) is expected


@pytest.mark.parametrize(
    "a, dic, expected",
    [
        (["ab(C,B)"], [{"B": "bob"}, {"C": "cid"}], ["ab(cid,bob)"]),
        (["ab(X,Y)"], [{"X": "a1"}, {"X": "a2"}, {"Y": "b1"}], ["ab(a1,b1)", "ab(a2,b1)"]),
        (
            ["ab(X,Y)"],
            [{"Y": "b1"}, {"X": "a1"}, {"Y": "b2"}, {"X": "a2"}],
            ["ab(a1,b1)", "ab(a1,b2)", "ab(a2,b1)", "ab(a2,b2)"],
        ),
        (["ab(red,X)"], [{"X": "a1"}], ["ab(red,a1)"]),
        (["ab(AB,X)"], [{"X": "a1"}, {"A": "zz"}], ["ab(AB,a1)"]),
        (["ab(X, Y)"], [{"X": "a"}, {"Y": "b"}], ["ab(a,b)"]),
        (["ab(X)"], [{"X": "a1"}, {"X": "a1"}], ["ab(a1)", "ab(a1)"]),
        (["ab(X)", "cd(X,X)"], [{"X": "a"}, {"X": "b"}],
         ["ab(a)", "ab(b)", "cd(a,a)", "cd(a,b)", "cd(b,a)", "cd(b,b)"]),
    ],
)
def test_instantiate_abducibles(a, dic, expected):
    assert instantiate_abducibles(a, dic) == expected


@pytest.mark.parametrize(
    "call",
    [
        lambda: consistent_substitutions("false", []),
        lambda: instantiate_abducibles(["ab(X)"], "false"),
        lambda: instantiate_abducibles("ab(X)", []),
        lambda: separate_abducibles(["h(A):-ab(A)"], "ab"),
    ],
)
def test_step_functions_reject_texts_for_lists(call):
    with pytest.raises(TypeError):
        call()


# ------------------------------------------------------------------ driver

# Bottom clauses as the bottom-clause builder writes them (variables named by
# position of discovery) for a small family: arthur has two children, only
# charles has a child.
FAMILY = {
    "grandfather(arthur,diana).": ["parent(A,C)", "parent(A,D)", "parent(C,B)", "male(C)"],
    "grandfather(edward,helen).": ["parent(A,C)", "parent(C,B)", "female(B)"],
    "grandfather(ivan,liam).": ["parent(A,C)", "female(C)"],
}
GRANDFATHER = "grandfather(A,B):-parent(A,C)&parent(C,B)&male(A)"


def test_family_rule_proposes_the_missing_facts():
    result = vantor_abduction(FAMILY, ["male"], meta_rule=[GRANDFATHER])
    # ivan's bottom clause has no second parent link: no proposal for him.
    assert result == {"male(arthur)": 1, "male(edward)": 1}
    assert type(result) is dict
    assert output() == HEADER + "male(arthur)\t1\nmale(edward)\t1\n"


def test_pair_agreement_keeps_only_values_both_literals_share():
    # parent(A,C) offers C and D for the child; parent(C,B) only C.
    result = vantor_abduction(FAMILY, ["link"],
                              meta_rule=["grandfather(A,B):-parent(A,X)&parent(X,B)&link(A,X,B)"])
    assert result == {"link(arthur,C,diana)": 1, "link(edward,C,helen)": 1}


def test_later_pair_replaces_disagreeing_earlier_values():
    bc = {"h(a).": ["p(A,B)", "p(A,C)", "q(B,D)", "q(C,D)", "r(D)"]}
    # (p,q) agree on X: B and C; (q,r) agree on Y: D, which drops both X values.
    assert vantor_abduction(bc, ["ab"], meta_rule=["h(A):-p(A,X)&q(X,Y)&r(Y)&ab(X,Y)"]) == {
        "ab(X,D)": 1
    }


def test_repeated_values_are_counted_twice():
    bc = {"h(a).": ["q(B,D)", "r(D,E)", "r(D,F)"]}
    # Both r literals project to Y=D: the value is appended twice.
    assert vantor_abduction(bc, ["ab"], meta_rule=["h(A):-q(X,Y)&r(Y,Z)&ab(A,Y)"]) == {
        "ab(a,D)": 2
    }
    assert output() == HEADER + "ab(a,D)\t2\n"


def test_same_fact_from_two_examples_counts_two():
    bc = {"h(a).": ["p(A,B)", "q(B)"], "h(b).": ["p(A,C)", "q(C)"], "h(c).": ["p(A,B)"]}
    assert vantor_abduction(bc, ["ab"], meta_rule=["h(A):-p(A,X)&q(X)&ab(k)"]) == {"ab(k)": 2}


@pytest.mark.parametrize("n_examples, proposers", [(1, 1), (4, 4), (4, 3), (5, 1), (7, 7)])
def test_predictive_power(n_examples, proposers):
    bc = {}
    for i in range(n_examples):
        bc["h(e%d)." % i] = ["p(A,B)", "q(B)"] if i < proposers else ["p(A,B)"]
    result = vantor_abduction(bc, ["ab"], meta_rule=["h(A):-p(A,X)&q(X)&ab(k)"],
                              metric="predictive_power")
    value = int(n_examples * (proposers - 1) / proposers)
    assert result == {"ab(k)": value}
    assert output() == HEADER + "ab(k)\t%d\n" % value
    if proposers == n_examples:
        assert value == n_examples - 1


def test_rows_sorted_by_character_code_dict_in_first_proposal_order():
    bc = {"h(ann).": ["p(A,B)", "q(B)"], "h(Bob).": ["p(A,B)", "q(B)"],
          "h(carl).": ["p(A,B)", "q(B)"], "h( ann ).": ["p(A,B)", "q(B)"]}
    result = vantor_abduction(bc, ["ab"], meta_rule=["h(A):-p(A,X)&q(X)&ab(A)"])
    assert list(result) == ["ab(ann)", "ab(Bob)", "ab(carl)"]
    assert result["ab(ann)"] == 2
    assert output() == HEADER + "ab(Bob)\t1\nab(ann)\t2\nab(carl)\t1\n"


@pytest.mark.parametrize(
    "rule",
    [
        "h(A):-p(A,X)&ab(A)",  # a single ordinary literal
        "g(A):-p(A,X)&q(X)&ab(A)",  # head does not match the examples
        "h(A):-p(A,X)&zz(X)&ab(A)",  # an ordinary literal without match
        "h(A):-p(A,X)&q(Y)&ab(A)",  # no term shared by the ordinary literals
    ],
)
def test_rules_that_propose_nothing(rule):
    bc = {"h(a).": ["p(A,B)", "q(B)"]}
    assert vantor_abduction(bc, ["ab"], meta_rule=[rule]) == {}
    assert output() == HEADER


def test_empty_rule_list_writes_only_the_header():
    assert vantor_abduction(FAMILY, ["male"]) == {}
    assert output() == HEADER


def test_example_list_selects_and_orders_examples():
    rule = "h(A):-p(A,X)&q(X)&ab(A)"
    bc = {"h(a).": ["p(A,B)", "q(B)"], "h(b).": ["p(A,B)", "q(B)"], "h(c).": ["p(A,B)", "q(B)"]}
    assert list(vantor_abduction(bc, ["ab"], ["h(c).", "h(a)."], meta_rule=[rule])) == [
        "ab(c)", "ab(a)"]
    # The next call without an example list uses every key: nothing carried over.
    assert list(vantor_abduction(bc, ["ab"], meta_rule=[rule])) == ["ab(a)", "ab(b)", "ab(c)"]


def test_constant_set_keeps_terms_in_the_head():
    bc = {"h(a,k).": ["p(A,C)", "q(C,k)"]}
    rule = "h(A,B):-p(A,X)&q(X,B)&ab(A,B)"
    assert vantor_abduction(bc, ["ab"], constant_set=["k"], meta_rule=[rule]) == {"ab(a,k)": 1}
    # Without it the head is h(A,B) and B cannot match the constant k.
    assert vantor_abduction(bc, ["ab"], meta_rule=[rule]) == {}


def test_stored_dictionary_and_empty_file():
    with open("stored", "wb") as handle:
        pickle.dump(FAMILY, handle)
    assert vantor_abduction("stored", ["male"], meta_rule=[GRANDFATHER]) == {
        "male(arthur)": 1, "male(edward)": 1}
    open("empty", "wb").close()
    assert vantor_abduction("empty", ["male"], meta_rule=[GRANDFATHER]) == {}
    assert output() == HEADER
    with pytest.raises(KeyError, match="grandfather"):
        vantor_abduction("empty", ["male"], ["grandfather(ivan,liam)."], meta_rule=[GRANDFATHER])


def test_unknown_metric_warns_and_writes_only_the_header():
    with pytest.warns(UserWarning, match="coverage.*predictive_power"):
        result = vantor_abduction(FAMILY, ["male"], meta_rule=[GRANDFATHER], metric="accuracy")
    assert result == {"male(arthur)": 1, "male(edward)": 1}
    assert output() == HEADER
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        vantor_abduction(FAMILY, ["male"], meta_rule=[GRANDFATHER], metric="predictive_power")


# ------------------------------------------------------ faults and bad input


@pytest.mark.parametrize(
    "rules, offender",
    [
        (["h(A):-p(A,X)&q(X)"], "h(A):-p(A,X)&q(X)"),
        ([GRANDFATHER, "h(A):-ab(A)&male(A)&male(X)"], "h(A):-ab(A)&male(A)&male(X)"),
        (["g(A):-male(A)&male(B)", "h(A):-q(A)"], "g(A):-male(A)&male(B)"),
    ],
)
def test_each_rule_needs_exactly_one_abducible_literal(rules, offender):
    with open(OUT, "w") as handle:
        handle.write("old")
    with pytest.raises(ValueError, match="exactly one abducible literal") as info:
        vantor_abduction(FAMILY, ["male"], meta_rule=rules)
    assert offender in str(info.value)
    assert output() == "old"


def test_head_matching_the_example_but_not_its_variabilised_form():
    # With the constant "a,b" the variabilised example p(a,b) has two
    # arguments while the example p([a,b]) has one.
    bc = {"p([a,b]).": ["q(A,C)", "r(C)"]}
    rule = "p(X):-q(X,Y)&r(Y)&ab(X)"
    assert vantor_abduction(bc, ["ab"], constant_set=["a,b"], meta_rule=[rule]) == {}
    assert vantor_abduction(bc, ["ab"], meta_rule=[rule]) == {"ab(a,b)": 1}


@pytest.mark.parametrize("existing", [True, False])
def test_missing_example_leaves_the_output_alone(existing):
    if existing:
        with open(OUT, "w") as handle:
            handle.write("old")
    with pytest.raises(KeyError, match=r"grandfather\(nobody,x\)\."):
        vantor_abduction(FAMILY, ["male"], ["grandfather(arthur,diana).", "grandfather(nobody,x)."],
                         meta_rule=[GRANDFATHER])
    if existing:
        assert output() == "old"
    else:
        assert not os.path.exists(OUT)
    assert [f for f in os.listdir(".") if f != OUT] == []


@pytest.mark.parametrize(
    "kwargs",
    [
        dict(abducible="male"),
        dict(abducible=["male"], positive_example_list="grandfather(ivan,liam)."),
        dict(abducible=["male"], meta_rule=GRANDFATHER),
        dict(abducible=["male"], training=collections.OrderedDict(FAMILY)),
        dict(abducible=["male"], training=3),
    ],
)
def test_bad_input_types(kwargs):
    training = kwargs.pop("training", FAMILY)
    with pytest.raises(TypeError):
        vantor_abduction(training, **kwargs)
    assert not os.path.exists(OUT)


def test_missing_stored_file():
    with pytest.raises(FileNotFoundError, match="no_such_file"):
        vantor_abduction("no_such_file", ["male"])


# ------------------------------------------- against the plain step-by-step loop


def _plain_abduction(bc, abducible, rules):
    """The proposal loop written out step by step with the text-layer
    functions: no index, no interning. Returns the counts."""
    from vantor import Clause, Meta, literal_substitution, variabilise_example

    h, abduce_1 = separate_abducibles(rules, abducible)
    final = []
    for e, clauses in bc.items():
        for k, rule in enumerate(h):
            head, body = Meta(rule).head, Meta(rule).get_body_clauses()
            c = literal_substitution(head, variabilise_example(e, []))
            dic = literal_substitution(head, e)
            if dic == "false" or not dic or c == "false":
                continue
            dict_set = []
            for hi in body:
                kept = [u for u in (literal_substitution(hi, bi) for bi in clauses)
                        if u != "false" and u and consistent_substitutions(c, u)]
                if kept:
                    dict_set.append(kept)
            if len(dict_set) != len(body):
                continue
            args = [Clause(b).args() for b in body]
            common_1 = []
            for p in range(len(body)):
                for q in range(p + 1, len(body)):
                    common = []
                    for t in args[p]:
                        if t in args[q] and t not in common:
                            common.append(t)
                    if not common:
                        continue

                    def project(u):
                        return [{t: m[t]} for t in common for m in u if t in m]

                    vk1 = []
                    for u in dict_set[p]:
                        if project(u) not in vk1:
                            vk1.append(project(u))
                    vk2 = [project(u) for u in dict_set[q] if project(u) in vk1]
                    for x in vk2:
                        common_1.append(x)
                        common_1 = [y for y in common_1 if y in vk2]
            if not common_1:
                continue
            for element in common_1:
                dic.extend(element)
            final.extend(instantiate_abducibles([abduce_1[k]], dic))
    return dict(collections.Counter(final))


def test_agrees_with_the_plain_loop_on_random_bottom_clauses():
    import random

    rng = random.Random(7)
    terms = ["A", "B", "C", "D", "k"]
    predicates = [("p", 2), ("q", 2), ("r", 1)]

    def literal(pool):
        name, arity = rng.choice(predicates)
        return "%s(%s)" % (name, ",".join(rng.choice(pool) for _ in range(arity)))

    proposing = 0
    for _ in range(300):
        bc = {}
        for i in range(rng.randint(1, 4)):
            bc["h(x%d,%s)." % (i, rng.choice(["y", "k"]))] = list(
                dict.fromkeys(literal(terms) for _ in range(rng.randint(0, 12))))
        rules = []
        for _ in range(rng.randint(1, 3)):
            body = [literal(["A", "B", "X", "Y", "k"]) for _ in range(rng.randint(1, 4))]
            body.insert(rng.randint(0, len(body)), "ab(%s)" % rng.choice(["A,X", "Y", "B,A"]))
            rules.append("h(A,B):-" + "&".join(body))
        expected = _plain_abduction(bc, ["ab"], rules)
        assert vantor_abduction(bc, ["ab"], meta_rule=rules) == expected
        proposing += bool(expected)
    assert proposing > 40  # the comparison is not only about empty results


def test_example_data_end_to_end():
    from vantor import bottom_clause_generation

    data = os.path.join(os.path.dirname(__file__), "..", "examples", "abduction")
    positive, _ = bottom_clause_generation(
        file=os.path.join(data, "BK.pl"), container="memory",
        positive_example=os.path.join(data, "pos_example.f"), negative_example="",
        tqdm_disable=True)
    result = vantor_abduction(positive, ["male"], meta_rule=[GRANDFATHER])
    assert result == {"male(arthur)": 1, "male(edward)": 1, "male(martin)": 1, "male(quentin)": 1}
