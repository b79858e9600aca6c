"""The literal and rule text layer: parser, builders, kinds, matching, linkage."""
import random
import sys

import pytest

import vantor
from vantor import (
    Clause,
    Meta,
    argument_kind,
    argument_positions,
    is_chained,
    is_float,
    is_linked,
    literal_substitution,
    make_literal,
    make_prolog_rule,
    make_rule,
    split_term,
)


# A plain reading of the literal format, kept here only to check the core's
# parser against it on random texts.
def ref_split_term(var):
    first, _, rest = var.partition("]")
    out = [first]
    rest = rest.strip()
    if rest.startswith(","):
        rest = rest[1:].strip()
    out += [p for p in rest.split(",") if p]
    return out


def ref_positions(args):
    opens = [i for i, x in enumerate(args) if x == "$"]
    closes = [i for i, x in enumerate(args) if x == "*"]
    out, nxt = [], 0
    for start, end in zip(opens, closes):
        out += args[nxt:start]
        out.append(args[start + 1:end])
        nxt = max(nxt, end + 1)
    return out + args[nxt:]


def ref_clause(mode):
    mode = mode.replace("[[", "$[", 100).replace("]]", "], *", 100).replace(" ", "")
    predicate, _, rest = mode.partition("(")
    body = rest.strip().split(")")
    text = body[0]
    raw = []
    if "[" in text:
        for piece in text.split("["):
            if "]" in piece:
                raw += [s for s in ref_split_term(piece) if s]
            else:
                raw += [s for s in piece.split(",") if s]
    else:
        raw = [s for s in text.split(",") if s]
    if "$" in text:
        raw = ref_positions(raw)
    return predicate, body, raw


