// Bottom clauses of examples, built from an indexed background.
//
// Under Reach::Passes the result is exactly that of the plain scan: `depth`
// passes over the background lines in file order; a line is taken when one
// of the known terms occurs in it as a substring AND equals one of its
// arguments, and its first argument is known or a constant-set member
// (under Follow::Any that last condition is dropped); taking a line turns
// its constants (and, under Numbers::Variable, its numbers) into variables
// and makes the unknown ones known.
//
// Instead of scanning, the builder notes the moment (pass, line) at which
// each line first becomes takeable (conditions only ever become true, since
// known terms are only added) and visits it at its next turn in the scan
// order: later in the same pass, or in the next pass when the line lies at
// or before the line that made it takeable. Visiting lines in that order
// reproduces the scan's order of literals and of term discovery; a line's
// literal is fixed by its first visit, so later visits add nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bottom/background.hpp"
#include "data/bottom_clause_set.hpp"
#include "host.hpp"
#include "text/substitution.hpp"

namespace vantor::bottom {

// Which facts a known term reaches. First: a fact whose first argument is
// known (or a constant-set member) and that holds the term. Any: a fact that
// holds the term in any argument position.
enum class Follow { First, Any };

// How numeric arguments enter a bottom clause. Constant: they stay as
// written and are never known terms (unless the example holds them).
// Variable: they are variabilised and become known like any other term, so
// that literals can share a measured value.
enum class Numbers { Constant, Variable };

// How far a bottom clause reaches. Passes: the scan described above (depth
// counts passes over the file). Hops: breadth first from the example's
// terms; step k takes every fact that a term reached in step k - 1 opens
// (under the same follow rule), at most `recall` facts per predicate and
// term, so that depth bounds the distance from the example and a hub term
// cannot pull in the whole graph.
enum class Reach { Passes, Hops };

struct ReachOptions {
    Follow follow = Follow::First;
    Numbers numbers = Numbers::Constant;
    Reach reach = Reach::Passes;
    // Hops only: facts of one predicate that one term opens, the first ones
    // in file order.
    std::size_t recall = static_cast<std::size_t>(-1);
};

// A background file name or the background lines themselves.
struct BackgroundSource {
    std::optional<std::string> path;  // set: read this file
    std::vector<std::string> lines;   // otherwise: these lines, unchanged
};

// Builds bottom clauses against one background and one constant set. The
// background is parsed on first use (depth 0 and negative depths never read
// it), then reused for every example. build and build_set may run on several
// threads at once: the parsed background is only read, and each running
// build takes scratch space of its own (kept for later builds).
class BottomClauseBuilder {
public:
    BottomClauseBuilder(BackgroundSource source, text::ConstantSet constant, ReachOptions reach = {});
    ~BottomClauseBuilder();

    static constexpr std::size_t kNoLimit = static_cast<std::size_t>(-1);

    // The bottom clause; for depth 0 the single head text is returned as the
    // one element (see head_only); a negative depth gives no literals. At
    // most `limit` literals are kept: the first ones in scan order, and the
    // scan stops there (a bottom clause too large to use costs no more).
    std::vector<std::string> build(std::string_view example, long long depth,
                                   std::size_t limit = kNoLimit);

    // One entry per distinct example text, in first-occurrence order;
    // progress advances once per list entry. A repeated example is looked
    // up, not rebuilt (the result would be the same).
    data::BottomClauseSet build_set(const std::vector<std::string>& examples, long long depth,
                                    Progress& progress, std::size_t limit = kNoLimit);

    static bool head_only(long long depth) { return depth == 0; }

    // Reads the background now, if it is a file not read yet, and hands over
    // the lines the input check must look at (see odd_lines.hpp): the check
    // then costs no second read of the file.
    OddLines odd_lines();

private:
    struct Shared;
    struct State;
    class Scan;
    class Lease;
    void prepare();

    BackgroundSource source_;
    text::ConstantSet constant_;
    ReachOptions reach_;
    std::mutex prepare_mutex_;
    std::unique_ptr<Background> background_;
    std::unique_ptr<Shared> shared_;
    std::mutex idle_mutex_;
    std::vector<std::unique_ptr<State>> idle_;  // scratch spaces no build holds
};

}  // namespace vantor::bottom
