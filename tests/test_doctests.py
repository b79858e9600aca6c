"""The Examples sections of the public docstrings run as doctests.

Each docstring runs in a fresh working directory holding the family example
(BK.pl, pos_example.f, neg_example.n), with ``vantor`` and its public names
in scope and Python's random generator seeded, so its outputs depend on
neither the machine nor the order of the tests.
"""
import doctest
import inspect
import random
import shutil
from pathlib import Path

import pytest

import vantor

FAMILY = Path(__file__).resolve().parent.parent / "examples" / "family"
FILES = ("BK.pl", "pos_example.f", "neg_example.n")
FLAGS = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE

# The entry points a reader meets first: each shows itself at work.
MUST_SHOW = ("Learner", "TableEncoder", "bottom_clause_generation", "vantor_learn",
             "vantor_folds", "vantor_cross_validation", "evaluate_theory_prolog",
             "save_theory", "load_theory", "read_example", "make_literal")


def public_names():
    return [name for name in sorted(dir(vantor))
            if not name.startswith("_") and not inspect.ismodule(getattr(vantor, name))]


def docstring_tests():
    finder = doctest.DocTestFinder(exclude_empty=True)
    found = {}
    for name in public_names():
        for test in finder.find(getattr(vantor, name), f"vantor.{name}"):
            if test.examples:
                found.setdefault(test.name, test)
    return list(found.values())


TESTS = docstring_tests()


@pytest.mark.parametrize("test", TESTS, ids=lambda test: test.name)
def test_docstring_examples(test, tmp_path, monkeypatch):
    for name in FILES:
        shutil.copy(FAMILY / name, tmp_path / name)
    monkeypatch.chdir(tmp_path)
    random.seed(0)
    test.globs = {name: getattr(vantor, name) for name in public_names()}
    test.globs["vantor"] = vantor
    report = []
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    result = runner.run(test, out=report.append, clear_globs=True)
    assert result.failed == 0, "".join(report)


def test_the_main_entry_points_have_examples():
    shown = {test.name.split(".")[1] for test in TESTS}
    assert set(MUST_SHOW) <= shown, sorted(set(MUST_SHOW) - shown)
