#include "engine/working_dir.hpp"

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

namespace vantor::engine {

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

namespace {

// A file being written with plain system calls, so that every short or
// failed write is seen (a full disk, a file-size limit). Unless committed,
// the file is removed again: nothing half-written is ever left to be loaded.
class CheckedWriter {
public:
    CheckedWriter(const fs::path& path, int flags) : path_(path) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
        if (fd_ < 0) throw_os_error(errno, path_.string(), "cannot write");
    }
    ~CheckedWriter() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlink(path_.c_str());
    }
    CheckedWriter(const CheckedWriter&) = delete;
    CheckedWriter& operator=(const CheckedWriter&) = delete;

    void write(std::string_view bytes) {
        while (!bytes.empty()) {
            ssize_t n = ::write(fd_, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) continue;
            // write() returning 0 for a non-empty buffer means no space.
            if (n <= 0) fail(n < 0 ? errno : ENOSPC);
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    // Closing reports errors some file systems defer until then.
    void commit() {
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) fail(errno);
        committed_ = true;
    }

private:
    [[noreturn]] void fail(int error) {
        throw_os_error(error, path_.string(), "writing a working file failed");
    }

    fs::path path_;
    int fd_ = -1;
    bool committed_ = false;
};

}  // namespace

void write_file(const fs::path& path, std::string_view text) {
    CheckedWriter out(path, O_TRUNC);
    out.write(text);
    out.commit();
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
    CheckedWriter out(target, O_APPEND);
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        out.write(std::string_view(buffer.data(), static_cast<std::size_t>(in.gcount())));
    }
    if (in.bad()) throw_os_error(EIO, source.string(), "cannot read");
    out.commit();
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

}  // namespace vantor::engine
