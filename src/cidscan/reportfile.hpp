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
    // Makes sure at once that a file can be made beside the target (one is
    // created and removed again), so that a target that can't be written is
    // known before any work is done, and a run killed before its end leaves
    // nothing behind. A symbolic link is followed: the file it names is
    // replaced and the link stays. A target that exists and is not a regular
    // file (a directory, a device) is refused.
    explicit ReplacingFile(std::string target);

    [[nodiscard]] bool ok() const { return error_.empty(); }
    // Why the file can't be or wasn't written; empty while all is well.
    [[nodiscard]] const std::string& error() const { return error_; }

    // Writes `text` to a new temporary file, closes it and renames it over
    // the target; false (with error()) when any step fails. Once only.
    bool commit(std::string_view text);

private:
    // A new temporary file beside the target, its name in `name`; -1 (and
    // error_ set) when it can't be made.
    int createTemporary(std::string& name);

    std::string target_;
    std::string error_;
    bool committed_ = false;
};

}  // namespace cidscan
