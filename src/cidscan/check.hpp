// --check STANDARD: each message's measurement judged against one
// standard's limits, and how cidscan writes the verdict.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "cidscan/measure.hpp"
#include "sigcore/measure/limits.hpp"

namespace cidscan {

// An FSK burst against an FSK standard, DTMF digits against the DTMF
// limits; anything else (a burst checked as DTMF, digits checked as FSK, a
// burst not measured) fails with no items.
[[nodiscard]] sigcore::CheckResult checkMessage(const MessageMeasure& measure, int rate,
                                                sigcore::CheckStandard standard);

// The text table's lines (each indented, ending in a line end) and the
// JSON object.
[[nodiscard]] std::string checkText(const sigcore::CheckResult& check);
[[nodiscard]] nlohmann::ordered_json checkJson(const sigcore::CheckResult& check);

}  // namespace cidscan
