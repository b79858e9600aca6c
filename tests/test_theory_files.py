import hashlib
import os
import shutil
import subprocess

import pytest

import vantor
from vantor.theory_files import recursive_predicates

FAMILY = os.path.join(os.path.dirname(__file__), "..", "examples", "family")


def test_round_trip_keeps_rules_and_header(tmp_path):
    path = tmp_path / "theories" / "theory.pl"
    path.parent.mkdir()
    (tmp_path / "BK.pl").write_bytes(b"p(a,b).\r\n")
    theory = ["g(A,B):-p(A,C)&p(C,B)", "g(A,B):-q(A,B)."]
    vantor.save_theory(theory, path, options={"max_neg": 1, "constant_set": ["x"]},
                       dataset="family", scores={"accuracy": 0.75, "precision": None},
                       background=tmp_path / "BK.pl")
    assert vantor.load_theory(path) == ["g(A,B):-p(A,C),p(C,B)", "g(A,B):-q(A,B)"]
    header = vantor.read_theory_header(path)
    # The background by its place from the theory file and its bytes' digest.
    assert header == {"dataset": "family", "background": os.path.join("..", "BK.pl"),
                      "background_sha256": hashlib.sha256(b"p(a,b).\r\n").hexdigest(),
                      "options": {"max_neg": 1, "constant_set": ["x"]},
                      "training": {"accuracy": 0.75, "precision": None}}


def test_clauses_spanning_lines_and_comments_are_read(tmp_path):
    path = tmp_path / "hand.pl"
    path.write_text("% written by hand\n:- table path/2.\npath(A,B) :-\n    edge(A,C),\n"
                    "    path(C,B).\n\npath(A,B) :- edge(A,B).\n")
    assert vantor.load_theory(path) == ["path(A,B) :- edge(A,C), path(C,B)",
                                        "path(A,B) :- edge(A,B)"]
    path.write_text("path(A,B) :- edge(A,B)\n")
    with pytest.raises(ValueError, match="does not end with '.'"):
        vantor.load_theory(path)


def test_recursive_predicates_are_tabled():
    assert recursive_predicates(["path(A,B):-edge(A,C),path(C,B)", "path(A,B):-edge(A,B)",
                                 "subpath(A,B):-edge(A,B)"]) == ["path/2"]
    # A predicate whose name ends another one's is no call of it.
    assert recursive_predicates(["path(A,B):-subpath(A,B)"]) == []


def test_bad_rule_leaves_an_earlier_file_untouched(tmp_path):
    path = tmp_path / "theory.pl"
    vantor.save_theory(["g(A):-p(A)"], path)
    before = path.read_text()
    with pytest.raises(ValueError, match="rule texts"):
        vantor.save_theory(["g(A):-p(A)", ""], path)
    assert path.read_text() == before
    assert sorted(os.listdir(tmp_path)) == ["theory.pl"]


@pytest.mark.skipif(shutil.which("swipl") is None, reason="needs the swipl program")
def test_plain_swipl_consults_the_file_with_the_background(tmp_path):
    path = tmp_path / "theory.pl"
    vantor.save_theory(["grandparent(A,B):-parent(A,C),parent(C,B)"], path, dataset="family")
    goal = ("(grandparent(arthur,diana) -> writeln(yes) ; writeln(no)),"
            "(grandparent(diana,arthur) -> writeln(yes) ; writeln(no)), halt")
    run = subprocess.run(["swipl", "-q", "-g", goal, os.path.join(FAMILY, "BK.pl"), str(path)],
                         capture_output=True, text=True, timeout=60)
    assert run.stdout.split() == ["yes", "no"]
    assert "Warning" not in run.stderr


@pytest.mark.skipif(shutil.which("swipl") is None, reason="needs the swipl program")
def test_recursive_theory_terminates_on_a_cycle(tmp_path):
    (tmp_path / "BK.pl").write_text("edge(a,b).\nedge(b,c).\nedge(c,a).\nedge(c,d).\n")
    path = tmp_path / "theory.pl"
    vantor.save_theory(["path(A,B):-edge(A,B)", "path(A,B):-edge(A,C),path(C,B)"], path)
    goal = "(path(d,a) -> writeln(yes) ; writeln(no)), (path(a,d) -> writeln(yes) ; true), halt"
    run = subprocess.run(["swipl", "-q", "-g", goal, str(tmp_path / "BK.pl"), str(path)],
                         capture_output=True, text=True, timeout=60)
    assert run.stdout.split() == ["no", "yes"]
