// Helpers shared by every test program: temporary folders, file contents,
// running a built program with its console streams captured.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary directory, removed with
// everything in it when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

struct RunResult {
    int status = -1;  // exit status, or 128 + signal number when killed by a signal
    std::string out;  // everything written on standard output
    std::string err;  // everything written on standard error
};

// Full path of a built program (the build's bin folder).
std::string programPath(const std::string& name);
// Full path of a file of the source tree (relative to its root).
std::string sourcePath(const std::string& relative);

// Runs `program` (a path) with `args`, feeding `input` on standard input
// (an empty input is an immediately closed standard input). `workDir`, when
// not empty, is the working directory of the child. Kills the child after
// `timeoutSeconds`.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& input = "", const std::string& workDir = "",
              int timeoutSeconds = 120);

// Runs a built program by name: run(programPath(name), ...).
RunResult runTool(const std::string& name, const std::vector<std::string>& args,
                  const std::string& input = "", const std::string& workDir = "");

std::string readFile(const std::string& path);            // "" when it can't be read
std::vector<std::uint8_t> readBytes(const std::string& path);
bool fileExists(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Converts UTF-8 text to Shift-JIS bytes with the C library's iconv (tests only):
// used to check that the programs' Japanese texts carry exactly the right bytes.
std::string utf8ToSjis(const std::string& utf8);

// Splits text into lines (without their line ends).
std::vector<std::string> splitLines(const std::string& text);

}  // namespace testsupport
