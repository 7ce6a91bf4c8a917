#include "cidgen/options.hpp"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "sigcore/senders/dtmf.hpp"

namespace cidgen {

namespace {

// How an option handler answered.
enum class Handled { No, Yes, Error };

// One option as found on the command line, and the way to its value.
struct Arg {
    std::string_view name;
    std::optional<std::string_view> value;  // after '=' or the next argument
    bool hasValue = false;
};

std::optional<long long> wholeNumber(std::string_view text, long long low, long long high) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || value < low || value > high) return std::nullopt;
    return value;
}

std::optional<double> realNumber(std::string_view text, double low, double high) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || !std::isfinite(value) || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// Two digits at `at`, within [low, high].
std::optional<int> pair(std::string_view text, std::size_t at, int low, int high) {
    const auto n = wholeNumber(text.substr(at, 2), low, high);
    return n && text.substr(at, 2).size() == 2 ? std::optional<int>(static_cast<int>(*n)) : std::nullopt;
}

// "MM-DD" as "MMDD"; "HH:MM" as "HHMM".
std::optional<std::string> clockText(std::string_view text, char separator, int firstHigh, int secondHigh,
                                     int firstLow, int secondLow) {
    if (text.size() != 5 || text[2] != separator) return std::nullopt;
    if (!pair(text, 0, firstLow, firstHigh) || !pair(text, 3, secondLow, secondHigh)) return std::nullopt;
    return std::string(text.substr(0, 2)) + std::string(text.substr(3, 2));
}

std::optional<char> absence(std::string_view text) {
    if (text == "private") return 'P';
    if (text == "unavailable") return 'O';
    return std::nullopt;
}

bool printableAscii(std::string_view text) {
    for (const char c : text) {
        if (c < 0x20 || c > 0x7e) return false;
    }
    return true;
}

// The call type: by the name the decoders show or as a code 0x00..0xff.
std::optional<std::uint8_t> callType(std::string_view text) {
    struct Named {
        std::string_view name;
        std::uint8_t code;
    };
    static constexpr std::array<Named, 12> kNames{{
        {"long-distance", 'L'}, {"voice", 0x01}, {"ring_back_when_free", 0x02}, {"calling_name_delivery", 0x03},
        {"call_return", 0x04}, {"alarm", 0x05}, {"download", 0x06}, {"reverse_charge", 0x07},
        {"external", 0x10}, {"internal", 0x11}, {"monitoring", 0x50}, {"message_waiting", 0x81},
    }};
    for (const Named& n : kNames) {
        if (n.name == text) return n.code;
    }
    if (text.starts_with("0x")) {
        const auto bytes = sigcore::parseHex(text.substr(2));
        if (bytes && bytes->size() == 1) return (*bytes)[0];
    }
    return std::nullopt;
}

std::optional<Standard> standardNamed(std::string_view text) {
    if (text == "us-sdmf") return Standard::UsSdmf;
    if (text == "us-mdmf") return Standard::UsMdmf;
    if (text == "us-vmwi") return Standard::UsVmwi;
    if (text == "etsi") return Standard::Etsi;
    if (text == "ntt") return Standard::Ntt;
    if (text == "dtmf-cid") return Standard::DtmfCid;
    if (text == "dtmf") return Standard::Dtmf;
    return std::nullopt;
}

std::optional<FileType> typeNamed(std::string_view text) {
    if (text == "wav") return FileType::Wav;
    if (text == "aiff" || text == "aif") return FileType::Aiff;
    if (text == "flac") return FileType::Flac;
    if (text == "ul") return FileType::RawUlaw;
    if (text == "al") return FileType::RawAlaw;
    return std::nullopt;
}

std::optional<Encoding> encodingNamed(std::string_view text) {
    if (text == "s8") return Encoding::S8;
    if (text == "u8") return Encoding::U8;
    if (text == "s16") return Encoding::S16;
    if (text == "s24") return Encoding::S24;
    if (text == "float") return Encoding::Float;
    if (text == "ulaw") return Encoding::Ulaw;
    if (text == "alaw") return Encoding::Alaw;
    return std::nullopt;
}

