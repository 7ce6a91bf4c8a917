#include "cidscan/output.hpp"

#include <nlohmann/json.hpp>

#include <cinttypes>
#include <cmath>

#include "cidscan/check.hpp"
#include "cidscan/escape.hpp"
#include "sigcore/messages/messagetext.hpp"
#include "sigcore/messages/usmessage.hpp"

namespace cidscan {

namespace {

double seconds(std::int64_t sample, int rate) { return static_cast<double>(sample) / static_cast<double>(rate); }

std::string typeName(const sigcore::Message& m) {
    if (m.standard == sigcore::Standard::Bell202) {
        const std::string_view name = sigcore::usMessageTypeName(m.type);
        return name.empty() ? std::string("unknown type") : std::string(name);
    }
    if (m.standard == sigcore::Standard::V23Etsi) {
        switch (m.type) {
        case 0x80: return "call set-up";
        case 0x82: return "message waiting indicator";
        case 0x86: return "advice of charge";
        case 0x89: return "short message service";
        default: return "unknown type";
        }
    }
    if (m.standard == sigcore::Standard::DtmfCallerId) {
        return m.type == 0 ? std::string("no start digit") : std::string("opened by ") + static_cast<char>(m.type);
    }
    if (m.standard == sigcore::Standard::Dtmf) return "digits";
    switch (m.type) {
    case 0x40: return "before the call";
    case 0x41: return "during the call";
    default: return "unknown type";
    }
}

std::string checkVerdict(const sigcore::Message& m) {
    if (m.standard == sigcore::Standard::DtmfCallerId || m.standard == sigcore::Standard::Dtmf) {
        return m.valid ? "framing complete" : "framing incomplete";
    }
    // US and ETSI messages end in an 8-bit checksum, NTT frames in a CRC.
    const bool us = m.standard != sigcore::Standard::V23Ntt;
    const char* what = us ? "checksum" : "CRC";
    if (!m.complete) return std::string(what) + " not received: the message is cut off";
    char line[96];
    if (us) {
        std::snprintf(line, sizeof line, "checksum %02x %s", m.checkReceived,
                      m.valid ? (m.repaired ? "correct after repairing one bit" : "correct") : "wrong");
    } else {
        std::snprintf(line, sizeof line, "CRC %04x %s", m.checkReceived,
                      m.valid ? (m.repaired ? "correct after repairing one bit" : "correct") : "wrong");
    }
    std::string out = line;
    if (!m.valid) {
        std::snprintf(line, sizeof line, us ? " (computed %02x)" : " (computed %04x)", m.checkComputed);
        out += line;
    }
    return out;
}

double roundedTo(double v, int places) {
    const double scale = std::pow(10.0, places);
    const double r = std::round(v * scale) / scale;
    return r == 0.0 ? 0.0 : r;  // never "-0"
}

// A line signal's measurement, as text after "  measure: " and as JSON.
std::string signalMeasureText(const sigcore::LineSignalMeasurement& m) {
    char line[256];
    std::string out;
    if (m.digit) {
        out += "digit ";
        out += *m.digit;
        out += ", ";
    }
    if (m.lowHz && m.highHz && m.lowDbfs && m.highDbfs && m.twistDb) {
        // Rounded as printed, so that no "-0.00" shows.
        std::snprintf(line, sizeof line, "%.2f Hz %.2f dBFS, %.2f Hz %.2f dBFS, twist %.2f dB, ", roundedTo(*m.lowHz, 2),
                      roundedTo(*m.lowDbfs, 2), roundedTo(*m.highHz, 2), roundedTo(*m.highDbfs, 2),
                      roundedTo(*m.twistDb, 2));
        out += line;
    }
    if (m.ringHz) {
        std::snprintf(line, sizeof line, "%.2f Hz, ", *m.ringHz);
        out += line;
    }
    if (m.ringDbfs) {
        std::snprintf(line, sizeof line, "peak %.2f dBFS, ", roundedTo(*m.ringDbfs, 2));
        out += line;
    }
    if (m.onMs) {
        std::snprintf(line, sizeof line, "on %.1f ms", *m.onMs);
        out += line;
        if (m.offMs) {
            std::snprintf(line, sizeof line, ", off %.1f ms", *m.offMs);
            out += line;
        }
    } else {
        std::snprintf(line, sizeof line, "%.1f ms", m.durationMs);
        out += line;
    }
    return out;
}


nlohmann::ordered_json signalMeasureJson(const sigcore::LineSignalMeasurement& m) {
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
    const auto put = [&j](const char* key, const std::optional<double>& v) {
        if (v) j[key] = roundedTo(*v, 3);
    };
    if (m.digit) j["digit"] = std::string(1, *m.digit);
    put("low_hz", m.lowHz);
    put("high_hz", m.highHz);
    put("low_dbfs", m.lowDbfs);
    put("high_dbfs", m.highDbfs);
    put("twist_db", m.twistDb);
    put("ring_hz", m.ringHz);
    put("ring_dbfs", m.ringDbfs);
    put("on_ms", m.onMs);
    put("off_ms", m.offMs);
    j["duration_ms"] = roundedTo(m.durationMs, 3);
    return j;
}

std::string formatSignalText(const FoundMessage& found, const sigcore::LineSignal& s) {
    char heading[256];
    std::snprintf(heading, sizeof heading, " channel %d: %s signal, %.3f s - %.3f s (samples %" PRId64 "-%" PRId64 ")\n",
                  found.channel, std::string(sigcore::lineSignalName(s.kind)).c_str(),
                  seconds(s.startSample, found.rate), seconds(s.endSample, found.rate), s.startSample, s.endSample);
    std::string out = terminalText(found.file) + heading;
    if (s.kind == sigcore::LineSignalKind::LineReversal) {
        out += "  measure: a step or click where the line's polarity turns (a best effort)\n";
    } else {
        out += "  measure: " + signalMeasureText(s.measure) + "\n";
    }
    if (found.check) out += checkText(*found.check);
    out += '\n';
    return out;
}

void fileJson(const std::string& file, nlohmann::ordered_json& object) {
    object["file"] = file;
    // A name that is not UTF-8 has its stray bytes shown as U+FFFD in "file":
    // its bytes stay recoverable here.
    if (!isUtf8(file)) {
        object["file_hex"] = sigcore::hexBytes(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
    }
}

std::string formatSignalJson(const FoundMessage& found, const sigcore::LineSignal& s) {
    nlohmann::ordered_json object;
    fileJson(found.file, object);
    object["channel"] = found.channel;
    object["signal"] = std::string(sigcore::lineSignalName(s.kind));
    object["start_sample"] = s.startSample;
    object["end_sample"] = s.endSample;
    object["start_s"] = seconds(s.startSample, found.rate);
    object["end_s"] = seconds(s.endSample, found.rate);
    object["measure"] = signalMeasureJson(s.measure);
    if (found.check) object["check"] = checkJson(*found.check);
    return escapeJsonControls(object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)) + "\n";
}

}  // namespace

const char* standardName(sigcore::Standard standard) {
    switch (standard) {
    case sigcore::Standard::Bell202: return "bell202";
    case sigcore::Standard::V23Ntt: return "v23-ntt";
    case sigcore::Standard::V23Etsi: return "v23-etsi";
    case sigcore::Standard::DtmfCallerId: return "dtmf-cid";
    case sigcore::Standard::Dtmf: return "dtmf";
    }
    return "unknown";
}

std::string formatText(const FoundMessage& found) {
    if (found.signal) return formatSignalText(found, *found.signal);
    const sigcore::Message& m = found.message;
    char heading[256];
    std::snprintf(heading, sizeof heading,
                  " channel %d: %s message %02x (%s), %.3f s - %.3f s (samples %" PRId64 "-%" PRId64 ")\n",
                  found.channel, standardName(m.standard), m.type, typeName(m).c_str(),
                  seconds(m.startSample, found.rate), seconds(m.endSample, found.rate), m.startSample,
                  m.endSample);
    // Names and fields may hold any character: none reaches the terminal raw.
    std::string out = terminalText(found.file) + heading;
    for (const sigcore::MessageField& field : m.fields) {
        out += "  ";
        out += terminalText(field.key);
        out += ": ";
        out += terminalText(field.value);
        out += '\n';
    }
    out += "  ";
    out += checkVerdict(m);
    out += "\n  raw: ";
    out += sigcore::hexBytes(m.raw);
    out += '\n';
    if (found.measure) out += measureText(*found.measure, found.rate);
    if (found.check) out += checkText(*found.check);
    out += '\n';
    return out;
}

std::string formatJson(const FoundMessage& found) {
    if (found.signal) return formatSignalJson(found, *found.signal);
    const sigcore::Message& m = found.message;
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    for (const sigcore::MessageField& field : m.fields) fields[field.key] = field.value;
    nlohmann::ordered_json object;
    fileJson(found.file, object);
    object["channel"] = found.channel;
    object["standard"] = standardName(m.standard);
    object["type"] = m.type;
    object["start_sample"] = m.startSample;
    object["end_sample"] = m.endSample;
    object["start_s"] = seconds(m.startSample, found.rate);
    object["end_s"] = seconds(m.endSample, found.rate);
    object["valid"] = m.valid;
    object["complete"] = m.complete;
    // A message that passed its check only after its least certain bit was
    // flipped: "raw" holds the bytes as repaired.
    object["repaired"] = m.repaired;
    object["raw"] = sigcore::hexBytes(m.raw);
    object["fields"] = std::move(fields);
    if (m.standard == sigcore::Standard::Dtmf) {
        nlohmann::ordered_json tones = nlohmann::ordered_json::array();
        for (const sigcore::MessageTone& tone : m.tones) {
            tones.push_back({{"digit", std::string(1, tone.digit)},
                             {"start_sample", tone.start},
                             {"end_sample", tone.end},
                             {"start_s", seconds(tone.start, found.rate)},
                             {"end_s", seconds(tone.end, found.rate)}});
        }
        object["tones"] = std::move(tones);
    }
    if (found.measure) object["measure"] = measureJson(*found.measure, found.rate);
    if (found.check) object["check"] = checkJson(*found.check);
    // Bytes that are not UTF-8 become U+FFFD (the dump would throw on them).
    return escapeJsonControls(object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)) + "\n";
}

