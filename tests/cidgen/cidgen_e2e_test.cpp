// cidgen end to end: what it writes, cidscan decodes back to the fields
// asked for, for every standard; a spoiled check is caught; refused values
// name their option, exit 1 and leave no file behind (and an existing file
// as it was); standard output carries the same file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/testsupport.hpp"

namespace {

using testsupport::runTool;
using testsupport::TempDir;

struct Case {
    std::vector<std::string> args;
    std::string standard;  // cidscan's name
    std::string fields;    // the JSON object cidscan prints
};

const std::vector<std::string> kWhen{"--date", "12-25", "--time", "10:30"};

std::vector<Case> everyStandard() {
    const std::string when = R"("date":"12-25","time":"10:30")";
    return {
        {{"--standard", "us-sdmf", "--number", "6175550123"}, "bell202", "{" + when + R"(,"number":"6175550123"})"},
        {{"--standard", "us-sdmf", "--number-absent", "private"}, "bell202", "{" + when + R"(,"number_absent":"private"})"},
        {{"--standard", "us-mdmf", "--number", "6175550123", "--name", "SMITH JOHN", "--redirecting", "5550001",
          "--call-type", "long-distance", "--param", "42=dead"},
         "bell202",
         "{" + when +
             R"(,"number":"6175550123","redirecting_number":"5550001","call_qualifier":"long distance","name":"SMITH JOHN","param_42":"dead"})"},
        {{"--standard", "us-mdmf", "--number-absent", "unavailable", "--name-absent", "private"}, "bell202",
         "{" + when + R"(,"number_absent":"unavailable","name_absent":"private"})"},
        {{"--standard", "us-mdmf", "--message-waiting", "off"}, "bell202", "{" + when + R"(,"message_waiting":"off"})"},
        {{"--standard", "us-vmwi"}, "bell202", R"({"message_waiting":"on"})"},
        {{"--standard", "us-vmwi", "--message-waiting", "off"}, "bell202", R"({"message_waiting":"off"})"},
        {{"--standard", "etsi", "--number", "01632960123", "--name", "JONES A", "--call-type", "voice"}, "v23-etsi",
         "{" + when + R"(,"number":"01632960123","call_type":"voice","name":"JONES A"})"},
        {{"--standard", "etsi", "--message-waiting", "on", "--number", "999"}, "v23-etsi",
         "{" + when + R"(,"message_waiting":"on","number":"999"})"},
        {{"--standard", "ntt", "--number", "0312345678", "--name", "\xe5\xb1\xb1\xe7\x94\xb0"}, "v23-ntt",
         R"({"number":"0312345678","name":"山田"})"},
        {{"--standard", "ntt", "--number-absent", "private"}, "v23-ntt", R"({"number_absent":"private"})"},
        {{"--standard", "dtmf-cid", "--number", "0123456789", "--redirecting", "0198765432"}, "dtmf-cid",
         R"({"number":"0123456789","redirecting_number":"0198765432"})"},
        {{"--standard", "dtmf-cid", "--number-absent", "private"}, "dtmf-cid", R"({"number_absent":"private"})"},
    };
}

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(CidgenE2e, CidscanDecodesEveryStandardBackValidAndSpoiledChecksAreCaught) {
    TempDir dir;
    for (const Case& c : everyStandard()) {
        SCOPED_TRACE(c.args[1] + " " + c.fields);
        const std::string wav = dir.file("x.wav");
        const auto gen = runTool("cidgen", with(with(c.args, kWhen), {"-o", wav}));
        ASSERT_EQ(gen.status, 0) << gen.err;
        EXPECT_EQ(gen.out, "");
        const auto scan = runTool("cidscan", {"--json", wav});
        ASSERT_EQ(scan.status, 0) << scan.err;
        EXPECT_EQ(testsupport::splitLines(scan.out).size(), 1u) << scan.out;
        EXPECT_NE(scan.out.find("\"standard\":\"" + c.standard + "\""), std::string::npos) << scan.out;
        EXPECT_NE(scan.out.find("\"valid\":true"), std::string::npos) << scan.out;
        EXPECT_NE(scan.out.find("\"fields\":" + c.fields), std::string::npos) << scan.out;

        const auto bad = runTool("cidgen", with(with(c.args, kWhen), {"--bad-checksum", "-o", wav}));
        ASSERT_EQ(bad.status, 0) << bad.err;
        const auto badScan = runTool("cidscan", {"--json", wav});
        EXPECT_NE(badScan.out.find("\"valid\":false"), std::string::npos) << badScan.out;
        EXPECT_EQ(badScan.out.find("\"valid\":true"), std::string::npos) << badScan.out;
    }
}

TEST(CidgenE2e, SignalOptionsStillDecodeAndStandardOutputCarriesTheSameFile) {
    TempDir dir;
    const std::vector<std::vector<std::string>> variants{
        {"--rate", "48000", "--twist", "6", "--mark-offset", "10", "--space-offset", "-10", "--snr", "30"},
        {"--rate", "11025", "--rate-error", "-1.5", "--stop-bits", "3", "--level", "-30", "--seizure-bits", "0"},
        {"--rate", "16000", "--mark-bits", "60", "--ref-dbm0", "0", "--type", "flac", "--encoding", "s24"},
        {"--standard", "etsi", "--type", "wav", "--encoding", "alaw", "--snr", "25", "--seed", "99"},
        {"--standard", "etsi", "--echo", "2,-15", "--hum", "50,-25", "--dc", "5", "--clip", "30", "--level", "-10"},
    };
    for (const auto& v : variants) {
        SCOPED_TRACE(v[1]);
        const std::string out = dir.file("v.snd");
        const auto gen = runTool("cidgen", with(with({"--number", "5551234"}, v), {"-o", out}));
        ASSERT_EQ(gen.status, 0) << gen.err;
        const auto scan = runTool("cidscan", {"--json", out});
        EXPECT_NE(scan.out.find(R"("valid":true)"), std::string::npos) << scan.out;
        EXPECT_NE(scan.out.find(R"("number":"5551234")"), std::string::npos) << scan.out;
    }
    const std::vector<std::string> args{"--number", "42", "--snr", "20", "--seed", "7", "--date", "01-02", "--time", "03:04"};
    ASSERT_EQ(runTool("cidgen", with(args, {"-o", dir.file("a.wav")})).status, 0);
    const auto piped = runTool("cidgen", with(args, {"-o", "-"}));
    ASSERT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, testsupport::readFile(dir.file("a.wav")));  // the same seed, the same noise
    const auto other = runTool("cidgen", with(with(args, {"--seed", "8"}), {"-o", "-"}));
    EXPECT_NE(other.out, piped.out);
    const auto headerless = runTool("cidgen", {"--number", "42", "-o", dir.file("a.ul")});
    ASSERT_EQ(headerless.status, 0);
    const auto raw = runTool("cidscan", {"--raw", "mulaw", "--rate", "8000", "--json", dir.file("a.ul")});
    EXPECT_NE(raw.out.find(R"("number":"42")"), std::string::npos) << raw.out;
}

