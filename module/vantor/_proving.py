"""Proving batches of the core over joblib workers.

The core proves rules and search clauses in batches through one service.
With ``n_jobs=1`` it proves them in this process and no Python runs while it
does; otherwise it hands each batch to ``_ParallelProving``, which spreads
the goals over joblib workers (so a Dask or Ray backend of joblib proves them
as well). Proofs do not depend on where they run, so neither do the results.
"""

# Below this many example proofs (a few microseconds each) a batch is proved
# in this process: handing it to joblib workers costs tens of milliseconds,
# more than proving it here.
_SMALLEST_SHARED_BATCH = 50000


def _prove_share(background, arguments, common, lists, goals, time_limit, sandbox, inference_limit,
                 prover, verdict_pending):
    """One worker's goals (module level, so that process backends can send it)."""
    from . import _core

    return _core._prove_batch_answers(background, arguments, common, lists, goals, time_limit, sandbox,
                                      inference_limit, prover, verdict_pending)


def _shares(goals, sizes, count):
    """``count`` contiguous slices of about equal work (example proofs);
    neighbouring goals often share literals, which each worker proves once."""
    total = sum(sizes[goal[2]] for goal in goals)
    out, current, done = [], [], 0
    for goal in goals:
        current.append(goal)
        done += sizes[goal[2]]
        if done * count >= total * (len(out) + 1) and len(out) < count - 1:
            out.append(current)
            current = []
    if current:
        out.append(current)
    return out


class _ParallelProving:
    """The core's proving service over joblib workers. The workers start
    with the first batch large enough to share (joblib keeps them for
    later calls), so a run whose batches are all small starts none."""

    def __init__(self, workers):
        self.workers = workers

    def __call__(self, background, arguments, common, lists, goals, time_limit, sandbox, inference_limit,
                 prover, verdict_pending):
        sizes = [len(examples) for examples in lists]
        work = sum(sizes[goal[2]] for goal in goals)
        if len(goals) < 2 or work < _SMALLEST_SHARED_BATCH:
            return _prove_share(background, arguments, common, lists, goals, time_limit, sandbox,
                                inference_limit, prover, verdict_pending)
        import joblib

        from . import _core

        # Over facts, threads prove at once in this process (each on its own
        # copy of the facts, read once); the engine proves one goal at a time
        # per process, so its goals go to worker processes.
        threads = prover == "facts" and _core._proves_over_facts(background)
        parts = joblib.Parallel(n_jobs=self.workers, prefer="threads" if threads else "processes")(
            joblib.delayed(_prove_share)(background, arguments, common, lists, share, time_limit,
                                         sandbox, inference_limit, prover, verdict_pending)
            for share in _shares(goals, sizes, self.workers))
        return ([answer for part in parts for answer in part[0]], sum(part[1] for part in parts),
                sum(part[2] for part in parts), [cut for part in parts for cut in part[3]])


def proving_service(n_jobs):
    """The service for ``n_jobs`` workers: None (this process) for one."""
    if n_jobs == 1:
        return None
    import joblib

    workers = joblib.effective_n_jobs(n_jobs)
    return _ParallelProving(workers) if workers > 1 else None
