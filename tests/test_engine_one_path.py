"""Every public entry that runs the engine (evaluation, proved coverage and
its workers, the Learner's fit/predict/explain, the command line) loads and
proves under the caller's sandbox and time bound; data texts are read as
exactly one term; and no evaluation changes how the next one reads or
proves. Entries that could hang run in a child process under a timeout."""
import os
import re
import subprocess
import sys
import textwrap

import pytest

import vantor
from vantor import PrologError, PrologInputError, evaluate_theory_prolog

from engine_support import MODULE, expected, workdir  # noqa: F401 (workdir: autouse fixture)

FAMILY = ("parent(ann,bob).\nparent(bob,carl).\nparent(bob,dora).\nparent(eve,fred).\n"
          "parent(fred,gina).\nparent(hal,ivy).\n")
POS = ["grandparent(ann,carl)", "grandparent(ann,dora)", "grandparent(eve,gina)"]
NEG = ["grandparent(ann,bob)", "grandparent(bob,carl)", "grandparent(hal,ivy)"]
# A directive that would leave a file behind; the sandbox must refuse it.
MARKER = ":- open('made_by_background', write, S), close(S).\n"


def run_child(code, cwd, timeout=120):
    env = dict(os.environ, PYTHONPATH=str(MODULE))
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=timeout)


def write_task(folder, background):
    (folder / "BK.pl").write_text(background)
    (folder / "pos_example.f").write_text("".join(e + ".\n" for e in POS))
    (folder / "neg_example.n").write_text("".join(e + ".\n" for e in NEG))


LEARN = """
    import random, vantor
    random.seed(0)
    pos, neg = vantor.bottom_clause_generation(container="memory", tqdm_disable=True)
    vantor.vantor_learn(pos, neg, verbose=True, coverage="prolog", {options})
"""
LEARNER = """
    import vantor
    learner = vantor.Learner(background="BK.pl", coverage="{coverage}", {options})
    learner.fit_files("pos_example.f", "neg_example.n")
"""


# --- 1. One path: every entry applies the sandbox --------------------------

@pytest.mark.parametrize("entry", ["vantor_learn", "learner_text", "learner_prolog", "cli"])
def test_every_entry_refuses_a_hostile_background_under_the_sandbox(workdir, entry):
    write_task(workdir, FAMILY + MARKER)
    if entry == "cli":
        done = subprocess.run(
            [sys.executable, "-m", "vantor", "learn", "BK.pl", "pos_example.f", "neg_example.n",
             "--coverage", "prolog", "--sandbox", "--quiet"],
            cwd=workdir, env=dict(os.environ, PYTHONPATH=str(MODULE)), capture_output=True,
            text=True, timeout=120)
    elif entry == "vantor_learn":
        done = run_child(LEARN.format(options="sandbox=True"), workdir)
    else:
        coverage = "prolog" if entry == "learner_prolog" else "text"
        done = run_child(LEARNER.format(coverage=coverage, options="sandbox=True"), workdir)
    assert done.returncode != 0
    assert "BK.pl:7: the sandbox refuses" in done.stderr
    assert not (workdir / "made_by_background").exists()


def test_predict_and_explain_load_the_background_in_the_sandbox(workdir):
    write_task(workdir, FAMILY)
    vantor.Learner(background="BK.pl", sandbox=True).fit_files(
        "pos_example.f", "neg_example.n").save("theory.pl")
    (workdir / "hostile.pl").write_text(FAMILY + MARKER)
    learner = vantor.Learner.load("theory.pl", background="hostile.pl")
    for call in (lambda: learner.predict(POS), lambda: learner.explain(POS[0])):
        with pytest.raises(PrologError, match="BK.pl:7: the sandbox refuses"):
            call()
    assert not (workdir / "made_by_background").exists()


@pytest.mark.parametrize("jobs", [1, 2])
def test_proved_coverage_bounds_each_goal_by_time_limit(workdir, jobs):
    # The rule sleeps (using no inferences) before it would leave a file:
    # only the time bound stops it, in the workers of n_jobs too.
    write_task(workdir, FAMILY + "parent(_, _) :- sleep(2), open(made_by_goal, write, S), fail.\n")
    done = run_child(LEARN.format(options=f"time_limit=0.2, n_jobs={jobs}"), workdir, timeout=90)
    assert "past the time bound while proving candidate rules" in done.stderr, done.stderr
    assert not (workdir / "made_by_goal").exists()


def test_proved_coverage_bounds_the_background_load(workdir):
    write_task(workdir, FAMILY + ":- sleep(3), open(made_by_background, write, S), close(S).\n")
    done = run_child(LEARN.format(options="time_limit=0.5"), workdir, timeout=60)
    assert "ran past the time bound of 0.5 s" in done.stderr
    assert not (workdir / "made_by_background").exists()


# --- 2, 3. Conditions and initialization goals -----------------------------

