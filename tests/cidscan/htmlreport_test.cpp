// The HTML report: every byte from a line or a file name reaches the page
// escaped and as UTF-8, the page asks for nothing outside itself, records
// are grouped by file and channel whatever order they came in, line
// signals get their own boxes and tables, and the check's verdicts and
// values are those of the JSON.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cidscan/check.hpp"
#include "cidscan/escape.hpp"
#include "cidscan/htmlreport.hpp"
#include "cidscan/timing.hpp"

using cidscan::FoundMessage;

namespace {

FoundMessage message(const std::string& file, int channel, std::int64_t start) {
    FoundMessage f;
    f.file = file;
    f.channel = channel;
    f.rate = 8000;
    f.message.standard = sigcore::Standard::Bell202;
    f.message.type = 0x04;
    f.message.startSample = start;
    f.message.endSample = start + 1600;
    f.message.raw = {0x04, 0x01, 0x31, 0xca};
    f.message.fields = {{"number", "5551234567"}};
    return f;
}

// A measured burst with a trace and its check against gr30.
FoundMessage measured(const std::string& file, double start) {
    FoundMessage f = message(file, 1, static_cast<std::int64_t>(start));
    sigcore::FskMeasurement k;
    k.measured = true;
    k.markHz = 1250.0;  // out of the gr30 limits
    k.spaceHz = 2200.0;
    k.bitRate = 1200.0;
    k.markDbfs = k.spaceDbfs = -16.0;
    k.seizureStart = start - 4000.0;
    k.markStart = start - 1600.0;
    k.messageStart = start;
    k.end = start + 1620.0;
    cidscan::MessageMeasure m;
    m.fsk = k;
    sigcore::LevelTrace t;
    t.firstCentre = start - 4000.0;
    t.step = 40;
    t.toneHz = {1250, 2200};
    t.dbfs = {std::vector<float>(140, -19.0F), std::vector<float>(140, -120.0F)};
    m.trace = t;
    f.measure = m;
    f.check = cidscan::checkMessage(m, f.rate, sigcore::CheckStandard::Gr30);
    return f;
}

cidscan::ReportRun runOf(std::vector<std::string> files) {
    return {"9.9", "2026-01-02 03:04:05 UTC", {"--report", "r.html"}, std::move(files), sigcore::CheckStandard::Gr30};
}

TEST(HtmlReport, TextIsEscapedForHtmlAndAlwaysUtf8) {
    EXPECT_EQ(cidscan::htmlText("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
    EXPECT_EQ(cidscan::htmlText("\x1b[2J\x7f"), "\\x1b[2J\\x7f");
    EXPECT_EQ(cidscan::htmlText("caf\xc3\xa9 \xff"), "caf\xc3\xa9 \\xff");
    EXPECT_EQ(cidscan::htmlText("&amp;"), "&amp;amp;");

    const std::string hostileFile = "<script>alert(1)</script>\xfe\x01.wav";
    FoundMessage f = message(hostileFile, 1, 8000);
    f.message.fields = {{"name", "<img src=x onerror=\"y\">"}, {"</td>", "\x1b]0;t\x07"}};
    const std::string page = cidscan::renderReport(runOf({hostileFile}), {f}, {hostileFile + ": can't read"});
    EXPECT_TRUE(cidscan::isUtf8(page));
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_EQ(page.find('\x1b'), std::string::npos);
    EXPECT_EQ(page.find('\x01'), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;\\xfe\\x01.wav"), std::string::npos);
    EXPECT_NE(page.find("&lt;img src=x onerror=&quot;y&quot;&gt;"), std::string::npos);
}

TEST(HtmlReport, PageIsSelfContained) {
    const std::string page = cidscan::renderReport(runOf({"a.wav"}), {measured("a.wav", 24000)}, {});
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0U);
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<link"), std::string::npos);
    EXPECT_EQ(page.find("url("), std::string::npos);
    // The one URL is the SVG namespace, which is a name and never fetched.
    std::size_t at = 0;
    int urls = 0;
    while ((at = page.find("http", at)) != std::string::npos) {
        const std::string xmlns = "xmlns=\"http://www.w3.org/2000/svg\"";
        EXPECT_EQ(page.compare(at - 7, xmlns.size(), xmlns), 0) << page.substr(at - 20, 60);
        ++at;
        ++urls;
    }
    EXPECT_EQ(urls, 1);
}

TEST(HtmlReport, RecordsAreGroupedByFileThenChannelThenTime) {
    std::vector<FoundMessage> records{message("b.wav", 2, 100), message("a.wav", 1, 9000), message("b.wav", 1, 500),
                                      message("a.wav", 1, 200)};
    records[0].message.fields = {{"number", "B2"}};
    records[1].message.fields = {{"number", "A-late"}};
    records[2].message.fields = {{"number", "B1"}};
    records[3].message.fields = {{"number", "A-early"}};
    const std::string page = cidscan::renderReport(runOf({"a.wav", "b.wav", "c.wav", "a.wav"}), records, {});
    const auto a1 = page.find(">A-early<");
    const auto a2 = page.find(">A-late<");
    const auto b1 = page.find(">B1<");
    const auto b2 = page.find(">B2<");
    ASSERT_NE(b2, std::string::npos);
    EXPECT_LT(a1, a2);
    EXPECT_LT(a2, b1);
    EXPECT_LT(b1, b2);
    EXPECT_EQ(page.find(">A-early<", a1 + 1), std::string::npos);  // a.wav named twice: shown once
    EXPECT_NE(page.find("<h2>c.wav</h2>\n<p class=\"none\">No messages found."), std::string::npos);
    EXPECT_NE(page.find("<h3>channel 2</h3>"), std::string::npos);
}

TEST(HtmlReport, CheckAndMeasurementShowTheJsonValues) {
    const FoundMessage f = measured("a.wav", 24000);
    ASSERT_FALSE(f.check->pass);
    const std::string page = cidscan::renderReport(runOf({"a.wav"}), {f}, {});
    EXPECT_NE(page.find("<td data-check=\"name\">mark_hz</td><td class=\"num\" data-check=\"value\">1250.0</td>"
                        "<td class=\"num\" data-check=\"min\">1188.0</td><td class=\"num\" data-check=\"max\">1212.0</td>"
                        "<td data-check=\"pass\"><span class=\"fail\">FAIL</span>"),
              std::string::npos);
    EXPECT_NE(page.find("check gr30: <span class=\"fail\">FAIL</span>"), std::string::npos);
    EXPECT_NE(page.find("gr30: 0 passed, 1 failed"), std::string::npos);
    EXPECT_NE(page.find("data-measure=\"mark_dbm0\">-12.86</td>"), std::string::npos);
    // The diagram: the burst's three parts and a polyline per tone.
    EXPECT_NE(page.find("<g class=\"seizure\">"), std::string::npos);
    EXPECT_NE(page.find("<g class=\"mark\">"), std::string::npos);
    EXPECT_NE(page.find("<g class=\"message\">"), std::string::npos);
    EXPECT_NE(page.find("<polyline class=\"mark\""), std::string::npos);
    EXPECT_NE(page.find("<polyline class=\"space\""), std::string::npos);
}

TEST(HtmlReport, LineSignalsHaveTheirOwnBoxesAndTables) {
    FoundMessage signal;
    signal.file = "a.wav";
    signal.rate = 8000;
    signal.signal = sigcore::LineSignal{sigcore::LineSignalKind::DtAs, 8000, 8800, {}};
    signal.signal->measure.lowHz = 2130.5;
    signal.signal->measure.lowDbfs = -16.64001709793172;  // shown as the JSON rounds it
    signal.signal->measure.digit = '<';
    signal.signal->measure.durationMs = 100;
    const std::string page = cidscan::renderReport(runOf({"a.wav"}), {measured("a.wav", 24000), signal}, {});
    const auto section = page.find("<div class=\"record signal\"");
    ASSERT_NE(section, std::string::npos);
    EXPECT_LT(section, page.find("<div class=\"record message\""));  // earlier in time
    EXPECT_NE(page.find("1. signal dt-as, 1.0000 s - 1.1000 s"), std::string::npos);
    EXPECT_NE(page.find("data-measure=\"low_hz\">2130.5</td>"), std::string::npos);
    EXPECT_NE(page.find("data-measure=\"digit\">&lt;</td>"), std::string::npos);
    EXPECT_NE(page.find("data-measure=\"low_dbfs\">-16.64</td>"), std::string::npos);
    EXPECT_EQ(page.find("data-measure=\"ring_hz\""), std::string::npos);  // not measured: not shown
    EXPECT_NE(page.find("<g class=\"signal\"><title>dt-as 1.0000 s - 1.1000 s</title>"), std::string::npos);
    EXPECT_NE(page.find("1 message, 1 signal"), std::string::npos);
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(HtmlReport, EachMessageOfSeveralGetsTheDiagramOfItsCall) {
    const auto signalAt = [](sigcore::LineSignalKind kind, std::int64_t start) {
        FoundMessage f;
        f.file = "a.wav";
        f.signal = sigcore::LineSignal{kind, start, start + 800, {}};
        return f;
    };
    // A ring long before the first burst, a CAS just before the second.
    const std::vector<FoundMessage> records{signalAt(sigcore::LineSignalKind::Ring, 0), measured("a.wav", 80000),
                                            signalAt(sigcore::LineSignalKind::Cas, 150000),
                                            measured("a.wav", 160000)};
    const std::string page = cidscan::renderReport(runOf({"a.wav"}), records, {});
    EXPECT_EQ(count(page, "<svg "), 3);
    const auto first = page.find("<div class=\"record message\" id=\"r2\">");
    const auto second = page.find("<div class=\"record message\" id=\"r4\">");
    ASSERT_NE(second, std::string::npos);
    const std::string firstCall = page.substr(first, page.find("</svg>", first) - first);
    const std::string secondCall = page.substr(second, page.find("</svg>", second) - second);
    EXPECT_EQ(count(firstCall, "<g class=\"signal\">"), 0);  // the ring is 10 s before it
    EXPECT_EQ(count(secondCall, "<g class=\"signal\"><title>cas "), 1);
    EXPECT_EQ(count(secondCall, "<g class=\"seizure\">"), 1);
    // One message: the channel's diagram is its call's.
    EXPECT_EQ(count(cidscan::renderReport(runOf({"a.wav"}), {records[2], records[3]}, {}), "<svg "), 1);
}

TEST(HtmlReport, TimingAxisAndSpans) {
    EXPECT_DOUBLE_EQ(cidscan::tickStep(1.0, 10), 0.1);
    EXPECT_DOUBLE_EQ(cidscan::tickStep(3.0, 10), 0.5);
    EXPECT_DOUBLE_EQ(cidscan::tickStep(0.013, 10), 0.002);
    EXPECT_DOUBLE_EQ(cidscan::tickStep(0.0, 10), 1.0);
    const FoundMessage f = measured("a.wav", 24000);
    const cidscan::TimeSpan span = cidscan::recordSpan(f);
    EXPECT_DOUBLE_EQ(span.from, (24000.0 - 4040.0) / 8000.0);  // the trace's first window
    EXPECT_DOUBLE_EQ(span.to, (24000.0 + 1620.0) / 8000.0);  // the carrier's end
    EXPECT_TRUE(cidscan::timingDiagram({}).empty());
}

TEST(HtmlReport, DiagramMarksTheCheckedLengthsAndTheWholeBand) {
    FoundMessage f = measured("a.wav", 24000);
    f.measure->trace->toneHz.push_back(0);  // a third row: the whole band
    f.measure->trace->dbfs.emplace_back(140, -16.0F);
    f.check = cidscan::checkMessage(*f.measure, f.rate, sigcore::CheckStandard::Bt);
    f.check->items.push_back({"mark_dbm0", -13.0, -30.5, -5.5, true});  // level limits
    f.check->items.push_back({"space_dbm0", -13.0, -30.5, -6.0, true});
    const FoundMessage* records[] = {&f};
    const std::string bt = cidscan::timingDiagram(records);
    EXPECT_NE(bt.find("<g class=\"limit\"><title>seizure_bits 96 to 315</title>"), std::string::npos) << bt;
    EXPECT_NE(bt.find("<g class=\"limit\"><title>mark_bits 55 to 90</title>"), std::string::npos);
    EXPECT_NE(bt.find("<polyline class=\"band\""), std::string::npos);
    EXPECT_NE(bt.find("<title>mark_dbm0, space_dbm0 min -30.5</title>"), std::string::npos);  // one line
    EXPECT_NE(bt.find("<title>mark_dbm0 max -5.5</title>"), std::string::npos);
    EXPECT_NE(bt.find("<title>space_dbm0 max -6.0</title>"), std::string::npos);
    // Without --check no limit is drawn.
    f.check.reset();
    EXPECT_EQ(cidscan::timingDiagram(records).find("class=\"limit\""), std::string::npos);
}

}  // namespace
