import pickle
import random

import pytest

from vantor import (
    VantorFold,
    label_dictionary,
    split_examples,
    vantor_folds,
    vantor_folds_generation,
    vantor_train_test_split,
)


def examples(n, name="e"):
    return {"f(%s_%d)." % (name, i): ["p(A,B)", "q(B)"] for i in range(n)}


def store(path, value):
    with open(path, "wb") as handle:
        pickle.dump(value, handle)
    return str(path)


@pytest.mark.parametrize(
    "test_size, n_train, n_test",
    [
        (0.25, 7, 3),  # 7.5 truncated
        (0.9, 0, 10),  # (1 - 0.9) * 10 is just below 1
        (1, 0, 10),  # exactly 1 is the fraction 1, not a count
        (0, 10, 0),
        (3, 7, 3),  # a count
        (12, 8, 2),  # training size -2 counts from the end
        (25, 0, 10),
        (10**30, 0, 10),
        (-0.5, 10, 0),
    ],
)
def test_split_sizes(test_size, n_train, n_test):
    data = examples(10)
    train, test = split_examples(data, shuffle=False, test_size=test_size)
    keys = list(data)
    assert list(train) == keys[:n_train]
    assert list(test) == keys[n_train:]
    assert len(test) == n_test


def test_split_keeps_order_and_shares_clauses():
    data = examples(10)
    train, test = split_examples(data, shuffle=False)
    assert list(train) + list(test) == list(data)
    for key, clause in list(train.items()) + list(test.items()):
        assert clause is data[key]


@pytest.mark.parametrize("bad", [3.0, 1.5, 12.25, None, "3"])
def test_float_count_is_a_type_error(bad):
    message = "must be an integer" if isinstance(bad, float) else "must be a number"
    with pytest.raises(TypeError, match=message):
        split_examples(examples(10), shuffle=False, test_size=bad)
    with pytest.raises(TypeError, match=message):
        vantor_train_test_split(test_size=bad, positive_file_dictionary="", negative_file_dictionary="")


def test_train_test_split_from_files(tmp_path):
    pos, neg = examples(10, "p"), examples(4, "n")
    p = store(tmp_path / "pos", pos)
    n = store(tmp_path / "neg", neg)
    pos_train, pos_test, neg_train, neg_test = vantor_train_test_split(
        positive_file_dictionary=p, negative_file_dictionary=n
    )
    assert list(pos_train) == list(pos)[:7] and list(pos_test) == list(pos)[7:]
    assert list(neg_train) == list(neg)[:3] and list(neg_test) == list(neg)[3:]
    assert pos_train[next(iter(pos))] == pos[next(iter(pos))]


def test_empty_negative_name_gives_empty_parts(tmp_path):
    p = store(tmp_path / "pos", examples(4))
    result = vantor_train_test_split(positive_file_dictionary=p, negative_file_dictionary="")
    assert [len(part) for part in result] == [3, 1, 0, 0]


def test_seeded_shuffle_is_reproducible_and_positives_go_first():
    pos, neg = examples(20, "p"), examples(20, "n")
    random.seed(7)
    first = vantor_train_test_split(0.25, True, pos, neg)
    random.seed(7)
    second = vantor_train_test_split(0.25, True, pos, neg)
    assert [list(d) for d in first] == [list(d) for d in second]
    # The split draws exactly what random.shuffle draws, positives first.
    random.seed(7)
    pos_ids, neg_ids = list(pos), list(neg)
    random.shuffle(pos_ids)
    random.shuffle(neg_ids)
    assert list(first[0]) == pos_ids[:15] and list(first[1]) == pos_ids[15:]
    assert list(first[2]) == neg_ids[:15] and list(first[3]) == neg_ids[15:]


