#include "bottom/odd_lines.hpp"

#include <algorithm>

namespace vantor::bottom {

namespace {
enum : std::uint8_t { kPlain = 0, kOdd = 1, kForeign = 2, kUnderscore = 4 };

// Per byte: plain, odd (an ASCII byte plain facts never hold) or foreign
// (part of a non-ASCII character, which may still be a blank).
struct ByteKinds {
    std::uint8_t table[256];
    ByteKinds() {
        for (int c = 0; c < 256; ++c) table[c] = c < 0x80 ? kOdd : kForeign;
        for (int c = 'a'; c <= 'z'; ++c) table[c] = kPlain;
        for (int c = '0'; c <= '9'; ++c) table[c] = kPlain;
        // Python's str.isspace() for ASCII counts 0x1C-0x1F as blanks.
        for (unsigned char c : std::string_view("(),. \t\x0b\x0c\x1c\x1d\x1e\x1f")) table[c] = kPlain;
        table[static_cast<unsigned char>('_')] = kUnderscore;  // plain, but may start a term
    }
};
const ByteKinds kKinds;

// Where the next byte of one value lies, found with memchr and remembered:
// the text is searched once per value in all.
class NextByte {
public:
    NextByte(std::string_view text, char c) : text_(text), c_(c) {}
    std::size_t at_or_after(std::size_t from) {
        if (!searched_ || pos_ < from) {
            pos_ = std::min(text_.find(c_, from), text_.size());
            searched_ = true;
        }
        return pos_;
    }

private:
    std::string_view text_;
    char c_;
    std::size_t pos_ = 0;
    bool searched_ = false;
};

bool underscore_term(std::string_view line) {
    for (std::size_t at = line.find('_'); at != std::string_view::npos; at = line.find('_', at + 1)) {
        if (at > 0 && (line[at - 1] == '(' || line[at - 1] == ',' || line[at - 1] == ' ')) return true;
    }
    return false;
}
}  // namespace

OddLines find_odd_lines(std::string_view content, std::size_t limit) {
    OddLines result;
    std::vector<OddLine>& found = result.lines;
    const auto* data = reinterpret_cast<const unsigned char*>(content.data());
    const std::size_t n = content.size();
    std::uint32_t number = 1;
    std::size_t start = 0;
    bool after_break = false;
    std::string_view previous;
    NextByte line_feed(content, '\n'), carriage_return(content, '\r');
    while (true) {
        // The line's bytes are only OR-ed together: no test per byte.
        const std::size_t end = std::min(line_feed.at_or_after(start), carriage_return.at_or_after(start));
        std::uint8_t marks = kPlain;
        for (std::size_t i = start; i < end; ++i) marks |= kKinds.table[data[i]];
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
        const bool certain = (marks & kOdd) || ((marks & kUnderscore) && underscore_term(line));
        if (certain || (marks & kForeign)) {
            if (!found.empty() && found.back().number == number) {
                found.back().certain = found.back().certain || certain;
            } else {
                found.push_back({number, std::string(line), certain});
            }
        }
        if (found.size() > limit) {
            found.resize(limit);
            result.complete = false;
            break;
        }
        if (end >= n) break;
        previous = line;
        start = end + ((data[end] == '\r' && end + 1 < n && data[end + 1] == '\n') ? 2 : 1);
        after_break = true;
        ++number;
    }
    return result;
}

}  // namespace vantor::bottom
