"""Vantor's main job on the bundled family data set, end to end.

1. bottom clauses of every positive and negative example (depth 2);
2. learning a theory with vantor_learn, scored in the embedded SWI-Prolog;
3. a 5-fold cross-validation of the learner, with per-fold tables.

Run from anywhere: the script works inside examples/family.
"""
import os
import random

import vantor

os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), "family"))
random.seed(0)

pos, neg = vantor.bottom_clause_generation(container="memory", tqdm_disable=True)
print("+----------+ Bottom clauses +----------+")
for example, clause in pos.items():
    print(example, "<-", clause)

result = vantor.vantor_learn(pos, neg, file="BK.pl")
print("Learned theory:", result.hypothesis)
print("Training accuracy:", result.accuracy, " learning time (s): %.4f" % result.time_learn)

# Stored mode and folds: the dictionaries go to files, vantor_folds reads them back.
vantor.bottom_clause_generation(tqdm_disable=True)
folds = vantor.vantor_folds(folds=5, shuffle=True)
cv = vantor.vantor_cross_validation(folds, file="BK.pl", k_fold=5)
print("Cross-validation test accuracy per fold:", cv.accuracy)
for name in ("positive_bottom_clause", "negative_bottom_clause"):
    os.remove(name)
