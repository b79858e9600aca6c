"""Which fault a decoded rule reports first, and how fresh variables are named
across several range arguments."""
import pytest

from vantor.tabular import decode_rule

RANGES = {"Age": ["1--3", "5--7"], "p": ["0--1", "2--3"]}


@pytest.mark.parametrize("rule, error, words", [
    # A malformed label is reported before the predicate is looked up ...
    ("h(A):-weight(A,green)", ValueError, "not a range label"),
    # ... and an unknown predicate before the range number is checked.
    ("h(A):-weight(A,g9)", KeyError, "weight"),
    ("h(A):-age(A,g2)", IndexError, "2 ranges"),
    ("h(A):-age(A,g-1)", IndexError, "g-1"),
])
def test_first_fault_reported(rule, error, words):
    with pytest.raises(error, match=words):
        decode_rule(rule, RANGES)


def test_fresh_variables_follow_earlier_ones_across_literals():
    # The second literal's fresh name counts the variables named so far
    # (A, B from the first literal, C kept), skipping none in use.
    assert (decode_rule("h(A):-age(A,g0),p(C,g1)", RANGES)
            == "h(A):-age(A,B),inRange(B,1--3),p(C,D),inRange(D,2--3)")
