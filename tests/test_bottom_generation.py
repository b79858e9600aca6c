"""Bottom clauses of example sets: memory and stored mode, notices, progress."""
import os
import pickle
import shutil

import pytest

import vantor
from vantor import bottom_clause_generation, bottom_clauses_for_set, read_pickle
from literal_scan import literal_bottom_clause

FAMILY = os.path.join(os.path.dirname(__file__), os.pardir, "examples", "family")


@pytest.fixture
def family(tmp_path, monkeypatch):
    for name in ("BK.pl", "pos_example.f", "neg_example.n"):
        shutil.copy(os.path.join(FAMILY, name), tmp_path / name)
    monkeypatch.chdir(tmp_path)
    return tmp_path


def expected_dict(examples, depth=2, constant=()):
    return {e: literal_bottom_clause("BK.pl", e, depth, list(constant)) for e in examples}


@pytest.mark.parametrize("depth", [0, 1, 2, 3])
@pytest.mark.parametrize("constant_set", [[], ["male", "arthur"]])
def test_memory_mode_matches_plain_scan(family, depth, constant_set):
    pos, neg = bottom_clause_generation(container="memory", depth=depth,
                                        constant_set=constant_set, tqdm_disable=True)
    assert list(pos) == vantor.read_example("pos_example.f")
    assert pos == expected_dict(pos, depth, constant_set)
    assert neg == expected_dict(vantor.read_example("neg_example.n"), depth, constant_set)
    if depth == 0:
        assert all(isinstance(v, str) for v in pos.values())


def test_stored_mode_writes_pickles(family):
    result = bottom_clause_generation(tqdm_disable=True)
    assert result == ("positive_bottom_clause", "negative_bottom_clause")
    pos = read_pickle("positive_bottom_clause")
    with open("negative_bottom_clause", "rb") as stream:
        neg = pickle.load(stream)
    assert pos == expected_dict(vantor.read_example("pos_example.f"))
    assert neg == expected_dict(vantor.read_example("neg_example.n"))
    assert list(pos) == vantor.read_example("pos_example.f")
    assert sorted(os.listdir(family)) == sorted(
        ["BK.pl", "pos_example.f", "neg_example.n", "positive_bottom_clause",
         "negative_bottom_clause"])


@pytest.mark.parametrize("container, notice", [
    ("", True), (None, True), (False, True), ("memory", False), ("list", False),
])
def test_notice_for_false_container(family, capsys, container, notice):
    pos, neg = bottom_clause_generation(container=container, tqdm_disable=True)
    assert isinstance(pos, dict) and isinstance(neg, dict)
    out = capsys.readouterr().out
    line = "-------- Assuming container as memory --------\n"
    assert out == (line * 2 if notice else "")


@pytest.mark.parametrize("missing", ["", [], None])
def test_false_example_argument_gives_empty_list(family, missing):
    pos, neg = bottom_clause_generation(negative_example=missing, tqdm_disable=True)
    assert pos == "positive_bottom_clause"
    assert neg == []
    assert not os.path.exists("negative_bottom_clause")
    pos, neg = bottom_clause_generation(positive_example=missing, container="memory",
                                        tqdm_disable=True)
    assert pos == [] and len(neg) == 8


def test_lists_and_duplicates(family):
    examples = ["grandparent(arthur,diana).", "grandparent(ivan,liam).",
                "grandparent(arthur,diana)."]
    with open("BK.pl") as stream:
        facts = stream.read().splitlines()
    result = bottom_clauses_for_set(facts, [], 2, examples, "unused", "memory", True)
    assert list(result) == examples[:2]
    assert result == expected_dict(examples[:2])
    assert not os.path.exists("unused")


def test_progress_bar_on_stderr(family, capsys):
    bottom_clause_generation(container="memory")
    err = capsys.readouterr().err
    assert "8/8" in err and err.count("100%") >= 2
    bottom_clause_generation(container="memory", tqdm_disable=True)
    assert capsys.readouterr().err == ""


def test_negative_depth_gives_empty_lists(family):
    pos, _ = bottom_clause_generation(container="memory", depth=-1, tqdm_disable=True)
    assert set(map(type, pos.values())) == {list} and not any(pos.values())


def test_background_parsed_lazily(family):
    # Heads need no background: a missing file is not an error at depth 0.
    pos, neg = bottom_clause_generation(file="nowhere.pl", container="memory", depth=0,
                                        tqdm_disable=True)
    assert pos["grandparent(arthur,diana)."] == "grandparent(A,B)"
    with pytest.raises(FileNotFoundError) as info:
        bottom_clause_generation(file="nowhere.pl", container="memory", tqdm_disable=True)
    assert info.value.filename == "nowhere.pl"


