#include "cidscan/expect.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cidscan/escape.hpp"
#include "cidscan/input.hpp"
#include "cidscan/run.hpp"
#include "cidscan/scanner.hpp"
#include "sigcore/messages/messagetext.hpp"

namespace cidscan {

namespace {

// A manifest is a line per file: far below this for any plan.
constexpr std::size_t kMaxManifestBytes = 16 * 1024 * 1024;

const char* expectationName(Expectation e) {
    switch (e) {
    case Expectation::Display: return "display";
    case Expectation::Reject: return "reject";
    case Expectation::Either: return "either";
    }
    return "either";
}

bool plainName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
}

bool lowerHex(const std::string& text) {
    return text.size() % 2 == 0 &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// One JSON line of the manifest, or why it can't be used.
std::string parseLine(const std::string& text, ManifestLine& out) {
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return "not a JSON object";
    const auto file = j.find("file");
    if (file == j.end() || !file->is_string() || !plainName(file->get<std::string>())) {
        return "no plain file name";
    }
    out.file = file->get<std::string>();
    const auto expect = j.find("expect");
    const std::string e = expect != j.end() && expect->is_string() ? expect->get<std::string>() : "";
    if (e == "display") {
        out.expect = Expectation::Display;
    } else if (e == "reject") {
        out.expect = Expectation::Reject;
    } else if (e == "either") {
        out.expect = Expectation::Either;
    } else {
        return "expect is not display, reject or either";
    }
    const auto message = j.find("message");
    if (message != j.end() && message->is_object()) {
        const auto raw = message->find("raw");
        if (raw != message->end() && raw->is_string()) out.raw = raw->get<std::string>();
    }
    if (!lowerHex(out.raw) || (out.expect == Expectation::Display && out.raw.empty())) {
        return "message.raw is not the message's bytes in hex";
    }
    return {};
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What one file gave: its messages, or why it could not be read.
struct FileResult {
    std::vector<sigcore::Message> messages;
    std::string error;
};

FileResult scanFile(const Options& options, const std::string& name) {
    FileResult result;
    AudioInput input(name, options.raw);
    if (!input.ok()) {
        result.error = "can't read: " + input.error();
        return result;
    }
    const MessageHandler handler = [&result](const FoundMessage& found) {
        if (!found.signal) result.messages.push_back(found.message);
        return true;
    };
    const ScanResult scanned = scanInput(input, name, options, handler);
    if (!scanned.ok) result.error = scanned.error;
    return result;
}

std::vector<FileResult> scanAll(const Options& options) {
    std::vector<FileResult> results(options.files.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < results.size(); i = next++) results[i] = scanFile(options, options.files[i]);
    };
    const auto threads = std::min<std::size_t>(static_cast<std::size_t>(options.jobs), results.size());
    if (threads <= 1) {
        work();
    } else {
        std::vector<std::jthread> pool;
        for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(work);
    }
    return results;
}

void writeVerdict(const Options& options, const std::string& file, const char* expect, const Verdict& v) {
    if (options.output == OutputFormat::Json) {
        const nlohmann::ordered_json j = {{"file", isUtf8(file) ? file : terminalText(file)},
                                          {"expect", expect},
                                          {"agree", v.agree},
                                          {"reason", v.reason}};
        std::printf("%s\n", escapeJsonControls(j.dump()).c_str());
    } else {
        std::printf("%-9s %-8s %s: %s\n", v.agree ? "agree" : "DISAGREE", expect, terminalText(file).c_str(),
                    terminalText(v.reason).c_str());
    }
}

}  // namespace

Manifest parseManifest(const std::string& text) {
    Manifest m;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty()) continue;
        ManifestLine parsed;
        const std::string why = parseLine(line, parsed);
        if (!why.empty()) {
            m.error = "line " + std::to_string(number) + ": " + why;
            return m;
        }
        if (std::any_of(m.lines.begin(), m.lines.end(), [&](const ManifestLine& l) { return l.file == parsed.file; })) {
            m.error = "line " + std::to_string(number) + ": " + parsed.file + " is listed twice";
            return m;
        }
        m.lines.push_back(std::move(parsed));
    }
    if (m.lines.empty() && m.error.empty()) m.error = "no file listed";
    return m;
}