std::optional<sigcore::ExtraParameter> extraParameter(std::string_view text) {
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view type = text.substr(0, eq);
    if (type.starts_with("0x")) type.remove_prefix(2);
    const auto code = sigcore::parseHex(type);
    const auto value = sigcore::parseHex(text.substr(eq + 1));
    if (!code || code->size() != 1 || !value || value->size() > 255) return std::nullopt;
    return sigcore::ExtraParameter{(*code)[0], *value};
}

// Options about the message.
Handled messageOption(const Arg& a, Options& o, std::string& error) {
    const std::string_view v = a.value.value_or("");
    const auto bad = [&](std::string_view what) {
        error = std::string(a.name) + ": " + std::string(what) + ", not '" + escaped(v) + "'";
        return Handled::Error;
    };
    auto& f = o.fields;
    if (a.name == "--standard") {
        const auto s = standardNamed(v);
        if (!s) return bad("takes us-sdmf, us-mdmf, us-vmwi, etsi, ntt, dtmf-cid or dtmf");
        o.standard = *s;
        o.standardGiven = true;
    } else if (a.name == "--number" || a.name == "--redirecting") {
        if (!printableAscii(v) || v.empty() || v.size() > 64) return bad("takes 1 to 64 printable ASCII characters");
        (a.name == "--number" ? f.number : f.redirecting) = std::string(v);
    } else if (a.name == "--name") {
        if (v.empty() || v.size() > 253) return bad("takes 1 to 253 bytes of text");
        f.name = std::string(v);
    } else if (a.name == "--date") {
        const auto d = clockText(v, '-', 12, 31, 1, 1);
        if (!d) return bad("takes MM-DD (01-01 to 12-31)");
        f.date = *d;
    } else if (a.name == "--time") {
        const auto t = clockText(v, ':', 23, 59, 0, 0);
        if (!t) return bad("takes HH:MM (00:00 to 23:59)");
        f.time = *t;
    } else if (a.name == "--number-absent" || a.name == "--name-absent") {
        const auto r = absence(v);
        if (!r) return bad("takes private or unavailable");
        (a.name == "--number-absent" ? f.numberAbsent : f.nameAbsent) = *r;
    } else if (a.name == "--call-type") {
        const auto c = callType(v);
        if (!c) return bad("takes long-distance (US), an ETSI call type name such as voice, or a code 0xNN");
        f.callType = c;
    } else if (a.name == "--message-waiting") {
        if (v != "on" && v != "off") return bad("takes on or off");
        o.messageWaiting = v == "on";
    } else if (a.name == "--param") {
        const auto p = extraParameter(v);
        if (!p) return bad("takes TYPE=HEX, a type byte and up to 255 value bytes in hex (07=4a4f45)");
        f.extra.push_back(*p);
    } else if (a.name == "--raw") {
        const auto bytes = sigcore::parseHex(v);
        if (!bytes || bytes->empty() || bytes->size() > 1024) return bad("takes 1 to 1024 bytes in hex");
        o.raw = bytes;
    } else if (a.name == "--from-json") {
        if (v.empty()) return bad("takes a file of cidscan --json lines, or - for standard input");
        o.fromJson = std::string(v);
    } else if (a.name == "--digits") {
        if (v.empty() || v.size() > 256 || v.find_first_not_of("0123456789*#ABCD") != std::string_view::npos) {
            return bad("takes 1 to 256 DTMF digits (0-9 * # A-D)");
        }
        o.digits = std::string(v);
    } else {
        return Handled::No;
    }
    return Handled::Yes;
}

// "A,B": two numbers within their ranges.
std::optional<std::pair<double, double>> numberPair(std::string_view text, double lowA, double highA, double lowB,
                                                   double highB) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    const auto a = realNumber(text.substr(0, comma), lowA, highA);
    const auto b = realNumber(text.substr(comma + 1), lowB, highB);
    if (!a || !b) return std::nullopt;
    return std::pair{*a, *b};
}

