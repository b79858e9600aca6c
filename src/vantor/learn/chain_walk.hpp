// Reordering a rule's body into a chain linked first argument to last
// argument, shared by the noise check on learnt rules (normalise_rule) and
// the rewriting of a selected theory (chain_rule_body). The two differ only
// in when they stop walking and in what they do with a chain that never
// reaches the head's last argument.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "text/clause.hpp"

namespace vantor::learn::detail {

// A rule with its body ordered by first argument (stable), each entry the
// first body literal with that argument list.
struct SortedBody {
    std::string head;
    std::vector<text::Arg> head_args;
    std::vector<std::string> literals;
    std::vector<std::vector<text::Arg>> args;  // arguments of each entry of `literals`
};

// Throws IndexError for a body literal without arguments.
SortedBody sort_body(const std::string& rule);

// The argument lists are equal, or hold the same set of terms.
bool same_arguments(const std::vector<text::Arg>& a, const std::vector<text::Arg>& b);

// A chain that starts with the first sorted body literal; the later ones
// (a repeated literal once, at its first place) wait to be appended.
class ChainWalk {
public:
    explicit ChainWalk(const SortedBody& body);

    struct Pass {
        std::size_t examined = 0;  // waiting literals looked at
        std::size_t appended = 0;  // of those, appended to the chain
        std::size_t reached = 0;   // appends that made `stop` the chain's end
    };

    // One pass over the waiting literals in order: a literal whose first
    // argument is the chain's end is appended and its last argument becomes
    // the end (so one pass can append several).
    Pass pass(const text::Arg& stop);

    const std::vector<std::string>& chain() const { return chain_; }
    std::size_t waiting() const { return waiting_.size(); }

private:
    const SortedBody& body_;
    std::vector<std::string> chain_;
    std::vector<std::size_t> waiting_;  // positions in body_.literals
    text::Arg end_;
};

}  // namespace vantor::learn::detail
