// How text reaches a terminal or a JSON line. The decoders give their fields
// as plain UTF-8 characters; file names come as the bytes the system gave.
// Each sink escapes them as its format needs.
#pragma once

#include <string>
#include <string_view>

namespace cidscan {

// Text for a terminal, always valid UTF-8: a backslash becomes "\\", a
// control character (C0 including NUL and ESC, DEL, and the C1 code points
// U+0080..U+009F) "\xNN" with its code, and a byte that does not belong to a
// well-formed UTF-8 sequence "\xNN" with the byte's value.
[[nodiscard]] std::string terminalText(std::string_view text);

// Text for an HTML page, element content or a quoted attribute alike: as
// terminalText (valid UTF-8, controls and stray bytes shown as "\xNN"), with
// & < > " ' written as character references.
[[nodiscard]] std::string htmlText(std::string_view text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points past U+10FFFF).
[[nodiscard]] bool isUtf8(std::string_view text);

// A JSON text with DEL and the C1 code points inside its strings written as
// \u007f..\u009f, so that a line printed as it is can't drive a terminal.
// The strings still hold the same characters.
[[nodiscard]] std::string escapeJsonControls(std::string_view json);

}  // namespace cidscan