@pytest.mark.parametrize("program, refused", [
    (":- if(open('made_by_background', write, S)).\n:- endif.\n", r":-if\(open"),
    (":- if(fail).\n:- elif(open('made_by_background', write, S)).\n:- endif.\n", r":-if\(open"),
    (":- dynamic go/1.\n:- initialization(go(x)).\ngo(_) :- open('made_by_background', write, S).\n",
     ":-initialization go"),
])
def test_conditions_and_initialization_goals_are_checked_by_the_sandbox(workdir, program, refused):
    (workdir / "untrusted.pl").write_text("p(a).\n" + program)
    with pytest.raises(PrologError, match=rf"untrusted.pl:\d: the sandbox refuses {refused}"):
        evaluate_theory_prolog(["t(X):-p(X)"], "untrusted.pl", ["t(a)"], [], True, sandbox=True)
    assert not (workdir / "made_by_background").exists()


def test_safe_conditions_and_initialization_still_work_in_the_sandbox(workdir):
    (workdir / "safe.pl").write_text(
        ":- dynamic r/1.\n:- if(current_prolog_flag(bounded, false)).\np(a).\n:- else.\np(z).\n"
        ":- endif.\n:- initialization(assertz(r(a))).\n")
    r = evaluate_theory_prolog(["t(X):-p(X),r(X)"], "safe.pl", ["t(a)"], ["t(z)"], True,
                               sandbox=True)
    assert r == expected(1, 1, 0, 0)


def test_a_looping_condition_stops_at_the_time_bound(workdir):
    (workdir / "slow.pl").write_text("p(a).\n:- if(sleep(8)).\n:- endif.\n")
    with pytest.raises(PrologError, match="slow.pl' ran past the time bound"):
        evaluate_theory_prolog(["t(X):-p(X)"], "slow.pl", ["t(a)"], [], True, time_limit=0.5)


# --- 4. Data texts are read as exactly one term -----------------------------

@pytest.mark.parametrize("sandbox", [False, True])
def test_recursive_proving_refuses_an_example_with_a_second_clause(workdir, sandbox):
    write_task(workdir, FAMILY)
    (workdir / "pos_example.f").write_text(
        "grandparent(ann,carl).\ngrandparent(eve,gina).\n:- open('made_by_background', write, S).\n")
    with pytest.raises(PrologInputError, match="is not one fact"):
        vantor.vantor_learn({"grandparent(ann,carl).\n:- open('made_by_background', write, S)": [
            "parent(A,B)", "parent(B,C)"]}, {}, file="BK.pl", verbose=True, coverage="prolog",
            recursive=True, sandbox=sandbox)
    assert not (workdir / "made_by_background").exists()


@pytest.mark.parametrize("example, error", [
    ("t(a). foo", PrologInputError), ("t(a).\n:- p(a)", PrologInputError), ("t(a) foo", PrologError)])
def test_text_after_an_example_is_refused(workdir, example, error):
    (workdir / "bk.pl").write_text("p(a).\n")
    with pytest.raises(error):
        evaluate_theory_prolog(["t(X):-p(X)"], "bk.pl", [example], [], True)


def test_an_example_with_a_final_period_blanks_or_a_quoted_period_reads(workdir):
    (workdir / "bk.pl").write_text("p(a).\np('x. y').\n")
    r = evaluate_theory_prolog(["t(X):-p(X)"], "bk.pl", ["t(a).", " t(a) ", "t('x. y')."],
                               ["t(b)"], True)
    assert r == expected(3, 1, 0, 0)


@pytest.mark.parametrize("example, message", [
    ("grandparent(", "does not read"),
    ("grandparent(ann,carl,x)", "grandparent/3, not a fact of the theory's target"),
    ("grandparent(ann,carl) :- true", "it is a clause"),
    ("grandparent(ann,carl). foo", "text follows"),
])
def test_explain_refuses_what_is_not_one_fact_of_the_target(workdir, example, message):
    write_task(workdir, FAMILY)
    learner = vantor.Learner(background="BK.pl").fit_files("pos_example.f", "neg_example.n")
    assert learner.explain(POS[0])
    with pytest.raises(ValueError, match=message) as raised:
        learner.explain(example)
    assert "vantor_probe" not in str(raised.value)


# --- 5. Engine state ------------------------------------------------------

def test_flags_operators_and_global_variables_do_not_outlive_an_evaluation(workdir):
    family = ["grandparent(A,B):-parent(A,C),parent(C,B)"]
    (workdir / "family.pl").write_text(FAMILY)
    before = evaluate_theory_prolog(family, "family.pl", POS, NEG, True)
    (workdir / "flags.pl").write_text(":- set_prolog_flag(var_prefix, true).\np(a).\n")
    evaluate_theory_prolog(["t(X):-p(X)"], "flags.pl", ["t(a)"], [], True, sandbox=True)
    assert evaluate_theory_prolog(family, "family.pl", POS, NEG, True) == before
    # An operator a background declared does not make a later rule readable.
    (workdir / "ops.pl").write_text(":- op(200, xfy, ::).\np(a).\n")
    evaluate_theory_prolog(["t(X):-p(X)"], "ops.pl", ["t(a)"], [], True)
    with pytest.raises(PrologInputError, match="not one clause"):
        evaluate_theory_prolog(["t(X):-p(X),X = a::b"], "family.pl", ["t(a)"], [], True)
    # A global variable a goal set is gone in the next evaluation.
    (workdir / "set.pl").write_text("p(X) :- nb_setval(left_over, X).\n")
    evaluate_theory_prolog(["t(X):-p(X)"], "set.pl", ["t(a)"], [], True)
    (workdir / "get.pl").write_text("p(a) :- nb_current(left_over, _).\n")
    assert evaluate_theory_prolog(["t(X):-p(X)"], "get.pl", ["t(a)"], [], True) == expected(0, 0, 0, 1)


