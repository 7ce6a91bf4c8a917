// The report file of a detector run: the one writer of every analysis line.
#pragma once

#include <string>
#include <string_view>

#include "sigcore/io/filehandle.hpp"

namespace sigcore {

struct Report {
    FileHandle file;
    std::string path;
    bool failed = false;  // a write has failed since reportOpen
};

// Creates or truncates the file (text mode; "-" is standard output). Each
// complete line reaches the file when it is written. On failure prints
// "error .... can't open text file[<path>]\n" on standard error and returns 1.
int reportOpen(Report& report, const std::string& path);
// Writes the text unchanged; the callers' texts carry their own line ends.
void reportPrint(Report& report, std::string_view text);
// Closes the file: 0 when every line reached it, 1 when a write or the close failed.
int reportClose(Report& report);

}  // namespace sigcore
