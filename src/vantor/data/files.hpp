// Reading the text inputs: example files, background files and the
// constants of chosen background argument positions.
//
// Files are UTF-8; a byte-order mark at the very start is not part of the
// text (editors on some systems write one) and is dropped. Background files are split with the full set of line
// breaks Python's str.splitlines() knows; example files are read line by
// line as a text-mode file iterates (only \n, \r\n and \r end a line), so a
// form feed inside an example line stays in that line.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host.hpp"
#include "text/clause.hpp"

namespace vantor::data {

// An operating-system error other than a missing file while opening or
// reading `path` (permission denied, a directory, ...); `error` is the errno.
using FileError = vantor::OSError;

// The whole file as bytes, without a leading byte-order mark. Raises
// FileNotFound, FileError, or ValueError when the content is not valid
// UTF-8 (naming the file and the byte offset).
std::string read_text_file(const std::string& path);

// Background rule: split into lines, drop the lines that are empty as read,
// trim the rest (a line of blanks becomes an empty text). The views point
// into `content`.
// `content` must be valid UTF-8 (as read_text_file returns it).
std::vector<std::string_view> background_lines(std::string_view content);

// True for a line whose first non-blank character is "%": a comment to
// Prolog, never a fact.
bool comment_line(std::string_view line);

// Example rule: a line is kept, trimmed, unless it is empty after trimming
// or its very first character is "%".
std::vector<std::string> example_lines(std::string_view content);

std::vector<std::string> read_example(const std::string& path);

// Positions to collect per predicate; a negative position counts from the
// end, as indexing a host list does.
using RelationMap = std::map<std::string, std::vector<long long>, std::less<>>;

// The values at the listed positions of every line whose predicate is a key
// of `relation`, in line order then listed order, each value once (first
// occurrence). Raises IndexError (naming the line) for a position outside a
// fact's arguments; nothing is returned then.
std::vector<text::Arg> collect_constants(const std::vector<std::string_view>& lines,
                                         const RelationMap& relation);

}  // namespace vantor::data
