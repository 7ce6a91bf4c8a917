#include "sigcore/io/filehandle.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>

namespace sigcore {

namespace {

// stat of a command-line name; "-" is the standard stream of that direction.
bool statPath(const std::string& path, bool output, struct stat& info) {
    if (isStandardStream(path)) return ::fstat(output ? STDOUT_FILENO : STDIN_FILENO, &info) == 0;
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

bool isStandardStream(const std::string& path) { return path == "-"; }

FileHandle openFile(const std::string& path, const char* mode) {
    if (!isStandardStream(path)) return FileHandle(std::fopen(path.c_str(), mode));
    const int fd = ::dup(mode[0] == 'r' ? STDIN_FILENO : STDOUT_FILENO);
    if (fd < 0) return nullptr;
    FileHandle file(::fdopen(fd, mode));
    if (!file) ::close(fd);
    return file;
}

bool sameRegularFile(const std::string& inputPath, const std::string& outputPath) {
    struct stat in {};
    struct stat out {};
    if (!statPath(inputPath, false, in) || !statPath(outputPath, true, out)) return false;
    return S_ISREG(out.st_mode) && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

std::string outputClashLine(std::initializer_list<std::string> inputPaths, const std::string& outputPath) {
    for (const std::string& input : inputPaths) {
        if (sameRegularFile(input, outputPath)) {
            return "error .... output file[" + outputPath + "] is the input file[" + input + "]\n";
        }
    }
    return "";
}

}  // namespace sigcore
