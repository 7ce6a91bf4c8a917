// One detector run over a recording: the WAV reader feeds the streaming
// receiver, whose events the report sink writes into the report file. Shared
// by both caller-ID detectors; each brings its tone plan and decoder.
#pragma once

#include <string>

#include "sigcore/messages/decoder.hpp"
#include "sigcore/receivers/receiver.hpp"
#include "sigcore/report/reportsink.hpp"

namespace sigcore {

// Returns 0 when the recording was processed, 1 when the run could not start
// (sensitivity out of range, unusable recording, report not created) or the
// report could not be written completely. `japaneseCode` chooses how the
// report writes NTT caller names.
int fskScan(int sensitivity, const TonePlan& plan, MessageDecoder& decoder, const std::string& inputPath,
            const std::string& reportPath, int japaneseCode = kNamesInShiftJis);

}  // namespace sigcore
