// The lines of a background file worth the input check's full look, found
// while the file is read for bottom clauses (one read serves both).
//
// The check warns about lines that Prolog reads differently from the
// learner (capitalised or quote-needing terms, rules, directives). Plain
// facts hold only lower-case letters, digits, "_", brackets, commas, full
// stops and blanks; a line with any other byte is a candidate, and so is a
// line holding a term that starts with "_". Lines are numbered as a text
// file is read in Python: "\n", "\r\n" and a lone "\r" each end one line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::bottom {

struct OddLine {
    std::uint32_t number;  // from 1
    std::string text;      // without its line break
    // False: only a byte outside ASCII marks it (the checker decides, with
    // the full rules for blanks, whether the line is odd after all).
    bool certain;
};

// Candidates in line order, the first `limit` of them (the checker needs
// them only up to the first real problem, usually the first one).
struct OddLines {
    std::vector<OddLine> lines;
    bool complete = true;  // false: more candidates follow the ones kept
};

// A line followed by one that starts with "_" is a candidate too: the
// checker has always looked at that line when it found "_" after a line
// break, and keeps doing so.
OddLines find_odd_lines(std::string_view content, std::size_t limit);

}  // namespace vantor::bottom
