#include <Python.h>

#include <climits>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "bindings.hpp"
#include "bottom/bottom_clause.hpp"
#include "bottom/variables.hpp"
#include "text/pystr.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace data_io {
// Defined in bind_data.cpp.
std::string path_from(nb::handle value, const char* parameter);
std::vector<std::string> texts_from(nb::handle value, const char* parameter);
}  // namespace data_io

namespace {

// Far above the largest bottom clause of the bundled data sets (about 400
// literals at depth 2), and far below the sizes that make learning slow.
constexpr long long kDefaultSizeWarning = 10000;

// Facts of one predicate that one term opens under reach="hops". The cap is
// there for hub terms (an element symbol, a bond type, a shared number), not
// for ordinary objects: 100 keeps whole a molecule's atoms and bonds (up to
// ~40 in the chemistry sets) and a person's relatives, and it is the bound
// Progol gives a mode of unbounded recall.
constexpr long long kDefaultRecall = 100;

bottom::BackgroundSource background_from(nb::handle file, const char* parameter) {
    bottom::BackgroundSource source;
    if (nb::isinstance<nb::list>(file)) {
        source.lines = data_io::texts_from(file, parameter);
    } else {
        source.path = data_io::path_from(file, parameter);
    }
    return source;
}

long long depth_from(nb::handle depth) {
    // Any integer type (numpy's included), as range() would accept it.
    PyObject* index = PyNumber_Index(depth.ptr());
    if (!index) {
        PyErr_Clear();
        raise_type_error("depth", "an integer", depth);
    }
    nb::object number = nb::steal(index);
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    // Passes beyond 2^63 cannot be told apart from 2^63 - 1: a scan stops
    // changing long before.
    if (overflow > 0) return LLONG_MAX;
    if (overflow < 0) return -1;
    return v;
}

std::string example_from(nb::handle example, const char* parameter) {
    if (!nb::isinstance<nb::str>(example)) raise_type_error(parameter, "an example text (str)", example);
    std::string text = nb::cast<std::string>(example);
    // An empty example has no terms: it would give an empty bottom clause
    // and later an empty goal that only the Prolog engine complains about.
    if (text::strip(text).empty()) {
        throw ValueError(std::string(parameter) + " is an empty text; an example is a literal such as 'p(a,b).'");
    }
    return text;
}

// A choice among named values: the index of `value` in `allowed`. Any
// other value is an error that lists the allowed ones.
std::size_t choice_from(nb::handle value, const char* parameter, std::initializer_list<const char*> allowed) {
    std::string names;
    for (const char* name : allowed) names += std::string(names.empty() ? "" : ", ") + "'" + name + "'";
    if (!nb::isinstance<nb::str>(value)) {
        raise_type_error(parameter, ("one of the texts " + names).c_str(), value);
    }
    const std::string text = nb::cast<std::string>(value);
    std::size_t index = 0;
    for (const char* name : allowed) {
        if (text == name) return index;
        ++index;
    }
    throw ValueError(std::string(parameter) + " must be one of " + names + ", not '" + text + "'");
}

// recall: None (no cap) or a count of facts of at least 1.
std::size_t recall_from(nb::handle value) {
    if (value.is_none()) return bottom::BottomClauseBuilder::kNoLimit;
    const long long n = count_from(value, "recall");
    if (n < 1) throw ValueError("recall must be None or a number of facts >= 1, not " + std::to_string(n));
    return static_cast<std::size_t>(n);
}

// follow: which facts a known term reaches; numbers: whether numeric
// arguments are values to share (variables) or stay as written; reach and
// recall: the scan by passes or the bounded breadth-first walk.
bottom::ReachOptions reach_from(nb::handle follow, nb::handle numbers, nb::handle reach_name,
                                nb::handle recall) {
    bottom::ReachOptions reach;
    reach.follow = choice_from(follow, "follow", {"first", "any"}) == 0 ? bottom::Follow::First
                                                                        : bottom::Follow::Any;
    // "compare" builds bottom clauses as "variable" does; the learner adds
    // the threshold tests.
    reach.numbers = choice_from(numbers, "numbers", {"constant", "variable", "compare"}) == 0
                        ? bottom::Numbers::Constant
                        : bottom::Numbers::Variable;
    reach.reach = choice_from(reach_name, "reach", {"passes", "hops"}) == 0 ? bottom::Reach::Passes
                                                                           : bottom::Reach::Hops;
    reach.recall = recall_from(recall);
    return reach;
}

// size_limit: None (no limit) or a count of literals.
std::size_t size_limit_from(nb::handle value) {
    if (value.is_none()) return bottom::BottomClauseBuilder::kNoLimit;
    const long long n = count_from(value, "size_limit");
    if (n < 0) throw ValueError("size_limit must be None or a number of literals >= 0, not " + std::to_string(n));
    return static_cast<std::size_t>(n);
}

// size_warning: None (never) or a count of literals.
std::size_t size_warning_from(nb::handle value) {
    if (value.is_none()) return bottom::BottomClauseBuilder::kNoLimit;
    const long long n = count_from(value, "size_warning");
    if (n < 0) throw ValueError("size_warning must be None or a number of literals >= 0, not " + std::to_string(n));
    return static_cast<std::size_t>(n);
}

// The bottom clauses longer than the warning bound of one call: how many,
// and the first of them (named in the warning).
struct Oversize {
    std::size_t count = 0;
    std::string example;
    std::size_t literals = 0;

