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
#include <system_error>
#include <unordered_set>

#include "eval/prolog_engine.hpp"

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

// Both working files go on every way out of an evaluation.
struct WorkingFiles {
    fs::path copy, test;
    void remove() {
        std::error_code ec;
        fs::remove(test, ec);
        fs::remove(copy, ec);
    }
    ~WorkingFiles() { remove(); }
};

void write_file(const fs::path& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::system_error(errno, std::generic_category(), "cannot write " + path.string());
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
    f.close();
    if (!f) throw std::system_error(errno, std::generic_category(), "cannot write " + path.string());
}

std::mutex evaluation_mutex;

}  // namespace

Metrics compute_metrics(std::int64_t tp, std::int64_t tn, std::int64_t fp, std::int64_t fn) {
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
    for (const std::string& rule : theory) {
        std::string r = rule;
        std::replace(r.begin(), r.end(), '&', ',');
        rules.push_back(std::move(r));
    }
    std::string out = "\n:- style_check(-singleton).\n:-style_check(-discontiguous).\n";
    for (const std::string& pred : self_calling(rules)) out += ":- table " + pred + ".\n";
    for (const std::string& r : rules) {
        out += r;
        if (r.back() != '.') out += '.';
        out += '\n';
    }
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
                           bool verbose, const char* banner, Output& out, const LimitWarning& on_limit) {
    EvalResult result;
    if (theory.empty()) {
        result.empty_theory = true;
        return result;
    }
    std::string theory_text = theory_file_text(theory);
    // The background is opened before anything is written, so a missing file
    // leaves no working file behind.
    std::ifstream background(file_1, std::ios::binary);
    if (!background) {
        if (!fs::exists(file_1)) throw FileNotFound(file_1);
        throw std::system_error(errno ? errno : EACCES, std::generic_category(),
                                "cannot read background file '" + file_1 + "'");
    }
    if (fs::is_directory(file_1)) throw std::system_error(EISDIR, std::generic_category(), file_1);
    {
        // The background is copied after the theory: a byte-order mark would
        // land mid-file, where Prolog reads it as a stray character.
        char mark[3] = {};
        background.read(mark, 3);
        if (background.gcount() != 3 || std::string_view(mark, 3) != "\xEF\xBB\xBF") {
            background.clear();
            background.seekg(0);
        }
    }

    engine::ensure_started();
    std::lock_guard<std::mutex> lock(evaluation_mutex);
    engine::ThreadEngine attach;

    using clock = std::chrono::steady_clock;
    auto seconds_since = [](clock::time_point t0) {
        return std::chrono::duration<double>(clock::now() - t0).count();
    };
    auto t0 = clock::now();
    WorkingFiles files{fs::absolute("copy_bk.pl"), fs::absolute("test_bk.pl")};
    write_file(files.copy, theory_text);
    {
        std::ofstream test(files.test, std::ios::binary | std::ios::trunc);
        if (!test) throw std::system_error(errno, std::generic_category(), "cannot write test_bk.pl");
        {
            std::ifstream copy(files.copy, std::ios::binary);
            test << copy.rdbuf();
        }
        if (background.peek() != std::char_traits<char>::eof()) test << background.rdbuf();
        test.close();
        if (!test) throw std::system_error(errno, std::generic_category(), "cannot write test_bk.pl");
    }
    background.close();
    result.write_seconds = seconds_since(t0);

    // Tables of an earlier theory must not answer for this one.
    t0 = clock::now();
    engine::abolish_tables();
    std::vector<std::string> errors = engine::load_theory_file(files.test.string());
    if (!errors.empty()) {
        std::string message = "loading the theory file failed:";
        for (const std::string& e : errors) message += "\n" + e;
        engine::abolish_tables();
        throw PrologError(message);
    }
    result.load_seconds = seconds_since(t0);

    struct TableReset {
        ~TableReset() {
            try {
                engine::abolish_tables();
            } catch (...) {
            }
        }
    } table_reset;

    auto run = [&](const std::string& goal) {
        engine::Outcome o = engine::prove(goal, kInferenceLimit);
        if (o == engine::Outcome::limit_exceeded) {
            result.limit_exceeded.push_back(goal);
            if (on_limit) {
                on_limit("inference limit (" + std::to_string(kInferenceLimit) +
                         ") exceeded while proving example '" + goal + "'; counted as not proved");
            }
        }
        return o == engine::Outcome::proved;
    };
    t0 = clock::now();
    for (const std::string& k : pos)
        if (run(k)) ++result.tp;
    for (const std::string& l : neg)
        if (!run(l)) ++result.tn;
    result.query_seconds = seconds_since(t0);
    result.fp = static_cast<std::int64_t>(neg.size()) - result.tn;
    result.fn = static_cast<std::int64_t>(pos.size()) - result.tp;

    if (!verbose) {
        out.print(banner);
        out.print(confusion_table(result.tp, result.tn, result.fp, result.fn));
    }
    files.remove();
    result.metrics = compute_metrics(result.tp, result.tn, result.fp, result.fn);
    if (!verbose) out.print(metrics_table(result.metrics));
    return result;
}

}  // namespace vantor::eval
