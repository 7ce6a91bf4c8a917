#include "cidscan/timing.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>
#include <vector>

#include "cidscan/escape.hpp"
#include "cidscan/output.hpp"

namespace cidscan {

namespace {

constexpr double kWidth = 960;
constexpr double kLeft = 72;
constexpr double kRight = 16;
constexpr double kSignalTop = 20;
constexpr double kBurstTop = 50;
constexpr double kLaneHeight = 22;
constexpr double kLevelTop = 88;
constexpr double kLevelHeight = 160;
constexpr double kAxisY = kLevelTop + kLevelHeight;
constexpr double kHeight = kAxisY + 36;
// Roughly the width of one character of the 11 px labels.
constexpr double kCharWidth = 6.5;

// Seconds to x and dBm0 to y.
struct Scale {
    double t0 = 0;
    double t1 = 1;
    double lo = -60;
    double hi = 0;

    [[nodiscard]] double x(double s) const { return kLeft + (s - t0) / (t1 - t0) * (kWidth - kLeft - kRight); }
    [[nodiscard]] double y(double dbm0) const {
        return kLevelTop + (hi - std::clamp(dbm0, lo, hi)) / (hi - lo) * kLevelHeight;
    }
};

std::string fixed(double v, int places) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", places, v == 0.0 ? 0.0 : v);
    return text;
}

// A coordinate; one that could not be worked out is drawn at 0 rather than
// written as "nan", which the browser would reject.
std::string px(double v) { return fixed(std::isfinite(v) ? v : 0.0, 1); }

// A box from `from` to `to` seconds in the lane at `top`, labelled when the
// label fits, with the label and `title` shown on hovering.
void box(std::string& out, const Scale& s, TimeSpan span, double top, std::string_view cls, const std::string& label,
         const std::string& title) {
    const double x1 = s.x(span.from);
    const double width = std::max(1.0, s.x(span.to) - x1);
    out += "<g class=\"" + std::string(cls) + "\"><title>" + htmlText(title) + "</title><rect x=\"" + px(x1) +
           "\" y=\"" + px(top) + "\" width=\"" + px(width) + "\" height=\"" + px(kLaneHeight) + "\"/>";
    const std::string y = px(top + kLaneHeight / 2 + 4);
    if (width >= kCharWidth * static_cast<double>(label.size()) + 4) {
        out += "<text x=\"" + px(x1 + width / 2) + "\" y=\"" + y + "\" text-anchor=\"middle\">" + htmlText(label) +
               "</text>";
    } else if (cls == "signal") {
        // A short signal (a line reversal is a step) is named beside its box.
        out += "<text x=\"" + px(x1 + width + 2) + "\" y=\"" + y + "\">" + htmlText(label) + "</text>";
    }
    out += "</g>\n";
}

std::string secondsText(double s) { return fixed(s, 4) + " s"; }

void signalBoxes(std::string& out, const Scale& s, const FoundMessage& f) {
    const sigcore::LineSignal& sig = *f.signal;
    const TimeSpan span = recordSpan(f);
    const std::string name(sigcore::lineSignalName(sig.kind));
    box(out, s, span, kSignalTop, "signal", name,
        name + " " + secondsText(span.from) + " - " + secondsText(span.to));
}

void burstBoxes(std::string& out, const Scale& s, const FoundMessage& f) {
    const double rate = f.rate;
    const sigcore::Message& m = f.message;
    const std::string what = std::string(standardName(m.standard)) + " ";
    const MessageMeasure* measure = f.measure ? &*f.measure : nullptr;
    if (measure != nullptr && measure->fsk && measure->fsk->measured) {
        const sigcore::FskMeasurement& k = *measure->fsk;
        if (k.seizureStart) {
            const TimeSpan part{*k.seizureStart / rate, k.markStart / rate};
            box(out, s, part, kBurstTop, "seizure", "seizure", what + "seizure from " + secondsText(part.from));
        }
        const TimeSpan mark{k.markStart / rate, k.messageStart / rate};
        box(out, s, mark, kBurstTop, "mark", "mark", what + "mark from " + secondsText(mark.from));
        const TimeSpan message{k.messageStart / rate, k.end / rate};
        box(out, s, message, kBurstTop, "message", "message",
            what + "message " + secondsText(message.from) + " - " + secondsText(message.to));
        return;
    }
    if (measure != nullptr && !measure->digits.empty()) {
        for (const DigitMeasure& d : measure->digits) {
            if (!d.tones.measured) continue;
            const TimeSpan span{d.tones.start / rate, d.tones.end / rate};
            const std::string digit(1, d.digit);
            box(out, s, span, kBurstTop, "digit", digit, what + "digit " + digit + " from " + secondsText(span.from));
        }
        return;
    }
    const TimeSpan span{static_cast<double>(m.startSample) / rate, static_cast<double>(m.endSample) / rate};
    box(out, s, span, kBurstTop, "message", "message",
        what + "message " + secondsText(span.from) + " - " + secondsText(span.to));
}

// A limit as drawn: the checked item (without a DTMF digit's "N:") and its
// bounds.
struct DrawnLimit {
    std::string item;
    std::optional<double> min;
    std::optional<double> max;
    bool operator==(const DrawnLimit&) const = default;
};

std::string_view itemName(std::string_view name) {
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The level limits the records were checked against (the items in dBm0),
// each once.
std::vector<DrawnLimit> levelLimits(std::span<const FoundMessage* const> records) {
    std::vector<DrawnLimit> out;
    for (const FoundMessage* f : records) {
        if (!f->check) continue;
        for (const sigcore::CheckItem& item : f->check->items) {
            DrawnLimit limit{std::string(itemName(item.name)), item.min, item.max};
            if (!limit.item.ends_with("_dbm0") || std::ranges::find(out, limit) != out.end()) continue;
            out.push_back(std::move(limit));
        }
    }
    return out;
}

// The dBm0 range that holds every traced level above the floor and every
// level limit, in whole tens: at least 50 dB (silence, drawn at the
// bottom, well below the tones), at most 80 dB.
void fitLevels(Scale& s, std::span<const FoundMessage* const> records, std::span<const DrawnLimit> limits) {
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const FoundMessage* f : records) {
        if (!f->measure || !f->measure->trace) continue;
        for (const std::vector<float>& row : f->measure->trace->dbfs) {
            for (const float v : row) {
                if (v <= sigcore::kTraceFloorDbfs) continue;
                low = std::min(low, v + f->measure->refDbm0);
                high = std::max(high, v + f->measure->refDbm0);
            }
        }
    }
    for (const DrawnLimit& limit : limits) {
        for (const std::optional<double>& b : {limit.min, limit.max}) {
            if (!b) continue;
            low = std::min(low, *b);
            high = std::max(high, *b);
        }
    }
    if (!(high >= low)) return;  // nothing to fit: the default range
    s.hi = std::ceil((high + 3) / 10) * 10;
    s.lo = std::max(std::floor((low - 3) / 10) * 10, s.hi - 80);
    s.lo = std::min(s.lo, s.hi - 50);
}

}  // namespace