    void note(const std::string& key, std::size_t size, long long depth, std::size_t bound) {
        if (bottom::BottomClauseBuilder::head_only(depth) || size <= bound) return;
        if (count++ == 0) {
            example = key;
            literals = size;
        }
    }
    std::string message(long long depth, std::size_t bound) const {
        std::string text = "the bottom clause of " + example + " has " + std::to_string(literals) +
                           " literals, more than size_warning=" + std::to_string(bound);
        if (count > 1) text += " (" + std::to_string(count) + " bottom clauses in all)";
        return text + "; a smaller depth (now " + std::to_string(depth) +
               ") keeps bottom clauses smaller, and size_limit caps them";
    }
    void warn(long long depth, std::size_t bound) const {
        if (count == 0) return;
        if (PyErr_WarnEx(PyExc_RuntimeWarning, message(depth, bound).c_str(), 1) != 0) throw nb::python_error();
    }
};

nb::object clause_to_py(const std::vector<std::string>& clause, long long depth) {
    if (bottom::BottomClauseBuilder::head_only(depth)) return nb::str(clause[0].data(), clause[0].size());
    nb::list out;
    for (const std::string& t : clause) out.append(nb::str(t.data(), t.size()));
    return out;
}

// A built set with every literal numbered by its distinct text, done
// without the GIL: the bottom clauses of one set repeat most literals (their
// variables are named by position), so the dictionary then gets one text
// object per distinct literal, shared by the lists, and the part that needs
// the GIL (which parallel builds take turns at) is short.
class NumberedSet {
public:
    NumberedSet(data::BottomClauseSet built, long long depth) : set_(std::move(built)), depth_(depth) {
        if (bottom::BottomClauseBuilder::head_only(depth_)) return;
        std::unordered_map<std::string_view, std::uint32_t> seen;
        for (const std::vector<std::string>& clause : set_.clauses) {
            for (const std::string& literal : clause) {
                auto [it, added] = seen.try_emplace(literal, static_cast<std::uint32_t>(distinct_.size()));
                if (added) distinct_.push_back(&literal);
                numbers_.push_back(it->second);
            }
        }
    }
    NumberedSet(const NumberedSet&) = delete;
    NumberedSet& operator=(const NumberedSet&) = delete;

    // The dictionary (the GIL held); every clause's size goes to `oversize`.
    nb::dict to_py(Oversize* oversize, std::size_t bound) const {
        nb::dict out;
        std::vector<nb::object> texts;
        texts.reserve(distinct_.size());
        for (const std::string* t : distinct_) texts.push_back(nb::str(t->data(), t->size()));
        std::size_t at = 0;
        for (std::size_t i = 0; i < set_.size(); ++i) {
            const std::string& key = set_.keys[i];
            const std::vector<std::string>& clause = set_.clauses[i];
            if (oversize) oversize->note(key, clause.size(), depth_, bound);
            nb::str name(key.data(), key.size());
            if (bottom::BottomClauseBuilder::head_only(depth_)) {
                out[name] = clause_to_py(clause, depth_);
                continue;
            }
            PyObject* list = PyList_New(static_cast<Py_ssize_t>(clause.size()));
            if (!list) throw nb::python_error();
            for (std::size_t k = 0; k < clause.size(); ++k) {
                PyList_SET_ITEM(list, static_cast<Py_ssize_t>(k), texts[numbers_[at++]].inc_ref().ptr());
            }
            out[name] = nb::steal(list);
        }
        return out;
    }

private:
    data::BottomClauseSet set_;
    long long depth_;
    std::vector<const std::string*> distinct_;  // into set_, which never moves again
    std::vector<std::uint32_t> numbers_;        // every clause's literals, clause after clause
};

// Millions of literal texts take a while to free: other threads may run
// Python meanwhile.
void free_without_gil(std::unique_ptr<NumberedSet> set) {
    nb::gil_scoped_release release;
    set.reset();
}

// Progress that also lets Ctrl-C stop a long build: the core runs without
// the GIL, so pending signals are checked between examples.
class InterruptibleProgress final : public Progress {
public:
    explicit InterruptibleProgress(bool disable) : bar_(disable) {}
    void start(std::size_t total, std::string_view description) override { bar_.start(total, description); }
    void advance(std::size_t steps) override {
        bar_.advance(steps);
        nb::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) throw nb::python_error();
    }
    void finish() override { bar_.finish(); }

private:
    TqdmProgress bar_;
};