// Impairments of the line.
Handled lineOption(const Arg& a, Options& o, std::string& error) {
    const std::string_view v = a.value.value_or("");
    const auto bad = [&](std::string_view what) {
        error = std::string(a.name) + ": " + std::string(what) + ", not '" + escaped(v) + "'";
        return Handled::Error;
    };
    if (a.name == "--echo") {
        o.echo = numberPair(v, 0.0, 1000.0, -60.0, 0.0);
        if (!o.echo) return bad("takes MS,DB: a delay of 0 to 1000 ms and a level of -60 to 0 dB");
    } else if (a.name == "--dtmf-deviation") {
        const auto pair = numberPair(v, -10.0, 10.0, -10.0, 10.0);
        if (!pair) return bad("takes LOW,HIGH: each group's deviation from -10 to 10 per cent");
        o.dtmfLowDeviationPercent = pair->first;
        o.dtmfHighDeviationPercent = pair->second;
    } else if (a.name == "--hum") {
        o.hum = numberPair(v, 1.0, 1000.0, -80.0, 3.0);
        if (!o.hum) return bad("takes HZ,DBM0: a frequency of 1 to 1000 Hz and a level of -80 to 3 dBm0");
    } else if (a.name == "--dc") {
        const auto n = realNumber(v, -50.0, 50.0);
        if (!n) return bad("takes a percentage of full scale from -50 to 50");
        o.dcPercent = *n;
    } else if (a.name == "--sequence") {
        o.sequence = presetNamed(v);
        if (!o.sequence) return bad("takes us-onhook, us-cw, etsi-dtas, etsi-rpas, etsi-ring, bt, ntt or dtmf");
    } else if (a.name == "--ring-cadence") {
        o.ringCadence = numberPair(v, 1.0, 10000.0, 0.0, 10000.0);
        if (!o.ringCadence) return bad("takes ON,OFF: 1 to 10000 ms on and 0 to 10000 ms off");
    } else if (a.name == "--ring-hz" || a.name == "--ring-level" || a.name == "--alert-ms" || a.name == "--gap-ms") {
        const bool hz = a.name == "--ring-hz";
        const bool level = a.name == "--ring-level";
        const auto n = hz ? realNumber(v, 5.0, 100.0) : level ? realNumber(v, -60.0, 0.0) : realNumber(v, 0.0, 10000.0);
        if (!n) return bad(hz ? "takes 5 to 100 Hz" : level ? "takes -60 to 0 dBFS" : "takes 0 to 10000 ms");
        if (hz) o.ringHz = n;
        if (level) o.ringLevelDbfs = *n;
        if (a.name == "--alert-ms") o.alertMs = n;
        if (a.name == "--gap-ms") o.gapMs = n;
    } else if (a.name == "--clip") {
        o.clipPercent = realNumber(v, 1.0, 100.0);
        if (!o.clipPercent) return bad("takes a percentage of full scale from 1 to 100");
    } else {
        return Handled::No;
    }
    return Handled::Yes;
}

// The call sequence's other timings: the call-waiting signals around the
// CAS (the tone the subscriber hears before it, the phone's acknowledgement
// after it), the time from the line reversal and the time to the ringing.
Handled sequenceOption(const Arg& a, Options& o, std::string& error) {
    const std::string_view v = a.value.value_or("");
    const auto bad = [&](std::string_view what) {
        error = std::string(a.name) + ": " + std::string(what) + ", not '" + escaped(v) + "'";
        return Handled::Error;
    };
    if (a.name == "--ack") {
        const char digit = v.size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(v[0]))) : '\0';
        if (!sigcore::dtmfFrequencies(digit)) return bad("takes one DTMF digit: 0-9, *, #, A-D");
        o.ack = digit;
    } else if (a.name == "--sas-level") {
        o.sasLevelDbm0 = realNumber(v, -60.0, 3.0);
        if (!o.sasLevelDbm0) return bad("takes -60 to 3 dBm0");
    } else if (a.name == "--sas-ms" || a.name == "--ack-delay-ms" || a.name == "--reversal-ms" ||
               a.name == "--ring-after-ms") {
        const auto n = realNumber(v, 0.0, 10000.0);
        if (!n) return bad("takes 0 to 10000 ms");
        (a.name == "--sas-ms"         ? o.sasMs
         : a.name == "--ack-delay-ms" ? o.ackDelayMs
         : a.name == "--reversal-ms"  ? o.reversalMs
                                      : o.ringAfterMs) = n;
    } else if (a.name == "--ack-ms") {
        o.ackMs = realNumber(v, 1.0, 1000.0);
        if (!o.ackMs) return bad("takes 1 to 1000 ms");
    } else {
        return Handled::No;
    }
    return Handled::Yes;
}

