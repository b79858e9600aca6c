"""Evaluation never reports a wrong result as success and keeps untrusted
input in its place: working files cut short, state left by one evaluation,
runaway loads and goals, Ctrl-C, examples and rule texts that would run
commands, and backgrounds loaded under the sandbox."""
import os
import subprocess
import sys
import textwrap
import time
import warnings

import pytest

import vantor
from vantor import PrologError, PrologInputError, evaluate_theory_prolog

from engine_support import BK, MODULE, expected, workdir  # noqa: F401 (workdir: autouse fixture)


def run_script(code, cwd, timeout=120):
    env = dict(os.environ, PYTHONPATH=str(MODULE))
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=timeout)


# --- Working files that cannot be written completely ---------------------

def test_a_working_file_over_the_size_limit_raises_and_leaves_nothing(workdir):
    # A background larger than the process may write: the copy behind the
    # theory is cut short, which must raise instead of loading half of it.
    facts = "".join(f"p(c{i}).\n" for i in range(20000))
    (workdir / "big.pl").write_text(facts + "p(last).\n")
    out = run_script("""
        import errno, os, resource, signal, tempfile
        from vantor import evaluate_theory_prolog
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
        private = tempfile.mkdtemp(dir=".")
        os.environ["TMPDIR"] = private
        theory = ["p(X):-q(X)"]   # shares p/1: theory and background load as one file
        try:
            evaluate_theory_prolog(theory, "big.pl", ["p(last)"], [], True)
        except OSError as e:
            print("raised", e.errno in (errno.EFBIG, errno.ENOSPC), os.listdir(private))
            os.rmdir(private)
        else:
            print("no error")
    """, workdir)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split("\n")[0] == "raised True []"


def test_a_full_disk_raises_enospc(workdir, tmp_path, monkeypatch):
    small = tmp_path / "small"
    small.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(small)],
                             capture_output=True)
    if mounted.returncode != 0:
        pytest.skip("cannot mount a small tmpfs here")
    try:
        monkeypatch.setenv("TMPDIR", str(small))
        (workdir / "big.pl").write_text("".join(f"p(c{i}).\n" for i in range(20000)))
        with pytest.raises(OSError) as info:
            evaluate_theory_prolog(["p(X):-q(X)"], "big.pl", ["p(c1)"], [], True)
        assert info.value.errno == 28  # ENOSPC
        assert os.listdir(small) == []
    finally:
        subprocess.run(["umount", str(small)], capture_output=True)


# --- Nothing of one evaluation answers in the next -------------------------

def test_assertions_of_a_background_directive_are_gone_in_the_next_evaluation(workdir):
    (workdir / "asserts.pl").write_text("p(a).\n:- assertz(q(a)).\n")
    (workdir / "plain.pl").write_text("p(a).\nq(z).\n")
    assert evaluate_theory_prolog(["t(X):-q(X)"], "asserts.pl", ["t(a)"], [], True) == expected(1, 0, 0, 0)
    assert evaluate_theory_prolog(["t(X):-q(X)"], "plain.pl", [], ["t(a)"], True) == expected(0, 1, 0, 0)


def test_assertions_of_a_goal_are_gone_while_the_background_stays_loaded(workdir):
    first = evaluate_theory_prolog(["t(X):-p(X),assertz(r(X))"], "bk.pl", ["t(a)"], [], True)
    assert first == expected(1, 0, 0, 0)
    probe = ["t(X):-catch(r(X),_,fail)"]
    assert evaluate_theory_prolog(probe, "bk.pl", [], ["t(a)"], True) == expected(0, 1, 0, 0)


def test_a_retracted_background_fact_is_back_in_the_next_evaluation(workdir):
    (workdir / "dyn.pl").write_text(":- dynamic q/1.\nq(a).\n")
    for _ in range(2):
        r = evaluate_theory_prolog(["t(X):-retract(q(X))"], "dyn.pl", ["t(a)"], [], True)
        assert r == expected(1, 0, 0, 0)


# --- Time bounds -----------------------------------------------------------

def test_a_looping_background_directive_stops_at_the_bound_and_names_the_file(workdir):
    (workdir / "loops.pl").write_text("p(a).\n:- repeat, fail.\n")
    start = time.monotonic()
    with pytest.raises(PrologError, match="loops.pl.*time bound"):
        evaluate_theory_prolog(["t(X):-p(X)"], "loops.pl", ["t(a)"], [], True, time_limit=1)
    assert time.monotonic() - start < 10
    assert evaluate_theory_prolog(["t(X):-p(X)"], "bk.pl", ["t(a)"], [], True) == expected(1, 0, 0, 0)


