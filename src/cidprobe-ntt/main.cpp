#include <span>

#include "cidprobe-ntt/nttprobe.hpp"

int main(int argc, char** argv) {
    const std::span<const char* const> all(argv, static_cast<std::size_t>(argc));
    return cidprobe_ntt::runCidprobeNtt(all.subspan(argc > 0 ? 1 : 0));
}
