"""Example files, background constants and stored objects."""
import io
import os
import pickle
import random

import pytest

from vantor import read_constants_bk, read_example, read_pickle


def write(path, data):
    path.write_bytes(data.encode("utf-8") if isinstance(data, str) else data)
    return str(path)


def python_reading(path):
    """What reading the file as text line by line gives."""
    with open(path, encoding="utf-8") as stream:
        return [line.strip() for line in stream if line.strip() and not line.startswith("%")]


class TestReadExample:
    def test_listed_cases(self, tmp_path):
        path = write(tmp_path / "pos_example.f",
                     "target(e_1).\n\n   \n% note\ntarget(e_2).\n  % not a comment\n")
        assert read_example(path) == ["target(e_1).", "target(e_2).", "% not a comment"]

    @pytest.mark.parametrize("seed", range(3))
    def test_line_ends_as_a_text_file_reads_them(self, tmp_path, seed):
        # \f, \v, \x1c and U+2028 end a line for str.splitlines() but not
        # when a text file is iterated: they stay inside the example.
        rng = random.Random(seed)
        pieces = ["t(a).", "t(b)", "%t(c).", " %t(d).", "\t", " ", "é", "\x0c", "\x0b",
                  "\x1c", "\u2028", "\x85", "\xa0", "\r", "\n", "\r\n", "\n"]
        for _ in range(200):
            text = "".join(rng.choice(pieces) for _ in range(rng.randint(0, 20)))
            path = write(tmp_path / "ex", text)
            assert read_example(path) == python_reading(path), repr(text)

    def test_errors(self, tmp_path):
        with pytest.raises(FileNotFoundError) as info:
            read_example(str(tmp_path / "absent.f"))
        assert info.value.filename == str(tmp_path / "absent.f")
        with pytest.raises(IsADirectoryError):
            read_example(str(tmp_path))
        with pytest.raises(ValueError, match="bad.f"):
            read_example(write(tmp_path / "bad.f", b"t(a).\nt(\xe9).\n"))
        with pytest.raises(TypeError, match="file_name"):
            read_example(42)
        write(tmp_path / "e", "t(a).")
        with pytest.raises(ValueError, match="null"):
            read_example(str(tmp_path / "e") + "\0ignored")

    def test_path_like(self, tmp_path):
        assert read_example(tmp_path / write(tmp_path / "e.f", "t(x).\r\n")) == ["t(x)."]


class TestReadPickle:
    def test_round_trip(self, tmp_path):
        value = {"t(a).": ["p(A,B)"], "t(b).": "t(A)", 3: (1.5, None)}
        (tmp_path / "stored").write_bytes(pickle.dumps(value))
        assert read_pickle(str(tmp_path / "stored")) == value

    @pytest.mark.parametrize("cut", [0, 1, 10, -1])
    def test_file_ending_early_reads_as_empty_list(self, tmp_path, cut):
        data = pickle.dumps({"t(a).": ["p(A,B)", "q(B)"] * 5})
        (tmp_path / "stored").write_bytes(data[:cut])
        assert read_pickle(str(tmp_path / "stored")) == []

    def test_corrupt_and_missing(self, tmp_path):
        (tmp_path / "bad").write_bytes(b"this is not a pickle")
        with pytest.raises(pickle.UnpicklingError):
            read_pickle(str(tmp_path / "bad"))
        with pytest.raises(FileNotFoundError):
            read_pickle(str(tmp_path / "absent"))


class TestReadConstantsBk:
    LINES = ["colour(c1,red).", "colour(c2,red).", "colour(c3, blue ).", "size(c1,3).",
             "% colour(c9,green)."]

    def test_listed_case(self):
        assert read_constants_bk(["colour(c1,red).", "colour(c2,red)."], [],
                                 {"colour": [1]}) == ["red"]

    @pytest.mark.parametrize("relation, expected", [
        ({"colour": [1]}, ["red", "blue"]),
        ({"colour": [1, 0], "size": [1]}, ["red", "c1", "c2", "blue", "c3", "3"]),
        ({"colour": [-1]}, ["red", "blue"]),
        ({"%colour": [0]}, ["c9"]),
        ({"missing": [5]}, []),
        ({}, []),
    ])
    def test_collects_in_discovery_order(self, tmp_path, relation, expected):
        assert read_constants_bk(self.LINES, [], relation) == expected
        path = write(tmp_path / "BK.pl", "\r\n".join(self.LINES) + "\n\n")
        assert read_constants_bk(path, [], relation) == expected

    def test_extends_given_list_in_place(self):
        constants = ["red", "x"]
        result = read_constants_bk(self.LINES, constants, {"colour": [1]})
        assert result is constants and constants == ["red", "x", "blue"]

    def test_omitted_arguments_are_not_shared(self):
        first = read_constants_bk(self.LINES, relation={"colour": [0]})
        second = read_constants_bk(self.LINES, relation={"size": [1]})
        assert first == ["c1", "c2", "c3"] and second == ["3"]
        assert read_constants_bk(self.LINES) == []

    def test_nested_list_value(self):
        assert read_constants_bk(["p(x,[[a,b],[c]]).", "p(y,[[a,b],[c]])."], [],
                                 {"p": [1]}) == [["a,b", "c"]]

    def test_position_out_of_range(self):
        constants = ["keep"]
        with pytest.raises(IndexError, match="size"):
            read_constants_bk(self.LINES, constants, {"colour": [1], "size": [2]})
        assert constants == ["keep"]

    def test_missing_file_even_without_relation(self, tmp_path):
        with pytest.raises(FileNotFoundError):
            read_constants_bk(str(tmp_path / "BK.pl"))

    @pytest.mark.parametrize("kwargs, parameter", [
        (dict(file=7), "file"),
        (dict(file=["p(a).", 1], relation={"p": [0]}), "file"),
        (dict(file=[], constants="abc"), "constants"),
        (dict(file=[], relation=[1]), "relation"),
        (dict(file=[], relation={"p": "0"}), "relation"),
    ])
    def test_wrong_types(self, kwargs, parameter):
        with pytest.raises(TypeError, match=parameter):
            read_constants_bk(**kwargs)
