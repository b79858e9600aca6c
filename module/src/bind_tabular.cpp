// Private entry points of the tabular converters. The public functions live
// in vantor/tabular.py: reading the table, converting cells to texts and
// writing files are host work; these do the text work.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>

#include "bindings.hpp"
#include "tabular/tabular.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {

// str.lower() of the host, for the non-ASCII texts the core cannot lower.
tabular::LowerFn host_lower() {
    return [](std::string_view s) {
        return text_from(str_of(s).attr("lower")(), "text");
    };
}

std::vector<tabular::Number> numbers_from(nb::handle seq, const std::string& column) {
    std::vector<tabular::Number> out;
    std::size_t row = 0;
    for (nb::handle item : seq) {
        if (PyFloat_Check(item.ptr())) {
            out.push_back(tabular::Number::real(PyFloat_AS_DOUBLE(item.ptr())));
        } else if (PyLong_Check(item.ptr())) {
            int overflow = 0;
            const long long v = PyLong_AsLongLongAndOverflow(item.ptr(), &overflow);
            if (overflow) {
                throw ValueError("column " + column + ", row " + std::to_string(row) +
                                 ": integer outside the 64-bit range");
            }
            out.push_back(tabular::Number::integer(v));
        } else {
            throw TypeError("column " + column + ", row " + std::to_string(row) +
                            ": expected a number, not " +
                            text_from(nb::type_name(item.type()), "column"));
        }
        ++row;
    }
    return out;
}

nb::tuple column_result(const std::string& column_name, const tabular::ColumnEncoding& enc,
                        bool background) {
    nb::str meta = str_of(enc.meta_block);
    if (background) {
        return nb::make_tuple(meta, str_of(tabular::background_lines(column_name, enc, host_lower())),
                              enc.encoded);
    }
    return nb::make_tuple(meta, nb::cast(tabular::raw_facts(column_name, enc)), enc.encoded);
}

// The row numbers of the given cells: rows 0 .. count-1 unless listed.
tabular::PresentRows present_rows(std::size_t count, const std::optional<std::vector<std::size_t>>& rows,
                                  std::size_t missing) {
    tabular::PresentRows out = rows ? tabular::PresentRows{*rows, 0} : tabular::PresentRows::all(count);
    out.missing = missing;
    return out;
}

tabular::RangeMap range_map_from(nb::handle ranges) {
    if (!PyDict_Check(ranges.ptr())) {
        raise_type_error("dict_1", "a dict from feature key to list of range texts", ranges);
    }
    tabular::RangeMap out;
    for (auto [key, value] : nb::borrow<nb::dict>(ranges)) {
        if (!PyUnicode_Check(key.ptr())) raise_type_error("dict_1", "a dict with text keys", key);
        if (PyUnicode_Check(value.ptr())) {
            raise_type_error("dict_1", "a dict of lists of range texts", value);
        }
        out.emplace_back(text_from(key, "dict_1"), texts_from(value, "dict_1"));
    }
    return out;
}

nb::dict range_map_to_py(const tabular::RangeMap& map) {
    nb::dict out;
    for (const auto& [key, ranges] : map) out[str_of(key)] = nb::cast(ranges);
    return out;
}

}  // namespace

void bind_tabular(nb::module_& m) {
    m.def(
        "_tab_categorical",
        [](Texts<"texts"> texts, Text<"column_name"> column_name, bool background,
           std::optional<std::vector<std::size_t>> rows, std::size_t missing) {
            const tabular::PresentRows present = present_rows(texts.items.size(), rows, missing);
            return column_result(column_name.value,
                                 tabular::encode_categorical(column_name.value, texts.items, present,
                                                             host_lower()),
                                 background);
        },
        "texts"_a, "column_name"_a, "background"_a, "rows"_a = nb::none(), "missing"_a = 0);
    m.def(
        "_tab_numeric",
        [](nb::handle numbers, Texts<"texts"> texts, Text<"column_name"> column_name, long long default_div,
           std::optional<long long> condition, bool background,
           std::optional<std::vector<std::size_t>> rows, std::size_t missing) {
            const std::string& column = column_name.value;
            const tabular::PresentRows present = present_rows(texts.items.size(), rows, missing);
            return column_result(column,
                                 tabular::encode_numeric(column, numbers_from(numbers, column), texts.items,
                                                         present, default_div, condition, host_lower()),
                                 background);
        },
        "numbers"_a, "texts"_a, "column_name"_a, "default_div"_a, "condition"_a.none(),
        "background"_a, "rows"_a = nb::none(), "missing"_a = 0);
    m.def(
        "_tab_example_texts",
        [](Text<"example_label"> label, Text<"target_column"> target_name, Texts<"classes"> class_texts,
           Texts<"file names"> file_names, const std::vector<std::size_t>& ranks) {
            tabular::ExampleTexts t = tabular::example_texts(label.value, target_name.value,
                                                             class_texts.items, file_names.items, ranks);
            return nb::make_tuple(str_of(t.meta_block), nb::cast(t.file_texts));
        },
        "example_label"_a, "target_name"_a, "class_texts"_a, "file_names"_a, "ranks"_a);
    m.def(
        "_tab_meta_information",
        [](Text<"content"> content, Text<"file_name"> file_name) {
            return range_map_to_py(tabular::meta_information(tabular::parse_meta(content.value, file_name.value)));
        },
        "content"_a, "file_name"_a);
    m.def(
        "_tab_meta_constants",
        [](Text<"content"> content, Text<"file_name"> file_name) {
            return tabular::meta_constants(tabular::parse_meta(content.value, file_name.value), host_lower());
        },
        "content"_a, "file_name"_a);
    m.def(
        "_tab_decode",
        [](Texts<"rule_set"> rules, nb::handle ranges) {
            const tabular::RuleDecoder decoder(range_map_from(ranges), host_lower());
            std::vector<std::string> out;
            out.reserve(rules.items.size());
            for (const std::string& r : rules.items) out.push_back(decoder.decode(r));
            return out;
        },
        "rules"_a, "dict_1"_a);
    m.def(
        "_tab_value_term",
        [](Text<"text"> text) { return tabular::value_term(text.value, host_lower()); }, "text"_a);
    m.def(
        "_tab_predicate_term",
        [](Text<"text"> text) { return tabular::predicate_term(text.value, host_lower()); },
        "text"_a);
}

}  // namespace vantor::py
