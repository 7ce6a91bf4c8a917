#include "cidgen/plan.hpp"

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string_view>
#include <system_error>
#include <vector>

#include "cidgen/compose.hpp"
#include "cidgen/options.hpp"
#include "cidgen/run.hpp"
#include "cidgen/soundfile.hpp"
#include "sigcore/messages/dtmfcid.hpp"
#include "sigcore/messages/etsimessage.hpp"
#include "sigcore/messages/messagetext.hpp"
#include "sigcore/messages/nttmessage.hpp"
#include "sigcore/messages/usmessage.hpp"

namespace cidgen {

namespace {

// What a receiver inside the standard's limits must do with a file.
enum class Expect { Display, Reject, Either };

const char* expectName(Expect e) {
    switch (e) {
    case Expect::Display: return "display";
    case Expect::Reject: return "reject";
    case Expect::Either: return "either";
    }
    return "either";
}

// One line condition: the changes from the nominal signal, and where the
// limit it tests comes from (man/cidgen.1 lists them).
struct Condition {
    std::string_view name;
    double level = 0.0;  // dBm0
    double twist = 0.0;
    double markOffset = 0.0;
    double spaceOffset = 0.0;
    double rateError = 0.0;
    double snr = 0.0;  // 0: no noise
    Expect expect = Expect::Display;
};

// One file of a plan: the options it is made with and what it means.
struct Entry {
    std::string shortName;
    Options options;
    Expect expect = Expect::Display;
    nlohmann::ordered_json conditions;
    std::string spoil;  // negative plan: how the message was spoiled
};

constexpr double kNominalDbm0 = -13.5;

// Level, twist, frequency, bit rate and noise at the limits ("display") and
// beyond them ("either"). US Bell 202: mark 1200 +/- 12 Hz, space 2200 +/- 22 Hz.
constexpr Condition kGr30[] = {
    {"nominal", kNominalDbm0},
    {"level-min", -32.0},
    {"level-max", -1.0},
    {"level-below", -45.0, 0, 0, 0, 0, 0, Expect::Either},
    {"twist-mark-high", kNominalDbm0, 6.0},
    {"twist-space-high", kNominalDbm0, -6.0},
    {"twist-beyond", kNominalDbm0, 14.0, 0, 0, 0, 0, Expect::Either},
    {"mark-low", kNominalDbm0, 0, -12.0},
    {"mark-high", kNominalDbm0, 0, 12.0},
    {"space-low", kNominalDbm0, 0, 0, -22.0},
    {"space-high", kNominalDbm0, 0, 0, 22.0},
    {"freq-beyond", kNominalDbm0, 0, -40.0, 60.0, 0, 0, Expect::Either},
    {"rate-slow", kNominalDbm0, 0, 0, 0, -1.0},
    {"rate-fast", kNominalDbm0, 0, 0, 0, 1.0},
    {"rate-beyond", kNominalDbm0, 0, 0, 0, 5.0, 0, Expect::Either},
    {"snr-min", kNominalDbm0, 0, 0, 0, 0, 20.0},
    {"snr-beyond", kNominalDbm0, 0, 0, 0, 0, 6.0, Expect::Either},
};

// ETSI V.23: mark 1300 +/- 16 Hz, space 2100 +/- 16 Hz.
constexpr Condition kEtsi[] = {
    {"nominal", kNominalDbm0},
    {"level-min", -40.0},
    {"level-max", -6.0},
    {"level-below", -50.0, 0, 0, 0, 0, 0, Expect::Either},
    {"twist-mark-high", kNominalDbm0, 6.0},
    {"twist-space-high", kNominalDbm0, -6.0},
    {"twist-beyond", kNominalDbm0, 14.0, 0, 0, 0, 0, Expect::Either},
    {"mark-low", kNominalDbm0, 0, -16.0},
    {"mark-high", kNominalDbm0, 0, 16.0},
    {"space-low", kNominalDbm0, 0, 0, -16.0},
    {"space-high", kNominalDbm0, 0, 0, 16.0},
    {"freq-beyond", kNominalDbm0, 0, -40.0, 60.0, 0, 0, Expect::Either},
    {"rate-slow", kNominalDbm0, 0, 0, 0, -1.0},
    {"rate-fast", kNominalDbm0, 0, 0, 0, 1.0},
    {"rate-beyond", kNominalDbm0, 0, 0, 0, 5.0, 0, Expect::Either},
    {"snr-min", kNominalDbm0, 0, 0, 0, 0, 20.0},
    {"snr-beyond", kNominalDbm0, 0, 0, 0, 0, 6.0, Expect::Either},
};

// NTT frames over V.23: the same tones and bit rate as ETSI.
constexpr Condition kNtt[] = {
    {"nominal", kNominalDbm0},
    {"level-min", -40.0},
    {"level-max", -6.0},
    {"level-below", -50.0, 0, 0, 0, 0, 0, Expect::Either},
    {"twist-mark-high", kNominalDbm0, 6.0},
    {"twist-space-high", kNominalDbm0, -6.0},
    {"twist-beyond", kNominalDbm0, 14.0, 0, 0, 0, 0, Expect::Either},
    {"mark-low", kNominalDbm0, 0, -16.0},
    {"mark-high", kNominalDbm0, 0, 16.0},
    {"space-low", kNominalDbm0, 0, 0, -16.0},
    {"space-high", kNominalDbm0, 0, 0, 16.0},
    {"freq-beyond", kNominalDbm0, 0, -40.0, 60.0, 0, 0, Expect::Either},
    {"rate-slow", kNominalDbm0, 0, 0, 0, -1.0},
    {"rate-fast", kNominalDbm0, 0, 0, 0, 1.0},
    {"rate-beyond", kNominalDbm0, 0, 0, 0, 5.0, 0, Expect::Either},
    {"snr-min", kNominalDbm0, 0, 0, 0, 0, 20.0},
    {"snr-beyond", kNominalDbm0, 0, 0, 0, 0, 6.0, Expect::Either},
};

// One DTMF caller-ID condition: each tone's level, the twist (high group
// minus low), each group's deviation from its nominal frequencies, the
// lengths of a digit and of the pause after it, the noise.
struct DtmfCondition {
    std::string_view name;
    double level = 0.0;  // dBm0, each tone
    double twist = 0.0;
    double lowDeviation = 0.0;  // per cent
    double highDeviation = 0.0;
    double digitMs = 70.0;
    double gapMs = 70.0;
    double snr = 0.0;  // 0: no noise
    Expect expect = Expect::Display;
};

constexpr double kDtmfNominalDbm0 = -10.0;

// Deviation +/- 1.5 %, twist -8 to +4 dB, digits of 50 ms and pauses of
// 45 ms at least: the general DTMF receiver conditions.
constexpr DtmfCondition kDtmfCid[] = {
    {"nominal", kDtmfNominalDbm0},
    {"level-min", -30.0},
    {"level-max", -3.0},
    {"level-below", -45.0, 0, 0, 0, 70, 70, 0, Expect::Either},
    {"twist-high", kDtmfNominalDbm0, 4.0},
    {"twist-low", kDtmfNominalDbm0, -8.0},
    {"twist-beyond", kDtmfNominalDbm0, -14.0, 0, 0, 70, 70, 0, Expect::Either},
    {"freq-low", kDtmfNominalDbm0, 0, -1.5, -1.5},
    {"freq-high", kDtmfNominalDbm0, 0, 1.5, 1.5},
    {"freq-beyond", kDtmfNominalDbm0, 0, 3.5, -3.5, 70, 70, 0, Expect::Either},
    {"digit-short", kDtmfNominalDbm0, 0, 0, 0, 50.0},
    {"gap-short", kDtmfNominalDbm0, 0, 0, 0, 70, 45.0},
    {"digit-beyond", kDtmfNominalDbm0, 0, 0, 0, 30.0, 30.0, 0, Expect::Either},
    {"snr-min", kDtmfNominalDbm0, 0, 0, 0, 70, 70, 20.0},
    {"snr-beyond", kDtmfNominalDbm0, 0, 0, 0, 70, 70, 6.0, Expect::Either},
};

// The message every plan sends, with a fixed date so that plans repeat.
Options baseOptions(Standard standard) {
    Options o;
    o.standard = standard;
    o.standardGiven = true;
    o.fields.date = "1208";
    o.fields.time = "1530";
    o.fields.number = "2015550123";
    if (standard == Standard::Ntt) {
        o.fields.name = "\u5c71\u7530";  // a JIS X 0208 name
    } else if (standard != Standard::UsSdmf && standard != Standard::DtmfCid) {
        o.fields.name = "SMITH JOHN";
    }
    return o;
}

Entry conditionEntry(Standard standard, const Condition& c) {
    Entry e;
    e.shortName = c.name;
    e.options = baseOptions(standard);
    Options& o = e.options;
    o.levelDbm0 = c.level;
    o.twistDb = c.twist;
    o.markOffsetHz = c.markOffset;
    o.spaceOffsetHz = c.spaceOffset;
    o.rateErrorPercent = c.rateError;
    if (c.snr != 0.0) o.snrDb = c.snr;
    e.expect = c.expect;
    e.conditions = {{"level_dbm0", c.level},       {"twist_db", c.twist},
                    {"mark_offset_hz", c.markOffset}, {"space_offset_hz", c.spaceOffset},
                    {"rate_error_pct", c.rateError}};
    e.conditions["snr_db"] = c.snr != 0.0 ? nlohmann::ordered_json(c.snr) : nlohmann::ordered_json(nullptr);
    // What a measurement of the file should find besides the changes above.
    e.conditions["seizure_bits"] = defaultSeizureBits(standard);
    e.conditions["mark_bits"] = defaultMarkBits(standard);
    e.conditions["stop_bits"] = o.stopBits;
    e.conditions["lead_ms"] = o.leadMs;
    return e;
}

Entry dtmfEntry(const DtmfCondition& c) {
    Entry e;
    e.shortName = c.name;
    e.options = baseOptions(Standard::DtmfCid);
    Options& o = e.options;
    o.levelDbm0 = c.level;
    o.twistDb = c.twist;
    o.dtmfLowDeviationPercent = c.lowDeviation;
    o.dtmfHighDeviationPercent = c.highDeviation;
    o.digitMs = c.digitMs;
    o.digitGapMs = c.gapMs;
    if (c.snr != 0.0) o.snrDb = c.snr;
    e.expect = c.expect;
    e.conditions = {{"level_dbm0", c.level},         {"twist_db", c.twist},       {"low_dev_pct", c.lowDeviation},
                    {"high_dev_pct", c.highDeviation}, {"digit_ms", c.digitMs},    {"gap_ms", c.gapMs}};
    e.conditions["snr_db"] = c.snr != 0.0 ? nlohmann::ordered_json(c.snr) : nlohmann::ordered_json(nullptr);
    e.conditions["ref_dbm0"] = o.refDbm0;
    e.conditions["lead_ms"] = o.leadMs;
    return e;
}

// The message's check byte made right again after its bytes were changed.
void fixChecksum(std::vector<std::uint8_t>& bytes) {
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
    bytes.back() = static_cast<std::uint8_t>(0x100U - (sum & 0xffU));
}

// Bad checksum, cut-off and wrong length for each FSK standard with a
// length byte and a sum check.
std::vector<Entry> negativeEntries() {
    struct Named {
        std::string_view name;
        Standard standard;
    };
    constexpr Named kStandards[] = {{"us-sdmf", Standard::UsSdmf}, {"us-mdmf", Standard::UsMdmf},
                                    {"etsi", Standard::Etsi}};
    std::vector<Entry> entries;
    for (const Named& s : kStandards) {
        const std::vector<std::uint8_t> good = compose(baseOptions(s.standard)).messages.at(0).bytes;
        for (const std::string_view spoil : {"bad-checksum", "cut-off", "wrong-length"}) {
            Entry e;
            e.shortName = std::string(s.name) + "-" + std::string(spoil);
            e.options = baseOptions(s.standard);
            e.expect = Expect::Reject;
            e.spoil = spoil;
            std::vector<std::uint8_t> bytes = good;
            if (spoil == "bad-checksum") {
                bytes.back() = static_cast<std::uint8_t>(bytes.back() ^ 0x01U);
            } else if (spoil == "cut-off") {
                bytes.resize(bytes.size() / 2);
            } else {
                bytes[1] = static_cast<std::uint8_t>(bytes[1] - 2U);  // shorter than the body sent
                fixChecksum(bytes);
            }
            e.options.raw = bytes;
            e.options.fields = {};
            e.conditions = {{"spoil", spoil}};
            entries.push_back(std::move(e));
        }
    }
    return entries;
}

// An NTT frame with a spoiled CRC or cut off, and DTMF caller ID without its
// end digit.
void addNttAndDtmfNegatives(std::vector<Entry>& entries) {
    const std::vector<std::uint8_t> frame = compose(baseOptions(Standard::Ntt)).messages.at(0).bytes;
    for (const std::string_view spoil : {"bad-crc", "cut-off"}) {
        Entry e;
        e.shortName = "ntt-" + std::string(spoil);
        e.options = baseOptions(Standard::Ntt);
        e.expect = Expect::Reject;
        std::vector<std::uint8_t> bytes = frame;
        if (spoil == "bad-crc") {
            bytes.back() = static_cast<std::uint8_t>(bytes.back() ^ 0x01U);
        } else {
            bytes.resize(bytes.size() / 2);
        }
        e.options.raw = bytes;
        e.options.fields = {};
        e.conditions = {{"spoil", spoil}};
        entries.push_back(std::move(e));
    }
    Entry e;
    e.shortName = "dtmf-cid-cut-off";
    e.options = baseOptions(Standard::DtmfCid);
    const std::vector<std::uint8_t> digits = compose(e.options).messages.at(0).bytes;
    e.options.digits = std::string(digits.begin(), digits.end() - 1);  // no end digit
    e.options.fields = {};
    e.expect = Expect::Reject;
    e.conditions = {{"spoil", "cut-off"}};
    entries.push_back(std::move(e));
}

std::optional<std::vector<Entry>> planEntries(std::string_view name) {
    std::vector<Entry> entries;
    if (name == "gr30") {
        for (const Condition& c : kGr30) entries.push_back(conditionEntry(Standard::UsMdmf, c));
    } else if (name == "etsi") {
        for (const Condition& c : kEtsi) entries.push_back(conditionEntry(Standard::Etsi, c));
    } else if (name == "ntt") {
        for (const Condition& c : kNtt) entries.push_back(conditionEntry(Standard::Ntt, c));
    } else if (name == "dtmf-cid") {
        for (const DtmfCondition& c : kDtmfCid) entries.push_back(dtmfEntry(c));
    } else if (name == "negative") {
        entries = negativeEntries();
        addNttAndDtmfNegatives(entries);
    } else {
        return std::nullopt;
    }
    return entries;
}

// An NTT frame's bytes (parity bits included) through the frame decoder, as
// a receiver hands them over.
sigcore::Message nttMessage(std::span<const std::uint8_t> bytes) {
    sigcore::NttMessageDecoder decoder;
    sigcore::EventLog log;
    static_cast<void>(decoder.startBurst(log));
    for (const std::uint8_t b : bytes) static_cast<void>(decoder.decodeByte(b, 0, 0, log));
    decoder.endBurst(0, log);
    for (const sigcore::Event& event : log.events) {
        if (const auto* decoded = std::get_if<sigcore::MessageDecoded>(&event)) return decoded->message;
    }
    return {};
}

// The message as cidscan --json shows it: standard, type, validity, raw
// bytes and fields, decoded from the bytes sent.
nlohmann::ordered_json messageJson(Standard standard, std::span<const std::uint8_t> bytes) {
    sigcore::Message m;
    const char* name = "bell202";
    if (standard == Standard::Etsi) {
        m = sigcore::parseEtsiMessage(bytes);
        name = "v23-etsi";
    } else if (standard == Standard::Ntt) {
        m = nttMessage(bytes);
        name = "v23-ntt";
    } else if (standard == Standard::DtmfCid) {
        m = sigcore::parseDtmfCallerId(std::string(bytes.begin(), bytes.end()));
        name = "dtmf-cid";
    } else {
        m = sigcore::decodeUsMessage(bytes);
    }
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    for (const sigcore::MessageField& f : m.fields) fields[f.key] = f.value;
    return {{"standard", name},
            {"type", m.type},
            {"valid", m.valid},
            {"complete", m.complete},
            {"raw", sigcore::hexBytes(m.raw)},
            {"fields", std::move(fields)}};
}

// A plan's files in memory, ready to write.
struct Rendered {
    std::vector<std::pair<std::string, std::vector<unsigned char>>> files;  // name, bytes
    std::string manifest;
};

bool render(const std::vector<Entry>& entries, Rendered& out, std::string& error) {
    int number = 0;
    for (const Entry& e : entries) {
        Composed composed = compose(e.options);
        if (!composed.error.empty()) {
            error = e.shortName + ": " + composed.error;
            return false;
        }
        std::string prefix = std::to_string(++number);
        prefix.insert(0, prefix.size() < 3 ? 3 - prefix.size() : 0, '0');
        const std::string file = prefix + "-" + e.shortName + ".wav";
        nlohmann::ordered_json line;
        line["file"] = file;
        line["conditions"] = e.conditions;
        line["message"] = messageJson(e.options.standard, composed.messages.at(0).bytes);
        line["expect"] = expectName(e.expect);
        std::vector<unsigned char> bytes;
        std::size_t clipped = 0;
        if (!renderSound(e.options, std::move(composed), SoundFormat{}, bytes, clipped, error)) {
            error = file + ": " + error;
            return false;
        }
        out.files.emplace_back(file, std::move(bytes));
        out.manifest += line.dump() + "\n";
    }
    return true;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "cidgen: --plan: %s\n", message.c_str());
    return kExitFailed;
}

// DIR must be absent (it is made) or empty, unless --force.
bool prepareDirectory(const std::filesystem::path& dir, bool force, std::string& error) {
    std::error_code ec;
    if (std::filesystem::exists(dir, ec)) {
        if (!std::filesystem::is_directory(dir, ec)) {
            error = escaped(dir.string()) + ": not a directory";
            return false;
        }
        const bool empty = !ec && (force || std::filesystem::is_empty(dir, ec));
        if (!ec && !empty) {
            error = escaped(dir.string()) + ": not empty (--force writes the plan's files over any of the same names)";
            return false;
        }
        if (!ec) return true;
    } else if (!ec && std::filesystem::create_directory(dir, ec)) {
        return true;
    }
    error = escaped(dir.string()) + ": " + ec.message();
    return false;
}

}  // namespace

