"""The plain bottom-clause scan with the two reach switches, as a reference.

follow="any" drops the first-argument condition: a line is taken through any
known term that is one of its arguments. numbers="variable" treats numeric
arguments like other constants: they get variables and become known terms.
Everything else is the scan of literal_scan, unchanged. Keep it slow and
literal.
"""
from vantor import Clause, argument_kind, make_literal, variabilise_example, variable_name

from literal_scan import background_lines, list_text


def literal_bottom_clause_reach(file_name, example, depth, constant, follow, numbers):
    variabilised = {"constant"} if numbers == "constant" else {"constant", "numeric"}
    args = [list_text(a) for a in Clause(example).args()]
    clauses = []
    passes = 0
    if depth == 0:
        return variabilise_example(example, constant)
    while passes < depth:
        for line in background_lines(file_name):
            if line.strip().startswith("%"):
                continue
            if not any(term in line for term in args):
                continue
            i = 0
            while i < len(args):
                eachargs = args[i]
                i += 1
                if eachargs not in line:
                    continue
                var = Clause(line.strip()).args()
                head = Clause(line).predicate
                if not var:
                    continue
                if follow == "first" and not (list_text(var[0]) in args or var[0] in constant):
                    continue
                if eachargs not in [list_text(v) for v in var]:
                    continue
                new_args = []
                for v in var:
                    if v in constant:
                        new_args.append(v)
                    elif isinstance(v, list) or argument_kind(v) in variabilised:
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
