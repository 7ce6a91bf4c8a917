// Scanning one input: every selected channel through every selected tone
// plan, each pair with its own receiver and message decoder, all fed the
// same samples block by block.
#pragma once

#include <string>

#include "cidscan/catcher.hpp"
#include "cidscan/found.hpp"
#include "cidscan/input.hpp"
#include "cidscan/options.hpp"

namespace cidscan {

// Frames read at a time from a stream: small enough that a live stream's
// messages come out promptly, large enough to cost nothing.
inline constexpr std::size_t kBlockFrames = 256;
// And from a file that is all there, where fewer reads are faster.
inline constexpr std::size_t kFileBlockFrames = 8192;

struct ScanResult {
    bool ok = true;
    std::string error;  // when !ok: why the input could not be read (fully)
};

// Scans `input` (named `name` in the messages) to its end or until the
// handler says stop.
ScanResult scanInput(AudioInput& input, const std::string& name, const Options& options,
                     const MessageHandler& handler);

}  // namespace cidscan
