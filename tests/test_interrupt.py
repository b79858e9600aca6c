"""Ctrl-C during long learning calls: KeyboardInterrupt arrives within about
a second, no working file stays behind, and the next call works."""
import _thread
import os
import random
import threading
import time

import pytest

import vantor
from vantor.learn import compute_coverage

DELAY = 0.4  # seconds before the interrupt
PROMPT = 1.5  # seconds within which it must be noticed


def slow_task(n, length=60, preds=12, seed=0):
    """Bottom clauses that make coverage with three-literal candidates take
    several seconds (about 6 s for n=400 on one core)."""
    rng = random.Random(seed)
    names = [f"p{i}" for i in range(preds)]

    def bottom_clause():
        out = []
        while len(out) < length:
            literal = f"{rng.choice(names)}({rng.choice('ABCDEFGHIJ')},{rng.choice('ABCDEFGHIJ')})"
            if literal not in out:
                out.append(literal)
        return out

    pos = {f"t(a{i},b{i})": bottom_clause() for i in range(n)}
    neg = {f"t(c{i},d{i})": bottom_clause() for i in range(n)}
    return pos, neg


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "BK.pl").write_text("p0(a,b).\np0(c,d).\np1(e,f).\n")
    return tmp_path


def interrupted(call):
    """Runs call() with an interrupt sent after DELAY seconds; returns the
    seconds from the interrupt to KeyboardInterrupt."""
    timer = threading.Timer(DELAY, _thread.interrupt_main)
    start = time.monotonic()
    timer.start()
    try:
        call()
    except KeyboardInterrupt:
        return time.monotonic() - start - DELAY
    finally:
        timer.cancel()
    # The call ended first: let the pending interrupt arrive here, not later.
    try:
        time.sleep(DELAY + 1)
    except KeyboardInterrupt:
        pass
    pytest.fail("the call ended before the interrupt; the task is too small to test with")


def leftovers(folder):
    return sorted(p.name for p in folder.iterdir() if p.name != "BK.pl")


def small_family_run():
    pos = {"t(a,b)": ["p0(A,B)"], "t(c,d)": ["p0(A,B)"]}
    neg = {"t(e,f)": ["p1(A,B)"]}
    return vantor.vantor_learn(pos, neg, verbose=True)


@pytest.mark.parametrize("verbose", [True, False])
def test_vantor_learn(workdir, verbose, capsys):
    pos, neg = slow_task(400)
    late = interrupted(lambda: vantor.vantor_learn(pos, neg, max_literals=3, verbose=verbose))
    assert late < PROMPT
    assert leftovers(workdir) == []
    result = small_family_run()
    assert result.hypothesis == ["t(A,B):-p0(A,B)"] and result.accuracy == 1.0


def test_cross_validation(workdir):
    pos, neg = slow_task(400)
    kfolds = vantor.vantor_folds(2, False, pos, neg)
    late = interrupted(lambda: vantor.vantor_cross_validation(kfolds, k_fold=2, max_literals=3,
                                                              verbose=True))
    assert late < PROMPT
    assert leftovers(workdir) == []
    assert small_family_run().accuracy == 1.0


def test_compute_coverage_keeps_what_it_finished(workdir):
    pos, _ = slow_task(400)
    head = "t(A,B)"
    candidates = vantor.apply_meta_rules(
        head, ["P(A,B):-Q(A,C)&R(C,D)&S(D,B)"], {f"p{i}": 2 for i in range(12)},
        [["t", f"p{i}"] for i in range(12)] + [[f"p{i}", f"p{j}"] for i in range(12)
                                                for j in range(12)], False)
    examples, rules = {}, {}
    late = interrupted(lambda: compute_coverage(pos, head, candidates, None, examples, rules, [],
                                                False, True, False, 20, False))
    assert late < PROMPT
    # The examples covered before the interrupt are kept in the cache.
    assert 0 < len(examples) < len(pos)
