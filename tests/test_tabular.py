import io
import os
import shutil
import subprocess

import pytest

from vantor import (
    Clause,
    decode_rule,
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


def bk_args(name="BK.pl"):
    """predicate -> list of (entity, value) as the library's parser reads them."""
    out = {}
    for line in read(name).splitlines():
        c = Clause(line)
        args = c.args()
        assert len(args) == 2, line
        out.setdefault(c.predicate, []).append(tuple(args))
    return out


class Table:
    """The least a table must offer: a type map and one column's values."""

    def __init__(self, columns, types):
        self.columns, self.dtypes = columns, types

    def __getitem__(self, name):
        return self.columns[name]


SPEC_META = (
    "Feature Name : Age\t (Encoded) - 3\n\tg0\t[1--3]\n\tg1\t[5--7]\n\tg2\t[9--9]\n"
    "Feature Name : Colour\t (Not Encoded) - 2\n\tred\n\tblue\n"
    "Outcome\n\tno\tpos_example.f\n\tyes\tneg_example.n\n"
)


# ------------------------------------------------------------ discretisation


def test_ranges_and_facts_of_a_numeric_column():
    meta = io.StringIO()
    facts = discretise_numeric_column([5, 1, 9, 3, 7, 3], "Age", meta, {}, 3)
    assert facts == ["Age(e_0,g1).", "Age(e_1,g0).", "Age(e_2,g2).", "Age(e_3,g0).",
                     "Age(e_4,g1).", "Age(e_5,g0)."]
    assert meta.getvalue() == ("Feature Name : Age\t (Encoded) - 3\n"
                               "\tg0\t[1--3]\n\tg1\t[5--7]\n\tg2\t[9--9]\n")


@pytest.mark.parametrize("values,k,header,first_fact", [
    ([0, 1, 1, 0, 1], 3, "Feature Name : s\t (Not Encoded) - 2\n", "s(e_0,0)."),   # two values
    ([1, 2, 3, 4, 5, 6], 1, "Feature Name : s\t (Not Encoded) - 6\n", "s(e_0,1)."),  # default_div 1
    ([4, 5, 6], 4, "Feature Name : s\t (Not Encoded) - 3\n", "s(e_0,4)."),  # fewer than k
    ([4, 5, 6, 7], 4, "Feature Name : s\t (Encoded) - 4\n", "s(e_0,g0)."),  # exactly k
])
def test_when_a_numeric_column_stays_categorical(values, k, header, first_fact):
    meta = io.StringIO()
    facts = discretise_numeric_column(values, "s", meta, {}, k)
    assert meta.getvalue().startswith(header)
    assert facts[0] == first_fact
    if "(Encoded)" in header:
        assert "\tg0\t[4--4]\n" in meta.getvalue()


def test_conditions_choose_ranges_per_column():
    df = pd.DataFrame({"age": list(range(10)), "h": list(range(10))})
    prepare_logic_rules(df, ["age", "h"], conditions={"age": 5})
    meta = read("meta_data.info")
    assert "Feature Name : age\t (Encoded) - 5\n" in meta
    assert "Feature Name : h\t (Encoded) - 3\n" in meta
    prepare_logic_rules(df, ["age", "h"], conditions={"age": 1})
    meta = read("meta_data.info")
    assert "Feature Name : age\t (Not Encoded) - 10\n" in meta
    assert "age(e_3,3).\n" in read("BK.pl")
    prepare_logic_rules(df, ["age", "h"], default_div=1, conditions={"age": 5})
    assert "(Encoded)" not in read("meta_data.info")


@pytest.mark.parametrize("value,text", [
    (1e16, "1e+16"), (1e-05, "1e-05"), (0.1 + 0.2, "0.30000000000000004"), (-0.0, "-0.0"),
    (2.0, "2.0"), (0.1, "0.1"), (123456789.125, "123456789.125"), (float("inf"), "inf"),
])
def test_float_bounds_written_as_python_writes_them(value, text):
    # value is the only member of the top range, so it is written as both bounds.
    df = pd.DataFrame({"x": [-3.0, -2.0, -1.0, value]})
    prepare_logic_rules(df, ["x"], default_div=4)
    assert f"\tg3\t[{text}--{text}]\n" in read("meta_data.info")


def test_numpy_scalars_are_written_as_plain_numbers():
    np = pytest.importorskip("numpy")
    meta = io.StringIO()
    discretise_numeric_column(pd.Series([0.5, 0.1, 2.0, 1e-05]), "n", meta, {}, 2)
    assert meta.getvalue().splitlines()[1:] == ["\tg0\t[1e-05--0.1]", "\tg1\t[0.5--2.0]"]
    meta = io.StringIO()
    write_categorical_column([np.float64(0.1), np.int64(3), np.float64(0.1)], "c", meta)
    assert meta.getvalue().splitlines()[1:] == ["\t0.1", "\t3"]


def test_integer_bounds_and_mixed_numbers_compare_exactly():
    meta = io.StringIO()
    big = 2 ** 53
    # 2**53 + 1 and float(2**53) differ, though both are 2**53 as doubles.
    discretise_numeric_column([big + 1, float(big), 0, 5, 5.0], "n", meta, {}, 2)
    assert meta.getvalue().splitlines()[1:] == ["\tg0\t[0--5]",
                                                f"\tg1\t[{float(big)!r}--{big + 1}]"]


def test_column_types_numbers_blanks_and_brackets():
    df = pd.DataFrame({
        "Income (USD)": [1.5, 2.0, 3.5, 4.0],
        "flag": [True, False, True, True],
        "small": pd.Series([1, 2, 3, 4], dtype="int32"),  # binned like int64
        "Colour": ["Light Blue", "red", "Light Blue", "Red"],
    })
    prepare_logic_rules(df, ["Income (USD)", "flag", "small", "Colour"])
    meta = read("meta_data.info")
    assert meta.splitlines()[:4] == ["Feature Name : Income (USD)\t (Encoded) - 3",
                                     "\tg0\t[1.5--2.0]", "\tg1\t[3.5--3.5]", "\tg2\t[4.0--4.0]"]
    assert "Feature Name : flag\t (Not Encoded) - 2\n\tTrue\n\tFalse\n" in meta
    assert "Feature Name : small\t (Encoded) - 3\n\tg0\t[1--2]\n" in meta
    # Distinct values in order of first occurrence, unchanged.
    assert "Feature Name : Colour\t (Not Encoded) - 3\n\tLight Blue\n\tred\n\tRed\n" in meta
    facts = bk_args()
    assert facts["income_usd"][0] == ("e_0", "g0")
    assert facts["flag"][1] == ("e_1", "false")
    assert facts["colour"] == [("e_0", "light_blue"), ("e_1", "red"), ("e_2", "light_blue"),
                               ("e_3", "red")]
    # Row numbers restart with every column.
    assert [e for e, _ in facts["small"]] == ["e_0", "e_1", "e_2", "e_3"]


def test_any_table_with_a_type_map_and_columns():
    table = Table({"a": [1, 2, 3, 4], "b": ["x", "y", "x", "z"]}, {"a": "int64", "b": "object"})
    prepare_logic_rules(table, ["a", "b"])
    assert read("BK.pl").splitlines()[:2] == ["a(e_0,g0).", "a(e_1,g0)."]
    assert "b(e_3,z)." in read("BK.pl")


# ------------------------------------------------------ terms that always load


AWKWARD = ["x,y", "a(b)", "[1]", "O'Neil", "1abc", "", "a-b", "a/b", "_x", "back\\slash",
           "R&D", "tab\there", "Ünïcode Größe", "it's \"q\"", "%comment", "a.b", "Foo Bar",
           "0x1f", "1_000", "is", "end_of_file", "$", "bell\x07"]


def flat(text):
    """The atom text a value stands for in the background file."""
    out = text.lower()
    for ch in " \t,()[]&":
        out = out.replace(ch, "_")
    return out


def test_awkward_values_and_names_give_terms_the_parser_reads():
    df = pd.DataFrame({"Name (x)": AWKWARD, "1st col": list(range(len(AWKWARD))),
                       "Größe, [m]": AWKWARD})
    prepare_logic_rules(df, ["Name (x)", "1st col", "Größe, [m]"], default_div=1)
    facts = bk_args()
    assert set(facts) == {"name_x", "'1st_col'", "'größe___m_'"}
    for (_, value), raw in zip(facts["name_x"], AWKWARD):
        if value.startswith("'"):
            assert value[1:-1].replace("''", "'").replace("\\\\", "\\") in (flat(raw), "bell\\x7\\")
        else:
            assert value == flat(raw)
    # Constants read back from the meta-information file are the background terms.
    constants = read_constants_meta_info()
    assert constants == [v for _, v in facts["name_x"]] + [v for _, v in facts["'1st_col'"]] + [
        v for _, v in facts["'größe___m_'"]]


@pytest.mark.skipif(shutil.which("swipl") is None, reason="needs the swipl executable")
def test_awkward_background_file_consults_in_prolog():
    values = AWKWARD + ["2.0", "-3", "1e-05", "-0.0", "1e+16", "007"]
    df = pd.DataFrame({"Colour (x)": values, "1st col": values})
    prepare_logic_rules(df, ["Colour (x)", "1st col"], default_div=1)
    goal = ("consult('BK.pl'),forall(colour_x(E,V),"
            "((atom(V)->T=a;T=n),format('~w\\t~w\\t~w~n',[E,T,V]))),"
            "forall('1st_col'(_,_),true),halt")
    run = subprocess.run(["swipl", "-q", "-g", goal, "-t", "halt(1)"], capture_output=True,
                         text=True, timeout=60)
    assert run.returncode == 0 and "rror" not in run.stderr and "arning" not in run.stderr, run.stderr
    rows = [line.split("\t") for line in run.stdout.splitlines()]
    assert [r[0] for r in rows] == [f"e_{i}" for i in range(len(values))]
    for (_, kind, text), raw in zip(rows, values):
        if kind == "n":
            assert raw not in AWKWARD and float(text) == float(raw)
        elif raw != "bell\x07":
            assert text == flat(raw)


# ----------------------------------------------------------------- bad input


def test_bad_input_leaves_existing_files_alone():
    with open("BK.pl", "w") as f:
        f.write("old.\n")
    with open("meta_data.info", "w") as f:
        f.write("old\n")
    df = pd.DataFrame({"a": [1.0, 2.0, float("nan"), 4.0], "b": [1, 2, 3, 4]})
    with pytest.raises(KeyError, match="missing"):
        prepare_logic_rules(df, ["b", "missing"])
    for bad in (0, -1):
        with pytest.raises(ValueError, match="default_div"):
            prepare_logic_rules(df, ["b"], default_div=bad)
        with pytest.raises(ValueError, match="conditions"):
            prepare_logic_rules(df, ["b"], conditions={"b": bad})
    with pytest.raises(ValueError, match="BK.pl"):
        prepare_logic_rules(df, ["b"], meta_information="./BK.pl")
    with pytest.raises(ValueError, match="meta-information"):
        prepare_examples(df, "b", negative_example="meta_data.info")
    with pytest.raises(TypeError, match="column_list"):
        prepare_logic_rules(df, "b")
    with pytest.raises(KeyError, match="nope"):
        prepare_examples(df, "nope")
    assert read("BK.pl") == "old.\n" and read("meta_data.info") == "old\n"
    assert sorted(os.listdir()) == ["BK.pl", "meta_data.info"]


def test_nan_gives_no_fact_whether_or_not_a_column_is_discretised():
    df = pd.DataFrame({"a": [1.0, float("nan"), 1.0]})
    prepare_logic_rules(df, ["a"])
    assert bk_args()["a"] == [("e_0", "1.0"), ("e_2", "1.0")]
    meta = io.StringIO()
    facts = discretise_numeric_column([1.0, float("nan"), 2.0, 3.0], "a", meta, {}, 3)
    assert facts == ["a(e_0,g0).", "a(e_2,g1).", "a(e_3,g2)."]
    assert meta.getvalue().endswith("\t(Missing) - 1 cells without a value, written as no fact\n")


# ------------------------------------------------------------------ examples


@pytest.mark.parametrize("target,files,first", [
    (["yes", "no", "yes"], ["pos_example.f", "neg_example.n"], ("neg_example.n", "target(e_0).")),
    (["b", "c", "a"], ["pos_example.f", "neg_example.n", "neg_example_2.n"],
     ("neg_example_2.n", "target(e_1).")),
    ([1, 0, 1], ["pos_example.f", "neg_example.n"], ("pos_example.f", "target(e_1).")),
])
def test_examples_per_class(target, files, first):
    df = pd.DataFrame({"Outcome": target})
    assert prepare_examples(df, "Outcome") == files
    name, line = first
    assert read(name).splitlines()[0] == line
    classes = sorted(set(target))
    assert read("meta_data.info") == "Outcome\n" + "".join(
        f"\t{c}\t{f}\n" for c, f in zip(classes, files))


def test_examples_label_and_repeated_calls():
    df = pd.DataFrame({"y": ["no", "yes"]})
    prepare_examples(df, "y", example_label="Cancer")
    prepare_examples(df, "y", example_label="Cancer")
    assert read("pos_example.f") == "Cancer(e_0).\n"
    assert read("meta_data.info").count("y\n") == 2


# ---------------------------------------------------------- meta-information


def test_reading_the_meta_information_file():
    with open("meta_data.info", "w") as f:
        f.write(SPEC_META)
    assert read_meta_information("meta_data.info") == {"Age": ["1--3", "5--7", "9--9"], "Colour": []}
    assert read_constants_meta_info(user_input=["x"]) == ["g0", "g1", "g2", "red", "blue", "x"]


def test_values_starting_with_g_and_blanks_in_values():
    with open("meta_data.info", "w") as f:
        f.write("Feature Name : Income (USD)\t (Encoded) - 1\n\tg0\t[1.5--2.0]\n"
                "Feature Name : Shade\t (Not Encoded) - 4\n\tgreen\n\tgrey\n\tLight Blue\n"
                "\tg1\t[1--2]\ngrade\n\tg\tpos_example.f\n")
    assert read_meta_information("meta_data.info") == {"Income_(USD)": ["1.5--2.0"], "Shade": []}
    constants = read_constants_meta_info()
    assert constants == ["g0", "green", "grey", "light_blue", "'g1__1--2_'"]


def test_constant_defaults_are_fresh():
    with open("meta_data.info", "w") as f:
        f.write(SPEC_META)
    first = read_constants_meta_info()
    first.append("zzz")
    extra = ["x"]
    assert read_constants_meta_info() == ["g0", "g1", "g2", "red", "blue"]
    read_constants_meta_info(user_input=extra)
    assert extra == ["x"]


@pytest.mark.parametrize("text,line", [
    ("Feature Name : A\t (Encoded) - three\n", 1),
    ("Feature Name : A\t (Not Encoded) - 3\n\tx\n", 1),
    ("x\nFeature Name : A\t (Encoded) - 2\n\tg0\t[1--2]\n\tg2\t[3--4]\n", 4),
    ("Feature Name : A\t (Encoded) - 1\n\tg0\t1--2\n", 2),
    ("Feature Name A\t (Encoded) - 1\n\tg0\t[1--2]\n", 1),
])
def test_malformed_meta_information(text, line):
    with open("meta_data.info", "w") as f:
        f.write(text)
    for reader in (read_constants_meta_info, lambda: read_meta_information("meta_data.info")):
        with pytest.raises(ValueError, match=f"line {line}:"):
            reader()


def test_missing_meta_information_file():
    with pytest.raises(FileNotFoundError):
        read_meta_information("absent.info")
    with pytest.raises(FileNotFoundError):
        print_rules([], "absent.info")


# ------------------------------------------------------------------ decoding


RANGES = {"Age": ["1--3", "5--7", "9--9"], "Colour": [], "Income_(USD)": ["1.5--2.0", "2.5--3.0"],
          "p": ["0--1", "2--3"]}


@pytest.mark.parametrize("rule,decoded", [
    # Every condition is kept: categorical literals stay as they are.
    ("target(A):-age(A,g1),colour(A,red)", "target(A):-age(A,B),inRange(B,5--7),colour(A,red)"),
    ("target(A):-age(A,g1)&colour(A,red)", "target(A):-age(A,B),inRange(B,5--7),colour(A,red)"),
    ("target(A):-colour(A,red)", "target(A):-colour(A,red)"),
    ("target(A):-colour(A,green),colour(A,big)", "target(A):-colour(A,green),colour(A,big)"),
    ("h(A):-income_usd(A,g0)", "h(A):-income_usd(A,B),inRange(B,1.5--2.0)"),
    # A literal is written once, whole, followed by the range of each label.
    ("h:-p(g0,g1)", "h:-p(A,B),inRange(A,0--1),inRange(B,2--3)"),
    # Fresh names skip names the rule already uses, in the body or the head.
    ("h:-q(A,C),p(C,g1)", "h:-q(A,C),p(C,D),inRange(D,2--3)"),
    ("h(B):-age(A,g2)", "h(B):-age(A,C),inRange(C,9--9)"),
])
def test_decode_rule(rule, decoded):
    assert decode_rule(rule, RANGES) == decoded


@pytest.mark.parametrize("rule,error", [
    ("h(A):-age(A,g3)", IndexError),
    ("h(A):-income_usd(A,g2)", IndexError),
])
def test_decode_rule_errors(rule, error):
    with pytest.raises(error):
        decode_rule(rule, RANGES)


@pytest.mark.parametrize("rule", ["h(A):-weight(A,g0)", "h(A):-colour(A,green)",
                                  "h(A):-colour(A,g1)"])
def test_labels_only_of_predicates_with_ranges(rule):
    # weight is no feature and colour has no ranges: g0 and g1 are their values.
    assert decode_rule(rule, RANGES) == rule


def test_print_rules_round_trip():
    df = pd.DataFrame({"Body Mass (kg)": [50.5, 60.0, 70.25, 80.0, 90.0, 100.0],
                       "y": ["a", "b", "a", "b", "a", "b"]})
    prepare_logic_rules(df, ["Body Mass (kg)"])
    prepare_examples(df, "y")
    assert print_rules() == []
    pred = bk_args()
    assert pred["body_mass_kg"][2] == ("e_2", "g1")
    assert print_rules(["target(A):-body_mass_kg(A,g1)"]) == [
        "target(A):-body_mass_kg(A,B),inRange(B,70.25--80.0)"]


def test_write_categorical_column_facts_keep_values():
    meta = io.StringIO()
    facts = write_categorical_column(["a b", "c", "a b", 2.0], "Col (x)", meta)
    assert facts == ["Col x(e_0,a b).", "Col x(e_1,c).", "Col x(e_2,a b).", "Col x(e_3,2.0)."]
    assert meta.getvalue() == "Feature Name : Col (x)\t (Not Encoded) - 3\n\ta b\n\tc\n\t2.0\n"


def random_texts(count, seed=11):
    import random
    rnd = random.Random(seed)
    alphabet = [chr(c) for c in range(0, 128)] + list("äÄßİ€ǅ\u00a0\u0085\u2028\u3000字")
    return ["".join(rnd.choice(alphabet) for _ in range(rnd.randint(0, 8))) for _ in range(count)]


def test_random_values_keep_two_arguments_and_match_constants():
    values = random_texts(400)
    df = pd.DataFrame({"v": values})
    prepare_logic_rules(df, ["v"], default_div=1)
    facts = bk_args()["v"]
    assert [e for e, _ in facts] == [f"e_{i}" for i in range(len(values))]
    first = {}
    for (_, term), raw in zip(facts, values):
        assert first.setdefault(raw, term) == term
    assert read_constants_meta_info() == list(first.values())


@pytest.mark.skipif(shutil.which("swipl") is None, reason="needs the swipl executable")
def test_random_values_consult_in_prolog():
    values = random_texts(400, seed=5)
    prepare_logic_rules(pd.DataFrame({"v": values}), ["v"], default_div=1)
    goal = "consult('BK.pl'),aggregate_all(count,v(_,_),N),format('~w~n',[N]),halt"
    run = subprocess.run(["swipl", "-q", "-g", goal, "-t", "halt(1)"], capture_output=True,
                         text=True, timeout=60)
    assert run.returncode == 0 and run.stderr == "", run.stderr
    assert run.stdout.strip() == str(len(values))
