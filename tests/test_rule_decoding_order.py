"""Which fault a decoded rule reports first, and how fresh variables are named
across several range arguments."""
import pytest

from vantor.tabular import decode_rule

RANGES = {"Age": ["1--3", "5--7"], "p": ["0--1", "2--3"]}


@pytest.mark.parametrize("rule", [
    # Not g followed by digits: a constant of the rule, kept as it is.
    "h(A):-age(A,green)",
    "h(A):-age(A,g-1)",
    "h(A):-age(A,g1a)",
    # A predicate without ranges holds no range labels, whatever its arguments.
    "h(A):-weight(A,green)",
    "h(A):-weight(A,g9)",
])
def test_arguments_that_are_no_range_labels_stay(rule):
    assert decode_rule(rule, RANGES) == rule


def test_a_label_beyond_the_ranges_of_its_feature_is_reported():
    with pytest.raises(IndexError, match="2 ranges"):
        decode_rule("h(A):-age(A,g2)", RANGES)


def test_fresh_variables_follow_earlier_ones_across_literals():
    # The second literal's fresh name counts the variables named so far
    # (A, B from the first literal, C kept), skipping none in use.
    assert (decode_rule("h(A):-age(A,g0),p(C,g1)", RANGES)
            == "h(A):-age(A,B),inRange(B,1--3),p(C,D),inRange(D,2--3)")
