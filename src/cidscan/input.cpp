#include "cidscan/input.hpp"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <system_error>

#include "cidscan/stream.hpp"
#include "sigcore/receivers/receiver.hpp"

namespace cidscan {

namespace {

int rawSubtype(RawFormat format) {
    switch (format) {
    case RawFormat::S16le: return SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
    case RawFormat::Mulaw: return SF_FORMAT_ULAW;
    case RawFormat::Alaw: return SF_FORMAT_ALAW;
    }
    return SF_FORMAT_PCM_16;
}

std::string systemError(int code) { return std::generic_category().message(code); }

// libsndfile keeps the reason an open failed in one process-wide slot: opens
// are serialised so that each thread reads its own reason.
std::mutex& openMutex() {
    static std::mutex mutex;
    return mutex;
}

// libsndfile's reason, in words a user can act on where it is one we know.
std::string openFailure(int code, const char* text, std::span<const std::uint8_t> head) {
    if (const std::optional<std::uint32_t> rate = wavSampleRate(head);
        rate && !sigcore::receiverAcceptsRate(static_cast<int>(std::min<std::uint32_t>(*rate, 0x7FFFFFFF)))) {
        return "the WAV header gives a sampling rate of " + std::to_string(*rate) + " Hz; cidscan reads " +
               std::to_string(sigcore::kLowestRate) + " to " + std::to_string(sigcore::kHighestRate) + " Hz";
    }
    if (code == SF_ERR_UNRECOGNISED_FORMAT) {
        return "not an audio file in a format libsndfile reads (WAV, AIFF, FLAC, ...); headerless samples need "
               "--raw and --rate";
    }
    return std::string("libsndfile: ") + text;
}

// Up to `size` bytes from the start of a regular file, for the messages and
// the WAV data size check; the file offset is left alone.
std::vector<std::uint8_t> fileHead(int fd, std::size_t size) {
    std::vector<std::uint8_t> head(size);
    const ssize_t got = pread(fd, head.data(), head.size(), 0);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return head;
}

}  // namespace

std::int16_t fullScaleToPcm16(float value) {
    if (!(value == value)) return 0;  // NaN
    const float scaled = value * 32768.0f;
    if (scaled >= 32767.0f) return 32767;
    if (scaled <= -32768.0f) return -32768;
    return static_cast<std::int16_t>(std::lrint(scaled));
}

AudioInput::AudioInput(const std::string& name, const std::optional<RawInput>& raw) {
    int fd = STDIN_FILENO;
    if (name != "-") {
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error_ = systemError(errno);
            return;
        }
        ownFd_ = fd;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error_ = systemError(errno);
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        error_ = "is a directory, not a recording";
        return;
    }
    // A regular file of size 0 may still hold bytes (/proc, /sys): read as a stream.
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
        openFile(fd, name == "-" ? nullptr : name.c_str(), st.st_size, raw);
    } else {
        openStream(fd, raw);
    }
    if (file_ != nullptr && error_.empty()) takeInfo();
}

void AudioInput::openFile(int fd, const char* path, std::int64_t size, const std::optional<RawInput>& raw) {
    // The file is read from its start whatever the descriptor's offset.
    if (lseek(fd, 0, SEEK_SET) != 0) {
        error_ = systemError(errno);
        return;
    }
    std::vector<std::uint8_t> head = fileHead(fd, kMostHeaderBytes);
    if (!raw) {
        // A WAV file whose data size was never written (a recorder that died
        // before fixing its header) holds samples that libsndfile would not
        // read: they go through a stream whose header gives their size.
        if (const std::optional<DataChunk> data = findDataChunk(head);
            data && data->size == 0 && static_cast<std::int64_t>(data->start) < size) {
            const auto held = static_cast<std::uint64_t>(size) - data->start;
            setDataSize(head, *data, held);
            warning_ = "the WAV header gives no data size (a recording cut short?): reading the " +
                       std::to_string(held) + " bytes after it";
            head.resize(static_cast<std::size_t>(data->start));
            const int source = dup(fd);
            if (source >= 0 && lseek(source, static_cast<off_t>(data->start), SEEK_SET) < 0) {
                error_ = systemError(errno);
                close(source);
                return;
            }
            startStream(source, std::move(head), raw);
            return;
        }
    }
    openSndfile(fd, raw, head, path);
}

