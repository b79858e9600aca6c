"""Bottom clauses of 1,000 examples against synthetic backgrounds of growing size.

For 10^4, 10^5 and 10^6 facts (a family/friendship graph, about 25 bytes per
fact) this writes BK.pl and 500 positive + 500 negative grandparent examples
into a temporary directory, then, in a fresh process per size, runs
bottom_clause_generation at depth 2 in memory mode without progress bars.

Printed per size: the one parse of the background, the time per example,
the average bottom-clause size (facts an example reaches), the total, and
the process's peak resident memory (ru_maxrss / VmHWM, which count the C++
core's allocations too, not only Python's) against the file size, and the
part of it added by the run ("run MB": peak minus the footprint after
import; "parse MB": what parsing and indexing the background alone added).
The returned dictionaries themselves (one Python str per literal, about
70 MB for the ~900k literals of 1,000 examples here) are part of the run
figure and dominate it for the small files.

Each size is measured in three fresh processes; the fastest run is shown.

A second table measures large bottom clauses: 8 examples, each the centre
of a star (centre -> x_i -> y_i) that gives it 10^3, 10^4 or 10^5 literals
at depth 2; the time per literal should stay flat as the size grows.

With --follow any, facts are reached through any argument position (a
parent fact through the child as well as the parent). In this graph that
reaches the giant connected component within one pass: every example would
collect nearly the whole background (10^6 literals each, gigabytes for the
1,000 examples). --size-limit N caps every bottom clause at N literals (the
first N found), which makes the two rules comparable; the "per fact" column
(time per literal found) compares them on equal terms.

A third table (--kinship) compares reach="passes" with reach="hops" on a
planted kinship task (2n people, each from the fifth on with two parents
drawn from earlier people, male/female, four distractor relations of 2n
random pairs each; n grandparent positives and n random negatives): literals
per bottom clause and seconds at depth 2. One pass of the scan follows chains
of parent facts as far as they go; two hops stop at the grandchildren.

A fourth table (--check-input) measures what the default input check adds:
the same call with check_input=True and False, and the check as it was
before it rode on the builder's read ("second-read"), 10 examples against 10^5
facts and 1,000 examples against 10^6 facts.

Usage: PYTHONPATH=module python benchmarks/bottom_clauses.py [--follow any] [--size-limit N] [sizes...]
       PYTHONPATH=module python benchmarks/bottom_clauses.py --large [literals...]
       PYTHONPATH=module python benchmarks/bottom_clauses.py --kinship [people...]
       PYTHONPATH=module python benchmarks/bottom_clauses.py --check-input
"""
import os
import random
import resource
import subprocess
import sys
import tempfile
import time

EXAMPLES = 1000
DEPTH = 2
REPEATS = 3


