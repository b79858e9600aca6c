"""Fact proving (search clauses proved over indexed ground facts) answers
every batch exactly as the engine does, and leaves to the engine what it
cannot answer exactly."""
import itertools
import os

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from vantor import _core

# Constants as written in a file: quoted and plain spellings of one atom,
# integers written two ways, floats equal in value to integers (they do not
# unify with them but compare equal to them).
CONSTANTS = ["a", "'a'", "b", "'b c'", "1", "01", "1.0", "2", "-2", "0.10", "0.1", "2.5", "-0.5"]
NUMBERS = ["1", "01", "1.0", "2", "-2", "0.10", "2.5", "-0.5"]
VARIABLES = ["A", "B", "C", "D", "_"]

_files = itertools.count()


def batch_file(folder, text):
    # A new name per batch: the engine and the fact store keep a file while
    # its size and modification time stay the same.
    path = os.path.join(str(folder), "bk%d.pl" % next(_files))
    with open(path, "w") as f:
        f.write(text)
    return path


def prove(prover, background, arguments, goals, lists, common=""):
    return _core._prove_batch_with(prover, background, arguments, common, lists, goals, 0.0, False)


@st.composite
def tasks(draw):
    facts = []
    for name, arity in (("p", 2), ("q", 1), ("r", 3)):
        for _ in range(draw(st.integers(1, 8))):  # an unknown predicate is an error
            args = [draw(st.sampled_from(CONSTANTS)) for _ in range(arity)]
            facts.append("%s(%s)." % (name, ",".join(args)))
    for _ in range(draw(st.integers(1, 6))):  # num(Key, Value): values to threshold
        facts.append("num(%s,%s)." % (draw(st.sampled_from(CONSTANTS[:4])), draw(st.sampled_from(NUMBERS))))
    # Known target facts, as a recursive search gives them to every goal.
    common = "".join("t(%s,%s).\n" % (draw(st.sampled_from(CONSTANTS)), draw(st.sampled_from(CONSTANTS)))
                     for _ in range(draw(st.integers(0, 4))))
    goals = []
    for g in range(draw(st.integers(1, 4))):
        body = []
        for _ in range(draw(st.integers(0, 3))):
            name, arity = draw(st.sampled_from([("p", 2), ("q", 1), ("r", 3), ("num", 2)]
                                               + ([("t", 2)] if common else [])))
            args = [draw(st.sampled_from(VARIABLES + CONSTANTS)) for _ in range(arity)]
            if name == "num" and draw(st.booleans()):  # a fresh value variable and a test on it
                args[1] = "V%d" % len(body)
                body.append("num(%s)" % ",".join(args))
                body.append("%s(V%d,%s)" % (draw(st.sampled_from([">=", "=<"])), len(body) - 1,
                                            draw(st.sampled_from(NUMBERS))))
                continue
            body.append("%s(%s)" % (name, ",".join(args)))
        head = "vantor_search_%d(A,B)" % g
        clause = "%s :- %s.\n" % (head, ", ".join(body) if body else "true")
        gates = [(draw(st.integers(0, 6)), draw(st.integers(0, 3)))] if draw(st.booleans()) else []
        goals.append((clause, "vantor_search_%d" % g, draw(st.integers(0, 1)), gates))
    arguments = ["(%s,%s)" % (draw(st.sampled_from(CONSTANTS)), draw(st.sampled_from(CONSTANTS)))
                 for _ in range(draw(st.integers(1, 8)))]
    lists = [list(range(len(arguments))), draw(st.permutations(range(len(arguments))))]
    return "\n".join(facts) + "\n", common, arguments, goals, lists


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(tasks())
def test_facts_answer_as_the_engine(tmp_path, task):
    facts, common, arguments, goals, lists = task
    background = batch_file(tmp_path, facts)
    answer = prove("facts", background, arguments, goals, lists, common)
    assert answer is not None  # within what fact proving answers
    assert answer == prove("engine", background, arguments, goals, lists, common)


def test_known_facts_from_the_common_text_answer_target_calls(tmp_path):
    background = batch_file(tmp_path, "edge(a,b).\nedge(b,c).\nedge(c,d).\n")
    common = "path(a,b).\npath(b,c).\n"
    goals = [("vantor_search_0(A,B) :- edge(A,C), path(C,B).\n", "vantor_search_0", 0, [])]
    arguments = ["(a,c)", "(b,d)", "(a,d)"]
    answer = prove("facts", background, arguments, goals, [[0, 1, 2]], common)
    assert answer == prove("engine", background, arguments, goals, [[0, 1, 2]], common) == ([[0]], 0)


