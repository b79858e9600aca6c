"""Bottom clause of one example: the indexed builder against the plain scan."""
import random

import pytest

import vantor
from vantor import bottom_clause
from literal_scan import literal_bottom_clause

# Small vocabularies so that terms collide and are substrings of each other.
TERMS = ["a", "an", "ann", "n", "b", "bo", "bob", "ob", "c1", "1", "12", "2", "0.5",
         "X", "Xa", "AB", "é", "ü", "Ü", "née", "a_b", "nan", "p", "(", "%"]
CORE = ["a", "an", "ann", "b", "bob", "c1", "1", "X"]
PREDICATES = ["p", "q", "pa", "ap", "r", "% p", "%p", "p_q", "Ü"]


def term(rng):
    return rng.choice(CORE) if rng.random() < 0.7 else rng.choice(TERMS)


def random_arg(rng, depth=0):
    roll = rng.random()
    if roll < 0.06 and depth == 0:
        return "[" + ",".join(term(rng) for _ in range(rng.randint(0, 2))) + "]"
    if roll < 0.09 and depth == 0:
        inner = ["[" + ",".join(term(rng) for _ in range(rng.randint(1, 2))) + "]"
                 for _ in range(rng.randint(1, 2))]
        return "[" + ",".join(inner) + "]"
    if roll < 0.16:
        return term(rng) + " " + term(rng)  # blanks inside an argument
    if roll < 0.18:
        return ""
    return term(rng)


def random_literal(rng, predicates=PREDICATES):
    arity = rng.choice([0, 1, 1, 2, 2, 2, 3, 3, 4])
    pred = rng.choice(predicates)
    if arity == 0:
        return pred
    sep = rng.choice([",", ",", ", ", " ,"])
    args = [random_arg(rng) for _ in range(arity)]
    if rng.random() < 0.15:
        # A first argument the substring test cannot see.
        args[0] = rng.choice([term(rng) + " " + term(rng), "[[" + term(rng) + "],[b]]"])
    return pred + "(" + sep.join(args) + ")"


def random_line(rng):
    roll = rng.random()
    if roll < 0.05:
        return ""
    if roll < 0.08:
        return rng.choice([" ", "\t", "  \t "])
    text = random_literal(rng)
    if rng.random() < 0.8:
        text += "."
    if rng.random() < 0.1:
        text = "% " + text
    if rng.random() < 0.15:
        text = rng.choice([" ", "\t", "\u3000", "\xa0"]) + text
    if rng.random() < 0.15:
        text += rng.choice([" ", "\t", " \t", "\xa0"])
    return text


def random_background(rng):
    lines = [random_line(rng) for _ in range(rng.randint(0, 24))]
    if lines and rng.random() < 0.3:
        lines.insert(rng.randrange(len(lines)), rng.choice(lines))  # duplicate fact
    return lines


def random_example(rng):
    arity = rng.choice([1, 2, 2, 3])
    args = []
    for _ in range(arity):
        arg = random_arg(rng)
        args.append(arg if arg else term(rng))
    return "t(" + ",".join(args) + ")" + rng.choice([".", ""])


def write_background(path, lines, rng):
    breaks = ["\n", "\r\n", "\r", "\n\n", "\u2028", "\x0c", "\x1c", "\x85"]
    text = "".join(line + rng.choice(breaks) for line in lines)
    if rng.random() < 0.5:
        text = text.rstrip("\n")
    path.write_bytes(text.encode("utf-8"))


def case(rng, tmp_path):
    lines = random_background(rng)
    example = random_example(rng)
    constant = rng.sample(TERMS, rng.choice([0, 0, 1, 2, 4]))
    depth = rng.choice([-1, 0, 1, 1, 2, 2, 3, 5])
    if rng.random() < 0.5:
        source = lines
    else:
        source = str(tmp_path / "BK.pl")
        write_background(tmp_path / "BK.pl", lines, rng)
    return source, example, depth, constant


@pytest.mark.parametrize("seed", range(8))
def test_indexed_builder_matches_plain_scan(seed, tmp_path):
    rng = random.Random(seed)
    for n in range(500):
        source, example, depth, constant = case(rng, tmp_path)
        expected = literal_bottom_clause(source, example, depth, constant)
        got = bottom_clause(source, example, depth, constant)
        assert got == expected, (n, source if isinstance(source, list)
                                 else open(source, encoding="utf-8").read(),
                                 example, depth, constant)


FAMILY = ["parent(ann,bob).", "parent(bob,carl)."]