// One background and constant set, parsed on first use and shared by the
// example sets of one bottom_clause_generation call.
class SetBuilder {
public:
    SetBuilder(nb::handle file, nb::handle constant_set, nb::handle follow, nb::handle numbers,
               nb::handle reach, nb::handle recall)
        : builder_(background_from(file, "file"), constant_set_from(constant_set, "constant_set"),
                   reach_from(follow, numbers, reach, recall)) {}

    // The dictionary of one example list. Bottom clauses longer than
    // `size_warning` are counted across the builds of this object and
    // reported once, by oversize_message().
    nb::dict build(nb::handle examples, nb::handle depth, bool tqdm_disable, const char* parameter,
                   nb::handle size_limit, nb::handle size_warning) {
        const std::vector<std::string> texts = checked_texts(examples, parameter);
        const long long d = depth_from(depth);
        const std::size_t limit = size_limit_from(size_limit);
        start_call(d, size_warning);
        InterruptibleProgress progress(tqdm_disable);
        std::unique_ptr<NumberedSet> set;
        {
            nb::gil_scoped_release release;
            set = std::make_unique<NumberedSet>(builder_.build_set(texts, d, progress, limit), d);
        }
        nb::dict out = set->to_py(&oversize_, warning_bound_);
        free_without_gil(std::move(set));
        return out;
    }

    // One share of a list for a worker thread: the dictionary of `examples`
    // alone, built without the GIL; several shares may build at once. The
    // caller joins the shares with join().
    nb::dict build_share(nb::handle examples, nb::handle depth, const char* parameter, nb::handle size_limit) {
        const std::vector<std::string> texts = checked_texts(examples, parameter);
        const long long d = depth_from(depth);
        const std::size_t limit = size_limit_from(size_limit);
        std::unique_ptr<NumberedSet> set;
        {
            nb::gil_scoped_release release;
            NoProgress quiet;
            set = std::make_unique<NumberedSet>(builder_.build_set(texts, d, quiet, limit), d);
        }
        nb::dict out = set->to_py(nullptr, 0);
        free_without_gil(std::move(set));
        return out;
    }

    // The checks build() makes of a whole list (a list of non-empty texts),
    // for a list that is then built in shares.
    void check_examples(nb::handle examples, const char* parameter) { checked_texts(examples, parameter); }

    // The shares of one list, in list order, as one dictionary: what build()
    // gives for the whole list (an example repeated across shares keeps its
    // first place), oversize bottom clauses counted alike.
    nb::dict join(nb::handle shares, nb::handle depth, nb::handle size_warning) {
        const long long d = depth_from(depth);
        start_call(d, size_warning);
        nb::dict out;
        for (nb::handle share : shares) {
            for (auto [key, clause] : nb::borrow<nb::dict>(share)) {
                if (out.contains(key)) continue;
                out[key] = clause;
                if (!bottom::BottomClauseBuilder::head_only(d)) {
                    oversize_.note(nb::cast<std::string>(key), nb::len(clause), d, warning_bound_);
                }
            }
        }
        return out;
    }

