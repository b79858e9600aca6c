#include "data/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "host.hpp"
#include "text/pystr.hpp"

namespace vantor::data {

FileError::FileError(int err, std::string p)
    : std::runtime_error(std::string(std::strerror(err)) + ": '" + p + "'"),
      error(err),
      path(std::move(p)) {}

namespace {

[[noreturn]] void raise_os_error(int err, const std::string& path) {
    if (err == ENOENT) throw FileNotFound(path);
    throw FileError(err, path);
}

// Offset of the first byte that is not part of valid UTF-8, or npos.
std::size_t first_invalid_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        // ASCII runs are the common case; skip them eight bytes at a time.
        while (i + 8 <= s.size()) {
            std::uint64_t block;
            std::memcpy(&block, s.data() + i, 8);
            if (block & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= s.size()) break;
        const auto b0 = static_cast<unsigned char>(s[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        const std::size_t before = i;
        const char32_t cp = text::next_code_point(s, i);
        if (i == before + 1 && cp == b0) return before;
    }
    return std::string_view::npos;
}

}  // namespace

std::string read_text_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) raise_os_error(errno, path);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) raise_os_error(errno, path);
    if (S_ISDIR(st.st_mode)) raise_os_error(EISDIR, path);
    std::string content;
    if (S_ISREG(st.st_mode) && st.st_size > 0) content.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[1 << 16];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            raise_os_error(errno, path);
        }
        if (got == 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    const std::size_t bad = first_invalid_utf8(content);
    if (bad != std::string_view::npos) {
        throw ValueError("'" + path + "' is not UTF-8 text: invalid byte at offset " +
                         std::to_string(bad));
    }
    return content;
}

std::vector<std::string_view> background_lines(std::string_view content) {
    std::vector<std::string_view> lines;
    for (std::string_view line : text::split_lines(content)) {
        if (!line.empty()) lines.push_back(text::strip(line));
    }
    return lines;
}

std::vector<std::string> example_lines(std::string_view content) {
    std::vector<std::string> kept;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find_first_of("\r\n", start);
        std::size_t next;
        if (end == std::string_view::npos) {
            end = content.size();
            next = end;
        } else if (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n') {
            next = end + 2;
        } else {
            next = end + 1;
        }
        const std::string_view line = content.substr(start, end - start);
        const std::string_view trimmed = text::strip(line);
        if (!trimmed.empty() && line.front() != '%') kept.emplace_back(trimmed);
        start = next;
    }
    return kept;
}

std::vector<std::string> read_example(const std::string& path) {
    return example_lines(read_text_file(path));
}

std::vector<text::Arg> collect_constants(const std::vector<std::string_view>& lines,
                                         const RelationMap& relation) {
    std::vector<text::Arg> found;
    if (relation.empty()) return found;
    std::unordered_set<std::string> seen_texts;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string_view line = lines[n];
        const auto entry = relation.find(text::predicate_of(line));
        if (entry == relation.end()) continue;
        const std::vector<text::Arg> args = text::Clause(line).args();
        const auto count = static_cast<long long>(args.size());
        for (const long long listed : entry->second) {
            const long long pos = listed < 0 ? listed + count : listed;
            if (pos < 0 || pos >= count) {
                throw IndexError("read_constants_bk: position " + std::to_string(listed) +
                                 " is outside the " + std::to_string(count) +
                                 " argument(s) of the fact '" + std::string(line) + "' (background line " +
                                 std::to_string(n + 1) + " after empty lines are dropped)");
            }
            const text::Arg& value = args[static_cast<std::size_t>(pos)];
            if (!value.is_list) {
                if (!seen_texts.insert(value.text).second) continue;
            } else {
                bool again = false;
                for (const text::Arg& f : found) again = again || f == value;
                if (again) continue;
            }
            found.push_back(value);
        }
    }
    return found;
}

}  // namespace vantor::data
