// One detector run over a recording: WAV reader, band-pass filter,
// demodulator and message decoder, with the report file. Shared by both
// caller-ID detectors; the variant supplies the byte test and the decoder.
#pragma once

#include <string>

#include "sigcore/demod.hpp"

namespace sigcore {

// Sampling rates outside this range are refused like an unreadable recording.
inline constexpr int kLowestRate = 2000;
inline constexpr int kHighestRate = 384000;

// Returns 0 when the recording was processed, 1 when the run could not start
// (sensitivity out of range, unusable recording, report not created) or the
// report could not be written completely.
int fskScan(int sensitivity, int markHz, int spaceHz, int baud, const std::string& inputPath,
            const std::string& reportPath, const ScanVariant& variant);

}  // namespace sigcore
