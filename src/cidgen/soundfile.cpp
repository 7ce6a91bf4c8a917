#include "cidgen/soundfile.hpp"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cidgen {

namespace {

std::optional<FileType> typeFromExtension(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
    std::string ext = path.substr(dot + 1);
    for (char& ch : ext) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    if (ext == "wav") return FileType::Wav;
    if (ext == "aif" || ext == "aiff") return FileType::Aiff;
    if (ext == "flac") return FileType::Flac;
    if (ext == "ul" || ext == "ulaw") return FileType::RawUlaw;
    if (ext == "al" || ext == "alaw") return FileType::RawAlaw;
    return std::nullopt;
}

int sndfileFormat(SoundFormat f) {
    int major = SF_FORMAT_WAV;
    switch (f.type) {
    case FileType::Wav: major = SF_FORMAT_WAV; break;
    case FileType::Aiff: major = SF_FORMAT_AIFF; break;
    case FileType::Flac: major = SF_FORMAT_FLAC; break;
    case FileType::RawUlaw:
    case FileType::RawAlaw: major = SF_FORMAT_RAW; break;
    }
    int minor = SF_FORMAT_PCM_16;
    switch (f.encoding) {
    case Encoding::S8: minor = SF_FORMAT_PCM_S8; break;
    case Encoding::U8: minor = SF_FORMAT_PCM_U8; break;
    case Encoding::S16: minor = SF_FORMAT_PCM_16; break;
    case Encoding::S24: minor = SF_FORMAT_PCM_24; break;
    case Encoding::Float: minor = SF_FORMAT_FLOAT; break;
    case Encoding::Ulaw: minor = SF_FORMAT_ULAW; break;
    case Encoding::Alaw: minor = SF_FORMAT_ALAW; break;
    }
    return major | minor;
}

const char* typeName(FileType t) {
    switch (t) {
    case FileType::Wav: return "wav";
    case FileType::Aiff: return "aiff";
    case FileType::Flac: return "flac";
    case FileType::RawUlaw: return "ul";
    case FileType::RawAlaw: return "al";
    }
    return "";
}

// libsndfile's virtual I/O over a growing byte vector.
struct Memory {
    std::vector<unsigned char>* bytes;
    sf_count_t pos = 0;
};

sf_count_t memLength(void* user) { return static_cast<sf_count_t>(static_cast<Memory*>(user)->bytes->size()); }

sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<Memory*>(user);
    const sf_count_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? memLength(user) : 0;
    if (base + offset < 0) return -1;
    m->pos = base + offset;
    return m->pos;
}

sf_count_t memRead(void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<Memory*>(user);
    const sf_count_t size = memLength(user);
    const sf_count_t n = m->pos >= size ? 0 : std::min(count, size - m->pos);
    if (n > 0) std::memcpy(ptr, m->bytes->data() + m->pos, static_cast<std::size_t>(n));
    m->pos += n;
    return n;
}

sf_count_t memWrite(const void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<Memory*>(user);
    const auto end = static_cast<std::size_t>(m->pos + count);
    if (end > m->bytes->size()) m->bytes->resize(end);
    std::memcpy(m->bytes->data() + m->pos, ptr, static_cast<std::size_t>(count));
    m->pos += count;
    return count;
}

sf_count_t memTell(void* user) { return static_cast<Memory*>(user)->pos; }

bool writeAll(int fd, std::span<const unsigned char> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::optional<SoundFormat> chooseFormat(const Options& o, std::string& error) {
    SoundFormat f;
    f.type = o.type.value_or(typeFromExtension(o.output).value_or(FileType::Wav));
    const bool rawUlaw = f.type == FileType::RawUlaw;
    const bool rawAlaw = f.type == FileType::RawAlaw;
    f.encoding = o.encoding.value_or(rawUlaw ? Encoding::Ulaw : rawAlaw ? Encoding::Alaw : Encoding::S16);
    if ((rawUlaw && f.encoding != Encoding::Ulaw) || (rawAlaw && f.encoding != Encoding::Alaw)) {
        error = std::string("--encoding: a headerless .") + typeName(f.type) + " file is " +
                (rawUlaw ? "ulaw" : "alaw") + " only";
        return std::nullopt;
    }
    SF_INFO info{};
    info.samplerate = o.rate;
    info.channels = 1;
    info.format = sndfileFormat(f);
    if (sf_format_check(&info) == 0) {
        error = std::string("--encoding: this coding can't be written in a ") + typeName(f.type) + " file";
        return std::nullopt;
    }
    return f;
}

bool encodeSound(const SampleSource& source, int rate, SoundFormat format, std::vector<unsigned char>& bytes,
                 std::string& error) {
    bytes.clear();
    Memory memory{&bytes};
    SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = sndfileFormat(format);
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    if (file == nullptr) {
        error = std::string("libsndfile: ") + sf_strerror(nullptr);
        return false;
    }
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    std::array<double, 4096> block{};
    bool written = true;
    for (std::size_t n = block.size(); n == block.size() && written;) {
        n = source(block);
        const auto count = static_cast<sf_count_t>(n);
        written = sf_write_double(file, block.data(), count) == count;
    }
    if (!written) error = std::string("libsndfile: ") + sf_strerror(file);
    const bool closed = sf_close(file) == 0;
    if (written && !closed) error = "libsndfile could not finish the file";
    return written && closed;
}

namespace {

// A device or a pipe named as the output (/dev/null, a FIFO): written
// straight, since it can't be replaced by renaming.
bool writeToSpecial(const std::string& path, std::span<const unsigned char> bytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = escaped(path) + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = writeAll(fd, bytes);
    const int saved = errno;
    const bool closed = ::close(fd) == 0;
    if (!ok || !closed) error = escaped(path) + ": " + std::strerror(ok ? errno : saved);
    return ok && closed;
}

// A regular file: a temporary file beside it (beside the file a symbolic
// link points to, so that the link stays), renamed onto it once complete.
bool replaceFile(const std::string& path, std::span<const unsigned char> bytes, std::string& error) {
    std::string target = path;
    mode_t mode = 0;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        mode = info.st_mode & 07777;  // an existing file keeps its mode
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    } else {
        const mode_t mask = ::umask(0);  // a new file gets the mode new files get
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = escaped(path) + ": can't create a file beside it: " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, mode);
    const bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    const int saved = errno;
    const bool closed = ::close(fd) == 0;
    if (!ok || !closed || std::rename(temp.c_str(), target.c_str()) != 0) {
        error = escaped(path) + ": " + std::strerror(ok && closed ? errno : saved);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool writeWhole(const std::string& path, std::span<const unsigned char> bytes, std::string& error) {
    if (path == "-") {
        if (::isatty(STDOUT_FILENO) == 1) {
            error = "standard output is a terminal: send the sound file to a file or a pipe";
            return false;
        }
        if (!writeAll(STDOUT_FILENO, bytes)) {
            error = std::string("standard output: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        error = escaped(path) + ": is a folder";
        return false;
    }
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return writeToSpecial(path, bytes, error);
    return replaceFile(path, bytes, error);
}

}  // namespace cidgen
