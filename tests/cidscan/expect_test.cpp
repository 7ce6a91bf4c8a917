// cidscan --expect: a manifest is read only when every line is usable, each
// file is judged by its line (display: a valid message with the bytes sent;
// reject: no valid message; either: anything), and end to end a written plan
// agrees, a manifest that says otherwise is caught with exit status 4.
#include "cidscan/expect.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testsupport.hpp"

using cidscan::Expectation;
using cidscan::judgeFile;
using cidscan::ManifestLine;
using cidscan::parseManifest;
using testsupport::runTool;
using testsupport::TempDir;

namespace {

sigcore::Message message(std::vector<std::uint8_t> raw, bool valid) {
    sigcore::Message m;
    m.raw = std::move(raw);
    m.valid = valid;
    m.complete = true;
    return m;
}

TEST(CidscanExpect, ManifestLinesUsableOrTheWholeManifestRefused) {
    const cidscan::Manifest good = parseManifest(
        "{\"file\":\"001-a.wav\",\"message\":{\"raw\":\"80ff\"},\"expect\":\"display\"}\n"
        "\n"
        "{\"file\":\"002-b.wav\",\"message\":{\"raw\":\"\"},\"expect\":\"reject\"}\n");
    ASSERT_EQ(good.error, "");
    ASSERT_EQ(good.lines.size(), 2U);
    EXPECT_EQ(good.lines[0].expect, Expectation::Display);
    EXPECT_EQ(good.lines[0].raw, "80ff");
    EXPECT_EQ(good.lines[1].expect, Expectation::Reject);

    const std::vector<std::string> bad{
        "not json",
        "[1,2]",
        "{\"file\":\"../up.wav\",\"message\":{\"raw\":\"80\"},\"expect\":\"display\"}",
        "{\"file\":\"dir/a.wav\",\"message\":{\"raw\":\"80\"},\"expect\":\"display\"}",
        "{\"file\":\"a\\u001b.wav\",\"message\":{\"raw\":\"80\"},\"expect\":\"display\"}",
        "{\"file\":\"a.wav\",\"message\":{\"raw\":\"80\"},\"expect\":\"show\"}",
        "{\"file\":\"a.wav\",\"message\":{\"raw\":\"8\"},\"expect\":\"display\"}",
        "{\"file\":\"a.wav\",\"message\":{\"raw\":\"80FF\"},\"expect\":\"display\"}",
        "{\"file\":\"a.wav\",\"expect\":\"display\"}",
        "{\"file\":\"a.wav\",\"message\":{\"raw\":\"80\"},\"expect\":\"display\"}\n"
        "{\"file\":\"a.wav\",\"message\":{\"raw\":\"80\"},\"expect\":\"reject\"}",
        "",
    };
    for (const std::string& text : bad) {
        const cidscan::Manifest m = parseManifest(text);
        EXPECT_NE(m.error, "") << text;
    }
    // The error names the line.
    EXPECT_EQ(parseManifest("{\"file\":\"a.wav\",\"message\":{\"raw\":\"80\"},\"expect\":\"display\"}\nxx").error.rfind(
                  "line 2:", 0),
              0U);
}

TEST(CidscanExpect, EachExpectationJudged) {
    const ManifestLine display{"a.wav", Expectation::Display, "8001"};
    const ManifestLine reject{"a.wav", Expectation::Reject, "8001"};
    const ManifestLine either{"a.wav", Expectation::Either, "8001"};
    const auto sent = message({0x80, 0x01}, true);
    const auto other = message({0x80, 0x02}, true);
    const auto invalid = message({0x80, 0x01}, false);

    EXPECT_TRUE(judgeFile(display, {sent}).agree);
    EXPECT_TRUE(judgeFile(display, {other, sent}).agree);  // any of the file's messages
    EXPECT_FALSE(judgeFile(display, {}).agree);
    EXPECT_FALSE(judgeFile(display, {invalid}).agree);  // the right bytes, but the check failed
    const cidscan::Verdict wrong = judgeFile(display, {other});
    EXPECT_FALSE(wrong.agree);
    EXPECT_NE(wrong.reason.find("8002"), std::string::npos) << wrong.reason;

    EXPECT_TRUE(judgeFile(reject, {}).agree);
    EXPECT_TRUE(judgeFile(reject, {invalid}).agree);
    EXPECT_FALSE(judgeFile(reject, {sent}).agree);
    EXPECT_FALSE(judgeFile(reject, {other}).agree);

    for (const auto& messages : {std::vector<sigcore::Message>{}, {sent}, {other}, {invalid}}) {
        EXPECT_TRUE(judgeFile(either, messages).agree);
    }
}

TEST(CidscanExpect, FilesFoundByTheirLastPathComponent) {
    const cidscan::Manifest m = parseManifest(
        "{\"file\":\"001-a.wav\",\"message\":{\"raw\":\"80\"},\"expect\":\"display\"}");
    ASSERT_EQ(m.error, "");
    EXPECT_NE(cidscan::lineFor(m, "001-a.wav"), nullptr);
    EXPECT_NE(cidscan::lineFor(m, "/some/plan/001-a.wav"), nullptr);
    EXPECT_EQ(cidscan::lineFor(m, "/some/plan/001-a.wav.bak"), nullptr);
    EXPECT_EQ(cidscan::lineFor(m, "001-a.wav/"), nullptr);
}

TEST(CidscanExpect, PlanReadBackAgreesAndADifferentManifestIsCaught) {
    TempDir dir;
    const std::string plan = dir.file("plan");
    ASSERT_EQ(runTool("cidgen", {"--plan", "negative", plan}).status, 0);
    ASSERT_EQ(runTool("cidgen", {"--standard", "us-sdmf", "--number", "5551234", "--date", "01-02", "--time",
                                 "03:04", "-o", dir.file("extra.wav")})
                  .status,
              0);
    const std::string manifest = plan + "/manifest.jsonl";
    const std::string first = plan + "/001-us-sdmf-bad-checksum.wav";
    const std::string second = plan + "/002-us-sdmf-cut-off.wav";

    testsupport::RunResult r = runTool("cidscan", {"--expect", manifest, first, second});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("agree     reject   " + first + ": "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 files: 2 agree, 0 disagree"), std::string::npos) << r.out;

    // A display line for a file that sends a spoiled message disagrees.
    std::string text = testsupport::readFile(manifest);
    const std::string from = "\"expect\":\"reject\"";
    text.replace(text.find(from), from.size(), "\"expect\":\"display\"");
    testsupport::writeFile(dir.file("changed.jsonl"), text);
    r = runTool("cidscan", {"--expect", dir.file("changed.jsonl"), first, second});
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_NE(r.out.find("DISAGREE  display  " + first), std::string::npos) << r.out;

    // A file the manifest does not list is no agreement; JSON lines per file.
    r = runTool("cidscan", {"--expect", manifest, "--json", dir.file("extra.wav")});
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_NE(r.out.find("\"agree\":false,\"reason\":\"not in the manifest\""), std::string::npos) << r.out;

    // A manifest that can't be read or used, and no files: nothing judged.
    EXPECT_EQ(runTool("cidscan", {"--expect", dir.file("none.jsonl"), first}).status, 1);
    testsupport::writeFile(dir.file("bad.jsonl"), "{\"file\":\"../x.wav\"}\n");
    r = runTool("cidscan", {"--expect", dir.file("bad.jsonl"), first});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(runTool("cidscan", {"--expect", manifest}).status, 2);
    // A folder named as the manifest, and standard input among the files.
    EXPECT_EQ(runTool("cidscan", {"--expect", plan, first}).status, 1);
    EXPECT_EQ(runTool("cidscan", {"--expect", manifest, "-"}, testsupport::readFile(first)).status, 2);
}

}  // namespace