namespace {

void traceLines(std::string& out, const Scale& s, const FoundMessage& f) {
    if (!f.measure || !f.measure->trace) return;
    const sigcore::LevelTrace& t = *f.measure->trace;
    const double rate = f.rate;
    for (std::size_t row = 0; row < t.dbfs.size(); ++row) {
        const bool band = row >= t.toneHz.size() || !(t.toneHz[row] > 0);
        const char* cls = band ? "band" : (row == 0 ? "mark" : "space");
        out += "<polyline class=\"" + std::string(cls) + "\" points=\"";
        for (std::size_t k = 0; k < t.dbfs[row].size(); ++k) {
            const double at = (t.firstCentre + t.step * static_cast<double>(k)) / rate;
            out += px(s.x(at)) + "," + px(s.y(t.dbfs[row][k] + f.measure->refDbm0)) + " ";
        }
        out += "\"/>\n";
    }
}

// One dashed line per bound; items with the same bound (mark and space
// often share theirs) share the line and its label.
void limitLines(std::string& out, const Scale& s, std::span<const DrawnLimit> limits) {
    std::vector<std::pair<double, std::string>> lines;  // bound, label
    for (const DrawnLimit& limit : limits) {
        for (const auto& [bound, word] : {std::pair{limit.min, "min"}, std::pair{limit.max, "max"}}) {
            if (!bound) continue;
            const std::string tail = std::string(" ") + word + " " + fixed(*bound, 1);
            const double value = *bound;  // a copy: a lambda may not capture a structured binding everywhere
            const auto same = std::ranges::find_if(lines, [&](const auto& l) {
                return l.first == value && l.second.ends_with(tail);
            });
            if (same != lines.end()) {
                same->second.insert(same->second.size() - tail.size(), ", " + limit.item);
            } else {
                lines.emplace_back(*bound, limit.item + tail);
            }
        }
    }
    for (const auto& [bound, label] : lines) {
        const std::string y = px(s.y(bound));
        out += "<g class=\"limit\"><title>" + htmlText(label) + "</title><line x1=\"" + px(kLeft) + "\" y1=\"" + y +
               "\" x2=\"" + px(kWidth - kRight) + "\" y2=\"" + y + "\"/><text x=\"" + px(kWidth - kRight - 2) +
               "\" y=\"" + px(s.y(bound) - 3) + "\" text-anchor=\"end\">" + htmlText(label) + "</text></g>\n";
    }
}

// Where a checked timing item is counted from (seconds) and its unit in
// seconds: the seizure and the mark in bits from their starts, the gap
// after a line signal in ms from that signal's end.
std::optional<std::pair<double, double>> timingOrigin(const FoundMessage& f, std::string_view item) {
    const sigcore::FskMeasurement& k = *f.measure->fsk;
    const double bit = 1.0 / (k.bitRate > 0 ? k.bitRate : 1200.0);
    const double firstBit = k.seizureStart.value_or(k.markStart) / f.rate;
    if (item == "seizure_bits" && k.seizureStart) return std::pair{*k.seizureStart / f.rate, bit};
    if (item == "mark_bits") return std::pair{k.markStart / f.rate, bit};
    if (item == "after_signal_ms" && f.measure->afterSignalMs) {
        return std::pair{firstBit - *f.measure->afterSignalMs / 1000.0, 0.001};
    }
    return std::nullopt;
}

// The checked lengths of a burst's parts, each as a bracket under the
// burst's row from where the part would end at its shortest to where it
// would end at its longest.
void timingLimits(std::string& out, const Scale& s, const FoundMessage& f) {
    if (!f.check || !f.measure || !f.measure->fsk || !f.measure->fsk->measured) return;
    for (const sigcore::CheckItem& item : f.check->items) {
        const auto origin = timingOrigin(f, item.name);
        if (!origin || !item.min) continue;
        const double from = origin->first + *item.min * origin->second;
        const double to = item.max ? origin->first + *item.max * origin->second : from;
        const double y = kBurstTop + kLaneHeight + 5;
        const std::string label =
            item.name + " " + fixed(*item.min, 0) + " to " + (item.max ? fixed(*item.max, 0) : std::string("-"));
        out += "<g class=\"limit\"><title>" + htmlText(label) + "</title><polyline points=\"" + px(s.x(from)) + "," +
               px(y - 4) + " " + px(s.x(from)) + "," + px(y) + " " + px(s.x(to)) + "," + px(y) + " " + px(s.x(to)) +
               "," + px(y - 4) + "\"/></g>\n";
    }
}

void axes(std::string& out, const Scale& s) {
    out += "<g class=\"axis\">";
    out += "<text x=\"4\" y=\"" + px(kSignalTop + 15) + "\">signals</text>";
    out += "<text x=\"4\" y=\"" + px(kBurstTop + 15) + "\">burst</text>";
    out += "<text x=\"4\" y=\"" + px(kLevelTop + 12) + "\">dBm0</text>";
    out += "<line x1=\"" + px(kLeft) + "\" y1=\"" + px(kAxisY) + "\" x2=\"" + px(kWidth - kRight) + "\" y2=\"" +
           px(kAxisY) + "\"/>";
    const double step = tickStep(s.t1 - s.t0, 10);
    const int places = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    for (double t = std::ceil(s.t0 / step - 1e-9) * step; t <= s.t1 + 1e-9; t += step) {
        const std::string x = px(s.x(t));
        out += "<line x1=\"" + x + "\" y1=\"" + px(kAxisY) + "\" x2=\"" + x + "\" y2=\"" + px(kAxisY + 4) +
               "\"/><text x=\"" + x + "\" y=\"" + px(kAxisY + 16) + "\" text-anchor=\"middle\">" + fixed(t, places) +
               "</text>";
    }
    out += "<text x=\"" + px(kWidth - kRight) + "\" y=\"" + px(kAxisY + 32) + "\" text-anchor=\"end\">seconds</text>";
    const double levelStep = s.hi - s.lo > 60 ? 20 : 10;
    for (double v = s.lo; v <= s.hi + 1e-9; v += levelStep) {
        const std::string y = px(s.y(v));
        out += "<line class=\"grid\" x1=\"" + px(kLeft) + "\" y1=\"" + y + "\" x2=\"" + px(kWidth - kRight) +
               "\" y2=\"" + y + "\"/><text x=\"" + px(kLeft - 4) + "\" y=\"" + px(s.y(v) + 4) +
               "\" text-anchor=\"end\">" + fixed(v, 0) + "</text>";
    }
    out += "</g>\n";
}

}  // namespace