@pytest.mark.parametrize("facts, common, body", [
    ("p(a).\nq(X) :- p(X).\n", "", "q(A)"),                 # a rule in the background
    (":- dynamic s/1.\np(a).\n", "", "p(A)"),               # a directive
    ("p(a).\np(f(b)).\n", "", "p(A)"),                      # a compound argument
    ("p(a).\n", ":- table t/1.\nt(X) :- p(X).\n", "t(A)"),  # rules in the common text
    ("p(a,b).\n", "", "p(A,B), >=(B,1)"),                   # a comparison meeting an atom
    ("p(a).\n", "", "p(A), atom(A)"),                       # another built-in
])
def test_what_facts_cannot_answer_goes_to_the_engine(tmp_path, facts, common, body):
    background = batch_file(tmp_path, facts)
    goals = [("vantor_search_0(A) :- %s.\n" % body, "vantor_search_0", 0, [])]
    arguments = ["(a)", "(b)"]
    assert prove("facts", background, arguments, goals, [[0, 1]], common) is None
    try:
        expected = prove("engine", background, arguments, goals, [[0, 1]], common)
    except Exception as engine_error:  # the engine's own error, raised the same way
        with pytest.raises(type(engine_error)):
            _core._prove_batch(background, arguments, common, [[0, 1]], goals, 0.0, False)
    else:
        assert _core._prove_batch(background, arguments, common, [[0, 1]], goals, 0.0, False) == expected


def test_facts_of_a_built_in_name_fail_as_in_the_engine(tmp_path):
    background = batch_file(tmp_path, "length(a,b).\n")
    goals = [("vantor_search_0(A) :- length(A,b).\n", "vantor_search_0", 0, [])]
    assert prove("facts", background, ["(a)"], goals, [[0]]) is None
    with pytest.raises(_core.PrologError, match="length"):
        _core._prove_batch(background, ["(a)"], "", [[0]], goals, 0.0, False)


# Spellings fact proving reads itself, and spellings it must leave to the
# engine (or read exactly as the engine does).
READ_HERE = ["1", "01", "1.0", "10.0e-1", "0.0", "-1", "a", "'a'", "'a b'", "'it''s'", "97", "1000"]
ENGINE_ONLY = ["1e0", "0x1", "0'a", "1_000", "-0.0", "1.0Inf", "'\\x61\\'", "\"a\"", "[]", "- 1", "f(a)"]


@pytest.mark.parametrize("spelling", READ_HERE + ENGINE_ONLY)
def test_a_constant_means_what_it_means_to_the_engine(tmp_path, spelling):
    background = batch_file(tmp_path, "v(%s).\n" % spelling)
    goals = [("vantor_search_0(A) :- v(A).\n", "vantor_search_0", 0, [])]
    arguments = ["(%s)" % s for s in READ_HERE]
    lists = [list(range(len(arguments)))]
    answer = prove("facts", background, arguments, goals, lists)
    assert (answer is not None) == (spelling in READ_HERE)
    if answer is not None:
        assert answer == prove("engine", background, arguments, goals, lists)


def test_a_goal_near_the_inference_limit_goes_to_the_engine(tmp_path):
    background = batch_file(tmp_path, "".join("q(%d).\n" % i for i in range(200)) + "s(b).\n")
    goals = [("vantor_search_0(A) :- q(B), q(C), q(D), s(A).\n", "vantor_search_0", 0, []),
             ("vantor_search_1(A) :- q(B), s(A).\n", "vantor_search_1", 0, [])]
    assert prove("facts", background, ["(a)"], goals, [[0]]) is None
    engine = prove("engine", background, ["(a)"], goals, [[0]])
    assert engine == ([[], []], 1)  # the first goal cut short by the limit
    assert _core._prove_batch(background, ["(a)"], "", [[0]], goals, 0.0, False) == engine


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(tasks())
def test_a_clause_proves_what_each_of_its_independent_parts_proves(tmp_path, task):
    # The search proves a refinement through the parts its parent lacks.
    facts, common, arguments, goals, lists = task
    background = batch_file(tmp_path, facts)
    whole, parts, owner = [], [], []
    for g, (clause, name, _, _) in enumerate(goals):
        head, body = clause.rstrip(".\n").split(" :- ")
        literals = [] if body == "true" else body.split(", ")
        whole.append((clause, name, 0, []))
        for part in _core._independent_parts(head, literals):
            part_name = "vantor_part_%d" % len(parts)
            text = "%s%s :- %s.\n" % (part_name, head[head.index("("):], ", ".join(literals[k] for k in part))
            parts.append((text, part_name, 0, []))
            owner.append(g)
    proved = prove("engine", background, arguments, whole, lists, common)[0]
    expected = [set(range(len(arguments))) for _ in goals]
    if parts:
        for g, answer in zip(owner, prove("engine", background, arguments, parts, lists, common)[0]):
            expected[g] &= set(answer)
    assert [set(p) for p in proved] == expected


@settings(max_examples=30, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(tasks())
def test_candidate_rules_are_proved_from_facts_as_by_the_engine(tmp_path, task):
    facts, common, arguments, goals, _ = task
    known = common.splitlines()  # answer the rules' calls of the target
    background = batch_file(tmp_path, facts)
    rules = [clause.replace("vantor_search_%d" % g, "t").replace(" :- ", ":-").rstrip(".\n")
             for g, (clause, _, _, _) in enumerate(goals)]
    examples = ["t%s" % a for a in arguments]
    pos, neg = examples[::2], examples[1::2]
    try:
        expected = _core._prove_rules(rules, background, pos, neg, known, prover="engine")
    except _core.PrologError:  # a test of an unbound value: facts leave it to the engine
        expected = _core.PrologError
    if expected is _core.PrologError:
        with pytest.raises(_core.PrologError):
            _core._prove_rules(rules, background, pos, neg, known)
    else:
        assert _core._prove_rules(rules, background, pos, neg, known) == expected
