// The help text that padtoner prints for a wrong command line: 22 lines of
// Japanese text, printed as Shift-JIS bytes.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace padtoner {

// One line of the help text: the readable UTF-8 text and the Shift-JIS bytes
// that are printed. A test checks that each pair says the same thing.
struct HelpLine {
    std::string_view utf8;
    std::string_view sjis;
};

inline constexpr std::size_t kHelpLineCount = 22;

const std::array<HelpLine, kHelpLineCount>& helpLines();

// The Shift-JIS lines, each ended by a line feed. It is printed as it stands,
// never used as a format string, so its "%" characters appear.
std::string helpText();

}  // namespace padtoner