@pytest.mark.parametrize("lines, example, depth, constant, expected", [
    # a term found on a line makes later lines takeable in the same pass ...
    (FAMILY, "grandparent(ann,carl)", 1, [], ["parent(A,C)", "parent(C,B)"]),
    # ... and earlier lines only in the next pass
    (FAMILY[::-1], "grandparent(ann,carl)", 1, [], ["parent(A,C)"]),
    (FAMILY[::-1], "grandparent(ann,carl)", 2, [], ["parent(A,C)", "parent(C,B)"]),
    # connected through the first argument only
    (["likes(dan,ann)."], "grandparent(ann,carl)", 3, [], []),
    # constant-set members stay, and may stand first
    (["age(ann,3).", "score(3,ann)."], "g(ann)", 1, ["3"], ["age(A,3)", "score(3,A)"]),
    (["score(3,ann)."], "g(ann)", 1, [], []),
    # numbers and upper-case texts stay literal
    (["m(ann,42,0.5,X)."], "g(ann)", 1, [], ["m(A,42,0.5,X)"]),
    # duplicates once, also when reached again in a later pass
    (["p(ann,b).", "p(ann,b).", "p(ann, b)."], "g(ann)", 3, [], ["p(A,B)"]),
    # depth 0: the head; negative depth: nothing
    (FAMILY, "grandparent(ann,carl)", 0, [], "grandparent(A,B)"),
    (FAMILY, "grandparent(ann,carl)", -1, [], []),
    # comment lines are never taken (Prolog skips them too)
    (["% parent(ann,bob)."], "grandparent(ann,carl)", 1, [], []),
    # repeated example terms keep the first position
    (["p(a,z)."], "f(a,a)", 1, [], ["p(A,C)"]),
    # a number of the example is known but stays literal in the body
    (["g(3,x)."], "f(a,3)", 1, [], ["g(3,C)"]),
    # a given line list is used untrimmed: the tab stays in the predicate
    (["\tparent(ann,bob). "], "g(ann)", 1, [], ["\tparent(A,B)"]),
    # blanks inside an argument: "x y" parses to xy, which is not in the line
    (["q(x y,b).", "q(ann,x y)."], "g(xy)", 2, [], []),
    (["q(ann,x y).", "r(xy,c)."], "g(ann)", 1, [], ["q(A,B)", "r(B,C)"]),
    # "an" occurs in "ann" but is not an argument of the line
    (["p(ann,b)."], "g(an)", 2, [], []),
    # nested lists: one list-valued argument, numbered like a constant
    (["p(ann,[[a,b],[c]],d).", "p(ann,[[a,b],[c]],e)."], "g(ann)", 1, [],
     ["p(A,B,C)", "p(A,B,D)"]),
    # a list in single brackets is one text argument
    (["p(ann,[a,b])."], "g(ann)", 1, [], ["p(A,B)"]),
    # a first argument the substring test cannot see (list, blanks) still
    # connects the fact once another of its arguments becomes known later
    (["p(ann,[[a],[b]]).", "q([[a],[b]],c).", "r(ann,c)."], "g(ann)", 2, [],
     ["p(A,B)", "r(A,C)", "q(B,C)"]),
    (["p(ann,x y).", "q(x y,c).", "r(ann,c)."], "g(ann)", 2, [],
     ["p(A,B)", "r(A,C)", "q(B,C)"]),
    (["p(ann,x y).", "q(x y,c).", "r(ann,c)."], "g(ann)", 1, [], ["p(A,B)", "r(A,C)"]),
    # a term found on the line itself and known before is not renumbered
    (["p(b,ann,b,c)."], "g(ann,b)", 1, [], ["p(B,A,B,C)"]),
])
def test_listed_cases(lines, example, depth, constant, expected):
    assert bottom_clause(lines, example, depth, constant) == expected
    assert literal_bottom_clause(lines, example, depth, constant) == expected


def test_file_with_mixed_line_ends_tabs_and_non_ascii(tmp_path):
    path = tmp_path / "BK.pl"
    path.write_bytes("\ufeffparent(zoë,bob).\r\n\r\n\tparent(bob, Ünal).\t\r\n"
                     "  \nfriend(Ünal,zoë).\x0cparent(zoë,ÜLÖ)\u2028likes(bob,né)"
                     .encode("utf-8"))
    # the byte-order mark is not part of the first fact
    expected = ["parent(A,B)", "parent(B,C)", "friend(C,A)", "parent(A,ÜLÖ)", "likes(B,D)"]
    assert bottom_clause(str(path), "g(zoë)", 1, []) == expected
    assert literal_bottom_clause(str(path), "g(zoë)", 1, []) == expected


def test_very_long_lines(tmp_path):
    width = 20000
    wide = "p(ann," + ",".join(f"c{i}" for i in range(width)) + ")."
    atom = "x" * 1_000_000
    path = tmp_path / "BK.pl"
    path.write_text(wide + "\n" + f"q(ann,{atom}).\n" + f"r({atom},c7).\n", encoding="utf-8")
    got = bottom_clause(str(path), "g(ann)", 1, [])
    names = [vantor.variable_name(i) for i in range(width + 2)]
    assert got[0] == "p(A," + ",".join(names[1:width + 1]) + ")"
    assert got[1:] == [f"q(A,{names[width + 1]})", f"r({names[width + 1]},{names[8]})"]


def test_file_errors(tmp_path):
    with pytest.raises(FileNotFoundError) as info:
        bottom_clause(str(tmp_path / "BK.pl"), "g(a)", 1, [])
    assert info.value.filename == str(tmp_path / "BK.pl")
    bad = tmp_path / "bad.pl"
    bad.write_bytes(b"p(a,b).\np(a,\xc3).\n")
    with pytest.raises(ValueError, match="bad.pl"):
        bottom_clause(str(bad), "g(a)", 1, [])
    # No pass, no reading.
    assert bottom_clause(str(tmp_path / "BK.pl"), "g(a)", 0, []) == "g(A)"
    assert bottom_clause(str(tmp_path / "BK.pl"), "g(a)", -2, []) == []


@pytest.mark.parametrize("args, parameter", [
    ((3, "g(a)", 1, []), "file_name"),
    ((["p(a)", b"p(b)"], "g(a)", 1, []), "file_name"),
    (([], None, 1, []), "example"),
    (([], "g(a)", 1.0, []), "depth"),
    (([], "g(a)", 1, "a"), "constant"),
])
def test_wrong_types(args, parameter):
    with pytest.raises(TypeError, match=parameter):
        bottom_clause(*args)


def test_huge_depth_is_bounded_by_the_facts():
    assert bottom_clause(FAMILY[::-1], "grandparent(ann,carl)", 2**80, []) == \
        ["parent(A,C)", "parent(C,B)"]