// Options about the signal.
Handled signalOption(const Arg& a, Options& o, std::string& error) {
    const std::string_view v = a.value.value_or("");
    const auto real = [&](double low, double high, double& target) {
        const auto n = realNumber(v, low, high);
        if (!n) {
            std::array<char, 96> text{};
            std::snprintf(text.data(), text.size(), ": takes a number from %g to %g, not '", low, high);
            error = std::string(a.name) + text.data() + escaped(v) + "'";
            return Handled::Error;
        }
        target = *n;
        return Handled::Yes;
    };
    const auto whole = [&](long long low, long long high, auto store) {
        const auto n = wholeNumber(v, low, high);
        if (!n) {
            error = std::string(a.name) + ": takes a whole number from " + std::to_string(low) + " to " +
                    std::to_string(high) + ", not '" + escaped(v) + "'";
            return Handled::Error;
        }
        store(*n);
        return Handled::Yes;
    };
    double value = 0.0;
    Handled h = Handled::Yes;
    if (a.name == "--seizure-bits") return whole(0, 10000, [&](long long n) { o.seizureBits = static_cast<int>(n); });
    if (a.name == "--mark-bits") return whole(0, 10000, [&](long long n) { o.markBits = static_cast<int>(n); });
    if (a.name == "--stop-bits") return whole(1, 100, [&](long long n) { o.stopBits = static_cast<int>(n); });
    if (a.name == "--rate") return whole(8000, 48000, [&](long long n) { o.rate = static_cast<int>(n); });
    if (a.name == "--seed") return whole(0, 9223372036854775807LL, [&](long long n) { o.seed = static_cast<std::uint64_t>(n); });
    if (a.name == "--level") {
        h = real(-80.0, 10.0, value);
        o.levelDbm0 = value;
    } else if (a.name == "--ref-dbm0") {
        h = real(-20.0, 20.0, o.refDbm0);
    } else if (a.name == "--twist") {
        h = real(-40.0, 40.0, o.twistDb);
    } else if (a.name == "--mark-offset") {
        h = real(-500.0, 500.0, o.markOffsetHz);
    } else if (a.name == "--space-offset") {
        h = real(-500.0, 500.0, o.spaceOffsetHz);
    } else if (a.name == "--rate-error") {
        h = real(-20.0, 20.0, o.rateErrorPercent);
    } else if (a.name == "--snr") {
        h = real(-20.0, 120.0, value);
        o.snrDb = value;
    } else if (a.name == "--digit-ms") {
        h = real(1.0, 10000.0, o.digitMs);
    } else if (a.name == "--digit-gap-ms") {
        h = real(0.0, 10000.0, o.digitGapMs);
    } else if (a.name == "--lead-ms") {
        h = real(0.0, 60000.0, o.leadMs);
    } else if (a.name == "--tail-ms") {
        h = real(0.0, 60000.0, o.tailMs);
    } else {
        return Handled::No;
    }
    return h;
}

Handled outputOption(const Arg& a, Options& o, std::string& error) {
    const std::string_view v = a.value.value_or("");
    if (a.name == "-o" || a.name == "--output") {
        if (v.empty()) {
            error = std::string(a.name) + ": takes a file name, or - for standard output";
            return Handled::Error;
        }
        o.output = std::string(v);
    } else if (a.name == "--type") {
        o.type = typeNamed(v);
        if (!o.type) {
            error = std::string("--type: takes wav, aiff, flac, ul or al, not '").append(escaped(v)).append("'");
            return Handled::Error;
        }
    } else if (a.name == "--encoding") {
        o.encoding = encodingNamed(v);
        if (!o.encoding) {
            error = std::string("--encoding: takes s8, u8, s16, s24, float, ulaw or alaw, not '").append(escaped(v)).append("'");
            return Handled::Error;
        }
    } else {
        return Handled::No;
    }
    return Handled::Yes;
}

