import itertools
import random

import pytest

import vantor as v
from vantor import Clause, Meta, argument_kind, make_literal, make_rule, is_linked
from vantor import variable_name, variabilise_example


# ---- a literal reading of the stages, to compare the library with ----------


def ref_compress(BC):
    BC.sort()
    out, previous = [], None
    for lit in BC:
        key = lit.split("(")[0]
        if key != previous:
            out.append(lit)
            previous = key
    return out


def ref_arity_table(pos, size, key_size):
    n = key_size if key_size else int(size * 0.1)
    n = n if n > 1 else 1
    table = {}
    for key in random.sample(sorted(pos), n):
        for lit in ref_compress(pos[key]):
            c = Clause(lit)
            if c.predicate not in table:
                table[c.predicate] = len(c.args())
    return table


def ref_relation_chains(d, length, constant_set, key_size, set_chain):
    relation = []
    random.seed(length)
    pos_ind = key_size if key_size else int(length * 0.1)
    ids = random.sample(sorted(d), 1 if pos_ind == 0 else pos_ind)
    head = Clause(variabilise_example(ids[0], constant_set))
    h_args = head.args()

    def linking(lit):
        out = {a for a in Clause(lit).args() if a not in constant_set and argument_kind(a) == "variable"}
        if set_chain:
            out -= {a for a in h_args if argument_kind(a) == "variable"}
        return out

    for i in ids:
        B = d[i]
        for j in B:
            pair = [head.predicate, Clause(j).predicate]
            if pair not in relation and set(h_args) & set(Clause(j).args()):
                relation.append(pair)
        for a, b in itertools.combinations(range(len(B)), 2):
            pair = [Clause(B[a]).predicate, Clause(B[b]).predicate]
            if pair not in relation and linking(B[a]) & linking(B[b]):
                relation.append(pair)
    return relation


def ref_hypotheses(BC, h, constant, max_literals, exact_literals, track):
    hypo = []
    arg_head = Clause(h).args()
    new_head = make_literal("A", arg_head)
    sizes = [max_literals] if exact_literals else range(1, max_literals + 1)
    for size in sizes:
        for subset in itertools.combinations(BC, size):
            sig = tuple(sorted(Clause(x).predicate for x in subset))
            if sig in track or not is_linked(h, list(subset), constant):
                continue
            total, body = len(arg_head), []
            for k, lit in enumerate(subset):
                args = []
                for _ in Clause(lit).args():
                    args.append(variable_name(total))
                    total += 1
                body.append(make_literal(variable_name(k + 1), args))
            rule = make_rule(new_head, body)
            track[sig] = ""
            if rule not in hypo:
                hypo.append(rule)
    return hypo, track


def ref_generate(d, constant, max_literals, exact_literals, key_size):
    pos_ind = int(len(d) * 0.1) or 1
    ids = random.sample(sorted(d), key_size if key_size else pos_ind)
    head = variabilise_example(ids[0], constant)
    track, out = {}, []
    for i in ids:
        bc = v.first_literal_per_predicate(d[i]) if len(d[i]) > 50 else d[i]
        hypo, track = ref_hypotheses(bc, head, constant, max_literals, exact_literals, track)
        out += [r for r in hypo if r not in out]
    return out


def ref_apply_meta_rules(hd, rule, dict_1, relation, distinct):
    track, out = {}, []
    target = Clause(hd).predicate
    for mi in rule:
        body = Meta(mi.replace(" ", "")).get_body_clauses()
        set_final = []
        for count, lit in enumerate(body):
            cands = [k for k in dict_1 if dict_1[k] == len(Clause(lit).args())]
            if count == 0:
                cands = [k for k in cands if [target, k] in relation]
            set_final.append(cands)
        if distinct and len({tuple(x) for x in set_final}) == 1:
            choices = itertools.combinations(set_final[0], len(set_final))
        else:
            choices = itertools.product(*set_final)
        for perm in choices:
            if distinct and len(set(perm)) < len(perm):
                continue
            sig = tuple(sorted(perm))
            if sig in track:
                continue
            if not all([perm[i], perm[i + 1]] in relation or [perm[i + 1], perm[i]] in relation
                       for i in range(len(perm) - 1)):
                continue
            lits = [make_literal(perm[c], Clause(body[c]).args()) for c in range(len(perm))]
            new_rule = make_rule(hd, lits)
            track[sig] = ""
            if new_rule not in out:
                out.append(new_rule)
    return out