    // The background file's lines the input check looks at: a list of
    // (number, text, certain) tuples and whether it holds all of them.
    // Reading them reads and indexes the file for the builds to come.
    // Undecodable bytes read as U+FFFD, as the checker reads a file.
    nb::tuple odd_lines() {
        bottom::OddLines found;
        {
            nb::gil_scoped_release release;
            found = builder_.odd_lines();
        }
        nb::list out;
        for (const bottom::OddLine& line : found.lines) {
            PyObject* text = PyUnicode_DecodeUTF8(line.text.data(), static_cast<Py_ssize_t>(line.text.size()), "replace");
            if (!text) throw nb::python_error();
            out.append(nb::make_tuple(line.number, nb::steal(text), line.certain));
        }
        return nb::make_tuple(out, found.complete);
    }

    // The text of the one warning the caller gives, or None.
    nb::object oversize_message() const {
        if (oversize_.count == 0) return nb::none();
        return nb::str(oversize_.message(depth_, warning_bound_).c_str());
    }

private:
    struct NoProgress final : Progress {
        void start(std::size_t, std::string_view) override {}
        void advance(std::size_t) override {}
        void finish() override {}
    };

    std::vector<std::string> checked_texts(nb::handle examples, const char* parameter) {
        if (!nb::isinstance<nb::list>(examples)) raise_type_error(parameter, "a list of example texts", examples);
        std::vector<std::string> texts = data_io::texts_from(examples, parameter);
        reject_empty(texts, parameter);
        return texts;
    }

    void start_call(long long depth, nb::handle size_warning) {
        warning_bound_ = size_warning_from(size_warning);
        depth_ = depth;
    }

    static void reject_empty(const std::vector<std::string>& texts, const char* parameter) {
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (text::strip(texts[i]).empty()) {
                throw ValueError(std::string(parameter) + ": example " + std::to_string(i + 1) + " of " +
                                 std::to_string(texts.size()) +
                                 " is an empty text; remove it or give an example literal such as 'p(a,b).'");
            }
        }
    }

    bottom::BottomClauseBuilder builder_;
    Oversize oversize_;
    std::size_t warning_bound_ = bottom::BottomClauseBuilder::kNoLimit;
    long long depth_ = 0;
};

void bind_variables(nb::module_& m) {
    m.def(
        "variable_name",
        [](long long number) {
            if (number < 0) throw ValueError("variable_name: number must be >= 0, not " + std::to_string(number));
            return bottom::variable_name(number);
        },
        "number"_a, "The variable name of a position.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "number : int\n"
        "    A position, at least 0.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "str\n"
        "    The base-26 digits of number, least significant first, A standing for\n"
        "    0.\n"
        "\n"
        "Raises\n"
        "------\n"
        "ValueError\n"
        "    For a negative number.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> variable_name(0), variable_name(1), variable_name(26)\n"
        "('A', 'B', 'AB')");
    m.def(
        "variabilise_example",
        [](std::string_view pos, nb::handle constant) {
            return bottom::variabilise_example(pos, constant_set_from(constant, "constant"));
        },
        "pos"_a, "constant"_a,
        "The head literal of an example.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "pos : str\n"
        "    An example text.\n"
        "constant : list of str\n"
        "    Terms that stay constants.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "str\n"
        "    The example with every argument outside constant replaced by the\n"
        "    variable of its position.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> variabilise_example(\"grandparent(arthur,diana).\", [])\n"
        "'grandparent(A,B)'\n"
        ">>> variabilise_example(\"f(a,a)\", []), variabilise_example(\"class(e_1,yes)\", [\"yes\"])\n"
        "('f(A,B)', 'class(A,yes)')");
}

}  // namespace