def test_goals_past_the_bound_are_not_proved_with_one_warning_per_call(workdir):
    theory = ["t(X):-p(X),sleep(30)", "u(X):-u(f(X))"]
    start = time.monotonic()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        r = evaluate_theory_prolog(theory, "bk.pl", ["t(a)", "u(a)"], ["t(b)", "t(z)"], True, time_limit=1)
    assert time.monotonic() - start < 15
    # t(z) fails at once; the other three ran past the bound.
    assert r == expected(0, 2, 0, 2)
    time_warnings = [w for w in caught if "time bound" in str(w.message)]
    assert len(time_warnings) == 1 and issubclass(time_warnings[0].category, RuntimeWarning)
    assert str(time_warnings[0].message).startswith("3 example(s)")


def test_time_limit_is_checked(workdir):
    for bad in (0, -1, float("nan")):
        with pytest.raises(ValueError, match="time_limit"):
            evaluate_theory_prolog(["t(X):-p(X)"], "bk.pl", ["t(a)"], [], True, time_limit=bad)
    with pytest.raises(TypeError, match="time_limit"):
        evaluate_theory_prolog(["t(X):-p(X)"], "bk.pl", ["t(a)"], [], True, time_limit="10")
    assert evaluate_theory_prolog(["t(X):-p(X)"], "bk.pl", ["t(a)"], [], True, time_limit=None) == \
        expected(1, 0, 0, 0)


# --- Ctrl-C ------------------------------------------------------------------

def test_ctrl_c_stops_a_sleeping_goal_and_a_looping_load_within_a_second(workdir):
    (workdir / "loops.pl").write_text("p(a).\n:- repeat, fail.\n")
    out = run_script("""
        import os, signal, threading, time
        from vantor import evaluate_theory_prolog
        def interrupt_soon():
            time.sleep(0.5)
            os.kill(os.getpid(), signal.SIGINT)
        cases = [(["t(X):-sleep(100)"], "bk.pl"), (["t(X):-p(X)"], "loops.pl"),
                 (["t(X):-t(f(X))"], "bk.pl")]
        for theory, bk in cases:
            threading.Thread(target=interrupt_soon).start()
            start = time.monotonic()
            try:
                evaluate_theory_prolog(theory, bk, ["t(a)"], [], True, time_limit=None)
                print("finished")
            except KeyboardInterrupt:
                print("interrupted", time.monotonic() - start < 2.5)
            r = evaluate_theory_prolog(["t(X):-p(X)"], "bk.pl", ["t(a)"], [], True)
            print("next", r.accuracy)
    """, workdir, timeout=60)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["interrupted", "True", "next", "1.0"] * 3


# --- Examples and rule texts run nothing -----------------------------------

@pytest.mark.parametrize("example, where", [
    ('shell("touch made_by_example")', "pos[0]"),
    ("t(a),shell('touch made_by_example')", "pos[0]"),
    ("append([],[],[])", "pos[0]"),
])
def test_an_example_calling_a_builtin_or_library_predicate_is_refused(workdir, example, where):
    with pytest.raises(PrologInputError, match=r"pos\[0\]") as info:
        evaluate_theory_prolog(["t(X):-p(X)"], "bk.pl", [example], ["t(z)"], True)
    assert isinstance(info.value, ValueError)
    assert not (workdir / "made_by_example").exists()


def test_a_predicate_the_background_or_theory_defines_is_proved_even_with_a_library_name(workdir):
    (workdir / "own.pl").write_text("last(x,y).\n")
    r = evaluate_theory_prolog(["t(X):-p(X)"], "own.pl", ["last(x,y)"], ["last([a],a)"], True)
    assert r == expected(1, 1, 0, 0)


@pytest.mark.parametrize("rule, problem", [
    ("t(X):-p(X).\n:- shell('touch made_by_rule')", "2 clauses"),
    (":- shell('touch made_by_rule')", "directive"),
    ("t(X):-p(X). t(X):-q(X)", "2 clauses"),
    ("t(X):-p(X) % the final stop is commented out", "does not read"),
])
def test_a_rule_text_must_be_one_clause(workdir, rule, problem):
    with pytest.raises(PrologInputError, match=problem):
        evaluate_theory_prolog(["t(X):-q(X)", rule], "bk.pl", ["t(b)"], [], True)
    assert not (workdir / "made_by_rule").exists()