# ---- random inputs -----------------------------------------------------------

PREDICATES = {"p": 2, "q": 2, "r": 1, "s": 3, "t": 2}
TERMS = ["A", "B", "C", "D", "E", "F", "a", "1"]


def random_clause(rng, length):
    lits = []
    while len(lits) < length:
        pred = rng.choice(list(PREDICATES))
        arity = PREDICATES[pred] if rng.random() < 0.9 else PREDICATES[pred] + 1
        lit = make_literal(pred, [rng.choice(TERMS) for _ in range(arity)])
        if lit not in lits:
            lits.append(lit)
    return lits


def random_dict(rng, examples, length):
    return {f"target(e{i},x{rng.randrange(5)},a).": random_clause(rng, rng.randrange(length + 1))
            for i in range(examples)}


# ---- property tests: library against the literal reading --------------------


@pytest.mark.parametrize("seed", range(30))
def test_stages_match_reference(seed):
    rng = random.Random(seed)
    d = random_dict(rng, rng.choice([1, 5, 12, 25]), 14)
    constant = rng.choice([[], ["a"], ["C"]])
    key_size = rng.choice([[], 0, 1, min(2, len(d))])
    set_chain = rng.random() < 0.5

    d_lib = {k: list(x) for k, x in d.items()}
    random.seed(seed)
    table = v.predicate_arity_table(d_lib, {}, len(d_lib), 0, key_size)
    random.seed(seed)
    assert list(table.items()) == list(ref_arity_table(d, len(d), key_size).items())
    assert d_lib == d  # the sampled clauses are sorted in the caller's dict too

    relation = v.relation_chains(d, len(d), constant, key_size, set_chain)
    assert relation == ref_relation_chains(d, len(d), constant, key_size, set_chain)

    max_literals, exact = rng.choice([1, 2, 3]), rng.random() < 0.3
    state = random.getstate()
    templates = v.generate_hypotheses(d, constant, max_literals, exact, key_size)
    random.setstate(state)
    assert templates == ref_generate(d, constant, max_literals, exact, key_size)

    head = variabilise_example(next(iter(d)), constant)
    for distinct in (False, True):
        got = v.apply_meta_rules(head, templates, table, relation, distinct)
        assert got == ref_apply_meta_rules(head, templates, table, relation, distinct)


@pytest.mark.parametrize("seed", range(20))
def test_apply_meta_rules_hand_written_templates_match_reference(seed):
    rng = random.Random(1000 + seed)
    preds = {f"p{i}": rng.choice([1, 2]) for i in range(6)}
    pairs = [[a, b] for a in ["goal", *preds] for b in preds if rng.random() < 0.4]
    shapes = ["P(A,B):-Q(A,C)&R(C,B)", "P(A,B):-Q(A,B)", "P(A, B) :- Q(B, A) & R(A)",
              "P(A,B):-Q(A)&R(A,C)&S(C,B)", "P(A,B):-Q(B,C)&R(C,A)"]
    rules = rng.sample(shapes, 3)
    for distinct in (False, True):
        assert (v.apply_meta_rules("goal(A,B)", rules, preds, pairs, distinct)
                == ref_apply_meta_rules("goal(A,B)", rules, preds, pairs, distinct))


# ---- sampling and compression -----------------------------------------------


def test_compress_sorts_in_place_and_keeps_smallest_per_predicate():
    bc = ["q(B,A)", "p(A,C)", "p(A,B)", "r(C)"]
    assert v.compress_bottom_clause(bc) == ["p(A,B)", "q(B,A)", "r(C)"]
    assert bc == ["p(A,B)", "p(A,C)", "q(B,A)", "r(C)"]


def test_first_literal_per_predicate_keeps_input_order():
    bc = ["q(B,A)", "p(A,C)", "p(A,B)", "r(C)"]
    assert v.first_literal_per_predicate(bc) == ["q(B,A)", "p(A,C)", "r(C)"]
    assert bc == ["q(B,A)", "p(A,C)", "p(A,B)", "r(C)"]


