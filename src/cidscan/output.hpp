// cidscan's outputs: a readable UTF-8 block or a JSON Lines object per
// message, written whole and flushed at once, from any number of threads.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "cidscan/found.hpp"
#include "cidscan/htmlreport.hpp"
#include "cidscan/options.hpp"

namespace cidscan {

// The readable block: a heading line, one indented line per field, the
// check's verdict, and a blank line.
[[nodiscard]] std::string formatText(const FoundMessage& found);
// One JSON object (the keys the manual page lists) and a line end.
[[nodiscard]] std::string formatJson(const FoundMessage& found);
// What the message is, by its type: "caller ID (MDMF)", "call set-up", ...
[[nodiscard]] std::string messageTypeName(const sigcore::Message& m);
// Whether its checksum, CRC or framing came out right, in words.
[[nodiscard]] std::string messageVerdict(const sigcore::Message& m);
// "bell202" or "v23-ntt".
[[nodiscard]] const char* standardName(sigcore::Standard standard);

class MessageWriter {
public:
    MessageWriter(std::FILE* out, OutputFormat format, bool once) : out_(out), format_(format), once_(once) {}

    // --report: every message written and every error go to `report` too.
    void reportTo(ReportCollector* report) { report_ = report; }

    // Writes one message; returns false when no more are wanted (--once
    // after its message, or the output failed).
    bool write(const FoundMessage& found);
    // A line on standard error, never inside a message on a shared terminal.
    void error(const std::string& line);
    [[nodiscard]] bool failed() const;
    // A message written failed its --check.
    [[nodiscard]] bool checkFailed() const;

private:
    std::FILE* out_;
    OutputFormat format_;
    bool once_;
    ReportCollector* report_ = nullptr;
    mutable std::mutex mutex_;
    int written_ = 0;
    bool failed_ = false;
    bool checkFailed_ = false;
};

}  // namespace cidscan
