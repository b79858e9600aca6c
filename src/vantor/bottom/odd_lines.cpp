#include "bottom/odd_lines.hpp"

namespace vantor::bottom {

namespace {
enum : std::uint8_t { kPlain = 0, kOdd = 1, kForeign = 2, kBreak = 4 };

// Per byte: plain, odd (an ASCII byte plain facts never hold), foreign (part
// of a non-ASCII character, which may still be a blank) or a line break.
struct ByteKinds {
    std::uint8_t table[256];
    ByteKinds() {
        for (int c = 0; c < 256; ++c) table[c] = c < 0x80 ? kOdd : kForeign;
        for (int c = 'a'; c <= 'z'; ++c) table[c] = kPlain;
        for (int c = '0'; c <= '9'; ++c) table[c] = kPlain;
        // Python's str.isspace() for ASCII counts 0x1C-0x1F as blanks.
        for (unsigned char c : std::string_view("_(),. \t\x0b\x0c\x1c\x1d\x1e\x1f")) table[c] = kPlain;
        table[static_cast<unsigned char>('\n')] = kBreak;
        table[static_cast<unsigned char>('\r')] = kBreak;
    }
};
const ByteKinds kKinds;

bool underscore_term(std::string_view line) {
    for (std::size_t at = line.find('_'); at != std::string_view::npos; at = line.find('_', at + 1)) {
        if (at > 0 && (line[at - 1] == '(' || line[at - 1] == ',' || line[at - 1] == ' ')) return true;
    }
    return false;
}
}  // namespace

std::vector<OddLine> find_odd_lines(std::string_view content) {
    std::vector<OddLine> found;
    const auto* data = reinterpret_cast<const unsigned char*>(content.data());
    const std::size_t n = content.size();
    std::uint32_t number = 1;
    std::size_t start = 0;
    bool after_break = false;
    std::string_view previous;
    while (start <= n) {
        std::uint8_t marks = kPlain;
        std::size_t end = start;
        for (; end < n; ++end) {
            const std::uint8_t kind = kKinds.table[data[end]];
            if (kind == kBreak) break;
            marks |= kind;
        }
        const std::string_view line = content.substr(start, end - start);
        if (!line.empty() && line[0] == '_') {
            // The checker looks at the line before the break that precedes
            // "_" (or at this one when it opens the file).
            if (!after_break) {
                found.push_back({number, std::string(line), true});
            } else if (found.empty() || found.back().number != number - 1) {
                found.push_back({number - 1, std::string(previous), true});
            } else {
                found.back().certain = true;
            }
        }
        const bool certain = (marks & kOdd) || underscore_term(line);
        if (certain || (marks & kForeign)) {
            if (!found.empty() && found.back().number == number) {
                found.back().certain = found.back().certain || certain;
            } else {
                found.push_back({number, std::string(line), certain});
            }
        }
        if (end >= n) break;
        previous = line;
        start = end + ((data[end] == '\r' && end + 1 < n && data[end + 1] == '\n') ? 2 : 1);
        after_break = true;
        ++number;
    }
    return found;
}

}  // namespace vantor::bottom