@pytest.mark.parametrize("count", [0, 3, 6])
def test_limit_bottom_clause_is_random_sample(count):
    bc = ["a(A)", "b(A)", "c(A)", "d(A)", "e(A)", "f(A)"]
    random.seed(7)
    got = v.limit_bottom_clause(bc, count)
    random.seed(7)
    assert got == random.sample(bc, count)


@pytest.mark.parametrize("count", [7, -1, 7.0])
def test_limit_bottom_clause_too_large_is_an_error(count):
    with pytest.raises(ValueError, match="Sample larger than population"):
        v.limit_bottom_clause(["a(A)"] * 6, count)


def drawn_count(call, keys):
    """How many keys a call drew: the generator state it leaves behind."""
    random.seed(11)
    call()
    after = random.random()
    for k in range(len(keys) + 1):
        random.seed(11)
        random.sample(sorted(keys), k)
        if random.random() == after:
            return k
    return None


@pytest.mark.parametrize("examples,key_size,expected", [
    (25, [], 2), (9, [], 1), (1, [], 1), (25, 1, 1), (25, 0.5, 1), (25, 0, 2), (25, 5, 5), (25, -3, 1),
])
def test_arity_table_sample_size(examples, key_size, expected):
    d = {f"f(e{i})": ["p(A)"] for i in range(examples)}
    assert drawn_count(lambda: v.predicate_arity_table(d, d, examples, 0, key_size), d) == expected


def test_arity_table_sorts_the_drawn_clauses_and_keeps_first_arity():
    d = {"f(a)": ["z(A)", "p(A,B)"], "f(b)": ["p(A,B,C)", "m(A)"]}
    random.seed(0)
    table = v.predicate_arity_table(d, {}, 2, 0, 2)
    random.seed(0)
    first = random.sample(sorted(d), 2)[0]
    assert d == {"f(a)": ["p(A,B)", "z(A)"], "f(b)": ["m(A)", "p(A,B,C)"]}
    assert table["p"] == (2 if first == "f(a)" else 3)
    assert list(table)[0] == ("p" if first == "f(a)" else "m")


@pytest.mark.parametrize("call", [
    lambda d, k: v.predicate_arity_table(d, {}, len(d), 0, k),
    lambda d, k: v.relation_chains(d, len(d), [], k, False),
    lambda d, k: v.generate_hypotheses(d, [], 2, False, k),
])
def test_sampling_errors(call):
    with pytest.raises(ValueError, match="cannot draw 1 of 0"):
        call({}, [])
    d = {"f(a)": ["p(A)"], "f(b)": ["p(A)"]}
    with pytest.raises(ValueError, match="cannot draw 3 of 2"):
        call(d, 3)
    with pytest.raises(TypeError, match="key_size"):
        call(d, "2")
    with pytest.raises(TypeError, match="read_pickle"):
        call("positive_bottom_clause", [])


def test_fractional_key_size_cannot_be_drawn():
    d = {"f(a)": ["p(A)"], "f(b)": ["p(A)"]}
    with pytest.raises(TypeError, match="whole number"):
        v.relation_chains(d, 2, [], 1.5, False)
    with pytest.raises(ValueError):
        v.generate_hypotheses(d, [], 2, False, 2.5)


# ---- relation chains --------------------------------------------------------


@pytest.mark.parametrize("bc,set_chain,expected", [
    (["p(A,C)", "q(C,B)"], False, [["r", "p"], ["r", "q"], ["p", "q"]]),
    (["p(A,C)", "q(C,B)"], True, [["r", "p"], ["r", "q"], ["p", "q"]]),
    (["p(A,B)", "q(A,C)"], False, [["r", "p"], ["r", "q"], ["p", "q"]]),
    (["p(A,B)", "q(A,C)"], True, [["r", "p"], ["r", "q"]]),
    (["p(D,1)", "q(E,1)"], False, []),
    (["p(D,K)", "q(E,K)"], False, [["p", "q"]]),
    (["q(C,D)", "p(D,E)", "p(E,C)"], False, [["q", "p"], ["p", "p"]]),
])
def test_relation_chain_links(bc, set_chain, expected):
    assert v.relation_chains({"r(a,b).": bc}, 1, [], [], set_chain) == expected


def test_relation_chains_constant_never_links_and_head_constant_counts():
    bc = ["p(D,K)", "q(E,K)", "s(c,G)"]
    assert v.relation_chains({"r(a,c).": bc}, 1, ["K", "c"], [], False) == [["r", "s"]]


