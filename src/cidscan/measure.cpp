#include "cidscan/measure.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace cidscan {

namespace {

// Longest stretch a channel keeps: a second before the message, the
// longest message and its look-ahead, with room to spare.
constexpr double kRingSeconds = 12.0;

double seconds(double sample, int rate) { return sample / static_cast<double>(rate); }

// Rounded to `places` decimals, so that the JSON shows what the
// measurement can tell.
double rounded(double v, int places) {
    const double scale = std::pow(10.0, places);
    const double r = std::round(v * scale) / scale;
    return r == 0.0 ? 0.0 : r;  // never "-0"
}

// For the text lines, rounded as printed.
double shown(double v) { return rounded(v, 2); }

sigcore::FskNominal nominalOf(sigcore::Standard standard) {
    if (standard == sigcore::Standard::Bell202) return {1200, 2200, 1200};
    return {1300, 2100, 1200};
}

std::vector<DigitMeasure> measureDigits(const std::vector<sigcore::MessageTone>& tones,
                                        const sigcore::SampleRing& ring, int rate) {
    std::vector<DigitMeasure> out;
    std::vector<float> x;
    const auto margin = static_cast<std::int64_t>(sigcore::kDigitMarginSeconds * rate);
    for (const sigcore::MessageTone& t : tones) {
        const std::int64_t first = ring.copy(t.start - margin, t.end + margin, x);
        DigitMeasure d{t.digit, sigcore::measureDigit(x, first, rate, t.digit, t.start, t.end), std::nullopt};
        out.push_back(d);
    }
    for (std::size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i].tones.measured && out[i + 1].tones.measured) out[i].gap = out[i + 1].tones.start - out[i].tones.end;
    }
    return out;
}

}  // namespace

std::size_t measureRingSize(int rate) { return static_cast<std::size_t>(kRingSeconds * rate); }

std::int64_t measureReadyAt(const sigcore::Message& m, int rate) {
    const bool fsk = m.standard == sigcore::Standard::Bell202 || m.standard == sigcore::Standard::V23Ntt ||
                     m.standard == sigcore::Standard::V23Etsi;
    const double ahead = fsk ? sigcore::kFskLookAheadSeconds : sigcore::kDigitMarginSeconds;
    return m.endSample + static_cast<std::int64_t>(std::ceil(ahead * rate));
}

MessageMeasure measureMessage(const sigcore::Message& m, const sigcore::SampleRing& ring, int rate, double refDbm0) {
    sigcore::FskMeter meter;
    return measureMessage(m, ring, rate, refDbm0, meter);
}

MessageMeasure measureMessage(const sigcore::Message& m, const sigcore::SampleRing& ring, int rate, double refDbm0,
                              sigcore::FskMeter& meter, std::int64_t notBefore) {
    MessageMeasure out;
    out.refDbm0 = refDbm0;
    if (m.standard == sigcore::Standard::Dtmf || m.standard == sigcore::Standard::DtmfCallerId) {
        out.digits = measureDigits(m.tones, ring, rate);
        return out;
    }
    std::vector<float> x;
    const auto back = static_cast<std::int64_t>(sigcore::kFskLookBackSeconds * rate);
    const auto ahead = static_cast<std::int64_t>(sigcore::kFskLookAheadSeconds * rate);
    const std::int64_t first = ring.copy(std::min(std::max(m.startSample - back, notBefore), m.startSample),
                                         m.endSample + ahead, x);
    out.fsk = meter.measure(x, first, rate, nominalOf(m.standard), m.startSample, m.endSample);
    return out;
}

