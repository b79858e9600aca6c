import os
import shutil
import threading
from pathlib import Path

import pytest

from vantor import (
    PrologError,
    Vantor,
    compute_metrics,
    evaluate_theory_prolog,
    evaluate_theory_prolog_training,
)
from vantor._core import _theory_file_text

DATA = Path(__file__).parent / "data" / "path"
WORKING = {"copy_bk.pl", "test_bk.pl"}
BK = "p(a).\np(b).\np(n1).\nq(b).\n"
RECURSIVE = ["path(A,B):-edge(A,C),path(C,B)", "path(A,B):-edge(A,B)"]


@pytest.fixture(autouse=True)
def workdir(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "bk.pl").write_text(BK)
    return tmp_path


def leftovers(directory="."):
    return WORKING & set(os.listdir(directory))


def lines(path):
    return [line.strip() for line in open(path) if line.strip()]


def expected(tp, tn, fp, fn):
    return Vantor([], *compute_metrics(tp, tn, fp, fn), [])


def test_empty_theory_proves_nothing_and_touches_nothing(workdir, capsys):
    # Scored as refusing every example, not as all-zero measures.
    r = evaluate_theory_prolog_training([], "no_such_file.pl", ["t(a)"], ["t(b)", "t(c)"], False)
    assert r == Vantor([], 0.667, None, 0.0, 1.0, 0.0, [])
    assert evaluate_theory_prolog([], "no_such_file.pl", [], ["t(b)"], True).accuracy == 1.0
    assert capsys.readouterr() == ("", "")
    assert sorted(os.listdir(workdir)) == ["bk.pl"]


def test_theory_file_layout():
    text = _theory_file_text(["t(X):-p(X)&q(X)", "t(X):-p(X),q(X).", "s(a)"])
    assert text == (
        "\n:- style_check(-singleton).\n:-style_check(-discontiguous).\n"
        "t(X):-p(X),q(X).\nt(X):-p(X),q(X).\ns(a).\n"
    )


def test_self_calling_predicates_are_tabled_in_order_of_first_appearance():
    text = _theory_file_text(
        ["r(X):-q(X)", "s(A,B):-e(A,C)&s(C,B)", "p(X):-q(X),p(X,X)", "p(X):-\\+q(X),p(X).", "s(A,B):-s(B,A)",
         "p(X):-p(X)"])
    assert text.splitlines()[1:5] == [
        ":- style_check(-singleton).", ":-style_check(-discontiguous).", ":- table s/2.", ":- table p/1."]
    assert text.count(":- table") == 2


@pytest.mark.parametrize("shares_a_predicate", [True, False])
def test_written_files_are_the_theory_and_then_the_background(shares_a_predicate, workdir):
    # The goals read the working files while the evaluation runs: they sit
    # next to the loaded file, in a directory of the call's own.
    reader = ("text(F,T):-nth_clause(text(_,_),1,R),clause_property(R,file(L)),file_directory_name(L,D),"
              "atomic_list_concat([D,'/',F],P),whole(P,T)")
    whole = "whole(P,T):-setup_call_cleanup(open(P,read,S),read_string(S,_,T),close(S))"
    # Examples are atoms of the theory's predicates, so the checks run
    # through holds/1.
    theory = ["t(X):-p(X)&q(X)", "t(X):-q(X),p(X).", reader, whole, "holds(G):-call(G)"] + (
        ["q(zz)"] if shares_a_predicate else [])
    copy_text = _theory_file_text(theory)
    quoted = copy_text.replace("\\", "\\\\").replace("\n", "\\n")
    # Only a theory that defines a background predicate is loaded in one file
    # with the background; any other loads on its own next to it.
    loaded = "string_concat(C,B,S)" if shares_a_predicate else "S==C"
    bk = workdir / "bk.pl"
    pos = [
        f"holds((text('copy_bk.pl',S),S==\"{quoted}\"))",
        f"holds((text('test_bk.pl',S),text('copy_bk.pl',C),whole('{bk}',B),{loaded}))",
        "holds((\\+exists_file('copy_bk.pl'),\\+exists_file('test_bk.pl')))",
        "t(b)",
    ]
    r = evaluate_theory_prolog(theory, "bk.pl", pos, ["t(a)"], True)
    assert r == expected(4, 1, 0, 0)
    assert not leftovers()


@pytest.mark.parametrize(
    "evaluate, banner",
    [(evaluate_theory_prolog_training, "+----------+ Training +----------+"),
     (evaluate_theory_prolog, "+----------+ Testing +----------+")],
)
def test_tables_of_three_positives_and_two_negatives(evaluate, banner, capsys):
    r = evaluate(["t(X):-p(X)"], "bk.pl", ["t(a)", "t(b)", "t(z)"], ["t(n1)", "t(n2)"], False)
    assert r == Vantor([], 0.6, 0.667, 0.667, 0.5, 0.667, [])
    out = capsys.readouterr().out.splitlines()
    assert out[0] == banner
    cells = [[c.strip() for c in line.strip("|").split("|")] for line in out if line.startswith("|")]
    assert cells[:3] == [
        ["n = 5", "Positive(Actual)", "Negative(Actual)"],
        ["Positive(Predicted)", "2", "1"],
        ["Negative(Predicted)", "1", "1"],
    ]
    assert cells[3:] == [["Metric", "#"], ["Accuracy", "0.6"], ["Precision", "0.667"], ["Sensitivity", "0.667"],
                         ["Specificity", "0.5"], ["F1 Score", "0.667"]]