bool MessageWriter::write(const FoundMessage& found) {
    const std::string text = format_ == OutputFormat::Json ? formatJson(found) : formatText(found);
    const std::lock_guard lock(mutex_);
    if (failed_ || (once_ && written_ > 0)) return false;
    // On the page even when standard output fails on it: it was found.
    if (report_ != nullptr) report_->add(found);
    if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() || std::fflush(out_) != 0) {
        failed_ = true;
        return false;
    }
    if (found.check && !found.check->pass) checkFailed_ = true;
    // A line signal is not the message --once waits for.
    if (found.signal) return true;
    ++written_;
    return !once_;
}

void MessageWriter::error(const std::string& line) {
    const std::lock_guard lock(mutex_);
    // The line may carry a file name: escaped like the text output.
    std::fprintf(stderr, "cidscan: %s\n", terminalText(line).c_str());
    std::fflush(stderr);
    if (report_ != nullptr) report_->error(line);
}

bool MessageWriter::failed() const {
    const std::lock_guard lock(mutex_);
    return failed_;
}

bool MessageWriter::checkFailed() const {
    const std::lock_guard lock(mutex_);
    return checkFailed_;
}

std::string messageTypeName(const sigcore::Message& m) { return typeName(m); }

std::string messageVerdict(const sigcore::Message& m) { return checkVerdict(m); }

}  // namespace cidscan
