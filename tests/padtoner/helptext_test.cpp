// The help text: every line's Shift-JIS bytes against its UTF-8 text, and the
// columns of the example data file lines.
#include <gtest/gtest.h>

#include <string>

#include "padtoner/helptext.hpp"
#include "support/testsupport.hpp"

namespace {

TEST(HelpText, ShiftJisBytesMatchTheReadableText) {
    for (const padtoner::HelpLine& line : padtoner::helpLines()) {
        EXPECT_EQ(std::string(line.sjis), testsupport::utf8ToSjis(std::string(line.utf8))) << line.utf8;
    }
}

TEST(HelpText, LinesAndColumns) {
    const auto& lines = padtoner::helpLines();
    EXPECT_EQ(lines[0].utf8, ">padtoner data.txt wave.wav");
    EXPECT_EQ(lines[1].utf8, "");
    EXPECT_EQ(lines[4].utf8, "");
    EXPECT_EQ(lines[21].utf8, "//無信号区間の最小継続時間：　30ms以上");
    // Lines 9 to 17: the value at the 26th character, "//" at the 35th; line 18 "//" at the 39th.
    for (std::size_t i = 8; i < 17; ++i) {
        const std::string_view text = lines[i].utf8;
        EXPECT_EQ(text.find_first_not_of(' ', text.find(' ')), 25u) << text;
        EXPECT_EQ(text.find("//"), 34u) << text;
    }
    EXPECT_EQ(lines[17].utf8.find("\"0550123456\""), 25u);
    EXPECT_EQ(lines[17].utf8.find("//"), 38u);
}

TEST(HelpText, PrintedTextKeepsItsPercentSigns) {
    const std::string text = padtoner::helpText();
    EXPECT_EQ(testsupport::splitLines(text).size(), 22u);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text.find("//[%] 0..100\n"), std::string::npos);
}

}  // namespace
