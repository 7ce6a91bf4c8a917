#include "cidscan/run.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <cstdio>
#include <thread>
#include <vector>

#include "cidscan/check.hpp"
#include "cidscan/escape.hpp"
#include "cidscan/expect.hpp"
#include "cidscan/input.hpp"
#include "cidscan/options.hpp"
#include "cidscan/output.hpp"
#include "cidscan/reportfile.hpp"
#include "cidscan/scanner.hpp"

#ifndef SIGTOOLS_VERSION
#define SIGTOOLS_VERSION "unknown"
#endif

namespace cidscan {

namespace {

// Shared by the workers: which input is next, whether any failed, whether
// --once has its message.
struct RunState {
    const Options& options;
    MessageWriter& writer;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> anyFailed{false};
    std::atomic<bool> stop{false};
};

void scanOne(RunState& state, const std::string& name) {
    const std::string shown = name == "-" ? std::string("standard input") : name;
    AudioInput input(name, state.options.raw);
    if (!input.ok()) {
        state.writer.error(shown + ": can't read: " + input.error());
        state.anyFailed = true;
        return;
    }
    if (!input.warning().empty()) state.writer.error(shown + ": " + input.warning());
    const MessageHandler handler = [&state](const FoundMessage& found) {
        if (state.stop) return false;
        bool more = false;
        const sigcore::CheckStandard* standard = state.options.check ? &*state.options.check : nullptr;
        if (standard != nullptr && found.measure) {
            FoundMessage checked = found;
            checked.check = checkMessage(*found.measure, found.rate, *standard);
            more = state.writer.write(checked);
        } else if (standard != nullptr && found.signal && sigcore::hasSignalLimits(found.signal->kind, *standard)) {
            // A signal is judged only where the standard has limits for its
            // kind: ringing on a US recording is no failure.
            FoundMessage checked = found;
            checked.check = sigcore::checkSignal(*found.signal, state.options.refDbm0, *standard);
            more = state.writer.write(checked);
        } else {
            more = state.writer.write(found);
        }
        if (!more) {
            state.stop = true;
            return false;
        }
        return true;
    };
    const ScanResult result = scanInput(input, name, state.options, handler);
    if (!result.ok) {
        state.writer.error(shown + ": " + result.error);
        state.anyFailed = true;
    }
}

void worker(RunState& state) {
    const std::vector<std::string>& files = state.options.files;
    while (!state.stop) {
        const std::size_t i = state.next++;
        if (i >= files.size()) return;
        scanOne(state, files[i]);
    }
}

}  // namespace

int runCidscan(std::span<const char* const> args) {
    const ParseResult parsed = parseOptions(args);
    if (!parsed.error.empty()) {
        // The message may quote an argument: escaped like every other line.
        std::fprintf(stderr, "cidscan: %s\n(cidscan --help lists the options)\n", terminalText(parsed.error).c_str());
        return kExitUsage;
    }
    const Options& options = parsed.options;
    if (options.help || options.version) {
        if (options.help) {
            std::fputs(usageText(), stdout);
        } else {
            std::printf("cidscan %s\n", SIGTOOLS_VERSION);
        }
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
            std::fputs("cidscan: can't write to standard output\n", stderr);
            return kExitInputFailed;
        }
        return kExitOk;
    }
    // Nobody types audio: a terminal on standard input means no input was given.
    const bool readsStdin = std::find(options.files.begin(), options.files.end(), "-") != options.files.end();
    if (readsStdin && isatty(STDIN_FILENO) != 0) {
        std::fputs("cidscan: standard input is a terminal: name a recording, or pipe audio in\n"
                   "usage: cidscan [OPTIONS] [FILE...] (cidscan --help lists the options)\n",
                   stderr);
        return kExitUsage;
    }
    if (options.expect) return runExpect(options);
    MessageWriter writer(stdout, options.output, options.once);
    RunState state{options, writer};
    // The report's file is made before anything is read, so that one that
    // can't be written stops the run at once.
    const ReportRun reportRun{SIGTOOLS_VERSION, utcNow(), std::vector<std::string>(args.begin(), args.end()),
                              options.files, options.check};
    std::optional<ReplacingFile> reportFile;
    if (options.report) {
        reportFile.emplace(*options.report);
        if (!reportFile->ok()) {
            std::fprintf(stderr, "cidscan: --report: %s\n", terminalText(reportFile->error()).c_str());
            return kExitInputFailed;
        }
    }
    ReportCollector report;
    if (reportFile) writer.reportTo(&report);
    const auto threads = std::min<std::size_t>(static_cast<std::size_t>(options.jobs), options.files.size());
    if (threads <= 1) {
        worker(state);
    } else {
        std::vector<std::jthread> pool;
        pool.reserve(threads);
        for (std::size_t t = 0; t < threads; ++t) pool.emplace_back([&state] { worker(state); });
    }
    const bool reportFailed = reportFile && !reportFile->commit(report.render(reportRun));
    if (reportFailed) std::fprintf(stderr, "cidscan: --report: %s\n", terminalText(reportFile->error()).c_str());
    if (writer.failed()) {
        std::fputs("cidscan: can't write to standard output\n", stderr);
        return kExitInputFailed;
    }
    if (reportFailed) return kExitInputFailed;
    if (state.anyFailed) return kExitInputFailed;
    return writer.checkFailed() ? kExitCheckFailed : kExitOk;
}

}  // namespace cidscan
