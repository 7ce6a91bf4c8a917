// cidscan --report end to end: the page comes on top of the usual output
// (standard output is byte for byte that of --measure without it), holds
// every file's messages also with several jobs, and a report that can't be
// written stops the run before anything is read, leaving no file behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/testsupport.hpp"

using testsupport::runTool;
using testsupport::TempDir;

namespace {

std::string makeBurst(const TempDir& dir, const std::string& name, const std::string& number) {
    const std::string path = dir.file(name);
    const testsupport::RunResult r = runTool(
        "cidgen", {"--standard", "us-sdmf", "--number", number, "--date", "01-02", "--time", "03:04", "-o", path});
    EXPECT_EQ(r.status, 0) << r.err;
    return path;
}

TEST(CidscanReport, AddsThePageAndLeavesStandardOutputAsItWas) {
    TempDir dir;
    const std::string a = makeBurst(dir, "a.wav", "5551230001");
    const std::string b = makeBurst(dir, "b.wav", "5551230002");
    for (const char* format : {"--json", "--measure"}) {
        const testsupport::RunResult plain = runTool("cidscan", {format, "--measure", a, b});
        const std::string page = dir.file(std::string("r") + format + ".html");
        const testsupport::RunResult reported = runTool("cidscan", {format, "--report", page, a, b});
        ASSERT_EQ(reported.status, 0) << reported.err;
        EXPECT_EQ(reported.out, plain.out);
        EXPECT_EQ(reported.err, "");
        // Two jobs find the messages in either order; the page is the same.
        ASSERT_EQ(runTool("cidscan", {format, "--report", page, "-j", "2", a, b}).status, 0);
        const std::string html = testsupport::readFile(page);
        EXPECT_NE(html.find("data-field=\"number\">5551230001<"), std::string::npos);
        EXPECT_NE(html.find("data-field=\"number\">5551230002<"), std::string::npos);
        EXPECT_LT(html.find("5551230001"), html.find("5551230002"));  // in the order the files were given
        EXPECT_NE(html.find("<polyline class=\"mark\""), std::string::npos);
    }
}

TEST(CidscanReport, UnwritableReportStopsTheRunAtOnce) {
    TempDir dir;
    const std::string a = makeBurst(dir, "a.wav", "5551230001");
    const testsupport::RunResult missing = runTool("cidscan", {"--report", dir.file("no/r.html"), a});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("cidscan: --report: can't create a file in"), std::string::npos) << missing.err;
    const testsupport::RunResult folder = runTool("cidscan", {"--report", dir.path(), a});
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find("is not a regular file"), std::string::npos) << folder.err;
    const testsupport::RunResult noName = runTool("cidscan", {"--report", "-", a});
    EXPECT_EQ(noName.status, 2);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // a.wav only
}

TEST(CidscanReport, UnreadableInputIsOnThePageAndInTheStatus) {
    TempDir dir;
    const std::string page = dir.file("r.html");
    const std::string name = dir.file("<missing>\x1b.wav");
    const testsupport::RunResult r = runTool("cidscan", {"--report", page, name});
    EXPECT_EQ(r.status, 1);
    const std::string html = testsupport::readFile(page);
    EXPECT_NE(html.find("<li>" + dir.path() + "/&lt;missing&gt;\\x1b.wav: can&#39;t read"), std::string::npos) << html;
    EXPECT_EQ(html.find('\x1b'), std::string::npos);
}

}  // namespace