TimeSpan recordSpan(const FoundMessage& found) {
    const double rate = found.rate > 0 ? found.rate : 1;
    if (found.signal) {
        return {static_cast<double>(found.signal->startSample) / rate, static_cast<double>(found.signal->endSample) / rate};
    }
    TimeSpan out{static_cast<double>(found.message.startSample) / rate, static_cast<double>(found.message.endSample) / rate};
    if (!found.measure) return out;
    const MessageMeasure& m = *found.measure;
    if (m.fsk && m.fsk->measured) {
        out.from = std::min(out.from, m.fsk->seizureStart.value_or(m.fsk->markStart) / rate);
        out.to = std::max(out.to, m.fsk->end / rate);
    }
    for (const DigitMeasure& d : m.digits) {
        if (!d.tones.measured) continue;
        out.from = std::min(out.from, d.tones.start / rate);
        out.to = std::max(out.to, d.tones.end / rate);
    }
    if (m.trace && m.trace->points() > 0) {
        const sigcore::LevelTrace& t = *m.trace;
        out.from = std::min(out.from, (t.firstCentre - t.step) / rate);
        out.to = std::max(out.to, (t.firstCentre + t.step * static_cast<double>(t.points())) / rate);
    }
    return out;
}

double tickStep(double span, int wanted) {
    if (!(span > 0) || wanted < 1) return 1;
    const double raw = span / wanted;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw) return m * power;
    }
    return 10 * power;
}