TEST(CidgenE2e, RefusedValuesNameTheOptionAndLeaveNoFile) {
    TempDir dir;
    const std::string out = dir.file("keep.wav");
    testsupport::writeFile(out, "precious");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--rate", "7999"}, "--rate"},
        {{"--rate", "48001"}, "--rate"},
        {{"--date", "13-01"}, "--date"},
        {{"--time", "24:00"}, "--time"},
        {{"--time", "1:30"}, "--time"},
        {{"--level", "loud"}, "--level"},
        {{"--snr", "nan"}, "--snr"},
        {{"--standard", "v.23"}, "--standard"},
        {{"--number-absent", "secret"}, "--number-absent"},
        {{"--param", "7=zz"}, "--param"},
        {{"--raw", "abc"}, "--raw"},
        {{"--digits", "12E"}, "--digits"},
        {{"--encoding", "float", "--type", "flac"}, "--encoding"},
        {{"--encoding", "s16", "--type", "ul"}, "--encoding"},
        {{"--encoding", "s8", "--type", "wav"}, "--encoding"},
        {{"--standard", "dtmf"}, "--digits"},
        {{"--standard", "us-sdmf", "--message-waiting", "on"}, "--message-waiting"},
        {{"--standard", "ntt", "--name", "ASCII"}, "JIS X 0208"},
        {{"--standard", "dtmf-cid", "--number", "12-34"}, "0-9"},
        {{"--stop-bits", "0"}, "--stop-bits"},
        {{"--name", "M\xc3\xbcller"}, "printable ASCII"},
        {{"--standard", "etsi", "--name", "\xe2\x82\xac"}, "Latin-1"},
        {{"--echo", "5"}, "--echo"},
        {{"--echo", "5,3"}, "--echo"},
        {{"--hum", "0,-20"}, "--hum"},
        {{"--dc", "60"}, "--dc"},
        {{"--clip", "0"}, "--clip"},
        {{"--standard", "us-sdmf", "--name", "X"}, "--name"},
        {{"--standard", "us-vmwi", "--number", "1"}, "--number"},
        {{"--standard", "dtmf-cid", "--number", "1", "--param", "07=41"}, "--param"},
        {{"--standard", "etsi", "--message-waiting", "on", "--name", "X"}, "--name"},
        {{"--standard", "ntt", "--redirecting", "1"}, "--redirecting"},
        {{"--bogus", "1"}, "--bogus"},
        {{"--number"}, "--number"},
        {{"--number", "\x1b]0;x\x07"}, "\\x1b"},
    };
    for (const auto& [args, named] : cases) {
        SCOPED_TRACE(named);
        const auto r = runTool("cidgen", with({"-o", out}, args));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
        EXPECT_EQ(testsupport::readFile(out), "precious");
    }
    // A link to the output stays a link; a device is written, not replaced;
    // a folder is refused.
    testsupport::writeFile(dir.file("real.wav"), "old");
    ASSERT_EQ(::symlink("real.wav", dir.file("link.wav").c_str()), 0);
    EXPECT_EQ(runTool("cidgen", {"-o", dir.file("link.wav")}).status, 0);
    struct stat link {};
    ASSERT_EQ(::lstat(dir.file("link.wav").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(testsupport::readFile(dir.file("real.wav")).substr(0, 4), "RIFF");
    EXPECT_EQ(runTool("cidgen", {"-o", "/dev/null"}).status, 0);
    struct stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    EXPECT_TRUE(S_ISCHR(null.st_mode));
    const auto folder = runTool("cidgen", {"-o", dir.path()});
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find("folder"), std::string::npos);
    const auto noOutput = runTool("cidgen", {"--number", "1"});
    EXPECT_EQ(noOutput.status, 1);
    EXPECT_NE(noOutput.err.find("-o"), std::string::npos);
    const auto missingDir = runTool("cidgen", {"-o", dir.file("no/such/dir.wav")});
    EXPECT_EQ(missingDir.status, 1);
    const auto help = runTool("cidgen", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--bad-checksum"), std::string::npos);
    EXPECT_EQ(runTool("cidgen", {"--version"}).out, "cidgen (sigtools) " SIGTOOLS_TEST_VERSION "\n");
    // A full-scale request is clipped, and says so.
    const auto loud = runTool("cidgen", {"--level", "8", "-o", dir.file("loud.wav")});
    EXPECT_EQ(loud.status, 0);
    EXPECT_NE(loud.err.find("clipped"), std::string::npos);
}


// The "raw" values of cidscan's JSON lines, in order.
std::vector<std::string> raws(const std::string& jsonLines) {
    std::vector<std::string> out;
    for (const std::string& line : testsupport::splitLines(jsonLines)) {
        const std::size_t at = line.find("\"raw\":\"");
        if (at == std::string::npos) continue;
        const std::size_t from = at + 7;
        out.push_back(line.substr(from, line.find('"', from) - from));
    }
    return out;
}

TEST(CidgenE2e, FromJsonSendsWhatCidscanReceivedAgain) {
    TempDir dir;
    std::string lines;
    for (const Case& c : everyStandard()) {
        const std::string wav = dir.file("one.wav");
        ASSERT_EQ(runTool("cidgen", with(with(c.args, kWhen), {"-o", wav})).status, 0);
        lines += runTool("cidscan", {"--json", wav}).out;
    }
    ASSERT_EQ(raws(lines).size(), everyStandard().size());
    // Every message again, one after the other, in one file.
    const auto again = runTool("cidgen", {"--from-json", "-", "-o", dir.file("again.wav")}, lines);
    ASSERT_EQ(again.status, 0) << again.err;
    const auto scan = runTool("cidscan", {"--json", dir.file("again.wav")});
    EXPECT_EQ(raws(scan.out), raws(lines));
    EXPECT_EQ(scan.out.find("\"valid\":false"), std::string::npos);

    // Without raw bytes the fields are sent.
    const std::string fieldsOnly =
        R"({"standard":"bell202","type":128,"fields":{"date":"12-25","time":"10:30","number":"555","name":"A B"}})"
        "\n"
        R"({"standard":"v23-etsi","type":130,"fields":{"message_waiting":"on"}})"
        "\n\n"
        R"({"standard":"dtmf-cid","type":65,"fields":{"number_absent":"private"}})"
        "\n";
    testsupport::writeFile(dir.file("fields.jsonl"), fieldsOnly);
    ASSERT_EQ(runTool("cidgen", {"--from-json", dir.file("fields.jsonl"), "-o", dir.file("f.wav")}).status, 0);
    const auto fromFields = runTool("cidscan", {"--json", dir.file("f.wav")});
    EXPECT_EQ(raws(fromFields.out),
              (std::vector<std::string>{"8014010831323235313033300203353535070341204284", "82030b01ff70", "42313043"}));

    const std::vector<std::pair<std::string, std::string>> bad{
        {"{\"standard\":\"bell202\",\"raw\":\"zz\"}\n", "line 1"},
        {"\n{\"standard\":\"morse\",\"raw\":\"00\"}\n", "line 2"},
        {"not json\n", "not JSON"},
        {"{\"standard\":\"dtmf\",\"raw\":\"5a\"}\n", "DTMF"},
        {"", "no message"},
    };
    for (const auto& [input, named] : bad) {
        const auto r = runTool("cidgen", {"--from-json", "-", "-o", dir.file("bad.wav")}, input);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_FALSE(testsupport::fileExists(dir.file("bad.wav")));
    }
    // Eleven minutes of signal are refused before anything is rendered.
    std::string eleven;
    for (int i = 0; i < 11; ++i) eleven += "{\"standard\":\"dtmf\",\"raw\":\"31\"}\n";
    const auto longOne = runTool("cidgen", {"--from-json", "-", "--lead-ms", "60000", "-o", dir.file("bad.wav")}, eleven);
    EXPECT_EQ(longOne.status, 1);
    EXPECT_NE(longOne.err.find("more than 600"), std::string::npos) << longOne.err;
    EXPECT_FALSE(testsupport::fileExists(dir.file("bad.wav")));
    const auto mixed = runTool("cidgen", {"--from-json", "-", "--number", "1", "-o", dir.file("bad.wav")}, lines);
    EXPECT_EQ(mixed.status, 1);
    EXPECT_NE(mixed.err.find("--from-json"), std::string::npos);
}

}  // namespace
