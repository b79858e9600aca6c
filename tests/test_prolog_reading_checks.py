import warnings

import pytest

from vantor import _lint


@pytest.mark.parametrize("line", [
    "parent(ann,bob).", "age(e_1,42).", "temp(x,-3.5).", "city(c1,'New York').",
    "likes(a,[x,y]).", "f(a,g(b,c)).", "% Comment with Capitals", "", "   ",
    "flag(a).", "n(1e3,2.0).",
])
def test_lines_both_readers_agree_on(line):
    assert _lint.first_problem(line) is None


@pytest.mark.parametrize("line,words", [
    ("parent(Ann,bob).", ["'Ann'", "variable", "lower case"]),
    ("parent(ann,_x).", ["'_x'", "variable"]),
    ("city(c1,New York).", ["'New York'", "quote it"]),
    ("colour(c1,light-blue).", ["'light-blue'", "quote it"]),
    ("rank(r1,3rd).", ["'3rd'"]),
    ("Parent(ann,bob).", ["predicate name", "'Parent'"]),
    ("grandparent(X,Y) :- parent(X,Z), parent(Z,Y).", ["rule", "facts"]),
    (":- dynamic parent/2.", ["directive", "file of its own"]),
])
def test_lines_prolog_reads_differently(line, words):
    problem = _lint.first_problem(line)
    assert problem is not None
    for word in words:
        assert word in problem


def test_quoted_text_hides_rule_marks_and_capitals():
    assert _lint.first_problem("says(a,'X :- Y').") is None
    assert _lint.first_problem("says(a,'Bob, Jr.').") is None


def test_one_warning_per_file_naming_the_first_line(tmp_path):
    path = tmp_path / "BK.pl"
    path.write_text("parent(ann,bob).\nparent(Bob,carl).\nparent(Dan,eve).\n:- foo.\n")
    with pytest.warns(UserWarning) as record:
        message = _lint.warn_file(str(path))
    assert len(record) == 1
    assert "line 2" in message and "parent(Bob,carl)." in message and str(path) in message


def test_a_file_checked_before_warns_again_until_it_changes(tmp_path):
    path = tmp_path / "BK.pl"
    path.write_text("parent(ann,bob).\nparent(Bob,carl).\n")
    for _ in range(2):
        with pytest.warns(UserWarning, match="line 2"):
            _lint.warn_file(str(path))
    path.write_text("parent(ann,bob).\nparent(bob,carl).\nage(Ann,3).\n")
    with pytest.warns(UserWarning, match="line 3"):
        _lint.warn_file(str(path))


def test_clean_file_and_lines_give_no_warning(tmp_path):
    path = tmp_path / "BK.pl"
    path.write_text("parent(ann,bob).\n\n% a Comment\nage(ann,3).\n")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert _lint.warn_file(str(path)) is None
        assert _lint.warn_file(["p(a)."], name="background") is None


def test_line_lists_are_named_by_the_caller():
    with pytest.warns(UserWarning, match=r"^X, line 3 "):
        _lint.warn_file(["t(a).", "t(b).", "t(C)."], name="X")


def test_bottom_clause_generation_warns_once_per_file(tmp_path):
    import warnings as w

    import vantor

    bk = tmp_path / "BK.pl"
    bk.write_text("edge(a,b).\nedge(b,C).\nedge(D,e).\n")
    pos = tmp_path / "pos.f"
    pos.write_text("path(a,b).\n")
    neg = tmp_path / "neg.n"
    neg.write_text("path(b,a).\n")
    with w.catch_warnings(record=True) as caught:
        w.simplefilter("always")
        vantor.bottom_clause_generation(file=str(bk), container="memory", positive_example=str(pos),
                                        negative_example=str(neg), tqdm_disable=True)
        vantor.bottom_clause_generation(file=str(bk), container="memory", positive_example=str(pos),
                                        negative_example=str(neg), tqdm_disable=True, check_input=False)
    messages = [str(c.message) for c in caught if c.category is UserWarning]
    assert len(messages) == 1 and "line 2 ('edge(b,C).')" in messages[0]
    assert caught[0].filename == __file__
