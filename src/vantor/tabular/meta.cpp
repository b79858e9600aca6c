#include <unordered_map>

#include "host.hpp"
#include "tabular/tabular.hpp"
#include "text/pystr.hpp"

namespace vantor::tabular {

namespace {

bool starts_with(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

[[noreturn]] void malformed(std::string_view file_name, std::size_t line_no, const std::string& why) {
    throw ValueError("malformed meta-information file " + std::string(file_name) + ", line " +
                     std::to_string(line_no) + ": " + why);
}

// A non-negative decimal count; nullopt for anything else.
std::optional<std::size_t> parse_count(std::string_view s) {
    if (s.empty() || s.size() > 18) return std::nullopt;
    std::size_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<std::size_t>(c - '0');
    }
    return v;
}

std::vector<std::string_view> file_lines(std::string_view text) {
    std::vector<std::string_view> lines = text::split(text, "\n");
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

// A "Feature Name : name<TAB>(Encoded) - k" or "(Not Encoded) - m" header:
// the block it opens (key and kind) and the count of lines that follow.
std::pair<MetaBlock, std::size_t> feature_header(std::string_view line, std::size_t line_no,
                                                 std::string_view file_name) {
    const std::size_t sep = line.find(" : ");
    if (sep == std::string_view::npos) malformed(file_name, line_no, "no ' : ' after 'Feature Name'");
    std::string_view name = text::strip(line.substr(sep + 3));
    name = text::strip(name.substr(0, name.find('\t')));
    MetaBlock block;
    block.key = text::replace(name, " ", "_", std::string::npos);

    // The kind and count follow the last tab, so a column name that itself
    // mentions "(Encoded)" cannot confuse the reader.
    const std::size_t tab = line.rfind('\t');
    if (tab == std::string_view::npos) {
        malformed(file_name, line_no, "expected a tab, then '(Encoded) - k' or '(Not Encoded) - m'");
    }
    const std::string_view tail = text::strip(line.substr(tab + 1));
    std::string_view count_text;
    if (starts_with(tail, "(Encoded) - ")) {
        block.encoded = true;
        count_text = tail.substr(12);
    } else if (starts_with(tail, "(Not Encoded) - ")) {
        count_text = tail.substr(16);
    } else {
        malformed(file_name, line_no, "expected '(Encoded) - k' or '(Not Encoded) - m' after the tab");
    }
    const std::optional<std::size_t> count = parse_count(text::strip(count_text));
    if (!count) malformed(file_name, line_no, "the count '" + std::string(count_text) + "' is not a whole number");
    if (block.encoded && *count == 0) malformed(file_name, line_no, "an encoded feature needs at least one range");
    return {std::move(block), *count};
}

// "TAB g<j> TAB [lo--hi]": the text between the brackets.
std::string_view range_line(std::string_view raw, std::size_t j, std::size_t line_no, std::string_view file_name) {
    const std::string_view t = text::strip(raw);
    const std::string label = range_label(j);
    const std::size_t field_end = t.find('\t');
    const bool label_ok = field_end != std::string_view::npos && t.substr(0, field_end) == label;
    std::string_view range;
    if (label_ok) {
        range = t.substr(field_end + 1);
        range = range.substr(0, range.find('\t'));
    }
    if (!label_ok || range.size() < 2 || range.front() != '[' || range.back() != ']') {
        malformed(file_name, line_no, "expected the range line '\\t" + label + "\\t[low--high]'");
    }
    return range.substr(1, range.size() - 2);
}

// "(Spelled) - j : term" notes right after a categorical block: value j is
// written as term in the background file. Returns the position after them.
std::size_t spelled_notes(const std::vector<std::string_view>& lines, std::size_t i, MetaBlock& block,
                          std::string_view file_name) {
    static constexpr std::string_view note = "(Spelled) - ";
    for (; i < lines.size(); ++i) {
        const std::string_view t = text::strip(lines[i]);
        if (!starts_with(t, note)) break;
        const std::string_view rest = t.substr(note.size());
        const std::size_t sep = rest.find(" : ");
        const std::optional<std::size_t> j =
            sep == std::string_view::npos ? std::nullopt : parse_count(rest.substr(0, sep));
        if (!j || *j >= block.values.size() || sep + 3 >= rest.size()) {
            malformed(file_name, i + 1, "expected '(Spelled) - j : term' for one of the " +
                                            std::to_string(block.values.size()) + " values above");
        }
        block.spelled[*j] = std::string(rest.substr(sep + 3));
    }
    return i;
}

}  // namespace

std::vector<MetaBlock> parse_meta(std::string_view text, std::string_view file_name) {
    const std::vector<std::string_view> lines = file_lines(text);
    std::vector<MetaBlock> blocks;
    std::size_t i = 0;
    while (i < lines.size()) {
        const std::size_t line_no = i + 1;
        const std::string_view line = text::strip(lines[i]);
        ++i;
        // Only feature headers open blocks; the target block and anything
        // else outside a feature block is not needed by the readers.
        if (!starts_with(line, "Feature Name")) continue;
        auto [block, count] = feature_header(line, line_no, file_name);
        if (lines.size() - i < count) {
            malformed(file_name, line_no, "the header announces " + std::to_string(count) +
                                          " lines but the file ends after " + std::to_string(lines.size() - i));
        }
        for (std::size_t j = 0; j < count; ++j, ++i) {
            const std::string_view raw = lines[i];
            if (block.encoded) {
                block.ranges.emplace_back(range_line(raw, j, i + 1, file_name));
            } else {
                // TAB value: the value itself may begin or end with blanks.
                block.values.emplace_back(starts_with(raw, "\t") ? raw.substr(1) : raw);
            }
        }
        if (!block.encoded) i = spelled_notes(lines, i, block, file_name);
        blocks.push_back(std::move(block));
    }
    return blocks;
}

RangeMap meta_information(const std::vector<MetaBlock>& blocks) {
    RangeMap out;
    std::unordered_map<std::string, std::size_t> index;
    for (const MetaBlock& b : blocks) {
        auto [it, fresh] = index.emplace(b.key, out.size());
        if (fresh) {
            out.emplace_back(b.key, b.ranges);
        } else {
            out[it->second].second = b.ranges;
        }
    }
    return out;
}

std::vector<std::string> meta_constants(const std::vector<MetaBlock>& blocks, const LowerFn& lower) {
    std::vector<std::string> out;
    for (const MetaBlock& b : blocks) {
        if (b.encoded) {
            for (std::size_t j = 0; j < b.ranges.size(); ++j) out.push_back(range_label(j));
        } else {
            for (std::size_t j = 0; j < b.values.size(); ++j) {
                const auto spelled = b.spelled.find(j);
                out.push_back(spelled != b.spelled.end() ? spelled->second : value_term(b.values[j], lower));
            }
        }
    }
    return out;
}

}  // namespace vantor::tabular