def test_relation_chains_other_orientation_added_later():
    d = {"r(a,b).": ["p(C,D)", "q(D,E)"], "r(c,d).": ["q(D,E)", "p(E,F)"]}
    relation = v.relation_chains(d, 2, [], 2, False)
    assert ["p", "q"] in relation and ["q", "p"] in relation


def test_relation_chains_deterministic_whatever_the_generator_state():
    rng = random.Random(5)
    d = random_dict(rng, 40, 12)
    random.seed(1)
    first = v.relation_chains(d, 40, [], [], False)
    random.seed(99)
    random.random()
    assert v.relation_chains(d, 40, [], [], False) == first
    random.seed(40)
    random.sample(sorted(d), 4)
    after = random.random()
    v.relation_chains(d, 40, [], [], False)
    assert random.random() == after


# ---- templates ------------------------------------------------------------


@pytest.mark.parametrize("bc,head,exact,expected", [
    (["p(A,C)", "q(C,B)"], "r(A,B)", False, ["A(A,B):-B(C,D)", "A(A,B):-B(C,D)&C(E,F)"]),
    (["p(A,C)", "q(C,B)"], "r(A,B)", True, ["A(A,B):-B(C,D)&C(E,F)"]),
    (["q(C,D)", "p(A,C)"], "r(A,B)", True, []),
    (["q(C,D)", "p(A,C)", "q(C,E)"], "r(A,B)", True, ["A(A,B):-B(C,D)&C(E,F)"]),
    (["p(A,C)"], "r(A,B,E)", False, ["A(A,B,E):-B(D,E)"]),
    (["p(a,C)"], "r(A,B)", False, []),
])
def test_hypotheses_from_bottom_clause(bc, head, exact, expected):
    hypo, track = v.hypotheses_from_bottom_clause(bc, head, [], 2, exact, {})
    assert hypo == expected


@pytest.mark.parametrize("max_literals,exact", [(0, True), (0, False), (-1, False), (3, True), (1, True)])
def test_hypotheses_body_sizes_at_the_edges(max_literals, exact):
    bc = ["p(A,C)", "q(C,B)"]
    expected = ref_hypotheses(bc, "r(A,B)", [], max_literals, exact, {})
    assert v.hypotheses_from_bottom_clause(bc, "r(A,B)", [], max_literals, exact, {}) == expected


def test_track_is_extended_in_place_and_respected():
    track = {("p", "q"): "", ("q", "p"): ""}
    hypo, out = v.hypotheses_from_bottom_clause(["p(A,C)", "q(C,B)"], "r(A,B)", [], 2, False, track)
    assert out is track
    assert hypo == ["A(A,B):-B(C,D)"]
    assert list(track) == [("p", "q"), ("q", "p"), ("p",), ("q",)]


def test_unlinked_subset_leaves_signature_free():
    bc = ["q(C,D)", "p(A,C)", "p(A,E)", "q(E,F)"]
    hypo, track = v.hypotheses_from_bottom_clause(bc, "r(A,B)", [], 2, True, {})
    assert ("p", "q") in track and hypo == ["A(A,B):-B(C,D)&C(E,F)"]


@pytest.mark.parametrize("fillers,has_ternary", [(47, True), (48, False)])
def test_long_bottom_clauses_are_cut_to_one_literal_per_predicate(fillers, has_ternary):
    bc = ["q(C,D,F)", "p(A,C)", "q(A,E,G)"] + [f"f({variable_name(100 + k)})" for k in range(fillers)]
    templates = v.generate_hypotheses({"r(a,b).": bc}, [], 1, False, [])
    assert ("A(A,B):-B(C,D,E)" in templates) == has_ternary


def test_generate_hypotheses_order_of_first_occurrence():
    d = {"r(a,b).": ["p(A,C,D)"], "r(c,d).": ["s(A,C)", "q(A)"]}
    random.seed(3)
    got = v.generate_hypotheses(d, [], 1, False, 2)
    random.seed(3)
    first = random.sample(sorted(d), 2)[0]
    expected = ["A(A,B):-B(C,D,E)", "A(A,B):-B(C,D)", "A(A,B):-B(C)"]
    assert got == (expected if first == "r(a,b)." else expected[1:] + expected[:1])