# --- Small ones -------------------------------------------------------------

@pytest.mark.parametrize("clause, hook", [
    ("exception(undefined_predicate, _, fail).", "exception"),
    ("prolog_load_file(_, _) :- fail.", "prolog_load_file"),
])
def test_a_hook_clause_is_refused_naming_file_and_line_and_leaves_the_engine_working(
        workdir, clause, hook):
    (workdir / "untrusted.pl").write_text(f"p(a).\n{clause}\n")
    with pytest.raises(PrologError, match=rf"untrusted.pl:2: the sandbox refuses {hook}"):
        evaluate_theory_prolog(["t(X):-p(X)"], "untrusted.pl", ["t(a)"], [], True, sandbox=True)
    (workdir / "plain.pl").write_text("p(a).\n")
    assert evaluate_theory_prolog(["t(X):-p(X)"], "plain.pl", ["t(a)"], [], True) == expected(1, 0, 0, 0)


# Probes of what a background of facts gave the engine: its clauses in order,
# strings, a fact of no arguments, a library predicate's name, static clauses.
PROBES = ["t(p(a))", 't(q("s"))', "t((findall(X,p(X),L),L=[a,b,f(_)]))", "t(r)", "t(member(x,y))",
          "t(\\+ predicate_property(p(_),dynamic))", "t(\\+ catch(assertz(p(c)),_,fail))"]


@pytest.mark.parametrize("facts", [
    'p(a).\nq("s").\np(b).\nr.\np(f(_)).\nmember(x,y).\n',
    "p(a).\np(b c).\np(b).\n",            # a syntax error
    "atom(x).\np(a).\n",                   # a fact for a built-in predicate
    "p(a).\nexception(undefined_predicate, _, fail).\n",
])
@pytest.mark.parametrize("sandbox", [False, True])
def test_a_background_of_facts_loads_as_consulting_it_would(workdir, facts, sandbox):
    # A final directive makes the engine consult the file; facts alone take
    # the quick load. Both must give the same clauses, or the same errors.
    def outcome(text):
        (workdir / "BK.pl").write_text(text)
        try:
            return evaluate_theory_prolog(["t(G):-call(G)"], "BK.pl", PROBES, [], True, sandbox=sandbox)
        except PrologError as e:  # alike up to working folders and variable numbers
            return re.sub(r"vantor-\w+|_\d+", "", str(e))

    assert outcome(facts) == outcome(facts + ":- true.\n")


def test_a_syntax_error_in_the_background_names_its_own_line(workdir):
    (workdir / "BK.pl").write_text("p(a).\np(b c).\np(b).\n")
    for sandbox in (False, True):
        with pytest.raises(PrologError, match=r"BK\.pl:2: Syntax error") as caught:
            evaluate_theory_prolog(["t(X):-p(X)"], "BK.pl", ["t(a)"], [], True, sandbox=sandbox)
        assert "vantor-" not in str(caught.value)  # never the private working file


def test_a_refused_theory_rule_is_named_as_the_theory(workdir):
    (workdir / "BK.pl").write_text("p(a).\n")
    with pytest.raises(PrologError, match=r"the theory \(line 5 of its file\): the sandbox refuses portray"):
        evaluate_theory_prolog(["t(X):-p(X)", "portray(X):-p(X)"], "BK.pl", ["t(a)"], [], True,
                               sandbox=True)


def test_a_background_or_theory_that_is_not_utf8_is_named(workdir):
    (workdir / "latin.pl").write_bytes(b"p(a).\np(\xe9t\xe9).\n")
    with pytest.raises(ValueError, match="latin.pl' is not UTF-8 text"):
        evaluate_theory_prolog(["t(X):-p(X)"], "latin.pl", ["t(a)"], [], True)
    with pytest.raises(ValueError, match="'latin.pl' is not UTF-8 text"):
        vantor.Learner(background="latin.pl").fit(["t(a)", "t(b)"], [1, 0])
    (workdir / "theory.pl").write_bytes(b"% dataset: \"x\"\nt(X) :- p(\xe9).\n")
    for read in (vantor.load_theory, vantor.read_theory_header):
        with pytest.raises(ValueError, match="'theory.pl' is not UTF-8 text"):
            read("theory.pl")
