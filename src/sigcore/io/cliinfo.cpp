#include "sigcore/io/cliinfo.hpp"

#include <cstdio>

#include "sigcore/io/version.hpp"

namespace sigcore {

InfoRequest infoRequest(std::span<const char* const> args) {
    if (args.size() != 1 || args[0] == nullptr) return InfoRequest::none;
    const std::string_view arg = args[0];
    if (arg == "--help") return InfoRequest::help;
    if (arg == "--version") return InfoRequest::version;
    return InfoRequest::none;
}

std::string versionLine(std::string_view program) {
    return std::string(program) + " (sigtools) " + std::string(kProjectVersion) + "\n";
}

int answerInfoRequest(InfoRequest request, std::string_view program, std::string_view helpText) {
    const std::string text = request == InfoRequest::version ? versionLine(program) : std::string(helpText);
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return written && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace sigcore
