"""Abduction on the family data with facts withheld: which facts would explain
the grandfather examples?

Builds the bottom clauses of examples/abduction/pos_example.f, runs
vantor_abduction with the hand-written rule

    grandfather(A,B):-parent(A,C)&parent(C,B)&male(A)      (male abducible)

in a temporary working folder, and prints abduced_facts.txt.
"""
import os
import shutil
import tempfile

import vantor

RULE = "grandfather(A,B):-parent(A,C)&parent(C,B)&male(A)"
data = os.path.join(os.path.dirname(os.path.abspath(__file__)), "abduction")

with tempfile.TemporaryDirectory() as work:
    for name in ("BK.pl", "pos_example.f"):
        shutil.copy(os.path.join(data, name), work)
    os.chdir(work)
    positive, _ = vantor.bottom_clause_generation(container="memory", negative_example="",
                                                  tqdm_disable=True)
    coverage = vantor.vantor_abduction(positive, ["male"], meta_rule=[RULE])
    with open("abduced_facts.txt", encoding="utf-8") as handle:
        text = handle.read()
    with open("BK.pl", encoding="utf-8") as handle:
        known = {line.strip().rstrip(".") for line in handle}
    os.chdir(data)

print("+----------+ abduced_facts.txt +----------+")
print(text, end="")
print("+----------+ Proposals +----------+")
for fact, count in coverage.items():
    print(fact, count, "(in BK.pl)" if fact in known else "(new)")
