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
    if roll < 0.12:
        return term(rng) + " " + term(rng)  # blanks inside an argument
    if roll < 0.14:
        return ""
    return term(rng)


def random_literal(rng, predicates=PREDICATES):
    arity = rng.choice([0, 1, 1, 2, 2, 2, 3, 3, 4])
    pred = rng.choice(predicates)
    if arity == 0:
        return pred
    sep = rng.choice([",", ",", ", ", " ,"])
    return pred + "(" + sep.join(random_arg(rng) for _ in range(arity)) + ")"


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