namespace {

// The burst's or the digits' lines.
std::string measureBodyText(const MessageMeasure& measure, int rate) {
    std::string out;
    char line[512];
    if (measure.fsk) {
        const sigcore::FskMeasurement& f = *measure.fsk;
        if (!f.measured) return "  measure: the burst could not be measured\n";
        std::snprintf(line, sizeof line,
                      "  measure: mark %.2f Hz %.2f dBFS %.2f dBm0, space %.2f Hz %.2f dBFS %.2f dBm0, "
                      "twist %.2f dB\n"
                      "  measure: bit rate %.2f bit/s, SNR %.1f dB, seizure %d bits, mark %d bits, ",
                      shown(f.markHz), shown(f.markDbfs), shown(f.markDbfs + measure.refDbm0), shown(f.spaceHz),
                      shown(f.spaceDbfs), shown(f.spaceDbfs + measure.refDbm0), shown(f.twistDb), shown(f.bitRate),
                      shown(f.snrDb), f.seizureBits, f.markBits);
        out += line;
        if (f.stopBitsMin) {
            std::snprintf(line, sizeof line, "stop bits %d to %d\n", *f.stopBitsMin, *f.stopBitsMax);
        } else {
            std::snprintf(line, sizeof line, "stop bits -\n");
        }
        out += line;
        out += "  measure: ";
        if (f.seizureStart) {
            std::snprintf(line, sizeof line, "seizure from %.4f s, ", seconds(*f.seizureStart, rate));
            out += line;
        }
        std::snprintf(line, sizeof line, "mark from %.4f s, message from %.4f s, end %.4f s\n",
                      seconds(f.markStart, rate), seconds(f.messageStart, rate), seconds(f.end, rate));
        out += line;
        return out;
    }
    for (const DigitMeasure& d : measure.digits) {
        const sigcore::DigitMeasurement& t = d.tones;
        if (!t.measured) {
            std::snprintf(line, sizeof line, "  measure: digit %c not measured\n", d.digit);
        } else {
            std::snprintf(line, sizeof line,
                          "  measure: digit %c %.2f Hz %.2f dBFS, %.2f Hz %.2f dBFS, twist %.2f dB, %.1f ms", d.digit,
                          shown(t.lowHz), shown(t.lowDbfs), shown(t.highHz), shown(t.highDbfs), shown(t.twistDb),
                          shown(1000.0 * seconds(t.end - t.start, rate)));
        }
        out += line;
        if (d.gap) {
            std::snprintf(line, sizeof line, ", gap %.1f ms", 1000.0 * seconds(*d.gap, rate));
            out += line;
        }
        if (t.measured) out += '\n';
    }
    return out;
}

}  // namespace

std::string measureText(const MessageMeasure& measure, int rate) {
    std::string out = measureBodyText(measure, rate);
    if (measure.afterSignalMs) {
        char line[96];
        std::snprintf(line, sizeof line, "  measure: %.1f ms after the last line signal\n", *measure.afterSignalMs);
        out += line;
    }
    return out;
}

nlohmann::ordered_json measureJson(const MessageMeasure& measure, int rate) {
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
    if (measure.fsk) {
        const sigcore::FskMeasurement& f = *measure.fsk;
        if (!f.measured) return nullptr;
        j["mark_hz"] = rounded(f.markHz, 3);
        j["space_hz"] = rounded(f.spaceHz, 3);
        j["mark_dbfs"] = rounded(f.markDbfs, 3);
        j["space_dbfs"] = rounded(f.spaceDbfs, 3);
        j["mark_dbm0"] = rounded(f.markDbfs + measure.refDbm0, 3);
        j["space_dbm0"] = rounded(f.spaceDbfs + measure.refDbm0, 3);
        j["twist_db"] = rounded(f.twistDb, 3);
        j["bit_rate"] = rounded(f.bitRate, 3);
        j["snr_db"] = rounded(f.snrDb, 2);
        j["seizure_bits"] = f.seizureBits;
        j["mark_bits"] = f.markBits;
        j["stop_bits_min"] = f.stopBitsMin ? nlohmann::ordered_json(*f.stopBitsMin) : nullptr;
        j["stop_bits_max"] = f.stopBitsMax ? nlohmann::ordered_json(*f.stopBitsMax) : nullptr;
        j["seizure_start_s"] = f.seizureStart ? nlohmann::ordered_json(rounded(seconds(*f.seizureStart, rate), 6)) : nullptr;
        j["mark_start_s"] = rounded(seconds(f.markStart, rate), 6);
        j["message_start_s"] = rounded(seconds(f.messageStart, rate), 6);
        j["end_s"] = rounded(seconds(f.end, rate), 6);
        if (measure.afterSignalMs) j["after_signal_ms"] = rounded(*measure.afterSignalMs, 3);
        return j;
    }
    nlohmann::ordered_json digits = nlohmann::ordered_json::array();
    for (const DigitMeasure& d : measure.digits) {
        nlohmann::ordered_json o;
        o["digit"] = std::string(1, d.digit);
        const sigcore::DigitMeasurement& t = d.tones;
        if (t.measured) {
            o["low_hz"] = rounded(t.lowHz, 3);
            o["high_hz"] = rounded(t.highHz, 3);
            o["low_dbfs"] = rounded(t.lowDbfs, 3);
            o["high_dbfs"] = rounded(t.highDbfs, 3);
            o["twist_db"] = rounded(t.twistDb, 3);
            o["start_s"] = rounded(seconds(t.start, rate), 6);
            o["duration_ms"] = rounded(1000.0 * seconds(t.end - t.start, rate), 3);
            o["gap_ms"] = d.gap ? nlohmann::ordered_json(rounded(1000.0 * seconds(*d.gap, rate), 3)) : nullptr;
        }
        digits.push_back(std::move(o));
    }
    j["digits"] = std::move(digits);
    if (measure.afterSignalMs) j["after_signal_ms"] = rounded(*measure.afterSignalMs, 3);
    return j;
}

}  // namespace cidscan