bool isFlag(std::string_view name) {
    return name == "--help" || name == "-h" || name == "--version" || name == "--bad-checksum" ||
           name == "--describe";
}

}  // namespace

std::string escaped(std::string_view text) {
    static constexpr std::string_view kHex = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7f && b != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0x0f];
        }
    }
    return out;
}

ParseResult parseOptions(std::span<const char* const> args, const std::string& nowDate, const std::string& nowTime) {
    ParseResult result;
    Options& o = result.options;
    o.fields.date = nowDate;
    o.fields.time = nowTime;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view text = args[i] != nullptr ? args[i] : "";
        Arg a{text, std::nullopt, false};
        if (const auto eq = text.find('='); text.starts_with("--") && eq != std::string_view::npos) {
            a.name = text.substr(0, eq);
            a.value = text.substr(eq + 1);
        }
        if (isFlag(a.name)) {
            if (a.value) {
                result.error = std::string(a.name) + ": takes no value";
                return result;
            }
            if (a.name == "--help" || a.name == "-h") o.help = true;
            if (a.name == "--version") o.version = true;
            if (a.name == "--bad-checksum") o.badChecksum = true;
            if (a.name == "--describe") o.describe = true;
            continue;
        }
        if (!a.name.starts_with("-") || a.name == "-") {
            result.error = std::string("'").append(escaped(text)).append("': not an option (the output goes after -o)");
            return result;
        }
        if (!a.value) {
            if (i + 1 >= args.size()) {
                result.error = escaped(a.name) + ": needs a value";
                return result;
            }
            a.value = std::string_view(args[++i] != nullptr ? args[i] : "");
        }
        for (const auto handler : {messageOption, signalOption, lineOption, sequenceOption, outputOption}) {
            const Handled h = handler(a, o, result.error);
            if (h == Handled::Error) return result;
            if (h == Handled::Yes) break;
            if (handler == outputOption) {
                result.error = std::string("unknown option ").append(escaped(a.name)).append(" (cidgen --help lists them)");
                return result;
            }
        }
    }
    if (o.sequence && !o.standardGiven) o.standard = presetStandard(*o.sequence);
    if (o.describe && !o.sequence) result.error = "--describe: needs --sequence";
    if (result.error.empty() && !o.help && !o.version && !o.describe && o.output.empty()) result.error = "-o OUT is needed (- for standard output)";
    return result;
}

