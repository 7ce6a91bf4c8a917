#include "cidscan/htmlreport.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <span>

#include <nlohmann/json.hpp>

#include "cidscan/check.hpp"
#include "cidscan/escape.hpp"
#include "cidscan/measure.hpp"
#include "cidscan/output.hpp"
#include "cidscan/timing.hpp"
#include "sigcore/messages/messagetext.hpp"

namespace cidscan {

namespace {

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "h1{font-size:1.5em}h2{font-size:1.25em;border-bottom:1px solid #999;margin-top:1.5em}"
    "h3{font-size:1.1em}h4{font-size:1em;margin:1.2em 0 .4em}"
    "table{border-collapse:collapse;margin:.3em 0}th,td{border:1px solid #bbb;padding:2px 8px;text-align:left}"
    "th{background:#eee}td.num{text-align:right;font-family:monospace}code,.raw{font-family:monospace}"
    ".pass{color:#060;font-weight:bold}.fail{color:#b00;font-weight:bold}.errors li{color:#b00}"
    "svg.timing{border:1px solid #ccc;background:#fff;font:11px sans-serif}"
    ".axis line{stroke:#444}.axis line.grid{stroke:#ddd}.axis text{fill:#444}"
    ".signal rect{fill:#d9c2e8;stroke:#734}.seizure rect{fill:#f6d7a7;stroke:#a60}"
    ".mark rect{fill:#bcd6f0;stroke:#269}.message rect{fill:#c6e5c0;stroke:#372}.digit rect{fill:#c6e5c0;stroke:#372}"
    "polyline{fill:none;stroke-width:1.2}polyline.mark{stroke:#1f5fbf}polyline.space{stroke:#e07000}"
    "polyline.band{stroke:#2a8a2a}.limit line{stroke:#c00;stroke-dasharray:4 3}.limit polyline{fill:none;stroke:#c00;stroke-width:1.5}.limit text{fill:#c00}"
    ".key span{display:inline-block;margin-right:1.2em}.key i{display:inline-block;width:1.5em;height:.3em;"
    "vertical-align:middle;margin-right:.3em}";

// A JSON value as a table cell shows it: null as "-", a string as it is,
// a number as the JSON writes it.
std::string valueText(const nlohmann::ordered_json& v) {
    if (v.is_null()) return "-";
    if (v.is_string()) return v.get<std::string>();
    return v.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// A cell marked with what it holds: data-measure="mark_hz" (the measurement's
// JSON member), data-check="value" (a check item's), data-field="number" (a
// decoded field), data-message="raw" (the message's own), data-run="version"
// (the run's).
std::string cell(const char* attribute, const std::string& key, const nlohmann::ordered_json& v) {
    return "<td class=\"" + std::string(v.is_number() ? "num" : "text") + "\" " + attribute + "=\"" + htmlText(key) + "\">" +
           htmlText(valueText(v)) + "</td>";
}

// Rows of key and value, one per member of a flat object.
std::string keyValueTable(const char* cls, const nlohmann::ordered_json& object) {
    std::string out = std::string("<table class=\"") + cls + "\"><tr><th>item</th><th>value</th></tr>\n";
    for (const auto& [key, value] : object.items()) {
        if (value.is_structured()) continue;
        out += "<tr><td>" + htmlText(key) + "</td>" + cell("data-measure", key, value) + "</tr>\n";
    }
    return out + "</table>\n";
}

// One row per element of an array of flat objects, the columns those of
// the element with the most members.
std::string rowsTable(const char* cls, const nlohmann::ordered_json& rows) {
    const nlohmann::ordered_json* widest = nullptr;
    for (const auto& row : rows) {
        if (row.is_object() && (widest == nullptr || row.size() > widest->size())) widest = &row;
    }
    if (widest == nullptr) return {};
    std::string out = std::string("<table class=\"") + cls + "\"><tr>";
    for (const auto& [key, value] : widest->items()) out += "<th>" + htmlText(key) + "</th>";
    out += "</tr>\n";
    for (const auto& row : rows) {
        out += "<tr>";
        for (const auto& [key, value] : widest->items()) {
            out += cell("data-measure", key, row.is_object() && row.contains(key) ? row[key] : nlohmann::ordered_json(nullptr));
        }
        out += "</tr>\n";
    }
    return out + "</table>\n";
}

std::string fixed(double v, int places) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", places, v == 0.0 ? 0.0 : v);
    return text;
}

std::string passWord(bool pass) {
    return pass ? "<span class=\"pass\">PASS</span>" : "<span class=\"fail\">FAIL</span>";
}

}  // namespace

namespace {

std::string checkSection(const sigcore::CheckResult& check) {
    const nlohmann::ordered_json j = checkJson(check);
    std::string out = "<p class=\"check\">check " + htmlText(valueText(j["standard"])) + ": " +
                      passWord(check.pass) + "</p>\n";
    if (check.items.empty()) {
        return out + "<p>Nothing this standard's limits apply to was measured.</p>\n";
    }
    out += "<table class=\"check\"><tr><th>item</th><th>value</th><th>min</th><th>max</th><th>verdict</th></tr>\n";
    for (const auto& item : j["items"]) {
        out += "<tr><td data-check=\"name\">" + htmlText(valueText(item["name"])) + "</td>" +
               cell("data-check", "value", item["value"]) + cell("data-check", "min", item["min"]) +
               cell("data-check", "max", item["max"]) + "<td data-check=\"pass\">" +
               passWord(item["pass"].get<bool>()) + "</td></tr>\n";
    }
    return out + "</table>\n";
}

// A message's tables, after `diagram` (its call's, or none).
std::string messageSection(const FoundMessage& f, int number, const std::string& diagram) {
    const sigcore::Message& m = f.message;
    char heading[160];
    std::snprintf(heading, sizeof heading, "%d. %s message %02x", number, standardName(m.standard), m.type);
    const TimeSpan span{static_cast<double>(m.startSample) / f.rate, static_cast<double>(m.endSample) / f.rate};
    std::string out = "<div class=\"record message\" id=\"r" + std::to_string(number) + "\">\n<h4>" +
                      htmlText(heading) + " (" + htmlText(messageTypeName(m)) + "), " + fixed(span.from, 4) + " s - " +
                      fixed(span.to, 4) + " s</h4>\n" + diagram;
    out += "<table class=\"fields\"><tr><th>field</th><th>value</th></tr>\n";
    for (const sigcore::MessageField& field : m.fields) {
        out += "<tr><td>" + htmlText(field.key) + "</td><td class=\"text\" data-field=\"" + htmlText(field.key) + "\">" +
               htmlText(field.value) + "</td></tr>\n";
    }
    out += "<tr><td>check</td><td data-message=\"verdict\">" + htmlText(messageVerdict(m)) + "</td></tr>\n";
    out += "<tr><td>raw</td><td class=\"raw\" data-message=\"raw\">" + htmlText(sigcore::hexBytes(m.raw)) +
           "</td></tr>\n</table>\n";
    if (f.measure) {
        const nlohmann::ordered_json j = measureJson(*f.measure, f.rate);
        if (j.is_null()) {
            out += "<p>The burst could not be measured.</p>\n";
        } else if (j.contains("digits")) {
            out += rowsTable("measure digits", j["digits"]);
        } else {
            out += keyValueTable("measure", j);
        }
    }
    if (f.check) out += checkSection(*f.check);
    return out + "</div>\n";
}

// Rounded to `places` decimals, as the JSON output rounds measurements.
double rounded(double v, int places) {
    const double scale = std::pow(10.0, places);
    const double r = std::round(v * scale) / scale;
    return r == 0.0 ? 0.0 : r;
}

// A line signal's measurement, named and rounded as in the JSON output.
nlohmann::ordered_json signalJson(const FoundMessage& f) {
    const sigcore::LineSignal& s = *f.signal;
    const sigcore::LineSignalMeasurement& m = s.measure;
    nlohmann::ordered_json j;
    j["signal"] = std::string(sigcore::lineSignalName(s.kind));
    j["start_s"] = rounded(static_cast<double>(s.startSample) / f.rate, 6);
    j["end_s"] = rounded(static_cast<double>(s.endSample) / f.rate, 6);
    if (m.digit) j["digit"] = std::string(1, *m.digit);
    const auto put = [&j](const char* key, const std::optional<double>& v) {
        if (v) j[key] = rounded(*v, 3);
    };
    put("low_hz", m.lowHz);
    put("high_hz", m.highHz);
    put("low_dbfs", m.lowDbfs);
    put("high_dbfs", m.highDbfs);
    put("twist_db", m.twistDb);
    put("ring_hz", m.ringHz);
    put("ring_dbfs", m.ringDbfs);
    put("on_ms", m.onMs);
    put("off_ms", m.offMs);
    j["duration_ms"] = rounded(m.durationMs, 3);
    return j;
}

std::string signalSection(const FoundMessage& f, int number) {
    const TimeSpan span = recordSpan(f);
    std::string out = "<div class=\"record signal\" id=\"r" + std::to_string(number) + "\">\n<h4>" +
                      std::to_string(number) + ". signal " + htmlText(sigcore::lineSignalName(f.signal->kind)) + ", " +
                      fixed(span.from, 4) + " s - " + fixed(span.to, 4) + " s</h4>\n";
    out += keyValueTable("measure", signalJson(f));
    if (f.check) out += checkSection(*f.check);
    return out + "</div>\n";
}

}  // namespace

namespace {

std::string counted(std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

std::string runTable(const ReportRun& run, std::span<const FoundMessage> records) {
    std::string out = "<table class=\"run\">\n<tr><th>files</th><td>";
    for (std::size_t i = 0; i < run.files.size(); ++i) {
        if (i > 0) out += "<br>";
        out += "<code>" + htmlText(run.files[i] == "-" ? std::string("standard input") : run.files[i]) + "</code>";
    }
    out += "</td></tr>\n<tr><th>cidscan</th><td data-run=\"version\">" + htmlText(run.version) + "</td></tr>\n";
    out += "<tr><th>run at</th><td data-run=\"started\">" + htmlText(run.started) + "</td></tr>\n";
    std::string line;
    for (const std::string& a : run.arguments) line += (line.empty() ? "" : " ") + a;
    out += "<tr><th>command</th><td><code>cidscan " + htmlText(line) + "</code></td></tr>\n";
    int messages = 0;
    int passed = 0;
    int failed = 0;
    for (const FoundMessage& f : records) {
        messages += f.signal ? 0 : 1;
        if (f.check) (f.check->pass ? passed : failed) += 1;
    }
    const std::size_t signals = records.size() - static_cast<std::size_t>(messages);
    out += "<tr><th>found</th><td data-run=\"messages\">" + counted(static_cast<std::size_t>(messages), "message") +
           ", " + counted(signals, "signal") + "</td></tr>\n";
    if (run.check) {
        out += "<tr><th>check</th><td data-run=\"check\">" + htmlText(sigcore::checkStandardName(*run.check)) + ": " +
               std::to_string(passed) + " passed, " + std::to_string(failed) + " failed " + passWord(failed == 0 && passed > 0) +
               "</td></tr>\n";
    }
    return out + "</table>\n";
}

constexpr const char* kKey =
    "<p class=\"key\"><span><i style=\"background:#1f5fbf\"></i>mark level</span>"
    "<span><i style=\"background:#e07000\"></i>space level</span>"
    "<span><i style=\"background:#2a8a2a\"></i>whole-band level</span>"
    "<span><i style=\"background:#c00\"></i>limit (--check)</span></p>\n";

// One channel's diagram and records; `number` counts the records on the page.
// How long before a message the signals of its call may begin.
constexpr double kCallLeadSeconds = 5.0;

// The records of the call a message ends (records[at]): the signals right
// before it, back to the previous message and no more than kCallLeadSeconds
// before it, and the message.
std::vector<const FoundMessage*> callOf(std::span<const FoundMessage> records, std::size_t at) {
    std::vector<const FoundMessage*> out;
    const double start = recordSpan(records[at]).from;
    for (std::size_t i = at; i-- > 0;) {
        if (!records[i].signal || recordSpan(records[i]).from < start - kCallLeadSeconds) break;
        out.insert(out.begin(), &records[i]);
    }
    out.push_back(&records[at]);
    return out;
}

// One channel's diagram and records; `number` counts the records on the
// page. With several messages each also gets a diagram of its own call.
std::string channelSection(std::span<const FoundMessage> records, int& number) {
    std::vector<const FoundMessage*> pointers;
    for (const FoundMessage& f : records) pointers.push_back(&f);
    const auto messages = std::count_if(records.begin(), records.end(), [](const FoundMessage& f) { return !f.signal; });
    std::string out = "<h3>channel " + std::to_string(records.front().channel) + "</h3>\n";
    out += timingDiagram(pointers) + kKey;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].signal) {
            out += signalSection(records[i], ++number);
        } else {
            out += messageSection(records[i], ++number, messages > 1 ? timingDiagram(callOf(records, i)) : "");
        }
    }
    return out;
}

