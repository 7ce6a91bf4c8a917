#include "cidscan/output.hpp"

#include <nlohmann/json.hpp>

#include <cinttypes>

#include "sigcore/messagetext.hpp"
#include "sigcore/usmessage.hpp"

namespace cidscan {

namespace {

double seconds(std::int64_t sample, int rate) { return static_cast<double>(sample) / static_cast<double>(rate); }

std::string typeName(const sigcore::Message& m) {
    if (m.standard == sigcore::Standard::Bell202) {
        const std::string_view name = sigcore::usMessageTypeName(m.type);
        return name.empty() ? std::string("unknown type") : std::string(name);
    }
    switch (m.type) {
    case 0x40: return "before the call";
    case 0x41: return "during the call";
    default: return "unknown type";
    }
}

std::string checkVerdict(const sigcore::Message& m) {
    const bool us = m.standard == sigcore::Standard::Bell202;
    const char* what = us ? "checksum" : "CRC";
    if (!m.complete) return std::string(what) + " not received: the message is cut off";
    char line[96];
    if (us) {
        std::snprintf(line, sizeof line, "checksum %02x %s", m.checkReceived,
                      m.valid ? "correct" : "wrong");
    } else {
        std::snprintf(line, sizeof line, "CRC %04x %s", m.checkReceived, m.valid ? "correct" : "wrong");
    }
    std::string out = line;
    if (!m.valid) {
        std::snprintf(line, sizeof line, us ? " (computed %02x)" : " (computed %04x)", m.checkComputed);
        out += line;
    }
    return out;
}

}  // namespace

const char* standardName(sigcore::Standard standard) {
    switch (standard) {
    case sigcore::Standard::Bell202: return "bell202";
    case sigcore::Standard::V23Ntt: return "v23-ntt";
    }
    return "unknown";
}

std::string formatText(const FoundMessage& found) {
    const sigcore::Message& m = found.message;
    char heading[256];
    std::snprintf(heading, sizeof heading,
                  " channel %d: %s message %02x (%s), %.3f s - %.3f s (samples %" PRId64 "-%" PRId64 ")\n",
                  found.channel, standardName(m.standard), m.type, typeName(m).c_str(),
                  seconds(m.startSample, found.rate), seconds(m.endSample, found.rate), m.startSample,
                  m.endSample);
    std::string out = found.file + heading;
    for (const sigcore::MessageField& field : m.fields) {
        out += "  ";
        out += field.key;
        out += ": ";
        out += field.value;
        out += '\n';
    }
    out += "  ";
    out += checkVerdict(m);
    out += "\n  raw: ";
    out += sigcore::hexBytes(m.raw);
    out += "\n\n";
    return out;
}

std::string formatJson(const FoundMessage& found) {
    const sigcore::Message& m = found.message;
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    for (const sigcore::MessageField& field : m.fields) fields[field.key] = field.value;
    nlohmann::ordered_json object;
    object["file"] = found.file;
    object["channel"] = found.channel;
    object["standard"] = standardName(m.standard);
    object["type"] = m.type;
    object["start_sample"] = m.startSample;
    object["end_sample"] = m.endSample;
    object["start_s"] = seconds(m.startSample, found.rate);
    object["end_s"] = seconds(m.endSample, found.rate);
    object["valid"] = m.valid;
    object["complete"] = m.complete;
    object["raw"] = sigcore::hexBytes(m.raw);
    object["fields"] = std::move(fields);
    // File names need not be UTF-8: their stray bytes become U+FFFD.
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

bool MessageWriter::write(const FoundMessage& found) {
    const std::string text = format_ == OutputFormat::Json ? formatJson(found) : formatText(found);
    const std::lock_guard lock(mutex_);
    if (failed_ || (once_ && written_ > 0)) return false;
    if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() || std::fflush(out_) != 0) {
        failed_ = true;
        return false;
    }
    ++written_;
    return !once_;
}

void MessageWriter::error(const std::string& line) {
    const std::lock_guard lock(mutex_);
    std::fprintf(stderr, "cidscan: %s\n", line.c_str());
    std::fflush(stderr);
}

bool MessageWriter::failed() const {
    const std::lock_guard lock(mutex_);
    return failed_;
}

}  // namespace cidscan
