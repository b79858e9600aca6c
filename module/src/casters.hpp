// Conversions of host values into the core's types, as nanobind type
// casters, so that bindings take C++ types and every conversion error names
// the parameter it is about.
//
// Python normalises plain values first (os.fspath, operator.index, bool);
// these casters do what needs more than that: texts (no NUL, no lone
// surrogate), lists of texts, bottom-clause dictionaries, counts that
// saturate beyond 64 bits, thresholds given as real numbers, key sizes and
// the whole learning options record. A failed conversion throws the core's
// TypeError or ValueError (translated for the host), not a generic
// "incompatible function arguments".
#pragma once

#include <nanobind/nanobind.h>

#include <cstddef>
#include <string>
#include <vector>

#include "data/bottom_clause_set.hpp"
#include "learn/candidates.hpp"
#include "learn/options.hpp"
#include "text/substitution.hpp"

namespace nb = nanobind;

namespace vantor::py {

// A parameter's name as a template argument, for the messages of a caster.
template <std::size_t N>
struct ParameterName {
    char text[N];
    constexpr ParameterName(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
    }
};

// The UTF-8 form of a host str. Throws TypeError for anything else and
// ValueError for a lone surrogate (it has no UTF-8 form), naming
// `parameter`. A NUL character is kept: the core's texts hold it whole.
std::string text_from(nb::handle value, const char* parameter);

// A file name: a text (os.fspath is the host's work) without NUL, which no
// file name can hold; ValueError naming `parameter` otherwise.
std::string path_from(nb::handle value, const char* parameter);

std::string text_from(nb::handle value, const char* parameter, bool is_path);

// A list (any iterable but a single text) of texts.
std::vector<std::string> texts_from(nb::handle sequence, const char* parameter);

// One bottom clause: a list (or tuple) of literal texts, or a single text
// (depth-0 dictionaries hold the head text itself).
std::vector<std::string> bottom_clause_from(nb::handle value, const char* parameter);

// A bottom-clause dictionary (example text -> list of literal texts; a
// depth-0 dictionary holds the head text itself). A file name in its place
// raises TypeError saying how to load one.
data::BottomClauseSet bottom_clause_set_from(nb::handle dict, const char* parameter);

// A count given as an int (anything with __index__, not a float); values
// beyond 64 bits saturate, which compares the same with any count.
long long count_from(nb::handle value, const char* parameter);

// A threshold compared with counts: a float is taken as its value, rounded
// toward the side that keeps the comparison exact (nan never passes).
long long threshold_from(nb::handle value, const char* parameter, bool at_least);

// `key_size`: a value that tests false is unset, an int a count, a float a
// real number (the stages decide what a fraction means).
learn::KeySize key_size_from(nb::handle value);

text::ConstantSet constant_set_from(nb::handle sequence, const char* parameter);

// The learning options from a host object that has one attribute per name
// of learn::for_each_option.
learn::LearnOptions learn_options_from(nb::handle value);

template <ParameterName P>
struct Text {
    std::string value;
};

template <ParameterName P>
struct PathText {
    std::string value;
};

template <ParameterName P>
struct Texts {
    std::vector<std::string> items;
};

// The converted dictionary and the host object it came from (alive for the
// call), for bindings that write back into the caller's lists.
template <ParameterName P>
struct BottomClauses {
    data::BottomClauseSet set;
    nb::handle source;
};

// Constant sets hold texts; a non-text member can never equal a term text,
// so it is left out.
template <ParameterName P>
struct Constants {
    text::ConstantSet set;
};

template <ParameterName P>
struct Count {
    long long value = 0;
};

template <ParameterName P, bool AtLeast>
struct ThresholdArg {
    long long value = 0;
};

}  // namespace vantor::py

namespace nanobind::detail {

template <vantor::py::ParameterName P>
struct type_caster<vantor::py::Text<P>> {
    NB_TYPE_CASTER(vantor::py::Text<P>, const_name("str"))
    bool from_python(handle src, uint32_t, cleanup_list*) {
        value.value = vantor::py::text_from(src, P.text);
        return true;
    }
};

template <vantor::py::ParameterName P>
struct type_caster<vantor::py::PathText<P>> {
    NB_TYPE_CASTER(vantor::py::PathText<P>, const_name("str"))
    bool from_python(handle src, uint32_t, cleanup_list*) {
        value.value = vantor::py::path_from(src, P.text);
        return true;
    }
};

template <vantor::py::ParameterName P>
struct type_caster<vantor::py::Texts<P>> {
    NB_TYPE_CASTER(vantor::py::Texts<P>, const_name("collections.abc.Sequence[str]"))
    bool from_python(handle src, uint32_t, cleanup_list*) {
        value.items = vantor::py::texts_from(src, P.text);
        return true;
    }
};

template <vantor::py::ParameterName P>
struct type_caster<vantor::py::BottomClauses<P>> {
    NB_TYPE_CASTER(vantor::py::BottomClauses<P>, const_name("dict[str, list[str]]"))
    bool from_python(handle src, uint32_t, cleanup_list*) {
        value.set = vantor::py::bottom_clause_set_from(src, P.text);
        value.source = src;
        return true;
    }
};

template <vantor::py::ParameterName P>
struct type_caster<vantor::py::Constants<P>> {
    NB_TYPE_CASTER(vantor::py::Constants<P>, const_name("collections.abc.Iterable[str]"))
    bool from_python(handle src, uint32_t, cleanup_list*) {
        value.set = vantor::py::constant_set_from(src, P.text);
        return true;
    }
};

template <vantor::py::ParameterName P>
struct type_caster<vantor::py::Count<P>> {
    NB_TYPE_CASTER(vantor::py::Count<P>, const_name("int"))
    bool from_python(handle src, uint32_t, cleanup_list*) {
        value.value = vantor::py::count_from(src, P.text);
        return true;
    }
};

template <vantor::py::ParameterName P, bool AtLeast>
struct type_caster<vantor::py::ThresholdArg<P, AtLeast>> {
    using Threshold = vantor::py::ThresholdArg<P, AtLeast>;
    NB_TYPE_CASTER(Threshold, const_name("int | float"))
    bool from_python(handle src, uint32_t, cleanup_list*) {
        value.value = vantor::py::threshold_from(src, P.text, AtLeast);
        return true;
    }
};

template <>
struct type_caster<vantor::learn::KeySize> {
    NB_TYPE_CASTER(vantor::learn::KeySize, const_name("int | float | None"))
    bool from_python(handle src, uint32_t, cleanup_list*) {
        value = vantor::py::key_size_from(src);
        return true;
    }
};

template <>
struct type_caster<vantor::learn::LearnOptions> {
    NB_TYPE_CASTER(vantor::learn::LearnOptions, const_name("vantor._options.LearnOptions"))
    bool from_python(handle src, uint32_t, cleanup_list*) {
        value = vantor::py::learn_options_from(src);
        return true;
    }
};

}  // namespace nanobind::detail
