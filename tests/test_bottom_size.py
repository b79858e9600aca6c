"""Large bottom clauses: the cap, the warning, and time that grows linearly."""
import time
import warnings

import pytest

from vantor import bottom_clause, bottom_clause_generation, bottom_clauses_for_set
from literal_scan import literal_bottom_clause


def star(centre, spokes):
    """centre -> x_i -> y_i: 2 * spokes literals at depth 1 or more."""
    return ([f"r({centre},x{centre}_{i})." for i in range(spokes)]
            + [f"s(x{centre}_{i},y{centre}_{i})." for i in range(spokes)])


BACKGROUND = star("a", 30) + star("b", 3) + star("c", 40)


class TestSizeLimit:
    @pytest.mark.parametrize("limit", [0, 1, 7, 59, 60, 61, 1000])
    def test_keeps_the_first_literals_in_scan_order(self, limit):
        full = literal_bottom_clause(BACKGROUND, "t(a)", 2, [])
        assert len(full) == 60
        assert bottom_clause(BACKGROUND, "t(a)", 2, [], size_limit=limit) == full[:limit]

    def test_defaults_change_nothing(self):
        assert bottom_clause(BACKGROUND, "t(a)", 2, []) == bottom_clause(
            BACKGROUND, "t(a)", 2, [], size_limit=None, size_warning=None)

    def test_head_only_at_depth_zero(self):
        assert bottom_clause(BACKGROUND, "t(a,b)", 0, [], size_limit=0) == "t(A,B)"

    def test_for_sets(self):
        pos, neg = bottom_clause_generation(BACKGROUND, container="memory", tqdm_disable=True,
                                            positive_example=["t(a).", "t(b)."],
                                            negative_example=["t(c)."], size_limit=10)
        assert [len(v) for v in pos.values()] == [10, 6]
        assert [len(v) for v in neg.values()] == [10]

    @pytest.mark.parametrize("bad, error", [(-1, ValueError), (1.5, TypeError), ("3", TypeError)])
    def test_bad_values(self, bad, error):
        with pytest.raises(error, match="size_limit"):
            bottom_clause(BACKGROUND, "t(a)", 2, [], size_limit=bad)
        with pytest.raises(error, match="size_warning"):
            bottom_clauses_for_set(BACKGROUND, [], 2, ["t(a)."], "unused", "memory", True,
                                   size_warning=bad)


class TestSizeWarning:
    def test_one_warning_per_call_naming_the_first_example(self):
        with pytest.warns(RuntimeWarning) as record:
            bottom_clause_generation(BACKGROUND, container="memory", tqdm_disable=True,
                                     positive_example=["t(b).", "t(a)."],
                                     negative_example=["t(c)."], size_warning=50)
        assert len(record) == 1
        message = str(record[0].message)
        assert "t(a)." in message and "60 literals" in message
        assert "2 bottom clauses in all" in message
        assert "smaller depth (now 2)" in message
        assert record[0].filename == __file__  # points at the caller

    def test_single_example(self):
        with pytest.warns(RuntimeWarning, match=r"t\(c\) has 80 literals.*size_warning=79"):
            bottom_clause(BACKGROUND, "t(c)", 2, [], size_warning=79)

    @pytest.mark.parametrize("options", [{}, {"size_warning": 80}, {"size_warning": None},
                                         {"size_warning": 5, "size_limit": 5}])
    def test_silent_at_or_below_the_bound(self, options):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            bottom_clause(BACKGROUND, "t(c)", 2, [], **options)
            bottom_clauses_for_set(BACKGROUND, [], 2, ["t(c)."], "unused", "memory", True,
                                   **options)

    def test_warning_as_error_writes_no_files(self, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            with pytest.raises(RuntimeWarning):
                bottom_clause_generation(BACKGROUND, tqdm_disable=True, positive_example=["t(a)."],
                                         negative_example=["t(b)."], size_warning=10)
        assert list(tmp_path.iterdir()) == []


def test_time_grows_linearly_with_the_bottom_clause():
    # 2 * 10^5 literals for one example; a quadratic step would take minutes.
    background = star("a", 100000)
    start = time.perf_counter()
    clause = bottom_clause(background, "t(a)", 2, [], size_warning=None)
    assert len(clause) == 200000
    assert time.perf_counter() - start < 10
