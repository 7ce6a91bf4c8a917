// A message as cidscan reports it: the message and where it was found; with
// --measure, also a signal around a burst (an alert tone, ringing, an
// acknowledgement), reported in the same stream.
#pragma once

#include <optional>
#include <string>

#include "sigcore/messages/events.hpp"
#include "cidscan/measure.hpp"
#include "sigcore/measure/limits.hpp"
#include "sigcore/measure/linesignal.hpp"

namespace cidscan {

struct FoundMessage {
    std::string file;  // as given on the command line, "-" for standard input
    int channel = 1;   // from 1
    int rate = 8000;   // the input's sampling rate, for times in seconds
    sigcore::Message message;
    std::optional<MessageMeasure> measure;  // with --measure
    std::optional<sigcore::CheckResult> check;  // with --check
    // Set when this record is a line signal rather than a message: `message`
    // is then unused and `measure` absent.
    std::optional<sigcore::LineSignal> signal;
};

}  // namespace cidscan
