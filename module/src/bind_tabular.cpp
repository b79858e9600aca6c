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
        nb::str text(s.data(), s.size());
        return nb::cast<std::string>(text.attr("lower")());
    };
}

std::vector<std::string> texts_from(nb::handle seq, const char* parameter) {
    std::vector<std::string> out;
    for (nb::handle item : seq) {
        if (!nb::isinstance<nb::str>(item)) raise_type_error(parameter, "a list of texts", item);
        out.push_back(nb::cast<std::string>(item));
    }
    return out;
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
                            nb::cast<std::string>(nb::type_name(item.type())));
        }
        ++row;
    }
    return out;
}

nb::tuple column_result(const std::string& column_name, const tabular::ColumnEncoding& enc,
                        bool background) {
    nb::str meta(enc.meta_block.c_str(), enc.meta_block.size());
    if (background) {
        const std::string lines = tabular::background_lines(column_name, enc, host_lower());
        return nb::make_tuple(meta, nb::str(lines.c_str(), lines.size()), enc.encoded);
    }
    return nb::make_tuple(meta, nb::cast(tabular::raw_facts(column_name, enc.labels)), enc.encoded);
}

tabular::RangeMap range_map_from(nb::handle dict_1) {
    if (!nb::isinstance<nb::dict>(dict_1)) {
        raise_type_error("dict_1", "a dict from feature key to list of range texts", dict_1);
    }
    tabular::RangeMap out;
    for (auto [key, value] : nb::borrow<nb::dict>(dict_1)) {
        if (!nb::isinstance<nb::str>(key)) raise_type_error("dict_1", "a dict with text keys", key);
        if (nb::isinstance<nb::str>(value)) {
            raise_type_error("dict_1", "a dict of lists of range texts", value);
        }
        out.emplace_back(nb::cast<std::string>(key), texts_from(value, "dict_1"));
    }
    return out;
}

nb::dict range_map_to_py(const tabular::RangeMap& map) {
    nb::dict out;
    for (const auto& [key, ranges] : map) out[nb::str(key.c_str(), key.size())] = nb::cast(ranges);
    return out;
}

}  // namespace

void bind_tabular(nb::module_& m) {
    m.def(
        "_tab_categorical",
        [](nb::handle texts, const std::string& column_name, bool background) {
            return column_result(column_name,
                                 tabular::encode_categorical(column_name, texts_from(texts, "texts"),
                                                             host_lower()),
                                 background);
        },
        "texts"_a, "column_name"_a, "background"_a);
    m.def(
        "_tab_numeric",
        [](nb::handle numbers, nb::handle texts, const std::string& column_name, long long default_div,
           std::optional<long long> condition, bool background) {
            return column_result(
                column_name,
                tabular::encode_numeric(column_name, numbers_from(numbers, column_name),
                                        texts_from(texts, "texts"), default_div, condition,
                                        host_lower()),
                background);
        },
        "numbers"_a, "texts"_a, "column_name"_a, "default_div"_a, "condition"_a.none(),
        "background"_a);
    m.def(
        "_tab_example_texts",
        [](const std::string& label, const std::string& target_name, nb::handle class_texts,
           nb::handle file_names, const std::vector<std::size_t>& ranks) {
            tabular::ExampleTexts t = tabular::example_texts(
                label, target_name, texts_from(class_texts, "classes"),
                texts_from(file_names, "file names"), ranks);
            return nb::make_tuple(nb::str(t.meta_block.c_str(), t.meta_block.size()),
                                  nb::cast(t.file_texts));
        },
        "example_label"_a, "target_name"_a, "class_texts"_a, "file_names"_a, "ranks"_a);
    m.def(
        "_tab_meta_information",
        [](const std::string& content, const std::string& file_name) {
            return range_map_to_py(tabular::meta_information(tabular::parse_meta(content, file_name)));
        },
        "content"_a, "file_name"_a);
    m.def(
        "_tab_meta_constants",
        [](const std::string& content, const std::string& file_name) {
            return tabular::meta_constants(tabular::parse_meta(content, file_name), host_lower());
        },
        "content"_a, "file_name"_a);
    m.def(
        "_tab_decode",
        [](nb::handle rules, nb::handle dict_1) {
            if (nb::isinstance<nb::str>(rules)) raise_type_error("rule_set", "a list of rule texts", rules);
            const std::vector<std::string> texts = texts_from(rules, "rule_set");
            const tabular::RuleDecoder decoder(range_map_from(dict_1), host_lower());
            std::vector<std::string> out;
            out.reserve(texts.size());
            for (const std::string& r : texts) out.push_back(decoder.decode(r));
            return out;
        },
        "rules"_a, "dict_1"_a);
    m.def(
        "_tab_value_term",
        [](const std::string& text) { return tabular::value_term(text, host_lower()); }, "text"_a);
    m.def(
        "_tab_predicate_term",
        [](const std::string& text) { return tabular::predicate_term(text, host_lower()); },
        "text"_a);
}

}  // namespace vantor::py
