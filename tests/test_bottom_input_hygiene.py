"""Input files as editors and people write them: byte-order marks, comment
lines, stray empty examples."""
import os
import random
import shutil

import pytest

import vantor
from vantor import bottom_clause, bottom_clause_generation, read_example, variable_name
from literal_scan import literal_bottom_clause

PATH = os.path.join(os.path.dirname(__file__), "data", "path")
BOM = b"\xef\xbb\xbf"


@pytest.fixture
def path_data(tmp_path, monkeypatch):
    for name in ("BK.pl", "pos_example.f", "neg_example.n"):
        shutil.copy(os.path.join(PATH, name), tmp_path / name)
    monkeypatch.chdir(tmp_path)
    return tmp_path


def add_bom(path):
    path.write_bytes(BOM + path.read_bytes())


def learn(**options):
    random.seed(7)  # the learner's first draw comes before it seeds the generator
    pos, neg = bottom_clause_generation(container="memory", tqdm_disable=True)
    return vantor.vantor_learn(pos, neg, file="BK.pl", verbose=True, **options)


class TestByteOrderMark:
    def test_example_file(self, path_data):
        plain = read_example("pos_example.f")
        add_bom(path_data / "pos_example.f")
        assert read_example("pos_example.f") == plain

    def test_background_file_and_its_constants(self, path_data):
        plain = bottom_clause("BK.pl", "path(n1,n2).", 2, [])
        add_bom(path_data / "BK.pl")
        assert bottom_clause("BK.pl", "path(n1,n2).", 2, []) == plain
        assert literal_bottom_clause("BK.pl", "path(n1,n2).", 2, []) == plain
        assert vantor.read_constants_bk("BK.pl", [], {"edge": [0]})[0] == "n1"

    def test_only_a_leading_mark_is_dropped(self, tmp_path):
        # Inside the text it is an ordinary character of a term.
        path = tmp_path / "BK.pl"
        path.write_bytes(BOM + BOM + b"p(a,b).\n")
        assert bottom_clause(str(path), "g(a)", 1, []) == ["\ufeffp(A,B)"]
        path.write_bytes(b"p(a,\xef\xbb\xbfb).\n")
        assert bottom_clause(str(path), "g(a)", 1, []) == ["p(A,B)"]

    def test_learning_end_to_end(self, path_data):
        # The Prolog engine reads the background too: the mark must not
        # reach it in the middle of the theory file.
        plain = learn(recursive=True)
        for name in ("BK.pl", "pos_example.f", "neg_example.n"):
            add_bom(path_data / name)
        marked = learn(recursive=True)
        assert plain.accuracy > 0.5
        assert (marked.hypothesis, marked.accuracy) == (plain.hypothesis, plain.accuracy)


class TestCommentLines:
    def test_commented_facts_are_not_taken(self, tmp_path):
        path = tmp_path / "BK.pl"
        path.write_text("% edge(a,b).\n  %edge(a,c).\nedge(a,d).\n\t% edge(d,e).\n")
        assert bottom_clause(str(path), "p(a,b)", 2, []) == ["edge(A,C)"]
        assert bottom_clause(["%edge(a,b).", " % edge(a,c)."], "p(a,b)", 1, []) == []

    def test_percent_inside_a_fact_is_kept(self):
        # Only a line that starts with "%" is a comment.
        assert bottom_clause(["edge(a,%)."], "p(a)", 1, []) == ["edge(A,B)"]

    def test_learned_theory_holds_no_commented_predicate(self, path_data):
        # Every fact commented out a second time: before, the learner built
        # rules on a predicate named "%edge", which Prolog reads as a comment.
        facts = (path_data / "BK.pl").read_text().splitlines()
        (path_data / "BK.pl").write_text(
            "\n".join(facts + ["% " + f for f in facts]) + "\n")
        result = learn()
        assert result.hypothesis
        assert not any("%" in rule for rule in result.hypothesis)


class TestEmptyExamples:
    def test_empty_text_in_a_list_is_named(self, path_data):
        with pytest.raises(ValueError, match=r"negative_example: example 2 of 3 is an empty text"):
            bottom_clause_generation(container="memory", tqdm_disable=True,
                                     negative_example=["path(n1,n1).", "  ", "path(n2,n1)."])

    def test_single_empty_example(self):
        for depth in (0, 2):
            with pytest.raises(ValueError, match="example is an empty text"):
                bottom_clause(["p(a,b)."], "", depth, [])

    def test_blank_lines_in_a_file_are_still_dropped(self, path_data):
        (path_data / "pos_example.f").write_text("path(n1,n2).\n\n   \npath(n1,n3).\n")
        pos, _ = bottom_clause_generation(container="memory", tqdm_disable=True)
        assert list(pos) == ["path(n1,n2).", "path(n1,n3)."]


def test_variable_name_refuses_negative_numbers():
    with pytest.raises(ValueError, match="-1"):
        variable_name(-1)
    assert variable_name(0) == "A" and variable_name(26) == "AB"