def test_a_negation_right_after_the_neck_loads(workdir):
    r = evaluate_theory_prolog(["t(X):-\\+ q(X)", "t(X):-\\+q(X)&p(X)"], "bk.pl", ["t(a)", "t(z)"], ["t(b)"], True)
    assert r == expected(2, 1, 0, 0)


# --- The sandbox -------------------------------------------------------------

@pytest.mark.parametrize("line, refused", [
    (":- shell('touch made_by_background').", "shell"),
    (":- open('made_by_background', write, S), close(S).", "open"),
    (":- thread_create(true, _, []).", "thread_create"),
    ("lists:sneaky(1).", "another module"),
])
def test_the_sandbox_refuses_unsafe_lines_naming_them(workdir, line, refused):
    (workdir / "untrusted.pl").write_text(f"p(a).\n{line}\nq(b).\n")
    with pytest.raises(PrologError, match=rf"untrusted.pl:2: the sandbox refuses .*{refused}"):
        evaluate_theory_prolog(["t(X):-p(X)"], "untrusted.pl", ["t(a)"], [], True, sandbox=True)
    assert not (workdir / "made_by_background").exists()


def test_the_sandbox_refuses_clauses_for_an_engine_hook(workdir):
    # term_expansion/2 rewrites every later load; the engine reads its
    # clauses without expanding them, so it is refused once loaded.
    (workdir / "untrusted.pl").write_text("p(a).\nterm_expansion(a, b).\n")
    with pytest.raises(PrologError, match="sandbox refuses clauses for the hook term_expansion/2"):
        evaluate_theory_prolog(["t(X):-p(X)"], "untrusted.pl", ["t(a)"], [], True, sandbox=True)
    # Nothing of it is left: the fact a loads as a.
    (workdir / "plain.pl").write_text("p(a).\n")
    r = evaluate_theory_prolog(["a", "b:-fail"], "plain.pl", ["a"], ["b"], True)
    assert r == expected(1, 1, 0, 0)


def test_the_sandbox_refuses_a_goal_that_reaches_an_unsafe_call(workdir):
    (workdir / "untrusted.pl").write_text("p(a).\nrun(X) :- shell(X).\n")
    with pytest.raises(PrologError, match="sandbox refuses example 't\\(a\\)'"):
        evaluate_theory_prolog(["t(X):-run(X)"], "untrusted.pl", ["t(a)"], [], True, sandbox=True)


def test_a_safe_background_scores_the_same_in_the_sandbox(workdir, capsys):
    (workdir / "safe.pl").write_text(":- dynamic r/1.\n:- assertz(r(b)).\np(a).\np(b).\n")
    theory = ["t(X):-p(X),r(X)"]
    plain = evaluate_theory_prolog(theory, "safe.pl", ["t(b)"], ["t(a)"], True)
    boxed = evaluate_theory_prolog(theory, "safe.pl", ["t(b)"], ["t(a)"], True, sandbox=True)
    assert plain == boxed == expected(1, 1, 0, 0)


def test_halt_from_a_prolog_thread_does_not_end_the_process(workdir):
    (workdir / "halts.pl").write_text("p(a).\n:- thread_create(halt, _, []).\n")
    out = run_script("""
        import time
        from vantor import evaluate_theory_prolog
        evaluate_theory_prolog(["t(X):-p(X)"], "halts.pl", ["t(a)"], [], True)
        time.sleep(2.5)
        r = evaluate_theory_prolog(["t(X):-p(X)"], "bk.pl", ["t(a)"], [], True)
        print("alive", r.accuracy)
    """, workdir)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["alive", "1.0"]


def test_what_prolog_prints_goes_through_sys_stdout(tmp_path, monkeypatch):
    import contextlib
    import io

    monkeypatch.chdir(tmp_path)
    (tmp_path / "bk.pl").write_text('p(a).\np(b).\n:- format("loaded~n").\n')
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        r = evaluate_theory_prolog(["t(X):-write(seen(X)),nl,p(X)"], "bk.pl", ["t(a)"], ["t(c)"], True)
    assert r.accuracy == 1.0
    assert printed.getvalue() == "loaded\nseen(a)\nseen(c)\n"
