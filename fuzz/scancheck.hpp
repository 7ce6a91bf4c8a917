// What every detector run must show, whatever the recording held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzsupport {

// Longest input the detector targets take: about two seconds at 8000 Hz and
// 16 bits, so that one run stays well under a millisecond or two.
inline constexpr std::size_t kMaxScanInput = 40000;

// 0..100 from the last byte (80 for an empty input).
int scanSensitivity(const std::uint8_t* data, std::size_t size);

// The run's status matches what the reader makes of the file: 0 for a usable
// recording (and then a report in which every confirmed burst has its
// termination line), 1 and no report otherwise.
void checkScan(int status, const std::string& input, const std::string& report);

}  // namespace fuzzsupport