const ManifestLine* lineFor(const Manifest& manifest, const std::string& path) {
    const std::string name = baseName(path);
    for (const ManifestLine& l : manifest.lines) {
        if (l.file == name) return &l;
    }
    return nullptr;
}

Verdict judgeFile(const ManifestLine& line, const std::vector<sigcore::Message>& messages) {
    std::vector<std::string> valid;
    for (const sigcore::Message& m : messages) {
        if (m.valid) valid.push_back(sigcore::hexBytes(m.raw));
    }
    const bool same = std::find(valid.begin(), valid.end(), line.raw) != valid.end();
    switch (line.expect) {
    case Expectation::Display:
        if (same) return {true, "decoded, the bytes sent"};
        if (valid.empty()) {
            return {false, messages.empty() ? "no message decoded" : "no valid message (the check failed)"};
        }
        return {false, "a valid message with other bytes: " + valid.front()};
    case Expectation::Reject:
        if (valid.empty()) return {true, messages.empty() ? "no message decoded" : "no valid message"};
        return {false, "a valid message was decoded: " + valid.front()};
    case Expectation::Either: break;
    }
    return {true, valid.empty() ? "no valid message (either is allowed)" : "decoded (either is allowed)"};
}

namespace {

// The whole manifest file, or why it can't be had.
std::optional<std::string> readManifest(const std::string& path, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = "can't open";
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() <= kMaxManifestBytes) text.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        error = "can't read (a folder?)";
        return std::nullopt;
    }
    if (text.size() > kMaxManifestBytes) {
        error = "too large for a manifest";
        return std::nullopt;
    }
    return text;
}

}  // namespace

int runExpect(const Options& options) {
    if (std::find(options.files.begin(), options.files.end(), "-") != options.files.end()) {
        std::fputs("cidscan: --expect: name the plan's files (standard input has no name in the manifest)\n", stderr);
        return kExitUsage;
    }
    std::string why;
    const std::optional<std::string> text = readManifest(*options.expect, why);
    if (!text) {
        std::fprintf(stderr, "cidscan: --expect: %s: %s\n", terminalText(*options.expect).c_str(), why.c_str());
        return kExitInputFailed;
    }
    const Manifest manifest = parseManifest(*text);
    if (!manifest.error.empty()) {
        std::fprintf(stderr, "cidscan: --expect: %s: %s\n", terminalText(*options.expect).c_str(),
                     terminalText(manifest.error).c_str());
        return kExitInputFailed;
    }
    const std::vector<FileResult> results = scanAll(options);
    std::size_t agree = 0;
    std::size_t failed = 0;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const std::string& file = options.files[i];
        const ManifestLine* line = lineFor(manifest, file);
        Verdict v;
        if (!results[i].error.empty()) {
            v = {false, results[i].error};
            ++failed;
        } else if (line == nullptr) {
            v = {false, "not in the manifest"};
        } else {
            v = judgeFile(*line, results[i].messages);
        }
        writeVerdict(options, file, line != nullptr ? expectationName(line->expect) : "-", v);
        if (v.agree) ++agree;
    }
    const std::size_t disagree = results.size() - agree;
    std::fprintf(options.output == OutputFormat::Json ? stderr : stdout, "%zu files: %zu agree, %zu disagree\n",
                 results.size(), agree, disagree);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fputs("cidscan: can't write to standard output\n", stderr);
        return kExitInputFailed;
    }
    if (failed > 0) return kExitInputFailed;
    return disagree == 0 ? kExitOk : kExitExpectDisagreed;
}

}  // namespace cidscan
