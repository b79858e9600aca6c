"""The learner's picture: which rule covers which training example, and the
per-fold accuracies of a cross-validation. matplotlib is imported only here,
and only when a picture is asked for."""

_COVERED_POSITIVE = (0.18, 0.55, 0.34)
_COVERED_NEGATIVE = (0.80, 0.22, 0.20)
_NOT_COVERED = (0.93, 0.93, 0.93)


def _figure_class():
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise ImportError("drawing needs matplotlib: pip install 'vantor[plot]'") from None
    return Figure


def _short(rule, width=48):
    return rule if len(rule) <= width else rule[: width - 3] + "..."


def _coverage_panel(ax, rules, matrix, n_pos, n_neg):
    total = n_pos + n_neg
    image = [[(_COVERED_POSITIVE if column < n_pos else _COVERED_NEGATIVE)
              if row[column] else _NOT_COVERED for column in range(total)] for row in matrix]
    if not rules:
        image = [[_NOT_COVERED] * max(total, 1)]
    ax.imshow(image, aspect="auto", interpolation="nearest")
    ax.set_yticks(range(max(len(rules), 1)))
    ax.set_yticklabels([_short(rule) for rule in rules] or ["(empty theory)"], fontsize=8)
    if n_pos and n_neg:
        ax.axvline(n_pos - 0.5, color="black", linewidth=1.5)
    ticks, labels = [], []
    if n_pos:
        ticks.append((n_pos - 1) / 2)
        labels.append(f"positives ({n_pos})")
    if n_neg:
        ticks.append(n_pos + (n_neg - 1) / 2)
        labels.append(f"negatives ({n_neg})")
    ax.set_xticks(ticks)
    ax.set_xticklabels(labels)
    ax.set_title("Training examples each rule proves")
    ax.set_xlabel("green: positive proved, red: negative proved, grey: not proved",
                  fontsize=8)


def _folds_panel(ax, scores):
    values = [0.0 if s is None else s for s in scores]
    ax.bar(range(1, len(values) + 1), values, color=(0.25, 0.45, 0.70))
    title = "Cross-validation"
    if values:
        mean = sum(values) / len(values)
        ax.axhline(mean, color="black", linestyle="--", linewidth=1)
        title += f"\nmean accuracy {mean:.3f}"
    ax.set_ylim(0, 1.05)
    ax.set_xticks(range(1, len(values) + 1))
    ax.set_xlabel("fold")
    ax.set_ylabel("test accuracy")
    ax.set_title(title)


def draw(rules, matrix, n_pos, n_neg, cv_scores=None, path=None):
    """A figure of the coverage matrix (rows: rules; columns: positives,
    then negatives) and, when ``cv_scores`` is given, a bar per fold.
    Saved to ``path`` when given; returns the figure."""
    Figure = _figure_class()
    panels = 2 if cv_scores else 1
    figure = Figure(figsize=(7 + 3.5 * (panels - 1), 1.6 + 0.45 * max(len(rules), 1)))
    widths = [3, 1] if panels == 2 else [1]
    axes = figure.subplots(1, panels, gridspec_kw={"width_ratios": widths}, squeeze=False)[0]
    _coverage_panel(axes[0], rules, matrix, n_pos, n_neg)
    if panels == 2:
        _folds_panel(axes[1], cv_scores)
    figure.tight_layout()
    if path is not None:
        figure.savefig(path, dpi=120)
    return figure
