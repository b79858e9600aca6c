"""One loader of stored objects and one atomic writer for the package."""
import os
import pickle

import pytest

from vantor._files import AtomicFile, load_stored, replace_files


def test_load_stored_ending_early(tmp_path):
    whole = pickle.dumps({"t(a).": ["p(A)"]})
    cut = tmp_path / "cut"
    cut.write_bytes(whole[: len(whole) // 2])
    assert load_stored(str(cut), if_empty=[]) == []
    with pytest.raises(ValueError, match="empty or truncated"):
        load_stored(cut)
    (tmp_path / "whole").write_bytes(whole)
    assert load_stored(tmp_path / "whole", "data") == {"t(a).": ["p(A)"]}
    with pytest.raises(TypeError, match="data must be a bottom-clause dictionary"):
        load_stored(3, "data")
    (tmp_path / "junk").write_bytes(b"not a pickle")
    with pytest.raises(pickle.UnpicklingError):
        load_stored(tmp_path / "junk", if_empty=[])


def test_atomic_file_keeps_the_old_content_on_failure(tmp_path):
    target = tmp_path / "out.txt"
    target.write_text("old")
    os.chmod(target, 0o640)
    with pytest.raises(RuntimeError):
        with AtomicFile(target) as file:
            file.stream.write("half")
            raise RuntimeError("stop")
    assert target.read_text() == "old"
    with AtomicFile(target) as file:
        file.stream.write("new\r\n")
    assert target.read_bytes() == b"new\r\n"
    assert os.stat(target).st_mode & 0o777 == 0o640
    assert os.listdir(tmp_path) == ["out.txt"]


def test_atomic_file_writes_through_a_link(tmp_path):
    real = tmp_path / "real.bin"
    real.write_bytes(b"old")
    link = tmp_path / "link.bin"
    link.symlink_to(real)
    with AtomicFile(link, binary=True) as file:
        pickle.dump([1], file.stream)
    assert link.is_symlink() and pickle.loads(real.read_bytes()) == [1]


def test_replace_files_is_all_or_nothing(tmp_path):
    first = tmp_path / "a.txt"
    first.write_text("old a")
    with pytest.raises(FileNotFoundError) as caught:
        replace_files({first: "new a", tmp_path / "missing" / "b.txt": "new b"})
    assert caught.value.filename == str(tmp_path / "missing" / "b.txt")
    assert first.read_text() == "old a"
    assert os.listdir(tmp_path) == ["a.txt"]
    replace_files({first: "new a", tmp_path / "b.txt": "new b"})
    assert first.read_text() == "new a" and (tmp_path / "b.txt").read_text() == "new b"
    with pytest.raises(FileNotFoundError):
        AtomicFile("")
