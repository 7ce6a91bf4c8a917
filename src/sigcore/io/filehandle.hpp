// Owned C streams and the file names the programs take on their command
// lines: "-" stands for standard input (reading) or standard output (writing).
#pragma once

#include <cstdio>
#include <memory>
#include <initializer_list>
#include <string>

namespace sigcore {

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// True for the name "-".
bool isStandardStream(const std::string& path);

// std::fopen, except that "-" opens a duplicate of standard input (mode
// starting with 'r') or standard output (any other mode), so closing the
// handle leaves the process's own stream open. Null on failure.
FileHandle openFile(const std::string& path, const char* mode);

// Whether writing `outputPath` would overwrite the file `inputPath` names:
// both name the same regular file (same device and inode, so links and other
// spellings of the path are caught; "-" stands for the standard streams).
// Names that don't exist, and devices, pipes and terminals, never clash.
bool sameRegularFile(const std::string& inputPath, const std::string& outputPath);

// The refusal line for an output that is one of the inputs, or "" when none
// is: "error .... output file[<output>] is the input file[<input>]\n".
std::string outputClashLine(std::initializer_list<std::string> inputPaths, const std::string& outputPath);

}  // namespace sigcore