def python_float_ok(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


def ref_kind(arg):
    if isinstance(arg, list) or arg.isupper():
        return "variable"
    if arg.isnumeric() or python_float_ok(arg):
        return "numeric"
    return "constant"


class TestClause:
    @pytest.mark.parametrize(
        "text, predicate, args",
        [
            ("parent( ann , bob ).", "parent", ["ann", "bob"]),
            ("q", "q", []),
            ("p(a,,b)", "p", ["a", "b"]),
            ("p([a,b],c)", "p", ["a,b", "c"]),
            ("p(x,[a,b])", "p", ["x", "a,b"]),
            ("p([],x)", "p", ["x"]),
            ("p(x,[[a,b],[c]],y)", "p", ["x", ["a,b", "c"], "y"]),
            ("p(f(x),y)", "p", ["f(x"]),
            ("% parent(ann,bob).", "%parent", ["ann", "bob"]),
        ],
    )
    def test_parses_documented_examples(self, text, predicate, args):
        c = Clause(text)
        assert c.predicate == predicate
        assert c.args() == args

    def test_body_keeps_what_follows_each_parenthesis(self):
        assert Clause("parent( ann , bob ).").body == ["ann,bob", "."]
        assert Clause("q").body == [""]

    def test_fields_are_writable(self):
        c = Clause("p(a)")
        c.body = ["x,y", ""]
        c.predicate = "r"
        assert (c.predicate, c.args()) == ("r", ["x", "y"])

    def test_matches_plain_reading_on_random_texts(self):
        rng = random.Random(7)
        alphabet = ["a", "b", "A", "1", ",", "(", ")", "[", "]", "[[", "]]", " ", "\t", ".", "é", "$", "*"]
        for _ in range(5000):
            text = "p(" + "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 14)))
            if rng.random() < 0.7:
                text += ")."
            predicate, body, args = ref_clause(text)
            c = Clause(text)
            assert (c.predicate, c.body, c.args()) == (predicate, body, args), text

    def test_split_term_and_positions(self):
        assert split_term("a,b],c") == ["a,b", "c"]
        assert split_term("],x") == ["", "x"]
        assert argument_positions(["x", "$", "a,b", "c", "*", "y"]) == ["x", ["a,b", "c"], "y"]

    def test_unbalanced_markers_do_not_crash(self):
        for text in ["p([[a,b)", "p(a]],b)", "p($,*,*,$)", "p([[[[", "p(]]]]"]:
            Clause(text).args()


class TestMeta:
    @pytest.mark.parametrize(
        "rule, head, body, clauses",
        [
            ("h(A):-p(A,B)&q(B)", "h(A)", "p(A,B)&q(B)", ["p(A,B)", "q(B)"]),
            ("h(A):-p(A)", "h(A)", "p(A)", ["p(A)"]),
            ("h(A):-", "h(A)", "", [""]),
            ("p(a)", "p(a)", "", [""]),
            ("h(A):-p(A)&&q(A)", "h(A)", "p(A)&&q(A)", ["p(A)", "", "q(A)"]),
            ("h(A):-p(A),q(A)", "h(A)", "p(A),q(A)", ["p(A),q(A)"]),
            ("h(A) :- p(A):-q", "h(A) ", " p(A):-q", [" p(A):-q"]),
        ],
    )
    def test_cuts_at_separators_only(self, rule, head, body, clauses):
        m = Meta(rule)
        assert (m.head, m.body, m.get_body_clauses()) == (head, body, clauses)


class TestBuilders:
    def test_rules(self):
        assert make_rule("h(A)", ["p(A,B)", "q(B)"]) == "h(A):-p(A,B)&q(B)"
        assert make_prolog_rule("h(A)", ["p(A,B)", "q(B)"]) == "h(A):-p(A,B),q(B)"
        assert make_rule("h(A)", []) == "h(A):-"

    def test_literal_converts_arguments_with_str(self):
        assert make_literal("p", ["A", 3]) == "p(A,3)"
        assert make_literal("p", [0.1, 1e-05, True]) == "p(0.1,1e-05,True)"
        assert make_literal("p", ("a",)) == "p(a)"

    def test_literal_without_arguments_is_the_bare_predicate(self):
        assert make_literal("p", []) == "p"

    def test_rule_body_must_be_texts(self):
        with pytest.raises(TypeError, match="args"):
            make_rule("h(A)", ["p(A)", 3])
        with pytest.raises(TypeError):
            make_prolog_rule("h(A)", [None])


class TestKinds:
    @pytest.mark.parametrize(
        "arg, kind",
        [
            ("A", "variable"), ("AB", "variable"), ("X1", "variable"), ("A_B", "variable"),
            ("INF", "variable"), (["a", "b"], "variable"), ("Ü", "variable"),
            ("3", "numeric"), ("-2", "numeric"), ("0.5", "numeric"), ("nan", "numeric"),
            ("1e3", "numeric"), ("infinity", "numeric"), ("1_000", "numeric"), ("½", "numeric"),
            ("a", "constant"), ("c1", "constant"), ("Ann", "constant"), ("_", "constant"),
            ("Aé", "constant"), ("1__0", "constant"), ("", "constant"), ("ǅ", "constant"),
        ],
    )
    def test_documented_kinds(self, arg, kind):
        assert argument_kind(arg) == kind

    def test_every_code_point_agrees_with_the_host(self):
        for cp in range(sys.maxunicode + 1):
            if 0xD800 <= cp <= 0xDFFF:
                continue
            ch = chr(cp)
            assert argument_kind(ch) == ref_kind(ch), hex(cp)

    def test_random_texts_agree_with_the_host(self):
        rng = random.Random(3)
        pieces = ["A", "b", "1", "٣", "_", ".", "e", "E", "+", "-", " ", "\u2003", "inf", "nan",
                  "ǅ", "ß", "Σ", "ⅷ", "x"]
        for _ in range(20000):
            text = "".join(rng.choice(pieces) for _ in range(rng.randint(0, 6)))
            assert argument_kind(text) == ref_kind(text), repr(text)
            assert is_float(text) == python_float_ok(text), repr(text)

    def test_is_float_follows_float_for_other_values(self):
        assert is_float(3) and is_float(2.5) and is_float(b"1.5")
        assert not is_float(b"x")
        with pytest.raises(TypeError):
            is_float(None)

    def test_kind_of_a_non_text_is_a_type_error(self):
        with pytest.raises(TypeError, match="arg"):
            argument_kind(3)


class TestSubstitution:
    @pytest.mark.parametrize(
        "a, b, expected",
        [
            ("p(A,b)", "p(a,b)", [{"A": "a"}, {"b": "b"}]),
            ("p(a,B)", "p(a,c)", [{"a": "a"}, {"B": "c"}]),
            ("p(a,c)", "p(a,B)", [{"a": "a"}, {"B": "c"}]),
            ("p(X,X)", "p(a,b)", [{"X": "a"}, {"X": "b"}]),
            ("p( a )", "p(a)", [{"a": "a"}]),
            ("p(a)", "q(a)", "false"),
            ("p(a)", "p(a,b)", "false"),
            ("p(a)", "p(b)", "false"),
            ("p(1)", "p(2)", "false"),
            ("q", "q", []),
        ],
    )
    def test_documented_matches(self, a, b, expected):
        assert literal_substitution(a, b) == expected

    def test_nested_list_arguments_do_not_crash(self):
        assert literal_substitution("p([[a],[b]])", "p([[a],[b]])") == [{("a", "b"): ["a", "b"]}]
        assert literal_substitution("p([[a],[b]],X)", "p([[a],[c]],y)") == "false"


class TestLinkage:
    def test_linked_in_order_only(self):
        assert is_linked("f(A,B)", ["g(A,C)", "h(C,D)"], [])
        assert not is_linked("f(A,B)", ["h(C,D)", "g(A,C)"], [])
        assert is_linked("f(A,B)", [], [])

    def test_literal_without_variables_is_not_linked(self):
        assert not is_linked("f(A,B)", ["g(a,1)"], [])

    def test_constants_never_link(self):
        assert not is_linked("f(A,B)", ["g(B,C)"], ["B"])
        assert is_linked("f(A,B)", ["g(B,C)"], ["A"])

    def test_chained_through_first_arguments(self):
        assert is_chained("f(A,B)", ["g(A,C)", "h(C,D)"], [])
        assert not is_chained("f(A,B)", ["g(C,A)"], [])
        assert not is_chained("f(A,B)", ["q"], [])

    def test_non_text_constants_never_match(self):
        assert is_linked("f(A,B)", ["g(B,C)"], [1, None])
        with pytest.raises(TypeError, match="constant"):
            is_linked("f(A,B)", ["g(B,C)"], "B")


def test_package_exports_the_text_layer():
    for name in ["Clause", "Meta", "make_literal", "literal_substitution", "is_linked", "variable_name"]:
        assert hasattr(vantor, name)
