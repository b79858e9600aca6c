#include "learn/chain_walk.hpp"

#include <algorithm>
#include <unordered_set>

#include "host.hpp"

namespace vantor::learn::detail {

using text::Arg;
using text::Clause;

namespace {

std::string set_key(const Arg& a) { return a.is_list ? text::list_key(a.items) : a.text; }

}  // namespace

SortedBody sort_body(const std::string& rule) {
    const text::Meta meta(rule);
    SortedBody out;
    out.head = meta.head;
    out.head_args = Clause(meta.head).args();
    const std::vector<std::string> body = meta.get_body_clauses();
    std::vector<std::vector<Arg>> args;
    for (const std::string& b : body) {
        args.push_back(Clause(b).args());
        if (args.back().empty()) {
            throw IndexError("body literal '" + b + "' of rule '" + rule +
                             "' has no arguments: a chain needs a first argument");
        }
    }
    std::vector<std::size_t> order(args.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return set_key(args[a].front()) < set_key(args[b].front());
    });
    for (std::size_t i : order) {
        const std::size_t first = static_cast<std::size_t>(
            std::find(args.begin(), args.end(), args[i]) - args.begin());
        out.literals.push_back(body[first]);
        out.args.push_back(args[first]);
    }
    return out;
}

bool same_arguments(const std::vector<Arg>& a, const std::vector<Arg>& b) {
    if (a == b) return true;
    std::unordered_set<std::string> sa, sb;
    for (const Arg& x : a) sa.insert(set_key(x));
    for (const Arg& x : b) sb.insert(set_key(x));
    return sa == sb;
}

ChainWalk::ChainWalk(const SortedBody& body)
    : body_(body), chain_{body.literals.front()}, end_(body.args.front().back()) {
    for (std::size_t i = 1; i < body.literals.size(); ++i) {
        bool seen = false;
        for (std::size_t w : waiting_) seen = seen || body.literals[w] == body.literals[i];
        if (!seen) waiting_.push_back(i);
    }
}

ChainWalk::Pass ChainWalk::pass(const Arg& stop) {
    Pass result;
    const std::vector<std::size_t> snapshot = waiting_;
    for (std::size_t l : snapshot) {
        ++result.examined;
        if (!(body_.args[l].front() == end_)) continue;
        chain_.push_back(body_.literals[l]);
        waiting_.erase(std::find(waiting_.begin(), waiting_.end(), l));
        end_ = body_.args[l].back();
        ++result.appended;
        if (end_ == stop) ++result.reached;
    }
    return result;
}

}  // namespace vantor::learn::detail
