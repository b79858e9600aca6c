"""Stored bottom-clause dictionaries: the two files as a pair, targets that
are not plain files, writes that cannot complete."""
import errno
import os
import pickle
import shutil
import subprocess
import uuid

import pytest

import vantor
from vantor import bottom_clause_generation, bottom_clauses_for_set, read_pickle

PATH = os.path.join(os.path.dirname(__file__), "data", "path")


@pytest.fixture
def path_data(tmp_path, monkeypatch):
    for name in ("BK.pl", "pos_example.f", "neg_example.n"):
        shutil.copy(os.path.join(PATH, name), tmp_path / name)
    monkeypatch.chdir(tmp_path)
    return tmp_path


def old_pair(directory):
    (directory / "positive_bottom_clause").write_bytes(pickle.dumps({"old": ["pos"]}))
    (directory / "negative_bottom_clause").write_bytes(pickle.dumps({"old": ["neg"]}))


def assert_old_pair_and_no_leftovers(directory):
    assert read_pickle("positive_bottom_clause") == {"old": ["pos"]}
    assert read_pickle("negative_bottom_clause") == {"old": ["neg"]}
    assert sorted(os.listdir(directory)) == sorted(
        ["BK.pl", "pos_example.f", "neg_example.n", "positive_bottom_clause",
         "negative_bottom_clause"])


class TestPairReplacedTogether:
    def test_failed_negatives_leave_both_old_files(self, path_data):
        old_pair(path_data)
        os.remove("neg_example.n")
        with pytest.raises(FileNotFoundError):
            bottom_clause_generation(tqdm_disable=True)
        os.close(os.open("neg_example.n", os.O_CREAT))  # for the listing below
        assert_old_pair_and_no_leftovers(path_data)

    def test_second_replacement_failing_restores_the_first(self, path_data, monkeypatch):
        old_pair(path_data)
        real_replace = os.replace
        calls = []

        def replace(source, target):
            calls.append(target)
            if len(calls) == 2:
                raise OSError(errno.EIO, "simulated failure", target)
            return real_replace(source, target)

        monkeypatch.setattr(vantor.bottom.os, "replace", replace)
        with pytest.raises(OSError, match="simulated"):
            bottom_clause_generation(tqdm_disable=True)
        assert_old_pair_and_no_leftovers(path_data)

    def test_second_replacement_failing_removes_a_new_first_file(self, path_data, monkeypatch):
        real_replace = os.replace
        calls = []

        def replace(source, target):
            calls.append(target)
            if len(calls) == 2:
                raise OSError(errno.EIO, "simulated failure", target)
            return real_replace(source, target)

        monkeypatch.setattr(vantor.bottom.os, "replace", replace)
        with pytest.raises(OSError, match="simulated"):
            bottom_clause_generation(tqdm_disable=True)
        assert sorted(os.listdir(path_data)) == ["BK.pl", "neg_example.n", "pos_example.f"]

    def test_success_replaces_both(self, path_data):
        old_pair(path_data)
        os.link("positive_bottom_clause", "other_name")  # a second name of the old file
        assert bottom_clause_generation(tqdm_disable=True) == (
            "positive_bottom_clause", "negative_bottom_clause")
        pos = read_pickle("positive_bottom_clause")
        assert list(pos) == vantor.read_example("pos_example.f")
        assert list(read_pickle("negative_bottom_clause")) == vantor.read_example("neg_example.n")
        assert read_pickle("other_name") == {"old": ["pos"]}  # replaced, not written through
        assert not [n for n in os.listdir(path_data) if n.endswith((".tmp", ".old"))]


class TestOneFileForBoth:
    @pytest.mark.parametrize("negative", ["same", "./same", "link"])
    def test_refused_before_any_work(self, path_data, negative):
        (path_data / "same").write_bytes(b"earlier")
        os.symlink("same", "link")
        with pytest.raises(ValueError, match="same file"):
            bottom_clause_generation(tqdm_disable=True, positive_file_dictionary="same",
                                     negative_file_dictionary=negative)
        assert (path_data / "same").read_bytes() == b"earlier"

    def test_allowed_when_one_set_is_skipped_or_in_memory(self, path_data):
        assert bottom_clause_generation(tqdm_disable=True, negative_example="",
                                        positive_file_dictionary="same",
                                        negative_file_dictionary="same") == ("same", [])
        pos, neg = bottom_clause_generation(container="memory", tqdm_disable=True,
                                            positive_file_dictionary="same",
                                            negative_file_dictionary="same")
        assert pos and neg


class TestSpecialTargets:
    @pytest.mark.parametrize("kind", ["fifo", "directory", "link to fifo"])
    def test_left_alone(self, path_data, kind):
        if kind == "directory":
            os.mkdir("target")
            expected = IsADirectoryError
        else:
            os.mkfifo("fifo")
            os.symlink("fifo", "target") if kind == "link to fifo" else os.rename("fifo", "target")
            expected = FileExistsError
        with pytest.raises(expected, match="negative_file_dictionary") as info:
            bottom_clause_generation(tqdm_disable=True, negative_file_dictionary="target")
        assert info.value.filename.endswith(("target", "fifo"))
        assert not os.path.isfile("target")
        assert not os.path.exists("positive_bottom_clause")  # no half pair either
        with pytest.raises(expected, match="dictionary_name"):
            bottom_clauses_for_set("BK.pl", [], 2, "pos_example.f", "target", "dict", True)


@pytest.fixture
def tiny_disk(tmp_path):
    """A 64 KB file system: writes beyond it fail with ENOSPC."""
    mount = tmp_path / f"disk-{uuid.uuid4().hex[:8]}"
    mount.mkdir()
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(mount)],
                          capture_output=True)
    if done.returncode != 0:
        pytest.skip("cannot mount a small file system here")
    try:
        yield mount
    finally:
        subprocess.run(["umount", str(mount)], check=False)


def test_full_disk_raises_and_leaves_nothing_half_written(path_data, tiny_disk):
    # Enough examples for a dictionary well past the disk's size.
    examples = [f"path(n1,x{i})." for i in range(20000)]
    (tiny_disk / "positive").write_bytes(pickle.dumps({"old": []}))
    with pytest.raises(OSError) as info:
        bottom_clause_generation(tqdm_disable=True, positive_example=examples,
                                 positive_file_dictionary=str(tiny_disk / "positive"),
                                 negative_file_dictionary=str(tiny_disk / "negative"))
    assert info.value.errno == errno.ENOSPC
    assert sorted(os.listdir(tiny_disk)) == ["positive"]
    assert read_pickle(str(tiny_disk / "positive")) == {"old": []}