std::string timingDiagram(std::span<const FoundMessage* const> records) {
    if (records.empty()) return {};
    Scale s;
    s.t0 = std::numeric_limits<double>::infinity();
    s.t1 = -s.t0;
    for (const FoundMessage* f : records) {
        const TimeSpan span = recordSpan(*f);
        s.t0 = std::min(s.t0, span.from);
        s.t1 = std::max(s.t1, span.to);
    }
    const double pad = std::max(0.02, 0.03 * (s.t1 - s.t0));
    s.t0 = std::max(0.0, s.t0 - pad);
    s.t1 += pad;
    if (!std::isfinite(s.t0) || !std::isfinite(s.t1) || !(s.t1 > s.t0)) s = Scale{};
    const std::vector<DrawnLimit> limits = levelLimits(records);
    fitLevels(s, records, limits);
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"timing\" width=\"" + px(kWidth) +
                      "\" height=\"" + px(kHeight) + "\" viewBox=\"0 0 " + px(kWidth) + " " + px(kHeight) +
                      "\" role=\"img\" aria-label=\"timing diagram\">\n";
    axes(out, s);
    limitLines(out, s, limits);
    for (const FoundMessage* f : records) {
        if (f->signal) {
            signalBoxes(out, s, *f);
        } else {
            burstBoxes(out, s, *f);
            timingLimits(out, s, *f);
            traceLines(out, s, *f);
        }
    }
    out += "</svg>\n";
    return out;
}

}  // namespace cidscan
