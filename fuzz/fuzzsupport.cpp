#include "fuzzsupport.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fuzzsupport {

namespace {

std::string makeScratchDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "sigfuzz-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) fail("can't create the scratch folder");
    return templ;
}

struct ScratchFolder {
    std::string path = makeScratchDir();
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

}  // namespace

const std::string& scratchDir() {
    static const ScratchFolder folder;
    return folder.path;
}

std::string scratchFile(const std::string& name) { return scratchDir() + "/" + name; }

std::string writeScratch(const std::string& name, const std::uint8_t* data, std::size_t size) {
    const std::string path = scratchFile(name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) fail("can't create a scratch file");
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok) fail("can't write a scratch file");
    return path;
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

long long fileSize(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? -1 : static_cast<long long>(size);
}

std::vector<int> decoderCalls(const std::uint8_t* data, std::size_t size) {
    std::vector<int> calls;
    calls.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != kEscape) {
            calls.push_back(data[i]);
        } else if (i + 1 < size) {
            ++i;
            calls.push_back(data[i] == kEscape ? int{kEscape} : -1);
        }
    }
    return calls;
}

void openNullReport(sigcore::Report& report) {
    report.failed = false;
    report.path = "/dev/null";
    report.file.reset(std::fopen("/dev/null", "w"));
    if (!report.file) fail("can't open the null device");
}

void openMemoryReport(sigcore::Report& report, MemoryReport& memory) {
    report.failed = false;
    report.path = "memory";
    report.file.reset(open_memstream(&memory.buffer, &memory.length));
    if (!report.file) fail("can't open a memory stream");
}

std::string readMemoryReport(sigcore::Report& report, MemoryReport& memory) {
    report.file.reset();  // closing sets buffer and length
    std::string text(memory.buffer != nullptr ? memory.buffer : "", memory.length);
    std::free(memory.buffer);
    memory = MemoryReport{};
    return text;
}

void fail(const char* what) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

std::size_t countLinesStarting(std::string_view text, std::string_view prefix) {
    std::size_t count = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text.substr(at).starts_with(prefix)) ++count;
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) break;
        at = end + 1;
    }
    return count;
}

std::size_t countOccurrences(std::string_view text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) {
        ++count;
    }
    return count;
}

}  // namespace fuzzsupport
