#include "cidgen/run.hpp"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "cidgen/compose.hpp"
#include "cidgen/fromjson.hpp"
#include "cidgen/options.hpp"
#include "cidgen/plan.hpp"
#include "cidgen/soundfile.hpp"
#include "sigcore/io/cliinfo.hpp"
#include "sigcore/senders/impair.hpp"
#include "sigcore/senders/levels.hpp"

namespace cidgen {

namespace {

int failWith(const std::string& message) {
    std::fprintf(stderr, "cidgen: %s\n", message.c_str());
    return kExitFailed;
}

// The current local date ("MMDD") and time ("HHMM").
std::pair<std::string, std::string> localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    std::array<char, 8> date{};
    std::array<char, 8> time{};
    if (localtime_r(&now, &parts) != nullptr) {
        std::strftime(date.data(), date.size(), "%m%d", &parts);
        std::strftime(time.data(), time.size(), "%H%M", &parts);
    }
    return {date.data(), time.data()};
}

// The --from-json text: a file, or standard input for "-"; at most 16 MiB.
std::optional<std::string> readText(const std::string& path, std::string& error) {
    constexpr std::size_t kMost = std::size_t{16} << 20;
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "--from-json: " + escaped(path) + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    std::array<char, 65536> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0 && text.size() <= kMost) {
        text.append(buffer.data(), n);
    }
    const bool failed = std::ferror(file) != 0;
    if (file != stdin) std::fclose(file);
    if (failed || text.size() > kMost) {
        error = "--from-json: " + escaped(path) + (failed ? ": read error" : ": more than 16 MiB");
        return std::nullopt;
    }
    return text;
}

// A message option given with --from-json, whose messages say it all.
bool messageOptionsGiven(const Options& o) {
    const auto& f = o.fields;
    return !f.number.empty() || !f.name.empty() || f.numberAbsent != 0 || f.nameAbsent != 0 ||
           !f.redirecting.empty() || f.callType || !f.extra.empty() || o.messageWaiting || o.raw || o.digits ||
           o.badChecksum;
}

Composed composeFromJson(const Options& o) {
    Composed c;
    if (messageOptionsGiven(o)) {
        c.error = "--from-json: the messages come from the file; leave out the other message options";
        return c;
    }
    const auto text = readText(*o.fromJson, c.error);
    if (!text) return c;
    const JsonMessages read = readJsonMessages(*text);
    if (!read.error.empty()) {
        c.error = read.error;
        return c;
    }
    return composeMessages(o, read.messages);
}

// The longest signal written: ten minutes.
constexpr double kMostSeconds = 600.0;

// Every segment in turn, noise added and samples beyond full scale clipped
// (and counted), block by block.
struct Renderer {
    sigcore::SegmentPlayer player;
    sigcore::LineImpairer line;
    sigcore::WhiteNoise noise;
    bool noisy = false;
    std::size_t clipped = 0;  // beyond full scale, not by --clip

    std::size_t operator()(std::span<double> block) {
        const std::size_t n = player.write(block);
        const std::span<double> out = block.first(n);
        line.applySignal(out);
        if (noisy) noise.addTo(out);
        line.applyOutput(out);
        for (double& s : out) {
            if (std::abs(s) > 1.0) {
                ++clipped;
                s = s > 0.0 ? 1.0 : -1.0;
            }
        }
        return n;
    }
};

sigcore::Impairments impairmentsOf(const Options& o) {
    sigcore::Impairments line;
    if (o.echo) line.echo = sigcore::Echo{o.echo->first, o.echo->second};
    if (o.hum) line.hum = sigcore::Hum{o.hum->first, sigcore::sinePeakFromDbm0(o.hum->second, o.refDbm0)};
    line.dcOffset = o.dcPercent / 100.0;
    line.clipLevel = o.clipPercent.value_or(0.0) / 100.0;
    return line;
}

}  // namespace

bool renderSound(const Options& o, Composed composed, SoundFormat format, std::vector<unsigned char>& bytes,
                 std::size_t& clipped, std::string& error) {
    const double noiseRms = o.snrDb ? std::sqrt(composed.tonePower / std::pow(10.0, *o.snrDb / 10.0)) : 0.0;
    Renderer renderer{sigcore::SegmentPlayer(std::move(composed.segments)), sigcore::LineImpairer(impairmentsOf(o), o.rate),
                      sigcore::WhiteNoise(o.seed, noiseRms), o.snrDb.has_value()};
    const double seconds = static_cast<double>(renderer.player.totalSamples()) / o.rate;
    if (seconds > kMostSeconds) {
        error = "the signal would last " + std::to_string(static_cast<long long>(seconds)) + " s, more than " +
                std::to_string(static_cast<int>(kMostSeconds));
        return false;
    }
    if (!encodeSound(std::ref(renderer), o.rate, format, bytes, error)) return false;
    clipped = renderer.clipped;
    return true;
}

int runCidgen(std::span<const char* const> args) {
    if (!args.empty() && std::string_view(args[0]) == "--plan") return runPlan(args);
    const sigcore::InfoRequest info = sigcore::infoRequest(args);
    if (info != sigcore::InfoRequest::none) return sigcore::answerInfoRequest(info, "cidgen", usageText());
    const auto [date, time] = localNow();
    const ParseResult parsed = parseOptions(args, date, time);
    if (!parsed.error.empty()) return failWith(parsed.error);
    const Options& o = parsed.options;
    if (o.help || o.version) {
        return sigcore::answerInfoRequest(o.help ? sigcore::InfoRequest::help : sigcore::InfoRequest::version,
                                          "cidgen", usageText());
    }
    if (o.sequence && o.fromJson) return failWith("--sequence: sends one message; not with --from-json");
    std::string error;
    const auto format = o.describe ? std::optional<SoundFormat>() : chooseFormat(o, error);
    if (!format && !o.describe) return failWith(error);
    Composed composed = o.fromJson ? composeFromJson(o) : compose(o);
    if (!composed.error.empty()) return failWith(composed.error);
    if (o.describe) {
        const std::string table = describeSteps(composed.steps, o.rate);
        std::fwrite(table.data(), 1, table.size(), stdout);
        return std::fflush(stdout) == 0 ? kExitOk : failWith("standard output: write error");
    }
    std::vector<unsigned char> bytes;
    std::size_t clipped = 0;
    if (!renderSound(o, std::move(composed), *format, bytes, clipped, error)) return failWith(error);
    if (clipped > 0) std::fprintf(stderr, "cidgen: warning: %zu samples beyond full scale were clipped\n", clipped);
    if (!writeWhole(o.output, bytes, error)) return failWith(error);
    return kExitOk;
}

}  // namespace cidgen
