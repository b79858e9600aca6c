// Files an evaluation writes for the engine to load, kept out of the
// caller's working directory: each call gets a directory of its own, so two
// runs in one folder, a read-only folder or a user's file of the same name
// are never disturbed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace vantor::engine {

// A fresh directory under the system's temporary directory ($TMPDIR or
// /tmp), removed with everything in it when the object goes.
class PrivateDir {
public:
    PrivateDir();  // throws OSError
    ~PrivateDir();
    PrivateDir(const PrivateDir&) = delete;
    PrivateDir& operator=(const PrivateDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Creates or truncates `path` with exactly `text`; throws OSError.
void write_file(const std::filesystem::path& path, std::string_view text);

// Appends the bytes of `source` to `target`; throws OSError (FileNotFound
// when `source` is gone).
void append_file_bytes(const std::filesystem::path& target, const std::filesystem::path& source);

// What identifies one version of a file: the same file (device, inode) with
// the same size and modification time is taken as unchanged.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = -1;
    std::int64_t modified_ns = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of a readable regular file. Throws FileNotFound, or OSError for
// a directory or a file that cannot be read.
FileStamp readable_file_stamp(const std::string& path);

}  // namespace vantor::engine
