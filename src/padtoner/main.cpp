// padtoner: writes a DTMF tone sequence, described by a data text file, as a
// WAV file.
#include <span>

#include "padtoner/run.hpp"

int main(int argc, char** argv) {
    const std::span<const char* const> all(argv, static_cast<std::size_t>(argc));
    return padtoner::runPadtoner(all.subspan(argc > 0 ? 1 : 0));
}
