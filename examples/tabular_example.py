"""From a data table to a learned, readable theory.

A small patient table is made here; its numeric columns are discretised
into ranges, every cell becomes a background fact, each row an example of
its risk class. Vantor then learns from the bottom clauses of the examples,
and the learned rules are decoded back into numeric conditions.

Run from anywhere: python examples/tabular_example.py (needs pandas). The
files are written to a temporary folder and shown.
"""
import os
import random
import tempfile

import pandas as pd

import vantor


def make_table(rows=60, seed=7):
    """Risk is high for the old, and for smokers with a high body-mass index."""
    rnd = random.Random(seed)  # own generator: the library's one stays untouched
    table = {"Age": [], "BMI (kg per m2)": [], "Smoker": [], "Region": [], "Risk": []}
    for _ in range(rows):
        age = rnd.choice([25, 35, 45, 55, 65, 75])
        bmi = rnd.choice([19.5, 22.0, 24.5, 27.0, 29.5, 32.0, 34.5, 37.0, 39.5])
        smoker = rnd.randint(0, 1)
        table["Age"].append(age)
        table["BMI (kg per m2)"].append(bmi)
        table["Smoker"].append(smoker)
        table["Region"].append(rnd.choice(["North", "South East", "West"]))
        table["Risk"].append("high" if age >= 65 or (smoker and bmi >= 34.5) else "low")
    return pd.DataFrame(table)


def show(name, lines=12):
    with open(name, encoding="utf-8") as f:
        text = f.read().splitlines()
    print(f"--- {name} ({len(text)} lines)")
    for line in text[:lines]:
        print("   ", line.replace("\t", "\\t"))
    if len(text) > lines:
        print("    ...")


def run(df):
    """Write the files in the current folder, learn, decode."""
    # Background facts and the feature blocks: 3 ranges for every
    # numeric column; Smoker has two values and stays as it is.
    vantor.prepare_logic_rules(df, ["Age", "BMI (kg per m2)", "Smoker", "Region"],
                               default_div=3)
    # "high" sorts first, so the high-risk rows are the positives.
    files = vantor.prepare_examples(df, "Risk")
    print("example files:", files)
    for name in ("BK.pl", "meta_data.info", files[0]):
        show(name)

    # Range labels and categorical values must stay constants.
    constants = vantor.read_constants_meta_info()
    print("constants:", constants)

    pos, neg = vantor.bottom_clause_generation(constant_set=constants, container="memory",
                                               tqdm_disable=True)
    print("bottom clause of", next(iter(pos)), "->", pos[next(iter(pos))])
    model = vantor.vantor_learn(pos, neg, file="BK.pl", constant_set=constants,
                                max_literals=2, min_pos=2, max_neg=0)
    print("learned theory:")
    for rule in model.hypothesis:
        print("   ", rule)
    print("decoded:")
    for rule in vantor.print_rules(model.hypothesis):
        print("   ", rule)


def main():
    df = make_table()
    home = os.getcwd()
    with tempfile.TemporaryDirectory() as folder:
        os.chdir(folder)
        try:
            run(df)
        finally:
            os.chdir(home)


if __name__ == "__main__":
    main()
