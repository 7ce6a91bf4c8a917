#include <span>

#include "cidgen/run.hpp"

int main(int argc, char** argv) {
    const std::span<const char* const> all(argv, static_cast<std::size_t>(argc));
    return cidgen::runCidgen(all.subspan(argc > 0 ? 1 : 0));
}
