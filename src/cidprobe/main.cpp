#include <span>

#include "cidprobe/cidprobe.hpp"

int main(int argc, char** argv) {
    const std::span<const char* const> all(argv, static_cast<std::size_t>(argc));
    return cidprobe::runCidprobe(all.subspan(argc > 0 ? 1 : 0));
}
