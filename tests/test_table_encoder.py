"""The fitted table encoder: ranges from chosen rows, facts for any rows,
binning strategies, meta-information text and decoding."""
import pytest

import vantor
from vantor import TableEncoder, read_constants_meta_info, read_meta_information

pd = pytest.importorskip("pandas")


@pytest.fixture(autouse=True)
def in_tmp(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return tmp_path


def read(name):
    with open(name, encoding="utf-8") as f:
        return f.read()


def table():
    return pd.DataFrame({"Age": [5, 1, 9, 3, 7, 3], "Colour": ["red", "Light Blue", "red",
                                                              "green", "red", "big"]})


def test_default_facts_match_the_table_converter():
    df = table()
    vantor.prepare_logic_rules(df, ["Age", "Colour"])
    encoder = TableEncoder().fit(df)
    assert encoder.transform(df) == read("BK.pl").splitlines()
    assert encoder.meta_information().startswith(
        "Feature Name : Age\t (Encoded) - 3\n\tg0\t[1--3]\n\tg1\t[5--7]\n\tg2\t[9--9]\n\t(Cuts) - 4, 8 :")
    assert encoder.constants_ == ["g0", "g1", "g2", "red", "light_blue", "green", "big"]


def test_new_rows_go_to_the_nearest_range_and_unseen_categories_stay():
    encoder = TableEncoder().fit(table())
    new = pd.DataFrame({"Age": [-100, 3.9, 4, 6, 8.5, 1000], "Colour": ["blue"] * 6})
    facts = encoder.transform(new, start=10)
    assert facts[:6] == ["age(e_10,g0).", "age(e_11,g0).", "age(e_12,g1).", "age(e_13,g1).",
                         "age(e_14,g2).", "age(e_15,g2)."]
    assert facts[6] == "colour(e_10,blue)."


def test_ranges_come_from_the_fitted_rows_only():
    df = pd.DataFrame({"x": list(range(10))})
    small = TableEncoder().fit(df.iloc[:6])
    assert read_ranges(small) == {"x": ["0--1", "2--3", "4--5"]}
    assert small.transform(df)[-1] == "x(e_9,g2)."


def read_ranges(encoder):
    with open("meta.info", "w", encoding="utf-8") as f:
        f.write(encoder.meta_information())
    return read_meta_information("meta.info")


@pytest.mark.parametrize("options,ranges,labels", [
    ({"strategy": "equal_width", "n_ranges": 2}, ["0--5.0", "5.0--10"], ["g0", "g1", "g1"]),
    ({"edges": {"x": [3, 8]}}, ["0--3", "3--8", "8--10"], ["g0", "g1", "g2"]),
    ({"strategy": "edges", "edges": {"x": [-5]}}, ["-5---5", "-5--10"], ["g1", "g1", "g1"]),
])
def test_interval_strategies(options, ranges, labels):
    df = pd.DataFrame({"x": [0, 3, 5, 10, 8, 7]})
    encoder = TableEncoder(**options).fit(df)
    assert read_ranges(encoder)["x"] == ranges
    # Left-closed: a value on a cut belongs to the range above it.
    facts = encoder.transform(pd.DataFrame({"x": [2, 5, 9]}))
    assert [f.split(",")[1][:-2] for f in facts] == labels


def test_entropy_cuts_where_the_class_changes():
    ages = list(range(18, 91))
    df = pd.DataFrame({"age": ages, "noise": [a % 7 for a in ages]})
    y = [int(65 <= a <= 75) for a in ages]
    encoder = TableEncoder(strategy="entropy").fit(df, y)
    assert read_ranges(encoder)["age"] == ["18--64", "65--75", "76--90"]
    assert "(Cuts) - 64.5, 75.5 :" in encoder.meta_information()
    # A single cut is allowed when only one range more is asked for.
    two = TableEncoder(strategy="entropy", n_ranges=2).fit(df, y)
    assert len(read_ranges(two)["age"]) == 2
    # A column unrelated to the class gets no cut: one range.
    assert read_ranges(encoder)["noise"] == ["0--6"]


def test_target_named_in_fit_is_not_encoded():
    df = pd.DataFrame({"age": list(range(20)), "y": [int(a > 9) for a in range(20)]})
    encoder = TableEncoder(strategy="entropy").fit(df, "y")
    assert encoder.columns_ == ["age"]
    assert read_ranges(encoder) == {"age": ["0--9", "10--19"]}
    assert encoder.examples(df["y"])[0][:2] == ["target(e_0).", "target(e_1)."]
    pos, neg = encoder.examples(df["y"], label="old", positive=1)
    assert pos[0] == "old(e_10)." and len(neg) == 10


def test_missing_cells_give_no_fact_and_one_note():
    df = pd.DataFrame({"a": [1.0, None, 3.0, 4.0, 5.0], "c": ["x", None, "y", pd.NA, "x"]})
    encoder = TableEncoder().fit(df)
    facts = encoder.transform(df)
    assert not any("e_1," in f for f in facts)
    assert "c(e_3," not in "".join(facts)
    meta = encoder.meta_information()
    assert meta.count("(Missing)") == 2
    assert "(Missing) - 2 cells" in meta
    with open("meta.info", "w", encoding="utf-8") as f:
        f.write(meta)
    assert read_constants_meta_info("meta.info") == ["g0", "g1", "g2", "x", "y"]


def test_decode_uses_the_fitted_ranges_and_keeps_other_literals():
    encoder = TableEncoder().fit(table())
    assert encoder.decode("target(A):-age(A,g1),colour(A,green)") == (
        "target(A):-age(A,B),inRange(B,5--7),colour(A,green)")
    assert encoder.decode(["t(A):-colour(A,big)"]) == ["t(A):-colour(A,big)"]


def test_write_places_both_files_in_the_folder(tmp_path):
    encoder = TableEncoder().fit(table())
    bk, meta = encoder.write(table(), folder=tmp_path / "out")
    assert bk == str(tmp_path / "out" / "BK.pl")
    assert read(bk).splitlines() == encoder.transform(table())
    assert read(meta) == encoder.meta_information()
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["BK.pl", "meta_data.info"]


def test_parameters_follow_transformer_conventions():
    encoder = TableEncoder(n_ranges=5)
    assert encoder.get_params() == {"columns": None, "n_ranges": 5, "strategy": "equal_count",
                                    "ranges": None, "edges": None}
    assert encoder.set_params(strategy="equal_width") is encoder
    assert repr(encoder) == "TableEncoder(n_ranges=5, strategy='equal_width')"
    with pytest.raises(ValueError, match="no parameter"):
        encoder.set_params(bins=3)
    with pytest.raises(RuntimeError, match="fit"):
        TableEncoder().transform(table())


@pytest.mark.parametrize("options,y,error,words", [
    ({"strategy": "magic"}, None, ValueError, "strategy"),
    ({"strategy": "entropy"}, None, ValueError, "fit\\(data, y\\)"),
    ({"strategy": "edges"}, None, ValueError, "edges\\['Age'\\]"),
    ({"edges": {"Age": [3, 3]}}, None, ValueError, "ascending"),
    ({"n_ranges": 0}, None, ValueError, "n_ranges"),
    ({"columns": "Age"}, None, TypeError, "single name"),
    ({"columns": ["Weight"]}, None, KeyError, "Weight"),
    ({}, [1, 0], ValueError, "2 classes for a table of 6 rows"),
])
def test_bad_parameters(options, y, error, words):
    with pytest.raises(error, match=words):
        TableEncoder(**options).fit(table(), y)


def test_a_column_kept_categorical_or_too_few_values():
    df = pd.DataFrame({"a": [1, 2, 3, 4], "b": [0, 1, 0, 1]})
    encoder = TableEncoder(ranges={"a": 1}).fit(df)
    assert encoder.transform(df)[:2] == ["a(e_0,1).", "a(e_1,2)."]
    assert encoder.transform(df)[4] == "b(e_0,0)."
    with pytest.raises(TypeError, match="expected a number"):
        TableEncoder().fit(pd.DataFrame({"a": [1, 2, 3]})).transform(pd.DataFrame({"a": ["x"]}))
