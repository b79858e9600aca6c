#include "eval/evaluate.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>
#include <unordered_set>

#include "engine/output_capture.hpp"
#include "engine/prolog_engine.hpp"
#include "engine/working_dir.hpp"
#include "eval/prover.hpp"

namespace vantor::eval {

namespace fs = std::filesystem;

double round3(double x) {
    // to_chars with a precision rounds the exact binary value, ties to even,
    // as printf does; reading the decimal back gives the nearest double, which
    // is how the host's round() builds its result.
    if (!std::isfinite(x)) return x;
    std::array<char, 400> buf{};
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), x, std::chars_format::fixed, 3);
    if (ec != std::errc()) return x;
    double out = 0.0;
    std::from_chars(buf.data(), end, out);
    // round(-0.0001, 3) is -0.0 in the host too, so the sign is kept as read.
    return out;
}

namespace {

std::optional<double> ratio(std::int64_t num, std::int64_t den) {
    if (den == 0) return std::nullopt;
    return round3(static_cast<double>(num) / static_cast<double>(den));
}

// How the host prints a float (repr): the shortest text that reads back.
std::string float_text(double v) {
    std::array<char, 400> buf{};
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed);
    std::string s(buf.data(), ec == std::errc() ? end : buf.data());
    if (s.find_first_of(".eEni") == std::string::npos) s += ".0";
    return s;
}

std::string cell_of(const std::optional<double>& v) { return v ? float_text(*v) : "None"; }

