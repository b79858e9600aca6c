"""The main job on the bundled family data set: bottom clauses of every example.

Run from anywhere: the script works inside examples/family.
"""
import os

import vantor

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "family")
os.chdir(here)

if hasattr(vantor, "bottom_clause_generation"):
    pos, neg = vantor.bottom_clause_generation(container="memory", tqdm_disable=True)
    print("+----------+ Bottom clauses +----------+")
    for example, clause in list(pos.items()) + list(neg.items()):
        print(example, "<-", clause)
