"""The bottom-clause scan written out plainly, as a reference for the tests.

It re-reads the background in every pass and tests every line against every
known term, exactly as the construction is defined; the library must give
the same result by other means. Keep it slow and literal.
"""
from vantor import (
    Clause,
    argument_kind,
    make_literal,
    variabilise_example,
    variable_name,
)


def list_text(arg):
    """The text standing for a nested-list argument in the known-term list."""
    if isinstance(arg, list):
        return "$[" + ";".join(arg) + "]"
    return arg


def background_lines(file_name):
    if isinstance(file_name, list):
        return file_name
    with open(file_name, encoding="utf-8-sig") as stream:  # a leading BOM is no text
        content = stream.read()
    return [line.strip() for line in content.splitlines() if line]


def literal_bottom_clause(file_name, example, depth, constant):
    args = [list_text(a) for a in Clause(example).args()]
    clauses = []
    passes = 0
    if depth == 0:
        return variabilise_example(example, constant)
    while passes < depth:
        data = background_lines(file_name)
        for line in data:
            if line.strip().startswith("%"):  # a comment to Prolog, never a fact
                continue
            if not any(term in line for term in args):
                continue
            i = 0
            while i < len(args):  # the list grows while this line is handled
                eachargs = args[i]
                i += 1
                if eachargs not in line:
                    continue
                var = Clause(line.strip()).args()
                head = Clause(line).predicate
                if not var:
                    continue
                if not (list_text(var[0]) in args or var[0] in constant):
                    continue
                if eachargs not in [list_text(v) for v in var]:
                    continue
                new_args = []
                for v in var:
                    if v in constant:
                        new_args.append(v)
                    elif isinstance(v, list) or argument_kind(v) == "constant":
                        key = list_text(v)
                        if key in args:
                            new_args.append(variable_name(args.index(key)))
                        else:
                            new_args.append(variable_name(len(args)))
                            args.append(key)
                    else:
                        new_args.append(v)
                new_cl = make_literal(head, new_args)
                if new_cl not in clauses:
                    clauses.append(new_cl)
        passes += 1
    return clauses
