"""The input check of a background file rides on the core's read of it and
finds what the checker's own read of the file finds."""
import random
import warnings

import pytest

from vantor import bottom_clause_generation
from vantor._core import _SetBuilder
from vantor._lint import lint_file, lint_odd_lines

PIECES = [b"p(a,b).", b"q(c).", b"p(Ann,b).", b"r(_x).", b"_s(a).", b"p(a, _y).", b"p(a,'x y').",
          b"h(A):-p(A).", b":- dynamic p/1.", b"p(a,\xc2\xa0b).", b"p(\xc3\xa9,b).",
          b"p(a,,b).", b"p(a\x1cb).", b"% Comment.", b"", b" ", b"p([a,b],c).", b"p(a\xe2\x80\x83b)."]
BREAKS = [b"\n", b"\r\n", b"\r", b"\x0b", b"\xc2\x85"]


def test_core_read_finds_the_first_odd_line_as_the_checker_does(tmp_path):
    rng = random.Random(21)
    path = tmp_path / "BK.pl"
    for n in range(600):
        content = b"".join(rng.choice(PIECES) + rng.choice(BREAKS) for _ in range(rng.randint(0, 8)))
        if rng.random() < 0.2:
            content = content.rstrip(b"\n")
        path.write_bytes(content)
        found = _SetBuilder(str(path), [], "first", "constant", "passes", 100).odd_lines()
        assert lint_odd_lines(found, str(path)) == lint_file(str(path)), (n, content)
    # Very many candidates without a problem: the core keeps the first ones,
    # the checker reads on by itself.
    path.write_text("p('a b').\n" * 5000 + "p(X).\n")
    found = _SetBuilder(str(path), [], "first", "constant", "passes", 100).odd_lines()
    assert len(found[0]) < 5000 and found[1] is False
    assert lint_odd_lines(found, str(path)).startswith(f"{path}, line 5001 ('p(X).')")


def test_background_warning_and_bottom_clauses_from_one_read(tmp_path):
    (tmp_path / "BK.pl").write_text("parent(ann,bob).\nparent(Bob,carl).\n")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        pos, _ = bottom_clause_generation(str(tmp_path / "BK.pl"), "memory", ["gp(ann,carl)."], [],
                                          tqdm_disable=True)
    assert [str(w.message).split(": ")[0] for w in caught] == [
        f"{tmp_path / 'BK.pl'}, line 2 ('parent(Bob,carl).')"]
    assert caught[0].filename == __file__
    assert pos == {"gp(ann,carl).": ["parent(A,C)"]}
    # A file the core refuses (not UTF-8) is still checked, then refused.
    (tmp_path / "BK.pl").write_bytes(b"p(\xff).\n")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        with pytest.raises(ValueError, match="not UTF-8"):
            bottom_clause_generation(str(tmp_path / "BK.pl"), "memory", ["gp(a)."], [],
                                     tqdm_disable=True)
    assert "line 1" in str(caught[0].message)
