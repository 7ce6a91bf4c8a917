// A file written whole or not at all: the text goes to a temporary file
// beside the target, which is renamed over the target only once every byte
// is written and the file is closed. A failure leaves the target as it was
// and no temporary file behind.
#pragma once

#include <string>
#include <string_view>

namespace cidscan {

class ReplacingFile {
public:
    // Creates the temporary file at once, so that a target that can't be
    // written is known before any work is done. A symbolic link is followed:
    // the file it names is replaced and the link stays. A target that exists
    // and is not a regular file (a directory, a device) is refused.
    explicit ReplacingFile(std::string target);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    [[nodiscard]] bool ok() const { return error_.empty(); }
    // Why the file can't be or wasn't written; empty while all is well.
    [[nodiscard]] const std::string& error() const { return error_; }
    // The temporary file's name while it exists.
    [[nodiscard]] const std::string& temporaryName() const { return temporary_; }

    // Writes `text`, closes the file and renames it over the target; false
    // (with error()) when any step fails. Once only.
    bool commit(std::string_view text);

private:
    void fail(const std::string& what, int errnum);
    void discard();

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    std::string error_;
};

}  // namespace cidscan
