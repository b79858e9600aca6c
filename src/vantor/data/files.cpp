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

namespace {

[[noreturn]] void raise_os_error(int err, const std::string& path) {
    if (err == ENOENT) throw FileNotFound(path);
    throw FileError(err, path, std::string(std::strerror(err)) + ": '" + path + "'");
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

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
    // The system call would stop at the first NUL and open another file.
    if (path.find('\0') != std::string::npos) throw ValueError("embedded null byte in file name");
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
    // A mark left in would glue itself to the first fact or example.
    if (std::string_view(content).substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        content.erase(0, kByteOrderMark.size());
    }
    const std::size_t bad = first_invalid_utf8(content);
    if (bad != std::string_view::npos) {
        throw ValueError("'" + path + "' is not UTF-8 text: invalid byte at offset " +
                         std::to_string(bad));
    }
    return content;
}

std::vector<std::string_view> background_lines(std::string_view content) {
    // str.splitlines() on valid UTF-8, a byte at a time: every boundary is
    // an ASCII control byte or starts with 0xC2 (U+0085) or 0xE2 (U+2028/9).
    std::vector<std::string_view> lines;
    const auto* data = reinterpret_cast<const unsigned char*>(content.data());
    const std::size_t n = content.size();
    std::size_t start = 0;
    auto emit = [&](std::size_t end, std::size_t next) {
        if (end > start) lines.push_back(text::strip(content.substr(start, end - start)));
        start = next;
    };
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = data[i];
        if (c >= 0x20 && c != 0xC2 && c != 0xE2) {
            ++i;
        } else if (c == '\r') {
            const std::size_t next = (i + 1 < n && data[i + 1] == '\n') ? i + 2 : i + 1;
            emit(i, next);
            i = next;
        } else if (c == '\n' || c == 0x0B || c == 0x0C || c == 0x1C || c == 0x1D || c == 0x1E) {
            emit(i, i + 1);
            ++i;
        } else if (c == 0xC2 && i + 1 < n && data[i + 1] == 0x85) {
            emit(i, i + 2);
            i += 2;
        } else if (c == 0xE2 && i + 2 < n && data[i + 1] == 0x80 &&
                   (data[i + 2] == 0xA8 || data[i + 2] == 0xA9)) {
            emit(i, i + 3);
            i += 3;
        } else {
            ++i;
        }
    }
    emit(n, n);
    return lines;
}

bool comment_line(std::string_view line) {
    // Nearly every line starts with a letter: no need to trim those.
    if (!line.empty()) {
        const auto c = static_cast<unsigned char>(line.front());
        if (c > 0x20 && c < 0x80) return c == '%';
    }
    const std::string_view trimmed = text::strip(line);
    return !trimmed.empty() && trimmed.front() == '%';
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
