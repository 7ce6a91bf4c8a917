#include "cidscan/reportfile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace cidscan {

namespace {

// The folder part of a path ("." when it has none).
std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The mode the new file gets: the replaced file's, else what the umask leaves
// of rw-rw-rw-.
mode_t modeFor(const std::string& target) {
    struct stat st {};
    if (stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

std::string failure(const std::string& what, int errnum) { return what + ": " + std::strerror(errnum); }

// Writes all of `text` to `fd`, flushed to the disk.
bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return fsync(fd) == 0 || errno == EINVAL;
}

}  // namespace

ReplacingFile::ReplacingFile(std::string target) : target_(std::move(target)) {
    struct stat st {};
    if (lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // Replace what the link names, not the link.
        char resolved[PATH_MAX];
        if (realpath(target_.c_str(), resolved) != nullptr) target_ = resolved;
    }
    if (stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error_ = target_ + ": is not a regular file";
        return;
    }
    const std::string base = baseOf(target_);
    if (base.empty() || base == "." || base == "..") {
        error_ = target_ + ": names a folder, not a file";
        return;
    }
    std::string probe;
    const int fd = createTemporary(probe);
    if (fd < 0) return;
    close(fd);
    unlink(probe.c_str());
}

int ReplacingFile::createTemporary(std::string& name) {
    const std::string pattern = folderOf(target_) + "/." + baseOf(target_) + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) {
        error_ = failure("can't create a file in " + folderOf(target_), errno);
        return -1;
    }
    name = buffer.data();
    return fd;
}

bool ReplacingFile::commit(std::string_view text) {
    if (!error_.empty()) return false;
    if (committed_) {
        error_ = target_ + ": already written";
        return false;
    }
    committed_ = true;
    const mode_t mode = modeFor(target_);
    std::string temporary;
    const int fd = createTemporary(temporary);
    if (fd < 0) return false;
    const bool written = fchmod(fd, mode) == 0 && writeAll(fd, text);
    const int writeErrno = errno;
    if (close(fd) != 0 || !written) {
        error_ = failure("can't write " + target_, written ? errno : writeErrno);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), target_.c_str()) != 0) {
        error_ = failure("can't replace " + target_, errno);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace cidscan
