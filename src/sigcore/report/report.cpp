#include "sigcore/report/report.hpp"

#include <cstdio>

namespace sigcore {

int reportOpen(Report& report, const std::string& path) {
    report.failed = false;
    report.path = path;
    report.file = openFile(path, "w");
    if (!report.file) {
        std::fprintf(stderr, "error .... can't open text file[%s]\n", path.c_str());
        return 1;
    }
    // Line buffering: a live run's lines reach a pipe or a watched file as
    // they are completed, not when a buffer fills.
    std::setvbuf(report.file.get(), nullptr, _IOLBF, BUFSIZ);
    return 0;
}

void reportPrint(Report& report, std::string_view text) {
    if (!report.file) {
        report.failed = true;
        return;
    }
    if (text.empty()) return;
    if (std::fwrite(text.data(), 1, text.size(), report.file.get()) != text.size()) report.failed = true;
}

int reportClose(Report& report) {
    if (!report.file) return 1;
    const bool flushed = std::fflush(report.file.get()) == 0 && std::ferror(report.file.get()) == 0;
    const bool closed = std::fclose(report.file.release()) == 0;
    const bool ok = flushed && closed && !report.failed;
    report.failed = false;
    return ok ? 0 : 1;
}

}  // namespace sigcore
