#include "sigcore/dsp/alloc.hpp"

#include <cstdio>
#include <cstdlib>

namespace sigcore {

void memoryNotAvailable() {
    std::fputs("memory not available\n", stderr);
    std::exit(1);
}

}  // namespace sigcore