std::string bordered(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> width(rows.front().size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    std::string rule = "+";
    for (std::size_t w : width) rule += std::string(w + 2, '-') + "+";
    auto line = [&](const std::vector<std::string>& row) {
        std::string s = "|";
        for (std::size_t c = 0; c < row.size(); ++c)
            s += " " + row[c] + std::string(width[c] - row[c].size(), ' ') + " |";
        return s;
    };
    std::string out = rule + "\n" + line(rows[0]) + "\n" + rule + "\n";
    for (std::size_t r = 1; r < rows.size(); ++r) out += line(rows[r]) + "\n";
    out += rule;
    return out;
}

// Top-level scanning of a clause text: parentheses, brackets, braces and
// quoted items nest; everything else is split at the separators.
template <typename F>
void scan_top_level(std::string_view s, F&& at_top) {
    int depth = 0;
    char quote = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (quote) {
            if (c == '\\') ++i;
            else if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"' || c == '`') quote = c;
        else if (c == '(' || c == '[' || c == '{') ++depth;
        else if (c == ')' || c == ']' || c == '}') --depth;
        else if (depth == 0 && !at_top(i)) return;
    }
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

// "name/arity" of a literal text.
std::string indicator(std::string_view literal) {
    literal = trim(literal);
    std::size_t open = std::string_view::npos;
    {
        char quote = 0;
        for (std::size_t i = 0; i < literal.size(); ++i) {
            char c = literal[i];
            if (quote) {
                if (c == '\\') ++i;
                else if (c == quote) quote = 0;
            } else if (c == '\'') {
                quote = c;
            } else if (c == '(') {
                open = i;
                break;
            }
        }
    }
    if (open == std::string_view::npos || literal.back() != ')') {
        return std::string(literal) + "/0";
    }
    std::string_view name = trim(literal.substr(0, open));
    std::string_view args = literal.substr(open + 1, literal.size() - open - 2);
    std::size_t arity = 1;
    scan_top_level(args, [&](std::size_t i) {
        if (args[i] == ',') ++arity;
        return true;
    });
    return std::string(name) + "/" + std::to_string(arity);
}

// The predicates some rule calls in its own body: tabled, so that recursion
// over cyclic facts terminates.
std::vector<std::string> self_calling(const std::vector<std::string>& rules) {
    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    for (const std::string& rule : rules) {
        std::string_view r = rule;
        if (!r.empty() && r.back() == '.') r.remove_suffix(1);
        std::size_t neck = std::string_view::npos;
        scan_top_level(r, [&](std::size_t i) {
            if (r[i] == ':' && i + 1 < r.size() && r[i + 1] == '-') {
                neck = i;
                return false;
            }
            return true;
        });
        if (neck == std::string_view::npos || neck == 0) continue;
        std::string head = indicator(r.substr(0, neck));
        std::string_view body = r.substr(neck + 2);
        std::size_t start = 0;
        bool recursive = false;
        auto check = [&](std::size_t end) {
            if (indicator(body.substr(start, end - start)) == head) recursive = true;
        };
        scan_top_level(body, [&](std::size_t i) {
            if (body[i] == ',') {
                check(i);
                start = i + 1;
            }
            return true;
        });
        check(body.size());
        if (recursive && seen.insert(head).second) out.push_back(head);
    }
    return out;
}

// Characters that glue into one symbol token with the neck ":-" (":-\\+"
// would read as a single atom).
bool symbol_char(char c) { return std::string_view("+-*/\\^<>=~:.?@#&$").find(c) != std::string_view::npos; }

// A rule as the theory file holds it: "&" read as ",", a blank after the
// neck when the body starts with a symbol character, a final ".".
std::string written_rule(const std::string& rule) {
    std::string r = rule;
    std::replace(r.begin(), r.end(), '&', ',');
    std::size_t neck = std::string::npos;
    scan_top_level(r, [&](std::size_t i) {
        if (r[i] == ':' && i + 1 < r.size() && r[i + 1] == '-') {
            neck = i;
            return false;
        }
        return true;
    });
    if (neck != std::string::npos && neck + 2 < r.size() && symbol_char(r[neck + 2]) &&
        (neck == 0 || !symbol_char(r[neck - 1]))) {
        r.insert(neck + 2, 1, ' ');
    }
    if (r.back() != '.') r += '.';
    return r;
}

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

namespace {

// The theory leaves the engine on every way out (its tables too), so nothing
// of it answers in a later evaluation.
struct UnloadOnExit {
    Prover& prover;
    ~UnloadOnExit() {
        try {
            prover.unload();
        } catch (...) {
        }
    }
};

struct ExampleRun {
    Prover& prover;
    const EvalSettings& settings;
    const LimitWarning& on_limit;
    Interrupt& interrupt;
    EvalResult& result;

    // Whether `goal` is proved; a goal out of inferences is not, with a
    // warning; past the time bound or out of table space it is not either
    // (one warning for the whole call, see warn_about_bounds).
    bool proved(const std::string& goal, const char* collection, std::size_t index) {
        interrupt.check();
        Outcome outcome;
        try {
            outcome = prover.prove(goal, kInferenceLimit, settings);
        } catch (const RefusedInput& e) {
            throw RefusedInput(std::string(collection) + "[" + std::to_string(index) + "]: " + e.what());
        }
        if (outcome == Outcome::limit_exceeded) {
            result.limit_exceeded.push_back(goal);
            if (on_limit) {
                on_limit("inference limit (" + std::to_string(kInferenceLimit) +
                         ") exceeded while proving example '" + goal + "'; counted as not proved");
            }
        } else if (outcome == Outcome::time_exceeded) {
            result.time_exceeded.push_back(goal);
        } else if (outcome == Outcome::space_exceeded) {
            result.space_exceeded.push_back(goal);
        }
        return outcome == Outcome::proved;
    }

    void warn_about_bounds() const {
        if (!on_limit) return;
        std::string message;
        if (!result.time_exceeded.empty()) {
            std::ostringstream seconds;
            seconds << settings.time_limit;
            message = std::to_string(result.time_exceeded.size()) + " example(s) ran past the time bound of " +
                      seconds.str() + " s (first: '" + result.time_exceeded.front() + "')";
        }
        if (!result.space_exceeded.empty()) {
            if (!message.empty()) message += "; ";
            message += std::to_string(result.space_exceeded.size()) +
                       " example(s) ran out of table space (first: '" + result.space_exceeded.front() + "')";
        }
        if (!message.empty()) on_limit(message + "; counted as not proved");
    }
};

// Loads background and theory, then proves every positive and negative
// example once, in order, filling the counts and timings of `result`.
void score_examples(Prover& prover, const std::string& theory_text, const std::string& background,
                    const std::vector<std::string>& pos, const std::vector<std::string>& neg,
                    const EvalSettings& settings, const LimitWarning& on_limit, Interrupt& interrupt,
                    EvalResult& result, Output* out) {
    auto start = Clock::now();
    engine::PrivateDir workdir;
    result.write_seconds = seconds_since(start);

    start = Clock::now();
    UnloadOnExit unload{prover};
    std::optional<engine::OutputCapture> printed;
    if (out) printed.emplace(workdir.file("output.txt").string());
    prover.load_background(background, settings);
    prover.load_theory(theory_text, workdir.path(), settings);
    result.load_seconds = seconds_since(start);

    start = Clock::now();
    ExampleRun run{prover, settings, on_limit, interrupt, result};
    auto keep = [&](bool proved) {
        if (settings.keep_each) result.proved.push_back(proved ? 1 : 0);
        return proved;
    };
    for (std::size_t i = 0; i < pos.size(); ++i)
        if (keep(run.proved(pos[i], "pos", i))) ++result.tp;
    for (std::size_t i = 0; i < neg.size(); ++i)
        if (!keep(run.proved(neg[i], "neg", i))) ++result.tn;
    result.query_seconds = seconds_since(start);
    result.fp = static_cast<std::int64_t>(neg.size()) - result.tn;
    result.fn = static_cast<std::int64_t>(pos.size()) - result.tp;
    if (printed) printed->finish(*out);
    run.warn_about_bounds();
}

// Each rule must be read by the engine as exactly one clause: a text that
// holds a second clause or a directive would otherwise run it.
// The message names the rule's line in the loaded file.
void check_rules(const std::vector<std::string>& theory) {
    std::vector<std::string> written;
    for (const std::string& rule : theory) written.push_back(written_rule(rule));
    // The file starts with an empty line, two style checks and the tables.
    std::size_t line = 4 + self_calling(written).size();
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (auto problem = engine::rule_problem(written[i])) {
            throw RefusedInput("theory[" + std::to_string(i) + "] '" + theory[i] + "' (test_bk.pl:" +
                               std::to_string(line) + ") is not one clause: " + *problem);
        }
        line += static_cast<std::size_t>(std::count(written[i].begin(), written[i].end(), '\n')) + 1;
    }
}

}  // namespace

Metrics compute_metrics(std::int64_t tp, std::int64_t tn, std::int64_t fp, std::int64_t fn) {
    const std::pair<const char*, std::int64_t> counts[] = {{"TP", tp}, {"TN", tn}, {"FP", fp}, {"FN", fn}};
    for (const auto& [name, count] : counts) {
        if (count < 0) {
            throw ValueError(std::string(name) + " must be a non-negative count, not " + std::to_string(count));
        }
    }
    Metrics m;
    m.accuracy = ratio(tp + tn, tp + tn + fp + fn);
    m.precision = ratio(tp, tp + fp);
    m.sensitivity = ratio(tp, tp + fn);
    m.specificity = ratio(tn, tn + fp);
    m.fscore = ratio(2 * tp, 2 * tp + fp + fn);
    return m;
}

std::string theory_file_text(const std::vector<std::string>& theory) {
    for (std::size_t i = 0; i < theory.size(); ++i) {
        if (theory[i].empty()) {
            throw ValueError("theory[" + std::to_string(i) +
                             "] is an empty string; every rule needs a text");
        }
    }
    std::vector<std::string> rules;
    rules.reserve(theory.size());
    for (const std::string& rule : theory) rules.push_back(written_rule(rule));
    std::string out = "\n:- style_check(-singleton).\n:-style_check(-discontiguous).\n";
    for (const std::string& pred : self_calling(rules)) out += ":- table " + pred + ".\n";
    for (const std::string& r : rules) out += r + '\n';
    return out;
}

std::string confusion_table(std::int64_t tp, std::int64_t tn, std::int64_t fp, std::int64_t fn) {
    return bordered({{"n = " + std::to_string(tp + tn + fp + fn), "Positive(Actual)", "Negative(Actual)"},
                     {"Positive(Predicted)", std::to_string(tp), std::to_string(fp)},
                     {"Negative(Predicted)", std::to_string(fn), std::to_string(tn)}});
}

std::string metrics_table(const Metrics& m) {
    return bordered({{"Metric", "#"},
                     {"Accuracy", cell_of(m.accuracy)},
                     {"Precision", cell_of(m.precision)},
                     {"Sensitivity", cell_of(m.sensitivity)},
                     {"Specificity", cell_of(m.specificity)},
                     {"F1 Score", cell_of(m.fscore)}});
}

EvalResult evaluate_theory(const std::vector<std::string>& theory, const std::string& file_1,
                           const std::vector<std::string>& pos, const std::vector<std::string>& neg,
                           bool quiet, const char* banner, Output& out, const LimitWarning& on_limit,
                           Interrupt* interrupt, Prover* prover, const EvalSettings& settings) {
    EvalResult result;
    if (theory.empty()) {
        // A theory without rules proves nothing: every positive is missed and
        // every negative rightly refused. No engine or file is needed for that.
        result.empty_theory = true;
        result.tn = static_cast<std::int64_t>(neg.size());
        result.fn = static_cast<std::int64_t>(pos.size());
        result.metrics = compute_metrics(result.tp, result.tn, result.fp, result.fn);
        if (settings.keep_each) result.proved.assign(pos.size() + neg.size(), 0);
        return result;
    }
    const std::string theory_text = theory_file_text(theory);
    const std::string background = absolute_background(file_1);
    NoInterrupt never;
    Interrupt& stop = interrupt ? *interrupt : never;
    if (prover) {
        score_examples(*prover, theory_text, background, pos, neg, settings, on_limit, stop, result, nullptr);
    } else {
        with_process_prover([&](Prover& p) {
            check_rules(theory);
            score_examples(p, theory_text, background, pos, neg, settings, on_limit, stop, result, &out);
        });
    }
    if (!quiet) {
        out.print(banner);
        out.print(confusion_table(result.tp, result.tn, result.fp, result.fn));
    }
    result.metrics = compute_metrics(result.tp, result.tn, result.fp, result.fn);
    if (!quiet) out.print(metrics_table(result.metrics));
    return result;
}

}  // namespace vantor::eval