@pytest.mark.parametrize("examples,expected", [(25, 2), (5, 1), (10, 1), (20, 2)])
def test_generate_hypotheses_sample_size(examples, expected):
    d = {f"f(e{i})": ["p(A)"] for i in range(examples)}
    assert drawn_count(lambda: v.generate_hypotheses(d, [], 1, False, []), d) == expected


# ---- meta-rule instantiation ------------------------------------------------

GP = [["grandparent", "parent"], ["parent", "parent"]]
TABLE = {"parent": 2, "male": 1}


@pytest.mark.parametrize("rules,table,relation,distinct,expected", [
    (["A(A,B):-B(C,D)&C(E,F)"], TABLE, GP, False, ["grandparent(A,B):-parent(C,D)&parent(E,F)"]),
    (["A(A,B):-B(C,D)&C(E,F)"], TABLE, GP, True, []),
    (["P(A, B) :- Q(A, C) & R(C, B)"], TABLE, GP, False, ["grandparent(A,B):-parent(A,C)&parent(C,B)"]),
    (["P(A,B):-Q(A,C)&R(C,B)", "P(A,B):-Q(C,A)&R(B,C)"], TABLE, GP, False,
     ["grandparent(A,B):-parent(A,C)&parent(C,B)"]),
    (["P(A,B):-Q(A,C)"], TABLE, [["parent", "grandparent"]], False, []),
    (["P(A,B):-Q(A,C)&R(C,B)"], {"p": 2, "q": 2}, [["grandparent", "p"], ["grandparent", "q"],
                                                   ["p", "q"]], True,
     ["grandparent(A,B):-p(A,C)&q(C,B)"]),
    (["P(A,B):-Q(A,C)&R(C,B)"], {"p": 2, "q": 2}, [["grandparent", "p"], ["grandparent", "q"],
                                                   ["q", "p"]], False,
     ["grandparent(A,B):-p(A,C)&q(C,B)"]),
    (["P(A,B):-Q(A,C)&R(C)"], TABLE, GP, False, []),
    (["P(A,B):-Q(A)&R(A,C)"], TABLE, GP + [["grandparent", "male"], ["male", "parent"]], False,
     ["grandparent(A,B):-male(A)&parent(A,C)"]),
])
def test_apply_meta_rules(rules, table, relation, distinct, expected):
    assert v.apply_meta_rules("grandparent(A,B)", rules, table, relation, distinct) == expected


def test_apply_meta_rules_does_not_modify_inputs():
    rules, table, relation = ["P(A,B):-Q(A,C)&R(C,B)"], dict(TABLE), [list(p) for p in GP]
    v.apply_meta_rules("grandparent(A,B)", rules, table, relation, False)
    assert (rules, table, relation) == (["P(A,B):-Q(A,C)&R(C,B)"], TABLE, GP)


@pytest.mark.parametrize("rule", ["P(A,B)", "P(A,B):-", "P(A,B):-Q(A,B)&&R(B,A)", "", ":-&"])
def test_apply_meta_rules_malformed_templates_do_not_fail(rule):
    got = v.apply_meta_rules("grandparent(A,B)", [rule], TABLE, GP, False)
    assert got == ref_apply_meta_rules("grandparent(A,B)", [rule], TABLE, GP, False)


def test_nested_list_arguments_are_written_as_host_lists():
    head = "f([[a,b],[c]],C)"
    assert (v.hypotheses_from_bottom_clause(["p(C,D)"], head, [], 1, False, {})
            == ref_hypotheses(["p(C,D)"], head, [], 1, False, {}))
    rules = ["P(A,B):-Q([[x,y],[it's]],A)"]
    assert (v.apply_meta_rules("grandparent(A,B)", rules, TABLE, GP, False)
            == ref_apply_meta_rules("grandparent(A,B)", rules, TABLE, GP, False))


@pytest.mark.parametrize("examples,key_size,expected", [(9, [], 1), (25, [], 2), (25, 3, 3), (5, 0, 1)])
def test_relation_chains_seeds_then_draws(examples, key_size, expected):
    d = {f"f(e{i})": ["p(A)"] for i in range(examples)}
    random.seed(examples)
    random.sample(sorted(d), expected)
    after = random.random()
    random.seed(12345)
    v.relation_chains(d, examples, [], key_size, False)
    assert random.random() == after
