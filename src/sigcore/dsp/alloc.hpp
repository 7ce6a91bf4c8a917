// Set-up allocation for the detectors: memory is taken once before the first
// sample, and a run that can't have it stops at once.
#pragma once

#include <cstddef>
#include <new>
#include <stdexcept>
#include <vector>

namespace sigcore {

// Prints "memory not available\n" on the standard error stream and exits with status 1.
[[noreturn]] void memoryNotAvailable();

// A vector of `count` value-initialised elements, or the program's memory
// message and exit status 1 when it can't be had.
template <class T>
std::vector<T> allocOrExit(std::size_t count, const T& value = T{}) {
    try {
        return std::vector<T>(count, value);
    } catch (const std::bad_alloc&) {
        memoryNotAvailable();
    } catch (const std::length_error&) {
        memoryNotAvailable();
    }
}

}  // namespace sigcore
