"""Numeric columns of every width, missing cells, output folders, byte-order
marks and the single-rule mistake of the table converters."""
import io

import pytest

from vantor import (
    discretise_numeric_column,
    prepare_examples,
    prepare_logic_rules,
    print_rules,
    read_constants_meta_info,
    read_meta_information,
    write_categorical_column,
)

pd = pytest.importorskip("pandas")


@pytest.fixture(autouse=True)
def in_tmp(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return tmp_path


def read(name):
    with open(name, encoding="utf-8") as f:
        return f.read()


@pytest.mark.parametrize("dtype", ["int8", "int16", "int32", "uint8", "uint32", "uint64",
                                   "Int64", "Int16", "UInt8"])
def test_integer_columns_of_any_width_are_binned(dtype):
    df = pd.DataFrame({"n": pd.Series([5, 1, 9, 3, 7, 3], dtype=dtype)})
    prepare_logic_rules(df, ["n"])
    assert read("meta_data.info") == ("Feature Name : n\t (Encoded) - 3\n"
                                      "\tg0\t[1--3]\n\tg1\t[5--7]\n\tg2\t[9--9]\n")
    assert read("BK.pl").splitlines()[0] == "n(e_0,g1)."


@pytest.mark.parametrize("dtype", ["float32", "Float32", "Float64", "float16"])
def test_narrow_and_nullable_floats_are_binned_with_short_bounds(dtype):
    df = pd.DataFrame({"w": pd.Series([0.1, 0.5, 2.5, 1.5], dtype=dtype)})
    prepare_logic_rules(df, ["w"], default_div=2)
    lines = read("meta_data.info").splitlines()
    assert lines[0] == "Feature Name : w\t (Encoded) - 2"
    assert lines[1:] == ["\tg0\t[0.1--0.5]", "\tg1\t[1.5--2.5]"]


def test_type_names_given_as_texts_and_booleans():
    class Table:
        dtypes = {"a": "int32", "f": "float32", "b": "bool"}

        def __getitem__(self, name):
            return {"a": [1, 2, 3, 4], "f": [1.0, 2.0, 3.0, 4.0], "b": [True, False, True, False]}[name]

    prepare_logic_rules(Table(), ["a", "f", "b"])
    meta = read("meta_data.info")
    assert "Feature Name : a\t (Encoded) - 3\n" in meta
    assert "Feature Name : f\t (Encoded) - 3\n" in meta
    assert "Feature Name : b\t (Not Encoded) - 2\n" in meta


def test_missing_cells_of_every_kind_give_no_fact():
    df = pd.DataFrame({
        "x": [1.0, float("nan"), 3.0, 4.0, 5.0],
        "n": pd.array([1, None, 3, 4, 5], dtype="Int64"),
        "c": ["a", None, "b", pd.NA, "a"],
        "t": pd.to_datetime(["2020-01-01", None, "2020-01-02", "2020-01-01", "2020-01-01"]),
    })
    prepare_logic_rules(df, ["x", "n", "c", "t"])
    bk = read("BK.pl")
    assert "nan" not in bk and "<na>" not in bk and "nat" not in bk
    assert [line for line in bk.splitlines() if "(e_1," in line] == []
    assert "c(e_3," not in bk and "c(e_4,a)." in bk
    meta = read("meta_data.info")
    assert meta.count("\t(Missing) - 1 cells") == 3 and "\t(Missing) - 2 cells" in meta
    # Missing cells are not values of the column.
    assert "Feature Name : c\t (Not Encoded) - 2\n\ta\n\tb\n" in meta
    # The readers step over the notes.
    assert read_meta_information("meta_data.info")["x"] == ["1.0--3.0", "4.0--4.0", "5.0--5.0"]
    assert read_constants_meta_info()[-4:] == ["a", "b", "'2020-01-01_00:00:00'",
                                               "'2020-01-02_00:00:00'"]


def test_column_helpers_skip_missing_cells():
    meta = io.StringIO()
    assert write_categorical_column(["a", None, float("nan"), "b"], "c", meta) == ["c(e_0,a).",
                                                                                 "c(e_3,b)."]
    assert meta.getvalue() == ("Feature Name : c\t (Not Encoded) - 2\n\ta\n\tb\n"
                               "\t(Missing) - 2 cells without a value, written as no fact\n")
    facts = discretise_numeric_column([None, 5, 1, 9, pd.NA, 3, 7, 3], "Age", io.StringIO(), {}, 3)
    assert facts == ["Age(e_1,g1).", "Age(e_2,g0).", "Age(e_3,g2).", "Age(e_5,g0).",
                     "Age(e_6,g1).", "Age(e_7,g0)."]


def test_missing_classes_are_refused_with_their_row():
    for missing in (None, float("nan"), pd.NA):
        with pytest.raises(ValueError, match="row 1: the class is missing"):
            prepare_examples(pd.DataFrame({"y": ["a", missing, "b"]}, dtype=object), "y")


def test_writers_put_every_file_in_the_folder(tmp_path):
    df = pd.DataFrame({"age": [5, 1, 9, 3], "y": ["a", "b", "c", "a"]})
    prepare_logic_rules(df, ["age"], folder=tmp_path / "run")
    names = prepare_examples(df, "y", folder=tmp_path / "run")
    run = tmp_path / "run"
    assert names == [str(run / "pos_example.f"), str(run / "neg_example.n"),
                     str(run / "neg_example_2.n")]
    assert sorted(p.name for p in run.iterdir()) == ["BK.pl", "meta_data.info", "neg_example.n",
                                                    "neg_example_2.n", "pos_example.f"]
    assert sorted(p.name for p in tmp_path.iterdir()) == ["run"]
    assert read(run / "meta_data.info").endswith("y\n\ta\t" + names[0] + "\n\tb\t" + names[1]
                                                 + "\n\tc\t" + names[2] + "\n")
    assert read(run / "pos_example.f") == "target(e_0).\ntarget(e_3).\n"


def test_byte_order_mark_is_skipped():
    with open("meta_data.info", "w", encoding="utf-8-sig") as f:
        f.write("Feature Name : Age\t (Encoded) - 2\n\tg0\t[1--3]\n\tg1\t[5--7]\n")
    assert read_meta_information("meta_data.info") == {"Age": ["1--3", "5--7"]}
    assert read_constants_meta_info() == ["g0", "g1"]
    assert print_rules(["t(A):-age(A,g1)"]) == ["t(A):-age(A,B),inRange(B,5--7)"]


def test_print_rules_refuses_a_single_rule_text():
    with open("meta_data.info", "w", encoding="utf-8") as f:
        f.write("Feature Name : Age\t (Encoded) - 1\n\tg0\t[1--3]\n")
    with pytest.raises(TypeError, match="single rule"):
        print_rules("t(A):-age(A,g0)")


def test_decoded_rule_keeps_the_smoker_condition():
    with open("meta_data.info", "w", encoding="utf-8") as f:
        f.write("Feature Name : age\t (Encoded) - 4\n\tg0\t[18--40]\n\tg1\t[41--62]\n"
                "\tg2\t[63--76]\n\tg3\t[77--90]\n"
                "Feature Name : smoker\t (Not Encoded) - 2\n\tyes\n\tno\n")
    assert print_rules(["target(A):-age(A,g2),smoker(A,yes)", "target(A):-smoker(A,no)"]) == [
        "target(A):-age(A,B),inRange(B,63--76),smoker(A,yes)", "target(A):-smoker(A,no)"]