def write_data(directory, facts, seed=0):
    rng = random.Random(seed)
    people = max(10, facts // 4)
    parents = {}
    path = os.path.join(directory, "BK.pl")
    with open(path, "w", encoding="utf-8") as out:
        chunk = []
        for _ in range(facts):
            roll = rng.random()
            a = rng.randrange(people)
            if roll < 0.55:
                b = rng.randrange(people)
                chunk.append(f"parent(p{a},p{b}).\n")
                parents.setdefault(a, []).append(b)
            elif roll < 0.75:
                chunk.append(f"friend(p{a},p{rng.randrange(people)}).\n")
            elif roll < 0.85:
                chunk.append(f"age(p{a},{rng.randrange(1, 99)}).\n")
            else:
                chunk.append(f"{'male' if a % 2 else 'female'}(p{a}).\n")
            if len(chunk) >= 10000:
                out.writelines(chunk)
                chunk = []
        out.writelines(chunk)
    grandparents = [(a, c) for a, bs in parents.items() for b in bs for c in parents.get(b, [])]
    rng.shuffle(grandparents)
    with open(os.path.join(directory, "pos_example.f"), "w", encoding="utf-8") as out:
        for a, c in grandparents[: EXAMPLES // 2]:
            out.write(f"grandparent(p{a},p{c}).\n")
    with open(os.path.join(directory, "neg_example.n"), "w", encoding="utf-8") as out:
        for _ in range(EXAMPLES - EXAMPLES // 2):
            out.write(f"grandparent(p{rng.randrange(people)},p{rng.randrange(people)}).\n")
    return os.path.getsize(path)


def peak_kb():
    """Peak resident memory of this process in KB.

    ru_maxrss is the measure; on Linux, though, a child started with fork and
    exec inherits its parent's peak there, so the per-process figure of the
    same counter (VmHWM) is preferred where it exists.
    """
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def measure(directory, follow="first", size_limit=None):
    """Runs in a fresh process, inside `directory`; prints one result line."""
    import vantor

    os.chdir(directory)
    before = peak_kb()
    start = time.perf_counter()
    # Parse cost: one example whose terms occur nowhere (nothing to collect).
    vantor.bottom_clause("BK.pl", "grandparent(nobody,noone)", DEPTH, [], follow=follow)
    parse = time.perf_counter() - start
    after_parse = peak_kb()

    start = time.perf_counter()
    pos, neg = vantor.bottom_clause_generation(container="memory", depth=DEPTH, tqdm_disable=True,
                                               follow=follow, size_warning=None,
                                               size_limit=size_limit)
    total = time.perf_counter() - start
    peak = peak_kb()
    count = len(pos) + len(neg)
    literals = sum(len(v) for v in pos.values()) + sum(len(v) for v in neg.values())
    print(parse, total, count, literals / max(count, 1), before, after_parse, peak)


def main(sizes, follow="first", size_limit=None):
    print(f"follow={follow} size_limit={size_limit}")
    print(f"{'facts':>9} {'file MB':>8} {'parse s':>8} {'total s':>8} {'per-example':>12} "
          f"{'avg facts':>10} {'per fact':>10} {'parse MB':>8} {'peak MB':>8} {'run MB':>7} "
          f"{'peak/file':>9}")
    for facts in sizes:
        with tempfile.TemporaryDirectory() as directory:
            size = write_data(directory, facts)
            # The machine may be shared: keep the fastest of a few fresh runs.
            runs = []
            for _ in range(REPEATS):
                out = subprocess.run(
                    [sys.executable, os.path.abspath(__file__), "--measure", directory, follow,
                     str(size_limit)],
                    check=True, capture_output=True, text=True,
                ).stdout.split()
                runs.append(tuple(map(float, out)))
            parse, total, count, avg, before, after_parse, peak = min(runs, key=lambda r: r[1])
            # The generation call parses the background once and builds every
            # example; per-example time excludes that parse.
            per = (total - parse) / count
            print(f"{facts:>9} {size / 1e6:>8.2f} {parse:>8.3f} {total:>8.3f} "
                  f"{per * 1e6:>9.1f} us {avg:>10.1f} {per / max(avg, 1) * 1e9:>7.0f} ns "
                  f"{(after_parse - before) / 1024:>8.1f} "
                  f"{peak / 1024:>8.1f} "
                  f"{(peak - before) / 1024:>7.1f} {peak * 1024 / size:>9.1f}")


LARGE_EXAMPLES = 8


def write_stars(directory, literals):
    spokes = literals // 2
    with open(os.path.join(directory, "BK.pl"), "w", encoding="utf-8") as out:
        for e in range(LARGE_EXAMPLES):
            out.writelines(f"r(e{e},x{e}_{i}).\n" for i in range(spokes))
            out.writelines(f"s(x{e}_{i},y{e}_{i}).\n" for i in range(spokes))
    with open(os.path.join(directory, "pos_example.f"), "w", encoding="utf-8") as out:
        out.writelines(f"t(e{e}).\n" for e in range(LARGE_EXAMPLES))


def measure_large(directory):
    """Runs in a fresh process, inside `directory`; prints one result line."""
    import vantor

    os.chdir(directory)
    start = time.perf_counter()
    pos, _ = vantor.bottom_clause_generation(container="memory", depth=DEPTH, negative_example="",
                                             tqdm_disable=True, size_warning=None)
    total = time.perf_counter() - start
    print(total, sum(len(v) for v in pos.values()))


def main_large(sizes):
    print(f"{'literals':>9} {'examples':>8} {'total s':>8} {'per literal':>12}")
    for literals in sizes:
        with tempfile.TemporaryDirectory() as directory:
            write_stars(directory, literals)
            runs = []
            for _ in range(REPEATS):
                out = subprocess.run(
                    [sys.executable, os.path.abspath(__file__), "--measure-large", directory],
                    check=True, capture_output=True, text=True,
                ).stdout.split()
                runs.append((float(out[0]), int(out[1])))
            total, found = min(runs)
            print(f"{literals:>9} {LARGE_EXAMPLES:>8} {total:>8.3f} {total / found * 1e9:>9.1f} ns")


def write_kinship(directory, people, seed=0):
    rng = random.Random(seed)
    facts, parents = [], {}
    for child in range(4, people):
        for parent in rng.sample(range(child), 2):
            facts.append(f"parent(p{parent},p{child}).")
            parents.setdefault(parent, []).append(child)
    facts += [f"{'male' if rng.random() < 0.5 else 'female'}(p{i})." for i in range(people)]
    for r in range(4):
        facts += [f"rel{r}(p{rng.randrange(people)},p{rng.randrange(people)})."
                  for _ in range(people)]
    rng.shuffle(facts)
    with open(os.path.join(directory, "BK.pl"), "w", encoding="utf-8") as out:
        out.write("\n".join(facts) + "\n")
    pairs = sorted({(a, c) for a, bs in parents.items() for b in bs for c in parents.get(b, [])})
    n = people // 2
    positives = rng.sample(pairs, min(n, len(pairs)))
    negatives = [(rng.randrange(people), rng.randrange(people)) for _ in range(n)]
    for name, chosen in (("pos_example.f", positives), ("neg_example.n", negatives)):
        with open(os.path.join(directory, name), "w", encoding="utf-8") as out:
            out.writelines(f"grandparent(p{a},p{c}).\n" for a, c in chosen)


def main_kinship(sizes):
    import vantor

    print(f"{'people':>7} {'examples':>8} {'reach':>7} {'follow':>6} {'literals/clause':>15} "
          f"{'seconds':>8}")
    for people in sizes:
        with tempfile.TemporaryDirectory() as directory:
            write_kinship(directory, people)
            for reach, follow in (("passes", "first"), ("hops", "first"), ("hops", "any")):
                start = time.perf_counter()
                pos, neg = vantor.bottom_clause_generation(
                    os.path.join(directory, "BK.pl"), "memory",
                    os.path.join(directory, "pos_example.f"),
                    os.path.join(directory, "neg_example.n"), depth=DEPTH, tqdm_disable=True,
                    size_warning=None, reach=reach, follow=follow)
                seconds = time.perf_counter() - start
                clauses = list(pos.values()) + list(neg.values())
                average = sum(map(len, clauses)) / max(len(clauses), 1)
                print(f"{people:>7} {len(clauses):>8} {reach:>7} {follow:>6} {average:>15.1f} "
                      f"{seconds:>8.3f}")


def measure_check(directory, check_input):
    """Runs in a fresh process, inside `directory`; prints the seconds."""
    import vantor

    from vantor._lint import warn_file

    os.chdir(directory)
    start = time.perf_counter()
    if check_input == "second-read":
        # The check as it was before it rode on the core's read: the checker
        # reads every file itself, then the builder reads the background.
        for name in ("BK.pl", "pos_example.f", "neg_example.n"):
            warn_file(name)
    vantor.bottom_clause_generation(container="memory", depth=DEPTH, tqdm_disable=True,
                                    size_warning=None, check_input=check_input == "True")
    print(time.perf_counter() - start)


def main_check_input():
    print(f"{'facts':>9} {'examples':>8} {'check_input':>11} {'seconds':>8}")
    for facts, examples in ((10**5, 10), (10**6, 1000)):
        with tempfile.TemporaryDirectory() as directory:
            write_data(directory, facts)
            for name in ("pos_example.f", "neg_example.n"):
                path = os.path.join(directory, name)
                with open(path, encoding="utf-8") as stream:
                    lines = stream.readlines()[: examples // 2]
                with open(path, "w", encoding="utf-8") as stream:
                    stream.writelines(lines)
            for check in ("True", "second-read", "False"):
                runs = [float(subprocess.run(
                    [sys.executable, os.path.abspath(__file__), "--measure-check", directory,
                     check], check=True, capture_output=True, text=True).stdout)
                    for _ in range(2 * REPEATS)]
                print(f"{facts:>9} {examples:>8} {check:>11} {min(runs):>8.3f}")


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--measure-check":
        measure_check(sys.argv[2], sys.argv[3])
        sys.exit()
    if len(sys.argv) >= 2 and sys.argv[1] == "--kinship":
        main_kinship([int(s) for s in sys.argv[2:]] or [400, 2000])
        sys.exit()
    if len(sys.argv) == 2 and sys.argv[1] == "--check-input":
        main_check_input()
        sys.exit()
    if len(sys.argv) == 5 and sys.argv[1] == "--measure":
        measure(sys.argv[2], sys.argv[3], None if sys.argv[4] == "None" else int(sys.argv[4]))
    elif len(sys.argv) == 3 and sys.argv[1] == "--measure-large":
        measure_large(sys.argv[2])
    elif len(sys.argv) >= 2 and sys.argv[1] == "--large":
        main_large([int(s) for s in sys.argv[2:]] or [10**3, 10**4, 10**5])
    else:
        args, follow, limit = sys.argv[1:], "first", None
        while args and args[0] in ("--follow", "--size-limit"):
            if args[0] == "--follow":
                follow = args[1]
            else:
                limit = int(args[1])
            args = args[2:]
        main([int(s) for s in args] or [10**4, 10**5, 10**6], follow, limit)