int runPlan(std::span<const char* const> args) {
    std::vector<std::string_view> rest;
    bool force = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a == "--force") {
            force = true;
        } else {
            rest.push_back(a);
        }
    }
    if (rest.size() != 2) return fail("usage: cidgen --plan gr30|etsi|ntt|dtmf-cid|negative DIR [--force]");
    const auto entries = planEntries(rest[0]);
    if (!entries) return fail(escaped(rest[0]) + ": no such plan (gr30, etsi, ntt, dtmf-cid, negative)");
    const std::filesystem::path dir(rest[1]);
    std::string error;
    Rendered rendered;
    if (!render(*entries, rendered, error)) return fail(error + "; nothing was written");
    if (!prepareDirectory(dir, force, error)) return fail(error + "; nothing was written");
    std::size_t written = 0;
    for (const auto& [name, bytes] : rendered.files) {
        if (!writeWhole((dir / name).string(), bytes, error)) {
            return fail(error + "; " + std::to_string(written) + " of " + std::to_string(rendered.files.size()) +
                        " files were written, and no manifest");
        }
        ++written;
    }
    const std::string& m = rendered.manifest;
    const std::span<const unsigned char> text(reinterpret_cast<const unsigned char*>(m.data()), m.size());
    if (!writeWhole((dir / "manifest.jsonl").string(), text, error)) {
        return fail(error + "; every sound file was written, but not the manifest");
    }
    std::printf("%zu files and manifest.jsonl written to %s\n", written, escaped(dir.string()).c_str());
    return kExitOk;
}

}  // namespace cidgen
