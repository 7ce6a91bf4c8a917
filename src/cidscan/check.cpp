#include "cidscan/check.hpp"

#include <cmath>
#include <cstdio>
#include <vector>

namespace cidscan {

namespace {

double rounded3(double v) {
    const double r = std::round(v * 1000.0) / 1000.0;
    return r == 0.0 ? 0.0 : r;
}

nlohmann::ordered_json bound(const std::optional<double>& b) {
    return b ? nlohmann::ordered_json(rounded3(*b)) : nlohmann::ordered_json(nullptr);
}

std::string boundText(const std::optional<double>& b) {
    if (!b) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", *b);
    return text;
}

}  // namespace

sigcore::CheckResult checkMessage(const MessageMeasure& measure, int rate, sigcore::CheckStandard standard) {
    std::optional<sigcore::SignalGap> gap;
    if (measure.afterSignalMs && measure.afterSignalKind) {
        gap = sigcore::SignalGap{*measure.afterSignalKind, *measure.afterSignalMs};
    }
    if (measure.fsk) return sigcore::checkFsk(*measure.fsk, measure.refDbm0, standard, gap);
    std::vector<sigcore::CheckedDigit> digits;
    digits.reserve(measure.digits.size());
    for (const DigitMeasure& d : measure.digits) digits.push_back({d.digit, d.tones, d.gap});
    return sigcore::checkDigits(digits, rate, measure.refDbm0, standard, gap);
}

std::string checkText(const sigcore::CheckResult& check) {
    const std::string name(sigcore::checkStandardName(check.standard));
    std::string out = "  check " + name + ": " + (check.pass ? "PASS" : "FAIL");
    if (check.items.empty()) out += " (nothing this standard's limits apply to was measured)";
    out += '\n';
    char line[256];
    for (const sigcore::CheckItem& item : check.items) {
        std::snprintf(line, sizeof line, "  check: %-16s %10.2f  min %8s  max %8s  %s\n", item.name.c_str(),
                      rounded3(item.value), boundText(item.min).c_str(), boundText(item.max).c_str(),
                      item.pass ? "PASS" : "FAIL");
        out += line;
    }
    return out;
}

nlohmann::ordered_json checkJson(const sigcore::CheckResult& check) {
    nlohmann::ordered_json items = nlohmann::ordered_json::array();
    for (const sigcore::CheckItem& item : check.items) {
        nlohmann::ordered_json o;
        o["name"] = item.name;
        o["value"] = rounded3(item.value);
        o["min"] = bound(item.min);
        o["max"] = bound(item.max);
        o["pass"] = item.pass;
        items.push_back(std::move(o));
    }
    nlohmann::ordered_json j;
    j["standard"] = std::string(sigcore::checkStandardName(check.standard));
    j["pass"] = check.pass;
    j["items"] = std::move(items);
    return j;
}

}  // namespace cidscan
