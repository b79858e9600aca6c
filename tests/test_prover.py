"""Evaluation's working files, background reuse and interrupts: runs that
share a directory, files of the user's with the working names, a read-only
or deleted working directory, a background edited between runs, Ctrl-C."""
import _thread
import os
import subprocess
import sys
import textwrap
import threading
import time
from pathlib import Path

import pytest

import vantor
from vantor import PrologError, compute_metrics, evaluate_theory_prolog

from engine_support import BK, MODULE, expected, workdir  # noqa: F401 (workdir: autouse fixture)


def run_python(code, cwd, timeout=120, **kwargs):
    env = dict(os.environ, PYTHONPATH=str(MODULE))
    return subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], cwd=cwd, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs)


WORKER = """
    import sys
    from vantor import evaluate_theory_prolog
    which = sys.argv[1]
    theory = ["t(X):-p(X)"] if which == "p" else ["t(X):-q(X)"]
    want = (1.0, 1.0) if which == "p" else (0.5, 1.0)   # accuracy, sensitivity
    for i in range(40):
        r = evaluate_theory_prolog(theory, "bk.pl", ["t(a)", "t(b)"] if which == "p" else ["t(b)"],
                                   ["t(z)"] if which == "p" else ["t(a)", "t(z)"], True)
        got = (r.accuracy, r.sensitivity)
        if which == "q":
            got = (r.accuracy, r.sensitivity)
            want = (1.0, 1.0)
        assert got == want, (which, i, got)
    print("ok", which)
"""


def test_two_processes_in_one_directory_keep_their_own_results(workdir):
    env = dict(os.environ, PYTHONPATH=str(MODULE))
    procs = [subprocess.Popen([sys.executable, "-c", textwrap.dedent(WORKER), which], cwd=workdir, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) for which in "pq"]
    outs = [p.communicate(timeout=300) for p in procs]
    for p, (out, err), which in zip(procs, outs, "pq"):
        assert p.returncode == 0, err
        assert out.split() == ["ok", which]
    assert sorted(os.listdir(workdir)) == ["bk.pl"]


@pytest.mark.parametrize("name", ["copy_bk.pl", "test_bk.pl"])
def test_users_files_with_the_working_names_are_never_touched(workdir, name):
    mine = workdir / name
    mine.write_text("p(z).\n")
    stamp = mine.stat().st_mtime_ns
    assert evaluate_theory_prolog(["t(X):-p(X)"], "bk.pl", ["t(a)"], ["t(z)"], True) == expected(1, 1, 0, 0)
    # The user's file as the background itself: read, never overwritten.
    assert evaluate_theory_prolog(["t(X):-p(X)"], name, ["t(z)"], ["t(a)"], True) == expected(1, 1, 0, 0)
    assert mine.read_text() == "p(z).\n" and mine.stat().st_mtime_ns == stamp
    assert sorted(os.listdir(workdir)) == sorted(["bk.pl", name])


def test_read_only_working_directory(workdir, tmp_path):
    bk = str(workdir / "bk.pl")
    if os.geteuid() == 0:
        # Permissions do not stop root; nothing can be created in /proc.
        read_only = Path("/proc")
    else:
        read_only = tmp_path / "read_only"
        read_only.mkdir()
        read_only.chmod(0o555)
    os.chdir(read_only)
    assert evaluate_theory_prolog(["t(X):-p(X)"], bk, ["t(a)", "t(b)"], ["t(z)"], True) == expected(2, 1, 0, 0)


def test_first_evaluation_from_a_deleted_directory_starts_the_engine_for_good(workdir, tmp_path):
    gone = tmp_path / "gone"
    gone.mkdir()
    code = f"""
        import os
        from vantor import evaluate_theory_prolog
        bk = {str(workdir / "bk.pl")!r}
        os.chdir({str(gone)!r}); os.rmdir({str(gone)!r})
        print(evaluate_theory_prolog(["t(X):-p(X)"], bk, ["t(a)"], ["t(z)"], True).accuracy)
        os.chdir({str(workdir)!r})
        print(evaluate_theory_prolog(["t(X):-q(X)"], "bk.pl", ["t(b)"], ["t(a)"], True).accuracy)
        try:
            evaluate_theory_prolog(["t(X):-q(X)"], "bk.pl", ["t(b)"], [], True)
        except FileNotFoundError:
            pass
    """
    out, err = run_python(code, workdir).communicate(timeout=120)
    assert out.split() == ["1.0", "1.0"], err


def test_edited_background_is_read_again(workdir):
    bk = workdir / "bk.pl"
    theory, pos, neg = ["t(X):-p(X)"], ["t(a)", "t(c)"], ["t(z)"]
    assert evaluate_theory_prolog(theory, "bk.pl", pos, neg, True) == expected(1, 1, 0, 1)
    bk.write_text(BK + "p(c).\n")  # a new size
    assert evaluate_theory_prolog(theory, "bk.pl", pos, neg, True) == expected(2, 1, 0, 0)
    # The same size, only the modification time tells.
    bk.write_text(BK + "p(z).\n")
    os.utime(bk, ns=(bk.stat().st_atime_ns, bk.stat().st_mtime_ns + 10**9))
    assert evaluate_theory_prolog(theory, "bk.pl", pos, neg, True) == expected(1, 0, 1, 1)
    # A different file of the same name and contents elsewhere is its own background.
    other = workdir / "other"
    other.mkdir()
    (other / "bk.pl").write_text(BK)
    os.chdir(other)
    assert evaluate_theory_prolog(theory, "bk.pl", pos, neg, True) == expected(1, 1, 0, 1)


