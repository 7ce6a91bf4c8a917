// cidscan --expect MANIFEST FILE...: each file decoded and set against what a
// test plan's manifest (cidgen --plan) says a receiver must do with it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cidscan/found.hpp"
#include "cidscan/options.hpp"

namespace cidscan {

// Every file agreed with its manifest line.
inline constexpr int kExitExpectDisagreed = 4;

// What the manifest says about one file.
enum class Expectation { Display, Reject, Either };

struct ManifestLine {
    std::string file;  // a plain name, as in the plan's folder
    Expectation expect = Expectation::Either;
    std::string raw;   // the message's bytes in lowercase hex
};

struct Manifest {
    std::vector<ManifestLine> lines;
    std::string error;  // not empty: the manifest can't be used (names the line)
};

// The manifest's JSON lines: `file`, `expect` and `message.raw` of each.
[[nodiscard]] Manifest parseManifest(const std::string& text);

struct Verdict {
    bool agree = false;
    std::string reason;
};

// The messages decoded from a file against its manifest line: display needs a
// valid message with the same bytes, reject no valid message, either nothing.
[[nodiscard]] Verdict judgeFile(const ManifestLine& line, const std::vector<sigcore::Message>& messages);

// The manifest line of a file given on the command line, by its last path
// component; null when none.
[[nodiscard]] const ManifestLine* lineFor(const Manifest& manifest, const std::string& path);

// Decodes every file of options.files and writes one verdict a line (or a
// JSON object with --json), then a summary; returns the exit status.
int runExpect(const Options& options);

}  // namespace cidscan