def test_missing_and_empty_stored_files(tmp_path):
    missing = str(tmp_path / "nowhere")
    with pytest.raises(FileNotFoundError, match="nowhere"):
        split_examples(missing)
    with pytest.raises(FileNotFoundError, match="nowhere"):
        vantor_folds(positive_file_dictionary=missing, negative_file_dictionary="")
    empty = tmp_path / "empty"
    empty.write_bytes(b"")
    with pytest.raises(ValueError, match="empty"):
        split_examples(str(empty))
    with pytest.raises(ValueError, match="empty"):
        vantor_folds_generation(str(empty), 2, False)
    wrong = store(tmp_path / "list", ["f(a)."])
    with pytest.raises(TypeError, match="not a bottom-clause dictionary"):
        vantor_folds_generation(wrong, 2, False)


@pytest.mark.parametrize(
    "n, k, sizes",
    [(7, 3, [3, 2, 2]), (2, 3, [1, 1, 0]), (6, 3, [2, 2, 2]), (0, 2, [0, 0]), (5, 1, [5])],
)
def test_fold_sizes_and_order(n, k, sizes):
    data = examples(n)
    fold_map, whole = vantor_folds_generation(data, k, False)
    assert whole is data
    assert list(fold_map) == list(range(k))
    assert [len(fold_map[i]) for i in range(k)] == sizes
    assert [key for i in range(k) for key in fold_map[i]] == list(data)


@pytest.mark.parametrize("shuffle, shuffles", [(True, True), (1, True), ("yes", False), (False, False)])
def test_fold_shuffle_is_an_equality_test(shuffle, shuffles):
    data = examples(30)
    random.seed(3)
    fold_map, _ = vantor_folds_generation(data, 3, shuffle)
    order = [key for i in range(3) for key in fold_map[i]]
    random.seed(3)
    expected = list(data)
    random.shuffle(expected)
    assert order == (expected if shuffles else list(data))


def test_fold_source_is_a_dict_only_by_type(tmp_path):
    from collections import OrderedDict

    with pytest.raises(TypeError, match="name of a file"):
        vantor_folds_generation(OrderedDict(examples(3)), 2, False)
    # An integer is never opened as a file descriptor.
    with pytest.raises(TypeError):
        vantor_folds_generation(0, 2, False)
    p = store(tmp_path / "pos", examples(5))
    fold_map, whole = vantor_folds_generation(p, 2, False)
    assert whole == examples(5) and [len(f) for f in fold_map.values()] == [3, 2]


@pytest.mark.parametrize("folds, error", [(0, ValueError), (-2, ValueError), (2.0, TypeError)])
def test_bad_fold_counts(folds, error):
    with pytest.raises(error, match="folds"):
        vantor_folds_generation(examples(4), folds, False)
    with pytest.raises(error, match="folds"):
        vantor_folds(folds=folds, positive_file_dictionary="", negative_file_dictionary="")


def test_vantor_folds_record(tmp_path):
    pos, neg = examples(7, "p"), examples(4, "n")
    result = vantor_folds(3, False, store(tmp_path / "pos", pos), neg)
    assert isinstance(result, VantorFold)
    assert [len(result.pos_fold[i]) for i in range(3)] == [3, 2, 2]
    assert [len(result.neg_fold[i]) for i in range(3)] == [2, 1, 1]
    assert result.pos_dict == pos and result.neg_dict is neg
    same = VantorFold(result.pos_fold, result.neg_fold, pos, neg)
    assert same == result and same != VantorFold({}, {}, {}, {})
    text = repr(result)
    assert "pos_fold={0: <3 examples>, 1: <2 examples>, 2: <2 examples>}" in text
    assert "neg_dict=<4 examples>" in text
    empty = vantor_folds(positive_file_dictionary="", negative_file_dictionary="")
    assert empty == VantorFold({}, {}, {}, {})


def test_label_dictionary():
    d = {"a": 1, "b": 2, "c": 3}
    assert list(label_dictionary(d, ["c", "x", "a"]).items()) == [("c", 3), ("a", 1)]