void AudioInput::openStream(int fd, const std::optional<RawInput>& raw) {
    if (raw) {
        startStream(dup(fd), {}, raw);
        return;
    }
    // WAV streams are passed on as they arrive (live lines); any other format
    // is read whole into a temporary file, where libsndfile can seek.
    std::vector<std::uint8_t> head;
    std::string error;
    const StreamKind kind = readStreamHead(fd, head, error);
    if (!error.empty()) {
        error_ = error;
        return;
    }
    if (head.empty()) {
        error_ = "the input is empty";
        return;
    }
    if (kind == StreamKind::Wav) {
        if (const std::optional<DataChunk> data = findDataChunk(head); data && data->size == 0) {
            setDataSize(head, *data, kStreamDataSize);
            warning_ = "the WAV stream's header gives no data size: reading the samples up to its end";
        }
        startStream(dup(fd), std::move(head), raw);
        return;
    }
    spool_ = spoolToTempFile(fd, head, error);
    if (spool_ == nullptr) {
        error_ = error;
        return;
    }
    openSndfile(fileno(spool_), raw, head);
}

void AudioInput::startStream(int source, std::vector<std::uint8_t> head, const std::optional<RawInput>& raw) {
    if (source < 0) {
        error_ = systemError(errno);
        return;
    }
    std::string error;
    const std::vector<std::uint8_t> header = head;  // for the messages
    const int readEnd = forwardStream(source, std::move(head), sourceError_, error);
    if (readEnd < 0) {
        error_ = error;
        return;
    }
    streamFd_ = readEnd;
    openSndfile(readEnd, raw, header);
}

void AudioInput::openSndfile(int fd, const std::optional<RawInput>& raw, std::span<const std::uint8_t> head,
                             const char* path) {
    SF_INFO info{};
    if (raw) {
        info.format = SF_FORMAT_RAW | rawSubtype(raw->format);
        info.samplerate = raw->rate;
        info.channels = raw->channels;
    }
    const std::lock_guard lock(openMutex());
    // A named file is opened by its name, for libsndfile to tell headerless
    // formats (.vox, .gsm, ...) by their extension; a descriptor stays ours:
    // the destructor closes it.
    file_ = path != nullptr ? sf_open(path, SFM_READ, &info) : sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    if (file_ == nullptr) error_ = openFailure(sf_error(nullptr), sf_strerror(nullptr), head);
}

void AudioInput::takeInfo() {
    SF_INFO info{};
    sf_command(file_, SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
    if (info.channels < 1) {
        error_ = "the input has no channels";
        return;
    }
    if (!sigcore::receiverAcceptsRate(info.samplerate)) {
        error_ = "sampling rate " + std::to_string(info.samplerate) + " Hz is outside " +
                 std::to_string(sigcore::kLowestRate) + ".." + std::to_string(sigcore::kHighestRate) + " Hz";
        return;
    }
    rate_ = info.samplerate;
    channels_ = info.channels;
    seekable_ = info.seekable != 0;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    floatSamples_ = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

AudioInput::~AudioInput() {
    if (file_ != nullptr) sf_close(file_);
    if (streamFd_ >= 0) close(streamFd_);
    if (spool_ != nullptr) std::fclose(spool_);
    if (ownFd_ >= 0) close(ownFd_);
}

std::int64_t AudioInput::read(std::span<std::int16_t> interleaved) {
    if (!ok()) return -1;
    const auto frames = static_cast<sf_count_t>(interleaved.size() / static_cast<std::size_t>(channels_));
    sf_count_t got = 0;
    if (floatSamples_) {
        // Full scale (+-1.0) becomes +-32768, clipped; libsndfile's own
        // conversion to short would scale by the file's peak instead.
        if (floatBuffer_.size() < interleaved.size()) floatBuffer_.resize(interleaved.size());
        got = sf_readf_float(file_, floatBuffer_.data(), frames);
        const auto values = static_cast<std::size_t>(got > 0 ? got : 0) * static_cast<std::size_t>(channels_);
        for (std::size_t i = 0; i < values; ++i) interleaved[i] = fullScaleToPcm16(floatBuffer_[i]);
    } else {
        got = sf_readf_short(file_, interleaved.data(), frames);
    }
    if (got < 0 || (got == 0 && sf_error(file_) != SF_ERR_NO_ERROR)) {
        error_ = sf_strerror(file_);
        return -1;
    }
    // A stream passed on through our pipe ends there on a read error too.
    if (got == 0 && sourceError_ && sourceError_->load() != 0) {
        error_ = "read error: " + systemError(sourceError_->load());
        return -1;
    }
    return got;
}

}  // namespace cidscan
