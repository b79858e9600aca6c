"""How a numeric column is cut into ranges: equal-count groups of its
distinct values, or cuts where the class changes most (entropy with a
minimum-description-length test), and the fitted cuts of one column."""
import bisect
import heapq
import math
from fractions import Fraction


def _midpoint(low, high):
    """The cut halfway between two neighbouring values, exact for integers."""
    if isinstance(low, int) and isinstance(high, int):
        return Fraction(low + high, 2)
    middle = low + (high - low) / 2
    return middle if math.isfinite(middle) else high


def _cut_text(cut):
    if isinstance(cut, Fraction):
        return str(cut.numerator) if cut.denominator == 1 else repr(float(cut))
    return str(cut) if isinstance(cut, int) else repr(float(cut))


def _equal_count_groups(distinct, k):
    """The distinct values cut into k consecutive groups of nearly equal
    size, the first n mod k one larger."""
    base, extra = divmod(len(distinct), k)
    groups, start = [], 0
    for i in range(k):
        size = base + (1 if i < extra else 0)
        groups.append(distinct[start:start + size])
        start += size
    return groups


def _entropy(counts, total):
    return -sum(c / total * math.log2(c / total) for c in counts if c)


def _best_cut(counts, lo, hi):
    """The entropy-minimising cut of distinct positions lo..hi-1 (classes
    counted per position), with its information gain, if it passes the
    minimum-description-length test; otherwise None."""
    classes = len(counts[0]) if counts else 0
    whole = [sum(counts[j][c] for j in range(lo, hi)) for c in range(classes)]
    n = sum(whole)
    if hi - lo < 2 or n < 2:
        return None
    left = [0] * classes
    best = None
    for t in range(lo, hi - 1):
        for c in range(classes):
            left[c] += counts[t][c]
        right = [w - l for w, l in zip(whole, left)]
        n_left = sum(left)
        score = (n_left * _entropy(left, n_left) + (n - n_left) * _entropy(right, n - n_left)) / n
        if best is None or score < best[0]:
            best = (score, t, list(left), right)
    score, t, left, right = best
    whole_entropy = _entropy(whole, n)
    gain = whole_entropy - score
    k, k1, k2 = (sum(1 for c in x if c) for x in (whole, left, right))
    delta = math.log2(3 ** k - 2) - (k * whole_entropy - k1 * _entropy(left, sum(left))
                                     - k2 * _entropy(right, sum(right)))
    if gain <= (math.log2(n - 1) + delta) / n:
        return None
    return gain * n, t


def _entropy_groups(distinct, counts, k):
    """Distinct values grouped by the cuts where the class changes most,
    best first, while the cuts pass the description-length test and fewer
    than k groups exist."""
    cuts, heap = [], []

    def consider(lo, hi):
        found = _best_cut(counts, lo, hi)
        if found:
            heapq.heappush(heap, (-found[0], found[1], lo, hi))

    consider(0, len(distinct))
    while heap and len(cuts) < k - 1:
        _, t, lo, hi = heapq.heappop(heap)
        cuts.append(t)
        consider(lo, t + 1)
        consider(t + 1, hi)
    bounds = [0] + sorted(t + 1 for t in cuts) + [len(distinct)]
    return [distinct[a:b] for a, b in zip(bounds, bounds[1:])]


class _NumericColumn:
    """Cut points and the range texts of one discretised column."""

    def __init__(self, cuts, texts, text_of):
        self.cuts, self.texts = cuts, texts
        self.cut_texts = [text_of(c) for c in cuts]

    @classmethod
    def from_groups(cls, groups, text_of):
        cuts = [_midpoint(a[-1], b[0]) for a, b in zip(groups, groups[1:])]
        texts = [f"{text_of(g[0])}--{text_of(g[-1])}" for g in groups]
        return cls(cuts, texts, text_of)

    @classmethod
    def from_cuts(cls, cuts, low, high, text_of):
        """Ranges that are the intervals between the cuts; the outer ones
        are shown from the smallest and up to the largest training value."""
        ends = [min(low, cuts[0])] + list(cuts) + [max(high, cuts[-1])]
        texts = [f"{text_of(a)}--{text_of(b)}" for a, b in zip(ends, ends[1:])]
        return cls(list(cuts), texts, text_of)

    def label(self, value):
        return "g" + str(bisect.bisect_right(self.cuts, value))
