"""Every file the package writes from Python is complete or not there: a
full disk or a file-size limit raises OSError and leaves earlier files as
they were, with no temporary file behind."""
import errno
import json
import os
import subprocess
import sys
import uuid

import pytest

import vantor
from vantor import bottom_clauses_for_set, vantor_abduction
from vantor._files import AtomicFile, replace_files

MODULE = os.path.dirname(os.path.dirname(os.path.abspath(vantor.__file__)))


@pytest.fixture
def full_disk(tmp_path):
    """A small file system already filled up, holding two earlier files."""
    mount = tmp_path / f"disk-{uuid.uuid4().hex[:8]}"
    mount.mkdir()
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(mount)],
                          capture_output=True)
    if done.returncode != 0:
        pytest.skip("cannot mount a small file system here")
    try:
        (mount / "first.txt").write_text("old first")
        (mount / "second.txt").write_text("old second")
        with open(mount / "filler", "wb", buffering=0) as filler:
            with pytest.raises(OSError) as info:
                while True:
                    filler.write(b"\0" * 4096)
            assert info.value.errno == errno.ENOSPC
        yield mount
    finally:
        subprocess.run(["umount", str(mount)], check=False)


def assert_untouched(mount):
    assert sorted(os.listdir(mount)) == ["filler", "first.txt", "second.txt"]
    assert (mount / "first.txt").read_text() == "old first"
    assert (mount / "second.txt").read_text() == "old second"


def test_small_texts_that_never_reach_the_disk_raise(full_disk):
    # Small enough to sit in the write buffer: only the flush finds the
    # disk full.
    first, second = full_disk / "first.txt", full_disk / "second.txt"
    with pytest.raises(OSError) as info:
        replace_files({first: "new first", second: "new second"},
                      {first: "file_name", second: "meta_information"})
    assert info.value.errno == errno.ENOSPC
    assert info.value.filename == str(first)
    assert "file_name" in info.value.strerror
    assert_untouched(full_disk)


def test_abduction_output_on_a_full_disk(full_disk, monkeypatch):
    monkeypatch.chdir(full_disk)
    os.rename("first.txt", "abduced_facts.txt")
    bottom = {"h(a).": ["p(A,B)", "q(B)"]}
    with pytest.raises(OSError) as info:
        vantor_abduction(bottom, ["ab"], meta_rule=["h(A):-p(A,X)&q(X)&ab(X)"])
    assert info.value.errno == errno.ENOSPC
    assert "abduced_facts.txt" in info.value.strerror
    os.rename("abduced_facts.txt", "first.txt")
    assert_untouched(full_disk)


def test_one_stored_dictionary_on_a_full_disk(full_disk):
    with pytest.raises(OSError) as info:
        bottom_clauses_for_set(["e(a,b)."], [], 1, ["p(a)."], str(full_disk / "first.txt"),
                               "dict", True)
    assert info.value.errno == errno.ENOSPC
    assert "dictionary_name" in info.value.strerror
    assert_untouched(full_disk)


_SIZE_LIMITED = """
import json, os, resource, signal, sys
from vantor._files import replace_files
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
target = sys.argv[1]
try:
    replace_files({target: "x" * 100000})
except OSError as error:
    print(json.dumps([error.errno, error.filename]))
else:
    print(json.dumps(None))
"""


def test_a_file_size_limit_raises_and_keeps_the_old_file(tmp_path):
    # Needs no privileges, unlike a small file system.
    target = tmp_path / "out.txt"
    target.write_text("old")
    done = subprocess.run([sys.executable, "-c", _SIZE_LIMITED, str(target)],
                          capture_output=True, text=True, env={**os.environ, "PYTHONPATH": MODULE})
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout) == [errno.EFBIG, str(target)]
    assert target.read_text() == "old"
    assert os.listdir(tmp_path) == ["out.txt"]


class TestAllOrNothing:
    def test_a_failing_second_rename_restores_the_first_file(self, tmp_path, monkeypatch):
        first, second = tmp_path / "a.txt", tmp_path / "b.txt"
        first.write_text("old a")
        real_replace = os.replace
        calls = []

        def replace(source, target):
            calls.append(target)
            if len(calls) == 2:
                raise OSError(errno.EIO, "simulated failure", target)
            return real_replace(source, target)

        monkeypatch.setattr(os, "replace", replace)
        with pytest.raises(OSError, match="simulated"):
            replace_files({first: "new a", second: "new b"})
        assert first.read_text() == "old a"
        assert os.listdir(tmp_path) == ["a.txt"]

    @pytest.mark.parametrize("kind", ["fifo", "directory"])
    def test_special_targets_are_left_alone(self, tmp_path, kind):
        target = tmp_path / "target"
        os.mkfifo(target) if kind == "fifo" else os.mkdir(target)
        other = tmp_path / "other.txt"
        expected = FileExistsError if kind == "fifo" else IsADirectoryError
        with pytest.raises(expected, match="meta_information") as info:
            replace_files({other: "text", target: "text"}, {target: "meta_information"})
        assert info.value.filename == str(target)
        assert sorted(os.listdir(tmp_path)) == ["target"]
        assert os.path.isdir(target) if kind == "directory" else not os.path.isfile(target)

    def test_abduction_output_that_is_a_directory(self, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        os.mkdir("abduced_facts.txt")
        with pytest.raises(IsADirectoryError, match="abduction output"):
            vantor_abduction({"h(a).": ["p(A,B)"]}, ["ab"], meta_rule=["h(A):-p(A,X)&ab(X)"])
        assert os.listdir(tmp_path) == ["abduced_facts.txt"]
        assert os.listdir("abduced_facts.txt") == []


def test_an_interrupted_write_removes_its_file(tmp_path):
    target = tmp_path / "out.bin"

    def interrupted(stream):
        stream.write(b"part")
        raise KeyboardInterrupt

    file = AtomicFile(target, binary=True)
    with pytest.raises(KeyboardInterrupt):
        file.write_with(interrupted)
    assert os.listdir(tmp_path) == []
