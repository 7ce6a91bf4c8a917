// --report FILE: one self-contained HTML page of a run, the way a result is
// attached to a test record: what was run, then per file and channel a
// timing diagram and each message's or signal's decoded fields,
// measurement and check. No script, no external resource: the style is
// inline and the diagrams are inline SVG.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cidscan/found.hpp"
#include "sigcore/measure/limits.hpp"

namespace cidscan {

// What the page's heading says about the run.
struct ReportRun {
    std::string version;
    std::string started;                 // when the run began, as written on the page
    std::vector<std::string> arguments;  // the command line after the program name
    std::vector<std::string> files;      // the inputs, in the order given
    std::optional<sigcore::CheckStandard> check;
};

// The page for `records` (grouped by file in the order of run.files, then
// by channel, then by time) and the errors met reading the inputs.
[[nodiscard]] std::string renderReport(const ReportRun& run, std::vector<FoundMessage> records,
                                       const std::vector<std::string>& errors);

// The current time as "YYYY-MM-DD HH:MM:SS UTC".
[[nodiscard]] std::string utcNow();

// Collects what the run writes, from any number of threads.
class ReportCollector {
public:
    void add(const FoundMessage& found);
    void error(const std::string& line);
    [[nodiscard]] std::string render(const ReportRun& run) const;

private:
    mutable std::mutex mutex_;
    std::vector<FoundMessage> records_;
    std::vector<std::string> errors_;
};

}  // namespace cidscan