def test_verbose_prints_nothing_and_scores_the_same(capsys):
    args = (["t(X):-p(X)"], "bk.pl", ["t(a)", "t(z)"], {"t(n1)": [], "t(q)": []})
    quiet = evaluate_theory_prolog_training(*args, True)
    assert capsys.readouterr() == ("", "")
    assert quiet == evaluate_theory_prolog_training(*args, False) == expected(1, 1, 1, 1)
    assert capsys.readouterr().out


def test_examples_as_read_from_files_and_dicts():
    # Final periods as in example files; dict keys are the examples.
    r = evaluate_theory_prolog(["t(X):-p(X)&q(X)"], "bk.pl", {"t(b).": ["x"], "t(a).": []}, ["t(n1)."], True)
    assert r == expected(1, 1, 0, 1)


def test_non_ascii_texts_and_path_objects(workdir):
    (workdir / "bk2.pl").write_text("p('café').\np(straße).\n", encoding="utf-8")
    r = evaluate_theory_prolog(["t(X):-p(X)"], workdir / "bk2.pl", ["t('café')", "t(straße)"], ["t(strasse)"], True)
    assert r == expected(2, 1, 0, 0)


def test_second_theory_replaces_the_first():
    pos, neg = ["t(a)", "t(b)"], ["t(n1)"]
    t1 = evaluate_theory_prolog(["t(X):-p(X)", "u(X):-p(X)"], "bk.pl", pos, neg, True)
    t2 = evaluate_theory_prolog(["t(X):-q(X)"], "bk.pl", pos, neg, True)
    assert t1 == expected(2, 0, 1, 0)
    assert t2 == expected(1, 1, 0, 1)
    # u/1 came only from the first theory: it is gone.
    with pytest.raises(PrologError, match="u/1"):
        evaluate_theory_prolog(["t(X):-q(X)"], "bk.pl", pos, ["u(a)"], True)


def test_a_theory_loaded_from_another_directory_is_replaced_too(workdir):
    evaluate_theory_prolog(["t(X):-p(X)"], "bk.pl", ["t(a)"], [], True)
    other = workdir / "other"
    other.mkdir()
    shutil.copy("bk.pl", other / "bk.pl")
    os.chdir(other)
    assert evaluate_theory_prolog(["t(X):-q(X)"], "bk.pl", ["t(b)"], ["t(a)"], True) == expected(1, 1, 0, 0)
    assert not leftovers(other) and not leftovers(workdir)


@pytest.mark.parametrize(
    "theory, file_1, pos, error, match",
    [
        (["t(X):-p(X"], "bk.pl", ["t(a)"], PrologError, "Syntax error"),
        (["t(X):-p(X)", "t(X:-q(X)"], "bk.pl", ["t(a)"], PrologError, "test_bk.pl:5"),
        (["t(X):-undefined_thing(X)"], "bk.pl", ["t(a)"], PrologError, "undefined_thing/1"),
        (["t(X):-p(X)"], "bk.pl", ["t(a", "t(b)"], PrologError, "Syntax error"),
        (["t(X):-p(X)"], "bk.pl", ["X"], PrologError, "nstantiat"),
        (["t(X):-p(X)"], "bk.pl", ["t(a)", "halt"], PrologError, "halt"),
        ([":- halt(3)", "t(X):-p(X)"], "bk.pl", ["t(a)"], PrologError, "halt"),
        (["t(X):-p(X)"], "missing_bk.pl", ["t(a)"], FileNotFoundError, "missing_bk.pl"),
        (["t(X):-p(X)"], ".", ["t(a)"], IsADirectoryError, "Is a directory"),
        (["t(X):-p(X)", ""], "bk.pl", ["t(a)"], ValueError, r"theory\[1\]"),
        (["t(X):-p(X)", 3], "bk.pl", ["t(a)"], TypeError, r"theory\[1\]"),
        (["t(X):-p(X)"], "bk.pl", [3], TypeError, "pos"),
        ("t(X):-p(X)", "bk.pl", ["t(a)"], TypeError, "theory"),
    ],
)
def test_failures_raise_and_leave_no_working_file(theory, file_1, pos, error, match, workdir):
    with pytest.raises(error, match=match) as info:
        evaluate_theory_prolog_training(theory, file_1, pos, [], True)
    if error is FileNotFoundError:
        assert info.value.filename == file_1
    assert not leftovers()
    # The engine is still usable afterwards.
    assert evaluate_theory_prolog(["t(X):-p(X)"], "bk.pl", ["t(a)"], ["t(z)"], True) == expected(1, 1, 0, 0)
    assert sorted(os.listdir(workdir)) == ["bk.pl"]


