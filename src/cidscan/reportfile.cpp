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
mode_t modeFor(const struct stat* existing) {
    if (existing != nullptr) return existing->st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

ReplacingFile::ReplacingFile(std::string target) : target_(std::move(target)) {
    struct stat st {};
    if (lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // Replace what the link names, not the link.
        char resolved[PATH_MAX];
        if (realpath(target_.c_str(), resolved) != nullptr) target_ = resolved;
    }
    const bool exists = stat(target_.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        error_ = target_ + ": is not a regular file";
        return;
    }
    const std::string base = baseOf(target_);
    if (base.empty() || base == "." || base == "..") {
        error_ = target_ + ": names a folder, not a file";
        return;
    }
    std::string name = folderOf(target_) + "/." + base + ".XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    fd_ = mkstemp(buffer.data());
    if (fd_ < 0) {
        fail("can't create a file in " + folderOf(target_), errno);
        return;
    }
    temporary_ = buffer.data();
    if (fchmod(fd_, modeFor(exists ? &st : nullptr)) != 0) fail("can't set the mode of " + temporary_, errno);
}

ReplacingFile::~ReplacingFile() { discard(); }

void ReplacingFile::fail(const std::string& what, int errnum) {
    if (error_.empty()) error_ = what + ": " + std::strerror(errnum);
    discard();
}

void ReplacingFile::discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
}

bool ReplacingFile::commit(std::string_view text) {
    if (fd_ < 0) {
        if (error_.empty()) error_ = target_ + ": already written";
        return false;
    }
    const std::string shown = target_;
    while (!text.empty()) {
        const ssize_t n = write(fd_, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail("can't write " + shown, n < 0 ? errno : EIO);
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    if (fsync(fd_) != 0 && errno != EINVAL) {
        fail("can't write " + shown, errno);
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        fail("can't write " + shown, errno);
        return false;
    }
    if (rename(temporary_.c_str(), target_.c_str()) != 0) {
        fail("can't replace " + target_, errno);
        return false;
    }
    temporary_.clear();
    return true;
}

}  // namespace cidscan