def test_a_copy_of_the_loaded_background_answers_until_it_changes(workdir):
    theory, pos, neg = ["t(X):-p(X)"], ["t(a)", "t(c)"], ["t(z)"]
    (workdir / "bk.pl").write_text(BK)
    (workdir / "copy.pl").write_text(BK)
    assert evaluate_theory_prolog(theory, "bk.pl", pos, neg, True) == expected(1, 1, 0, 1)
    assert evaluate_theory_prolog(theory, "copy.pl", pos, neg, True) == expected(1, 1, 0, 1)
    (workdir / "copy.pl").write_text(BK + "p(c).\n")
    assert evaluate_theory_prolog(theory, "copy.pl", pos, neg, True) == expected(2, 1, 0, 0)
    (workdir / "bk.pl").write_text(BK + "p(z).\n")  # the first file, changed while not loaded
    assert evaluate_theory_prolog(theory, "bk.pl", pos, neg, True) == expected(1, 0, 1, 1)


def test_a_theory_does_not_answer_in_the_next_evaluation():
    first = evaluate_theory_prolog(["t(X):-p(X)", "u(X):-q(X)"], "bk.pl", ["t(a)", "u(b)"], [], True)
    assert first == expected(2, 0, 0, 0)
    # Only the second theory's clauses answer: neither t/1 nor u/1 of the first.
    probe = ["probe(t(a))", "probe(u(b))"]
    second = evaluate_theory_prolog(["s(X):-p(X)", "probe(G):-catch(G,_,fail)"], "bk.pl", ["s(a)"], probe, True)
    assert second == expected(1, 2, 0, 0)


def test_background_defining_the_theorys_predicate_is_loaded_with_it(workdir):
    # The background's own t/1 facts join the theory's rule, as in one file,
    # and a later theory over the same background still sees only its own.
    (workdir / "bk_t.pl").write_text(BK + "t(c).\n")
    for _ in range(2):
        r = evaluate_theory_prolog(["t(X):-p(X)"], "bk_t.pl", ["t(a)", "t(c)"], ["t(z)"], True)
        assert r == expected(2, 1, 0, 0)
        r = evaluate_theory_prolog(["s(X):-t(X)"], "bk_t.pl", ["s(c)"], ["s(a)"], True)
        assert r == expected(1, 1, 0, 0)


def test_recursive_theory_tables_the_backgrounds_clauses_too(workdir):
    # path/2 facts in the background and a recursive path/2 theory over a
    # cycle: the table covers every clause, so the goal terminates.
    (workdir / "bk_path.pl").write_text("edge(a,b).\nedge(b,a).\nedge(b,c).\npath(c,d).\n")
    theory = ["path(A,B):-edge(A,C),path(C,B)", "path(A,B):-edge(A,B)"]
    r = evaluate_theory_prolog(theory, "bk_path.pl", ["path(a,d)", "path(a,a)"], ["path(d,a)"], True)
    assert r == expected(2, 1, 0, 0)


def test_background_directives_run_on_every_evaluation(workdir, capfd):
    (workdir / "bk_hi.pl").write_text(":- format(\"hi~n\").\n" + BK)
    for _ in range(2):
        assert evaluate_theory_prolog(["t(X):-p(X)"], "bk_hi.pl", ["t(a)"], [], True) == expected(1, 0, 0, 0)
    assert capfd.readouterr().out.count("hi\n") == 2


def test_background_errors_are_reported_every_time(workdir):
    (workdir / "bk_bad.pl").write_text(BK + "p(c.\n")
    for _ in range(2):
        with pytest.raises(PrologError, match="Syntax error"):
            evaluate_theory_prolog(["t(X):-p(X)"], "bk_bad.pl", ["t(a)"], [], True)


def test_ctrl_c_stops_a_long_evaluation_promptly_and_the_next_one_works():
    slow = ["slow(X):-between(1,20000,_),fail", "slow(X):-p(X)"]
    examples = [f"slow(n{i})" for i in range(100_000)]
    timer = threading.Timer(0.5, _thread.interrupt_main)
    start = time.monotonic()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            evaluate_theory_prolog(slow, "bk.pl", examples, [], True)
    finally:
        timer.cancel()
    assert time.monotonic() - start < 1.5
    assert evaluate_theory_prolog(slow, "bk.pl", ["slow(a)"], ["slow(z)"], True) == expected(1, 1, 0, 0)


@pytest.mark.parametrize("counts, name", [((-1, 0, 0, 0), "TP"), ((1, 1, 0, -2), "FN"), ((0, -3, 1, 1), "TN")])
def test_negative_counts_are_refused(counts, name):
    with pytest.raises(ValueError, match=f"{name} must be a non-negative count, not -"):
        compute_metrics(*counts)


def test_each_example_outcome_in_one_call(tmp_path):
    from vantor import _core

    (tmp_path / "bk.pl").write_text(BK)
    out = _core._evaluate_theory(["t(X):-q(X)"], str(tmp_path / "bk.pl"), ["t(a)", "t(b)"], ["t(c)"],
                                 True, False, each=True)
    assert out["proved"] == [False, True, False] and out["counts"] == (1, 1, 0, 1)
    assert _core._evaluate_theory([], str(tmp_path / "bk.pl"), ["t(a)"], [], True, False,
                                  each=True)["proved"] == [False]