def reachable(rules_base):
    """Pairs proved by path(A,B):-edge(A,C),path(C,B) plus the given base."""
    edges = {tuple(f[5:-2].split(",")) for f in lines(DATA / "BK.pl")}
    proved = set(rules_base(edges))
    while True:
        more = {(a, b) for (a, c) in edges for (c2, b) in proved if c == c2} - proved
        if not more:
            return proved
        proved |= more


def score(proved, pos, neg):
    as_pair = lambda e: tuple(e[5:].rstrip(".").rstrip(")").split(","))  # noqa: E731
    tp = sum(as_pair(e) in proved for e in pos)
    fp = sum(as_pair(e) in proved for e in neg)
    return expected(tp, len(neg) - fp, fp, len(pos) - tp)


@pytest.mark.parametrize("form", ["prolog", "internal"])
def test_recursive_theory_over_a_cyclic_graph(form):
    pos, neg = lines(DATA / "pos_example.f"), lines(DATA / "neg_example.n")
    theory = RECURSIVE if form == "prolog" else [r.replace("),", ")&") for r in RECURSIVE]
    r = evaluate_theory_prolog_training(theory, str(DATA / "BK.pl"), pos, neg, True)
    assert (len(pos), len(neg)) == (31, 18)
    assert r == expected(31, 18, 0, 0)


def test_tabled_answers_do_not_leak_between_theories():
    pos, neg = lines(DATA / "pos_example.f"), lines(DATA / "neg_example.n")
    bk = str(DATA / "BK.pl")
    t2 = [RECURSIVE[0], "path(A,B):-edge(B,A)"]
    want1 = score(reachable(lambda e: e), pos, neg)
    want2 = score(reachable(lambda e: {(b, a) for (a, b) in e}), pos, neg)
    assert want1 != want2
    for theory, want in [(RECURSIVE, want1), (t2, want2), (RECURSIVE, want1)]:
        assert evaluate_theory_prolog(theory, bk, pos, neg, True) == want


def test_runaway_goal_counts_as_not_proved_with_a_warning():
    theory = ["loop(X):-loop2(X)", "loop2(X):-loop(X)", "t(X):-p(X)"]
    with pytest.warns(RuntimeWarning, match=r"loop\([bc]\)") as caught:
        r = evaluate_theory_prolog(theory, "bk.pl", ["t(a)", "loop(b)"], ["loop(c)"], True)
    assert r == expected(1, 1, 0, 1)
    assert sum("inference limit" in str(w.message) for w in caught) == 2
    assert not leftovers()


def test_evaluations_from_other_threads():
    pos, neg = lines(DATA / "pos_example.f"), lines(DATA / "neg_example.n")
    bk = str(DATA / "BK.pl")
    cases = [(RECURSIVE, expected(31, 18, 0, 0)), (["path(A,B):-edge(A,B)"], score(
        {tuple(f[5:-2].split(",")) for f in lines(DATA / "BK.pl")}, pos, neg))] * 3
    results, errors = [None] * len(cases), []

    def work(i, theory):
        try:
            results[i] = evaluate_theory_prolog(theory, bk, pos, neg, True)
        except Exception as e:  # reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(i, t)) for i, (t, _) in enumerate(cases)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert results == [want for _, want in cases]
    assert not leftovers()


@pytest.mark.parametrize("first", ["worker", "main"])
def test_engine_in_a_fresh_interpreter_keeps_the_host_sound(first, workdir):
    # A fresh interpreter, so that the engine really starts where `first`
    # says; afterwards Ctrl-C must still reach Python, and exit cleanly.
    import subprocess
    import sys
    import vantor

    script = (
        "import threading, vantor\n"
        "out = []\n"
        "run = lambda: out.append(vantor.evaluate_theory_prolog(['t(X):-p(X)'], 'bk.pl', ['t(a)'], ['t(z)'], True))\n"
        f"t = threading.Thread(target=run) if {first == 'worker'} else None\n"
        "if t: t.start(); t.join()\n"
        "else: run()\n"
        "run()\n"
        "print(out[0] == out[1] == vantor.Vantor([], 1.0, 1.0, 1.0, 1.0, 1.0, []))\n"
        "import os, signal, time\n"
        "try:\n"
        "    os.kill(os.getpid(), signal.SIGINT); time.sleep(5); print('no interrupt')\n"
        "except KeyboardInterrupt:\n"
        "    print('interrupted')\n"
    )
    env = dict(os.environ, PYTHONPATH=str(Path(vantor.__file__).parent.parent))
    done = subprocess.run([sys.executable, "-c", script], cwd=workdir, env=env, capture_output=True, text=True,
                          timeout=120)
    assert (done.returncode, done.stdout, done.stderr) == (0, "True\ninterrupted\n", "")