void bind_bottom(nb::module_& m) {
    bind_variables(m);
    m.def(
        "bottom_clause",
        [](nb::handle file_name, nb::handle example, nb::handle depth, nb::handle constant,
           nb::handle size_limit, nb::handle size_warning, nb::handle follow,
           nb::handle numbers, nb::handle reach, nb::handle recall) -> nb::object {
            bottom::BottomClauseBuilder builder(background_from(file_name, "file_name"),
                                                constant_set_from(constant, "constant"),
                                                reach_from(follow, numbers, reach, recall));
            const std::string text = example_from(example, "example");
            const long long d = depth_from(depth);
            const std::size_t limit = size_limit_from(size_limit);
            const std::size_t bound = size_warning_from(size_warning);
            std::vector<std::string> clause;
            {
                nb::gil_scoped_release release;
                clause = builder.build(text, d, limit);
            }
            Oversize oversize;
            oversize.note(text, clause.size(), d, bound);
            oversize.warn(d, bound);
            return clause_to_py(clause, d);
        },
        nb::sig("def bottom_clause(file_name: str | os.PathLike[str] | list[str], example: str, "
                "depth: int, constant: list[str] | None, size_limit: int | None = None, "
                "size_warning: int | None = 10000, follow: str = 'first', "
                "numbers: str = 'constant', reach: str = 'passes', recall: int | None = 100) "
                "-> list[str] | str"),
        "file_name"_a, "example"_a, "depth"_a, "constant"_a.none(), "size_limit"_a.none() = nb::none(),
        "size_warning"_a.none() = kDefaultSizeWarning, "follow"_a.none() = "first",
        "numbers"_a.none() = "constant", "reach"_a.none() = "passes",
        "recall"_a.none() = kDefaultRecall,
        "The bottom clause of one example.\n"
        "\n"
        "The background facts connected to the example's terms, with their\n"
        "constants turned into variables.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "file_name : str, os.PathLike or list of str\n"
        "    Background file name, or a list of fact texts (used unchanged).\n"
        "example : str\n"
        "    The example literal text, e.g. 'grandparent(ann,carl).'.\n"
        "depth : int\n"
        "    Number of passes over the background; 0 returns the head text\n"
        "    (variabilise_example), a negative depth an empty list.\n"
        "constant : list of str or None\n"
        "    Texts never turned into variables; a fact whose first argument is one\n"
        "    of them is taken when another of its arguments is known.\n"
        "size_limit : int or None, default None\n"
        "    The most literals the bottom clause keeps (the first ones found; the\n"
        "    scan stops there); None keeps all.\n"
        "size_warning : int or None, default 10000\n"
        "    A bottom clause of more literals than this gives a RuntimeWarning\n"
        "    naming the example; None never warns.\n"
        "follow : {'first', 'any'}, default 'first'\n"
        "    'first' takes a fact when its first argument is known (or a constant)\n"
        "    and it holds a known term; 'any' takes a fact when any of its\n"
        "    arguments is a known term (teaches(course,ann) for an example about\n"
        "    ann).\n"
        "numbers : {'constant', 'variable', 'compare'}, default 'constant'\n"
        "    'constant' keeps numeric arguments as written; 'variable' turns them\n"
        "    into variables like other terms, so literals can share a value\n"
        "    (size(A,C), small(C) rather than size(A,0.3)); 'compare' builds them as\n"
        "    'variable' does.\n"
        "reach : {'passes', 'hops'}, default 'passes'\n"
        "    'passes' scans the background `depth` times in file order; 'hops' walks\n"
        "    breadth first from the example's terms: step k takes the facts that the\n"
        "    terms reached in step k-1 open (by the follow rule), so depth bounds the\n"
        "    distance from the example.\n"
        "recall : int or None, default 100\n"
        "    With reach='hops', the most facts of one predicate one term opens (the\n"
        "    first ones in file order); None takes all.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "list of str or str\n"
        "    The bottom clause: an ordered, duplicate-free list of literals; the\n"
        "    head text for depth 0.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> bottom_clause(\"BK.pl\", \"grandparent(arthur,diana).\", 2, [])\n"
        "['parent(A,C)', 'parent(C,B)', 'male(A)', 'male(C)', 'female(B)']");

    nb::class_<SetBuilder>(m, "_SetBuilder")
        .def(nb::init<nb::handle, nb::handle, nb::handle, nb::handle, nb::handle, nb::handle>(), "file"_a,
             "constant_set"_a.none(), "follow"_a.none() = "first", "numbers"_a.none() = "constant",
             "reach"_a.none() = "passes", "recall"_a.none() = kDefaultRecall)
        .def("build", &SetBuilder::build, "examples"_a, "depth"_a, "tqdm_disable"_a, "parameter"_a,
             "size_limit"_a.none() = nb::none(), "size_warning"_a.none() = kDefaultSizeWarning)
        .def("build_share", &SetBuilder::build_share, "examples"_a, "depth"_a, "parameter"_a,
             "size_limit"_a.none() = nb::none())
        .def("check_examples", &SetBuilder::check_examples, "examples"_a, "parameter"_a)
        .def("join", &SetBuilder::join, "shares"_a, "depth"_a, "size_warning"_a.none() = kDefaultSizeWarning)
        .def("oversize_message", &SetBuilder::oversize_message)
        .def("odd_lines", &SetBuilder::odd_lines);
}

}  // namespace vantor::py
