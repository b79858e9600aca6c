#include "eval/working_dir.hpp"

#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

#include "host.hpp"

namespace vantor::eval {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void throw_os_error(int error, const std::string& path, const std::string& what) {
    throw OSError(error, path, what + ": " + std::strerror(error));
}

fs::path temporary_root() {
    std::error_code ec;
    fs::path root = fs::temp_directory_path(ec);
    if (ec) throw_os_error(ec.value(), "$TMPDIR", "no usable temporary directory");
    return root;
}

}  // namespace

PrivateDir::PrivateDir() {
    std::string name = (temporary_root() / "vantor-XXXXXX").string();
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) throw_os_error(errno, name, "cannot create a working directory");
    path_ = buffer.data();
}

PrivateDir::~PrivateDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void write_file(const fs::path& path, std::string_view text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw_os_error(errno ? errno : EIO, path.string(), "cannot write");
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
    f.close();
    if (!f) throw_os_error(errno ? errno : EIO, path.string(), "cannot write");
}

void append_file_bytes(const fs::path& target, const fs::path& source) {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) throw FileNotFound(source.string());
        throw_os_error(errno ? errno : EIO, source.string(), "cannot read");
    }
    // The source lands after other text: its byte-order mark would sit
    // mid-file, where Prolog reads it as a stray character.
    char mark[3] = {};
    in.read(mark, 3);
    if (in.gcount() != 3 || std::string_view(mark, 3) != "\xEF\xBB\xBF") {
        in.clear();
        in.seekg(0);
    }
    std::ofstream out(target, std::ios::binary | std::ios::app);
    if (!out) throw_os_error(errno ? errno : EIO, target.string(), "cannot write");
    if (in.peek() != std::char_traits<char>::eof()) out << in.rdbuf();
    out.close();
    if (!out) throw_os_error(errno ? errno : EIO, target.string(), "cannot write");
}

FileStamp readable_file_stamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) throw FileNotFound(path);
        throw_os_error(errno, path, "cannot read background file");
    }
    if (S_ISDIR(st.st_mode)) throw_os_error(EISDIR, path, "cannot read background file");
    if (::access(path.c_str(), R_OK) != 0) throw_os_error(errno, path, "cannot read background file");
    FileStamp stamp;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = static_cast<std::int64_t>(st.st_size);
    stamp.modified_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return stamp;
}

}  // namespace vantor::eval
