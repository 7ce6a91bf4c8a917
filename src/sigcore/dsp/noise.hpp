// The generators' noise source: a 15-bit linear congruential generator. Each
// program keeps its own state, 1 at start and never reseeded, so the same
// input always gives the same output file, byte for byte.
#pragma once

#include <cstdint>

namespace sigcore {

struct NoiseState {
    std::uint32_t state = 1;
};

// state = state * 214013 + 2531011 (mod 2^32); returns (state >> 16) & 0x7FFF.
// From state 1 the first draws are 41, 18467, 6334, 26500.
inline int noiseRandom(NoiseState& noise) {
    noise.state = noise.state * 214013u + 2531011u;
    return static_cast<int>((noise.state >> 16) & 0x7FFFu);
}

}  // namespace sigcore
