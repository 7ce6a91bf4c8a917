// Helpers shared by the fuzz targets: a scratch folder for the files a target
// writes, the byte stream of the decoder targets, and checked properties.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sigcore/report/report.hpp"

namespace fuzzsupport {

// A folder of this process's own under the temporary directory (TMPDIR),
// removed with its files when the process ends normally.
const std::string& scratchDir();
// scratchDir() + "/" + name
std::string scratchFile(const std::string& name);
// Writes the bytes to the scratch file `name` and returns its path.
std::string writeScratch(const std::string& name, const std::uint8_t* data, std::size_t size);
std::string readWhole(const std::string& path);
// Size of a file in bytes, -1 when it can't be examined.
long long fileSize(const std::string& path);

// The calls of the decoder targets: every byte is handed on as it is, except
// the escape 0x5C: 0x5C 0x5C is the byte 0x5C itself, 0x5C followed by any
// other byte is a reset (-1) and consumes that byte.
inline constexpr std::uint8_t kEscape = 0x5C;
std::vector<int> decoderCalls(const std::uint8_t* data, std::size_t size);

// A report that throws every line away (the null device).
void openNullReport(sigcore::Report& report);
// A report whose lines are kept in memory; readMemoryReport closes it and
// returns what was written.
struct MemoryReport {
    char* buffer = nullptr;
    std::size_t length = 0;
};
void openMemoryReport(sigcore::Report& report, MemoryReport& memory);
std::string readMemoryReport(sigcore::Report& report, MemoryReport& memory);

// A property of the code under test that failed: prints it and aborts, which
// the fuzzer records as a finding with the input.
[[noreturn]] void fail(const char* what);
inline void require(bool ok, const char* what) {
    if (!ok) fail(what);
}

// Number of lines of `text` that begin with `prefix`.
std::size_t countLinesStarting(std::string_view text, std::string_view prefix);
// Number of times `what` occurs in `text`, without overlaps.
std::size_t countOccurrences(std::string_view text, std::string_view what);

}  // namespace fuzzsupport
