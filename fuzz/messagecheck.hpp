// What every whole message must show, whatever bytes it was decoded from.
#pragma once

#include <string_view>

#include "sigcore/messages/events.hpp"

namespace fuzzsupport {

bool isValidUtf8(std::string_view text);

// A message's own consistency: valid only when complete, positions in
// order, field keys and values valid UTF-8 (names and numbers included).
void checkMessage(const sigcore::Message& message);

}  // namespace fuzzsupport