std::size_t fileIndex(const std::vector<std::string>& files, const std::string& file) {
    return static_cast<std::size_t>(std::find(files.begin(), files.end(), file) - files.begin());
}

double startOf(const FoundMessage& f) {
    return static_cast<double>(f.signal ? f.signal->startSample : f.message.startSample);
}

}  // namespace

std::string renderReport(const ReportRun& run, std::vector<FoundMessage> records, const std::vector<std::string>& errors) {
    std::stable_sort(records.begin(), records.end(), [&run](const FoundMessage& a, const FoundMessage& b) {
        const std::size_t fa = fileIndex(run.files, a.file);
        const std::size_t fb = fileIndex(run.files, b.file);
        if (fa != fb) return fa < fb;
        if (a.channel != b.channel) return a.channel < b.channel;
        return startOf(a) < startOf(b);
    });
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<title>cidscan report</title>\n<style>";
    out += kStyle;
    out += "</style>\n</head>\n<body>\n<h1>cidscan report</h1>\n" + runTable(run, records);
    if (!errors.empty()) {
        out += "<ul class=\"errors\">\n";
        for (const std::string& e : errors) out += "<li>" + htmlText(e) + "</li>\n";
        out += "</ul>\n";
    }
    int number = 0;
    for (std::size_t i = 0; i < run.files.size(); ++i) {
        const std::string& file = run.files[i];
        // A file named twice was scanned twice: its records are all in its first section.
        if (fileIndex(run.files, file) != i) continue;
        out += "<section class=\"file\">\n<h2>" + htmlText(file == "-" ? std::string("standard input") : file) + "</h2>\n";
        auto first = std::find_if(records.begin(), records.end(), [&](const FoundMessage& f) { return f.file == file; });
        if (first == records.end()) out += "<p class=\"none\">No messages found.</p>\n";
        while (first != records.end() && first->file == file) {
            const auto last = std::find_if(first, records.end(), [&](const FoundMessage& f) {
                return f.file != file || f.channel != first->channel;
            });
            out += channelSection(std::span<const FoundMessage>(&*first, static_cast<std::size_t>(last - first)),
                                  number);
            first = last;
        }
        out += "</section>\n";
    }
    return out + "</body>\n</html>\n";
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    char text[64] = "unknown";
    if (gmtime_r(&now, &tm) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

void ReportCollector::add(const FoundMessage& found) {
    const std::lock_guard lock(mutex_);
    records_.push_back(found);
}

void ReportCollector::error(const std::string& line) {
    const std::lock_guard lock(mutex_);
    errors_.push_back(line);
}

std::string ReportCollector::render(const ReportRun& run) const {
    const std::lock_guard lock(mutex_);
    return renderReport(run, records_, errors_);
}

}  // namespace cidscan
