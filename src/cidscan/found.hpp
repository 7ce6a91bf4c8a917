// A message as cidscan reports it: the message and where it was found.
#pragma once

#include <optional>
#include <string>

#include "sigcore/messages/events.hpp"
#include "cidscan/measure.hpp"
#include "sigcore/measure/limits.hpp"

namespace cidscan {

struct FoundMessage {
    std::string file;  // as given on the command line, "-" for standard input
    int channel = 1;   // from 1
    int rate = 8000;   // the input's sampling rate, for times in seconds
    sigcore::Message message;
    std::optional<MessageMeasure> measure;  // with --measure
    std::optional<sigcore::CheckResult> check;  // with --check
};

}  // namespace cidscan
