#include "cidgen/fromjson.hpp"

#include <nlohmann/json.hpp>

#include <optional>

namespace cidgen {

namespace {

using nlohmann::json;

std::optional<Standard> standardOf(const std::string& name) {
    if (name == "bell202") return Standard::UsMdmf;  // the tones; the bytes say the rest
    if (name == "v23-etsi") return Standard::Etsi;
    if (name == "v23-ntt") return Standard::Ntt;
    if (name == "dtmf-cid") return Standard::DtmfCid;
    if (name == "dtmf") return Standard::Dtmf;
    return std::nullopt;
}

std::string field(const json& fields, const char* key) {
    const auto it = fields.find(key);
    return it != fields.end() && it->is_string() ? it->get<std::string>() : std::string();
}

char reason(const std::string& text) {
    if (text == "private") return 'P';
    if (text == "unavailable") return 'O';
    return 0;
}

std::string withoutSeparator(std::string text) {
    if (text.size() == 5) text.erase(2, 1);
    return text;
}

// A message built from the decoded fields, for an object without raw bytes.
sigcore::BuildResult fromFields(Standard standard, int type, const json& fields) {
    sigcore::CallerIdFields f;
    f.date = withoutSeparator(field(fields, "date"));
    f.time = withoutSeparator(field(fields, "time"));
    f.number = field(fields, "number");
    f.name = field(fields, "name");
    f.numberAbsent = reason(field(fields, "number_absent"));
    f.nameAbsent = reason(field(fields, "name_absent"));
    f.redirecting = field(fields, "redirecting_number");
    const std::string waiting = field(fields, "message_waiting");
    switch (standard) {
    case Standard::DtmfCid: return sigcore::buildDtmfCallerId(f);
    case Standard::Dtmf: {
        const std::string digits = field(fields, "digits");
        return sigcore::BuildResult{std::vector<std::uint8_t>(digits.begin(), digits.end()), {}};
    }
    case Standard::Ntt: return sigcore::buildNttFrame(f);
    case Standard::Etsi:
        return type == 0x82 ? sigcore::buildEtsiMessageWaiting(waiting == "on", f) : sigcore::buildEtsiCallSetup(f);
    default: break;
    }
    if (type == 0x04) return sigcore::buildUsSdmf(f);
    if (type == 0x06) return sigcore::buildUsSdmfMessageWaiting(waiting == "on");
    if (type == 0x82) return sigcore::buildUsMdmfMessageWaiting(waiting == "on", f);
    return sigcore::buildUsMdmf(f);
}

// One object; an error says what is wrong with it.
std::optional<Outgoing> messageOf(const json& object, std::string& error) {
    if (!object.is_object()) {
        error = "not a JSON object";
        return std::nullopt;
    }
    const auto standardIt = object.find("standard");
    const auto standard = standardIt != object.end() && standardIt->is_string()
                              ? standardOf(standardIt->get<std::string>())
                              : std::nullopt;
    if (!standard) {
        error = "\"standard\" is missing or not one of bell202, v23-etsi, v23-ntt, dtmf-cid, dtmf";
        return std::nullopt;
    }
    Outgoing out{*standard, {}};
    const auto raw = object.find("raw");
    if (raw != object.end() && raw->is_string() && !raw->get<std::string>().empty()) {
        const auto bytes = sigcore::parseHex(raw->get<std::string>());
        if (!bytes) {
            error = "\"raw\" is not hex";
            return std::nullopt;
        }
        out.bytes = *bytes;
    } else {
        const auto fields = object.find("fields");
        const auto type = object.find("type");
        if (fields == object.end() || !fields->is_object()) {
            error = "neither \"raw\" nor \"fields\"";
            return std::nullopt;
        }
        sigcore::BuildResult built =
            fromFields(*standard, type != object.end() && type->is_number_integer() ? type->get<int>() : 0, *fields);
        if (!built.error.empty()) {
            error = built.error;
            return std::nullopt;
        }
        out.bytes = std::move(built.bytes);
    }
    const bool dtmf = out.standard == Standard::DtmfCid || out.standard == Standard::Dtmf;
    if (dtmf && std::string(out.bytes.begin(), out.bytes.end()).find_first_not_of("0123456789*#ABCD") != std::string::npos) {
        error = "the DTMF message holds a character that is no DTMF digit";
        return std::nullopt;
    }
    if (out.bytes.empty()) {
        error = "the message is empty";
        return std::nullopt;
    }
    return out;
}

}  // namespace

JsonMessages readJsonMessages(std::string_view text) {
    JsonMessages result;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        std::string error;
        const json object = json::parse(line, nullptr, false);
        const auto message = object.is_discarded() ? std::nullopt : messageOf(object, error);
        if (!message) {
            result.error = "--from-json: line " + std::to_string(lineNumber) + ": " +
                           (object.is_discarded() ? std::string("not JSON") : error);
            result.messages.clear();
            return result;
        }
        result.messages.push_back(*message);
    }
    if (result.messages.empty()) result.error = "--from-json: no message";
    return result;
}

}  // namespace cidgen
