#include "sigcore/io/textscan.hpp"

#include <gtest/gtest.h>

using sigcore::scanInt;
using sigcore::scanWord;

TEST(ScanInt, DecimalScanRules) {
    EXPECT_EQ(scanInt(" 8000"), 8000);
    EXPECT_EQ(scanInt("\t-25xyz"), -25);
    EXPECT_EQ(scanInt("+7"), 7);
    EXPECT_EQ(scanInt("16\r\n"), 16);
    EXPECT_EQ(scanInt("30 //[%] 0..100"), 30);
    EXPECT_EQ(scanInt("= 16"), std::nullopt);  // a key joined by '=' scans nothing
    EXPECT_EQ(scanInt(" - 5"), std::nullopt);
    EXPECT_EQ(scanInt(""), std::nullopt);
    EXPECT_EQ(scanInt("   "), std::nullopt);
}

TEST(ScanInt, OutOfRangeNumbersAreHeldAtTheEnds) {
    EXPECT_EQ(scanInt(" 2147483647"), 2147483647);
    EXPECT_EQ(scanInt(" 4294967346"), 2147483647);  // would wrap to 50
    EXPECT_EQ(scanInt(" -2147483648"), -2147483647 - 1);
    EXPECT_EQ(scanInt(" -99999999999999999999999"), -2147483647 - 1);
}

TEST(ScanWord, FirstWordOnly) {
    EXPECT_EQ(scanWord(" \"12 34\""), std::optional<std::string_view>("\"12"));
    EXPECT_EQ(scanWord("\t0123456789\r\n"), std::optional<std::string_view>("0123456789"));
    EXPECT_EQ(scanWord(" \r\n"), std::nullopt);
    EXPECT_EQ(scanWord(""), std::nullopt);
}
