// Messages as cidscan --json writes them (one JSON object a line), to be
// sent again: each object's "raw" bytes when it has them, else a message
// built from its "fields".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cidgen/compose.hpp"

namespace cidgen {

struct JsonMessages {
    std::vector<Outgoing> messages;
    std::string error;  // not empty: names the line and what is wrong with it
};

// Every non-blank line of `text` must be one object with "standard"
// (bell202, v23-etsi, v23-ntt, dtmf-cid, dtmf) and "raw" (hex) or "fields".
[[nodiscard]] JsonMessages readJsonMessages(std::string_view text);

}  // namespace cidgen