class TestStoredModeFailure:
    """A failing call must leave an earlier file as it was, and no temporary file."""

    def test_failed_build_keeps_earlier_files(self, family):
        bottom_clause_generation(tqdm_disable=True)
        before = {n: (family / n).read_bytes() for n in os.listdir(family)}
        with pytest.raises(FileNotFoundError):
            bottom_clause_generation(file="missing.pl", tqdm_disable=True)
        assert {n: (family / n).read_bytes() for n in os.listdir(family)} == before

    def test_failure_in_negatives_writes_neither_file(self, family):
        # A new positive file beside the old negative one would be a
        # mismatched pair: both are replaced or neither.
        (family / "negative_bottom_clause").write_bytes(pickle.dumps({"old": []}))
        (family / "neg_example.n").write_bytes(b"grandparent(\xff).\n")
        with pytest.raises(ValueError, match="neg_example.n"):
            bottom_clause_generation(tqdm_disable=True)
        assert read_pickle("negative_bottom_clause") == {"old": []}
        assert sorted(os.listdir(family)) == sorted(
            ["BK.pl", "pos_example.f", "neg_example.n", "negative_bottom_clause"])

    def test_interrupted_build_removes_temporary(self, family, monkeypatch):
        (family / "positive_bottom_clause").write_bytes(b"earlier")

        def broken(*args, **kwargs):
            raise KeyboardInterrupt

        monkeypatch.setattr(vantor.bottom.pickle, "dump", broken)
        with pytest.raises(KeyboardInterrupt):
            bottom_clause_generation(tqdm_disable=True)
        assert (family / "positive_bottom_clause").read_bytes() == b"earlier"
        assert not [n for n in os.listdir(family) if n.endswith(".tmp")]

    def test_missing_directory_is_reported_before_building(self, family):
        with pytest.raises(FileNotFoundError) as info:
            bottom_clause_generation(positive_file_dictionary="no/such/dir/pos",
                                     tqdm_disable=True)
        assert info.value.filename == "no/such/dir/pos"


def test_stored_file_gets_default_permissions(family):
    umask = os.umask(0o022)
    try:
        bottom_clause_generation(tqdm_disable=True, negative_example="")
    finally:
        os.umask(umask)
    assert os.stat("positive_bottom_clause").st_mode & 0o777 == 0o644


@pytest.mark.parametrize("kwargs, parameter", [
    (dict(file=3), "file"),
    (dict(file=["p(a).", 3]), "file"),
    (dict(positive_example=5), "positive_example"),
    (dict(positive_example=["t(a).", None]), "positive_example"),
    (dict(depth="2"), "depth"),
    (dict(constant_set="abc"), "constant_set"),
    (dict(positive_file_dictionary=1.5), "positive_file_dictionary"),
])
def test_wrong_types_name_the_parameter(family, kwargs, parameter):
    with pytest.raises(TypeError, match=parameter):
        bottom_clause_generation(**kwargs, tqdm_disable=True)
    assert not [n for n in os.listdir(family) if n.endswith(".tmp")]


def test_missing_example_file(family):
    with pytest.raises(FileNotFoundError) as info:
        bottom_clause_generation(positive_example="absent.f", tqdm_disable=True)
    assert info.value.filename == "absent.f"


@pytest.mark.parametrize("seed", range(4))
def test_many_examples_on_one_background_match_plain_scan(seed, tmp_path):
    # One parsed background serves every example: nothing may leak from one
    # example's build into the next.
    import random
    from test_bottom_clause import case, random_example

    rng = random.Random(1000 + seed)
    for _ in range(60):
        source, _, depth, constant = case(rng, tmp_path)
        examples = [random_example(rng) for _ in range(rng.randint(1, 12))]
        examples += rng.sample(examples, min(2, len(examples)))
        got = bottom_clauses_for_set(source, constant, depth, examples, "unused", "memory", True)
        assert got == {e: literal_bottom_clause(source, e, depth, constant) for e in examples}


def test_stored_file_keeps_mode_and_link(family):
    os.mkdir("store")
    (family / "store" / "pos").write_bytes(b"old")
    os.chmod("store/pos", 0o600)
    os.symlink("store/pos", "positive_bottom_clause")
    bottom_clause_generation(tqdm_disable=True, negative_example="")
    assert os.path.islink("positive_bottom_clause")
    assert os.stat("store/pos").st_mode & 0o777 == 0o600
    assert read_pickle("store/pos") == expected_dict(vantor.read_example("pos_example.f"))