const char* usageText() {
    return "usage: cidgen [OPTIONS] -o OUT\n"
           "       cidgen --plan gr30|etsi|bt|ntt|dtmf-cid|negative DIR [--force]\n"
           "Writes a caller-ID or DTMF test signal as a sound file (OUT - is standard output),\n"
           "or a test plan: a WAV per receiver condition and DIR/manifest.jsonl.\n"
           "\n"
           "Message:\n"
           "  --standard S           us-sdmf, us-mdmf (default), us-vmwi, etsi, ntt, dtmf-cid, dtmf\n"
           "  --number N             calling number\n"
           "  --name TEXT            caller name (NTT: full-width text in UTF-8)\n"
           "  --date MM-DD           date (default today)\n"
           "  --time HH:MM           time (default now)\n"
           "  --number-absent R      private or unavailable, instead of the number\n"
           "  --name-absent R        private or unavailable, instead of the name\n"
           "  --redirecting N        redirecting number (US MDMF, ETSI, DTMF caller ID)\n"
           "  --call-type T          long-distance (US call qualifier); ETSI: voice, alarm, ...\n"
           "                         or a code 0xNN\n"
           "  --message-waiting on|off  message waiting instead of caller ID (us-vmwi: SDMF;\n"
           "                         us-mdmf, etsi: their message-waiting message)\n"
           "  --param TYPE=HEX       any parameter, after the others (repeatable)\n"
           "  --raw HEX              these bytes as the message, sent as they are\n"
           "  --bad-checksum         spoil the checksum or CRC (dtmf-cid: no end digit)\n"
           "  --digits D             DTMF digits to send (dtmf; dtmf-cid: sent as they are)\n"
           "  --from-json FILE|-     send the messages of cidscan --json lines again (raw\n"
           "                         bytes when there, else the fields), one after another\n"
           "Signal:\n"
           "  --seizure-bits N       channel-seizure bits (US, ETSI: 300; NTT: 0)\n"
           "  --mark-bits N          mark bits before the message (US, ETSI: 180; NTT: 240)\n"
           "  --stop-bits N          stop bits after each byte (default 1)\n"
           "  --level DBM0           level of each tone (FSK -13.5, DTMF -10 dBm0)\n"
           "  --ref-dbm0 X           the level a full-scale sine stands for (default 3.14)\n"
           "  --twist DB             FSK: mark minus space; DTMF: high minus low group\n"
           "  --mark-offset HZ       --space-offset HZ   tone frequency offsets\n"
           "  --rate-error PCT       bit-rate deviation in percent\n"
           "  --dtmf-deviation L,H   DTMF: each group's tones off nominal, in percent\n"
           "  --snr DB               white noise, tone power over noise power in 0..fs/2\n"
           "  --seed N               noise seed (default 1; the same seed, the same noise)\n"
           "  --echo MS,DB           an echo MS ms later, DB relative to the signal\n"
           "  --hum HZ,DBM0          mains hum: a sine of HZ at DBM0\n"
           "  --dc PCT               DC offset, percent of full scale\n"
           "  --clip PCT             clip the samples at PCT percent of full scale\n"
           "  --digit-ms MS          --digit-gap-ms MS   DTMF tone and gap (default 70, 70)\n"
           "  --lead-ms MS           --tail-ms MS   silence before and after (default 200)\n"
           "Call sequence:\n"
           "  --sequence P           the line's signals around the message: us-onhook, us-cw,\n"
           "                         etsi-dtas, etsi-rpas, etsi-ring, bt, ntt, dtmf\n"
           "  --ring-cadence ON,OFF  ringing on and off times in ms (default: the preset's)\n"
           "  --ring-hz HZ           ringing frequency (US 20, ETSI and BT 25, NTT 16)\n"
           "  --ring-level DBFS      ringing peak level (default -3)\n"
           "  --alert-ms MS          alert length (CAS, DT-AS, RP-AS, first ring, NTT CAR)\n"
           "  --gap-ms MS            from the alert's end to the data\n"
           "  --sas-ms MS            us-cw: the 440 Hz tone before the CAS (default 300, 0 none)\n"
           "  --sas-level DBM0       us-cw: its level (default -13)\n"
           "  --ack DIGIT            us-cw: render the phone's acknowledgement (DTMF, 60 ms)\n"
           "  --ack-delay-ms MS      us-cw: from the CAS's end to it (default 50)\n"
           "  --ack-ms MS            us-cw: its length (default 60)\n"
           "  --reversal-ms MS       etsi-dtas, bt: from the line reversal to the DT-AS\n"
           "  --ring-after-ms MS     from the data's end to the ringing (default: the preset's)\n"
           "  --describe             print the timing table on standard output, write no file\n"
           "Output:\n"
           "  -o OUT                 the file (written whole or not at all), - standard output\n"
           "  --rate HZ              8000 (default) to 48000\n"
           "  --type T               wav, aiff, flac, ul, al (headerless G.711); default from\n"
           "                         the extension of OUT, else wav\n"
           "  --encoding E           s8, u8, s16 (default), s24, float, ulaw, alaw\n"
           "  --help, --version\n"
           "\n"
           "Exit status: 0 the file was written, 1 it was not (the reason on standard error).\n";
}

}  // namespace cidgen
