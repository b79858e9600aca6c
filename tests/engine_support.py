"""Shared pieces of the engine tests: where the package lives (for child
processes), a small background, expected records, and a working directory
whose private TMPDIR must be left empty by every evaluation."""
import os
from pathlib import Path

import pytest

import vantor
from vantor import Vantor, compute_metrics

# Where the imported package lives (the work tree or an installed copy).
MODULE = Path(vantor.__file__).resolve().parent.parent
BK = "p(a).\np(b).\nq(b).\n"


def expected(tp, tn, fp, fn):
    return Vantor([], *compute_metrics(tp, tn, fp, fn), [])


@pytest.fixture(autouse=True)
def workdir(tmp_path, monkeypatch):
    work = tmp_path / "work"
    work.mkdir()
    monkeypatch.chdir(work)
    (work / "bk.pl").write_text(BK)
    # Working files go under TMPDIR; each test sees that it is left empty.
    private = tmp_path / "private"
    private.mkdir()
    monkeypatch.setenv("TMPDIR", str(private))
    yield work
    assert os.listdir(private) == []
