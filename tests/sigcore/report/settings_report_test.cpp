#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sigcore/report/report.hpp"
#include "sigcore/report/settings.hpp"
#include "support/testsupport.hpp"

namespace {

sigcore::SettingsLine lineOf(const std::string& text) {
    sigcore::SettingsLine line{};
    std::strncpy(line.data(), text.c_str(), line.size() - 1);
    return line;
}

int sensitivityAfter(const std::string& text, int before = 80) {
    int value = before;
    sigcore::applySettingsLine(lineOf(text), value, nullptr);
    return value;
}

TEST(Settings, SensitivityLines) {
    EXPECT_EQ(sensitivityAfter("Sensitivity 65\n"), 65);
    EXPECT_EQ(sensitivityAfter("Sensitivity=65\n"), 80);    // '=' at offset 11 converts nothing
    EXPECT_EQ(sensitivityAfter("/Sensitivity 65\n"), 80);   // comment
    EXPECT_EQ(sensitivityAfter(" Sensitivity 65\n"), 80);   // offset 11 holds the key's last letter
    EXPECT_EQ(sensitivityAfter("Sensitivity 120\n"), 120);  // range is the detector's business
    EXPECT_EQ(sensitivityAfter("Sensitivity  -5 dB\n"), -5);
    EXPECT_EQ(sensitivityAfter("Sensitivity\n"), 80);
    EXPECT_EQ(sensitivityAfter("Sensitivity"), 80);
    EXPECT_EQ(sensitivityAfter("sensitivity 65\n"), 80);  // keys are case-sensitive
    EXPECT_EQ(sensitivityAfter("xxSensitivity 65\n"), 80);  // offset 11 is 'y'
    EXPECT_EQ(sensitivityAfter("Sensitivity 99999999999999999999\n"), 2147483647);
}

TEST(Settings, JapaneseCodeOnlyWhereAsked) {
    int sensitivity = 80;
    int code = 0;
    sigcore::applySettingsLine(lineOf("JapaneseCode 1\n"), sensitivity, &code);
    EXPECT_EQ(code, 1);
    sigcore::applySettingsLine(lineOf("JapaneseCode=2\n"), sensitivity, &code);
    EXPECT_EQ(code, 1);
    sigcore::applySettingsLine(lineOf("Sensitivity 50 JapaneseCode 2\n"), sensitivity, &code);
    EXPECT_EQ(sensitivity, 50);  // a line with both keys sets only the sensitivity
    EXPECT_EQ(code, 1);
    sigcore::applySettingsLine(lineOf("JapaneseCode 2\n"), sensitivity, nullptr);  // the US detector
    EXPECT_EQ(code, 1);
}

TEST(Settings, FileReadLineByLine) {
    testsupport::TempDir dir;
    const std::string path = dir.file("fsk.ini");
    testsupport::writeFile(path, "Sensitivity 40\n// note\nSensitivity 70\nJapaneseCode 1\n");
    int sensitivity = 80;
    int code = 0;
    sigcore::readSettingsFile(path, sensitivity, &code);
    EXPECT_EQ(sensitivity, 70);
    EXPECT_EQ(code, 1);

    // A line longer than 255 characters is read in pieces, each one a line.
    testsupport::writeFile(path, std::string(255, 'x') + "Sensitivity 33\n");
    sensitivity = 80;
    sigcore::readSettingsFile(path, sensitivity, nullptr);
    EXPECT_EQ(sensitivity, 33);

    testing::internal::CaptureStderr();
    sensitivity = 80;
    sigcore::readSettingsFile(dir.file("missing.ini"), sensitivity, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "error .... can't open text file[" + dir.file("missing.ini") + "]\n");
    EXPECT_EQ(sensitivity, 80);
}

TEST(Report, WritesTextAsGiven) {
    testsupport::TempDir dir;
    sigcore::Report report;
    ASSERT_EQ(sigcore::reportOpen(report, dir.file("r.txt")), 0);
    sigcore::reportPrint(report, "a");
    sigcore::reportPrint(report, "b\n");
    EXPECT_EQ(sigcore::reportClose(report), 0);
    EXPECT_EQ(testsupport::readFile(dir.file("r.txt")), "ab\n");
}

TEST(Report, FailuresAreReported) {
    testsupport::TempDir dir;
    sigcore::Report report;
    testing::internal::CaptureStderr();
    EXPECT_EQ(sigcore::reportOpen(report, dir.file("no/such/dir.txt")), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "error .... can't open text file[" + dir.file("no/such/dir.txt") + "]\n");

    sigcore::Report full;
    ASSERT_EQ(sigcore::reportOpen(full, "/dev/full"), 0);
    sigcore::reportPrint(full, "detected [1000 8000]\n");
    EXPECT_EQ(sigcore::reportClose(full), 1);
}

}  // namespace
