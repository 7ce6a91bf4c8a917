#include "sigcore/io/wave.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace sigcore {

namespace {

// Both halves move data in blocks of this size: one system call per block.
constexpr std::size_t kBlockSize = 64 * 1024;

constexpr Tag kRiff{'R', 'I', 'F', 'F'};
constexpr Tag kWave{'W', 'A', 'V', 'E'};
constexpr Tag kFmt{'f', 'm', 't', ' '};
constexpr Tag kFact{'f', 'a', 'c', 't'};
constexpr Tag kData{'d', 'a', 't', 'a'};

// ---- reading -------------------------------------------------------------

// Refills the block buffer with one read(2): a whole block from a file, what
// has arrived so far from a pipe or terminal. False (and endOfFile set) when
// the stream has no more bytes; a read error counts as the end of the file.
bool refill(WaveReader& reader) {
    if (reader.endOfFile || !reader.file) {
        reader.endOfFile = true;
        return false;
    }
    if (reader.buffer.size() != kBlockSize) reader.buffer.resize(kBlockSize);
    reader.bufferPos = 0;
    const int fd = ::fileno(reader.file.get());
    ssize_t got = -1;
    do {
        got = ::read(fd, reader.buffer.data(), reader.buffer.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) reader.refusal.systemError = errno;
    reader.bufferLen = got > 0 ? static_cast<std::size_t>(got) : 0;
    if (reader.bufferLen == 0) {
        reader.endOfFile = true;
        return false;
    }
    return true;
}

// One byte, or -1 once the end of the file is met.
int readByte(WaveReader& reader) {
    if (reader.bufferPos >= reader.bufferLen && !refill(reader)) return -1;
    return reader.buffer[reader.bufferPos++];
}

void readTag(WaveReader& reader, Tag& tag) {
    for (char& c : tag) {
        const int b = readByte(reader);
        c = static_cast<char>(b < 0 ? 0 : b);
    }
}

bool tagDiffers(const Tag& buffer, const Tag& tag) { return std::memcmp(buffer.data(), tag.data(), 4) != 0; }

// Little-endian 16 bits; 0 if any byte meets the end of the file.
std::uint16_t readWord(WaveReader& reader) {
    const int b0 = readByte(reader);
    const int b1 = readByte(reader);
    if (b0 < 0 || b1 < 0) return 0;
    return static_cast<std::uint16_t>(static_cast<unsigned>(b0) | (static_cast<unsigned>(b1) << 8));
}

// Little-endian 32 bits; 0 if any byte meets the end of the file.
std::int32_t readDword(WaveReader& reader) {
    std::uint32_t value = 0;
    bool short_read = false;
    for (int i = 0; i < 4; ++i) {
        const int b = readByte(reader);
        if (b < 0) {
            short_read = true;
            continue;
        }
        value |= static_cast<std::uint32_t>(b) << (8 * i);
    }
    return short_read ? 0 : static_cast<std::int32_t>(value);
}

// Skips `count` bytes without reading them into memory where the stream can
// seek; a skip beyond the end of the file shows up as the end of the file on
// the next read.
void skipBytes(WaveReader& reader, std::int64_t count) {
    if (count <= 0 || reader.endOfFile) return;
    const auto inBuffer = static_cast<std::int64_t>(reader.bufferLen - reader.bufferPos);
    if (count <= inBuffer) {
        reader.bufferPos += static_cast<std::size_t>(count);
        return;
    }
    count -= inBuffer;
    reader.bufferPos = reader.bufferLen;
    if (::lseek(::fileno(reader.file.get()), static_cast<off_t>(count), SEEK_CUR) != -1) return;
    // Not seekable (a pipe, say): read the bytes and drop them.
    while (count > 0) {
        if (!refill(reader)) return;
        const auto take = std::min(count, static_cast<std::int64_t>(reader.bufferLen));
        reader.bufferPos = static_cast<std::size_t>(take);
        count -= take;
    }
}

// Bytes of one channel's sample as the reader takes them: 8 bits one byte,
// 17 to 24 bits three, 25 to 32 bits four, any other depth two.
std::size_t sampleWidth(std::uint16_t bits) {
    if (bits == 8) return 1;
    if (bits > 16 && bits <= 24) return 3;
    if (bits > 24 && bits <= 32) return 4;
    return 2;
}

void chooseLayout(WaveReader& reader) {
    const std::size_t width = sampleWidth(reader.header.num_bits_sample);
    const std::size_t channels = std::max<std::size_t>(reader.header.number_of_channels, 1);
    reader.sampleBytes = width;
    reader.channels = channels;
    if (channels == 1 && width == 1) {
        reader.layout = SampleLayout::mono8;
    } else if (channels == 1 && width == 2) {
        reader.layout = SampleLayout::mono16;
    } else {
        reader.layout = SampleLayout::frames;
    }
}

// One frame's value from its bytes: the mean of the channels' most
// significant 16 bits, rounded toward zero.
std::int16_t mixFrame(const unsigned char* frame, std::size_t width, std::size_t channels) {
    std::int64_t sum = 0;
    for (std::size_t c = 0; c < channels; ++c) {
        const unsigned char* s = frame + c * width;
        if (width == 1) {
            sum += (s[0] - 128) * 256;
        } else {
            sum += static_cast<std::int16_t>(static_cast<std::uint16_t>(s[width - 2] | (s[width - 1] << 8)));
        }
    }
    return static_cast<std::int16_t>(sum / static_cast<std::int64_t>(channels));
}

// ---- writing -------------------------------------------------------------

void flushBuffer(WaveWriter& writer) {
    if (writer.buffer.empty()) return;
    if (!writer.file ||
        std::fwrite(writer.buffer.data(), 1, writer.buffer.size(), writer.file.get()) != writer.buffer.size()) {
        writer.failed = true;
    }
    writer.buffer.clear();
}

void writeByte(WaveWriter& writer, unsigned char b) {
    if (writer.buffer.size() >= kBlockSize) flushBuffer(writer);
    writer.buffer.push_back(b);
}

void writeTag(WaveWriter& writer, const Tag& tag) {
    for (const char c : tag) writeByte(writer, static_cast<unsigned char>(c));
}

void writeWord(WaveWriter& writer, std::uint16_t value) {
    writeByte(writer, static_cast<unsigned char>(value & 0xFFu));
    writeByte(writer, static_cast<unsigned char>(value >> 8));
}

void writeDword(WaveWriter& writer, std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) writeByte(writer, static_cast<unsigned char>((u >> (8 * i)) & 0xFFu));
}

}  // namespace

WaveInfo waveOpen(WaveReader& reader, const std::string& path) {
    waveClose(reader);
    reader.header = WaveHeader{};
    reader.bufferPos = 0;
    reader.bufferLen = 0;
    reader.endOfFile = false;
    reader.samplesRead = 0;
    reader.refusal = WaveRefusal{};
    reader.file = openFile(path, "rb");
    if (!reader.file) {
        reader.refusal.kind = WaveRefusalKind::cannotOpen;
        reader.refusal.systemError = errno;
        return WaveInfo{};
    }
    // The reader does its own block buffering; stdio's buffer would only copy twice.
    std::setvbuf(reader.file.get(), nullptr, _IONBF, 0);
    reader.buffer.resize(kBlockSize);
    const WaveInfo info = waveReadHeader(reader);
    if (info.numberSamples == 0) waveClose(reader);
    return info;
}

WaveInfo waveReadHeader(WaveReader& reader) {
    WaveHeader& h = reader.header;
    WaveRefusal& why = reader.refusal;
    why = WaveRefusal{};
    Tag tag{};
    // A refusal of the kind given, or a cut-off header when the end of the
    // file was met on the way.
    const auto refuse = [&](WaveRefusalKind kind) {
        why.kind = why.systemError != 0 ? WaveRefusalKind::readError
                   : reader.endOfFile   ? WaveRefusalKind::truncatedHeader
                                        : kind;
        return WaveInfo{};
    };

    readTag(reader, tag);
    why.chunk = tag;
    if (tagDiffers(tag, h.keyword1)) return refuse(WaveRefusalKind::notRiffWave);
    h.filesizeMinus8 = readDword(reader);
    readTag(reader, tag);
    if (tagDiffers(tag, h.keyword2)) {
        why.chunk = tag;
        return refuse(WaveRefusalKind::notRiffWave);
    }
    readTag(reader, tag);
    if (tagDiffers(tag, h.keyword3)) {
        why.chunk = tag;
        return refuse(WaveRefusalKind::chunkBeforeFormat);
    }
    const std::int32_t formatBlockSize = readDword(reader);
    h.wave_format = readWord(reader);
    if (h.wave_format != 1) {
        why.formatCode = h.wave_format;
        return refuse(WaveRefusalKind::formatCode);
    }
    h.number_of_channels = readWord(reader);
    h.sampling_frequency = readDword(reader);
    h.rate = readDword(reader);
    h.blocksize = readWord(reader);
    h.num_bits_sample = readWord(reader);
    if (formatBlockSize > 16) skipBytes(reader, std::int64_t{formatBlockSize} - 16);

    // Only fact chunks may stand between the format block and the data. Every
    // pass consumes at least eight bytes, so the walk ends at the end of the file.
    readTag(reader, tag);
    while (tagDiffers(tag, h.keyword4)) {
        if (reader.endOfFile || tagDiffers(tag, kFact)) {
            why.chunk = tag;
            return refuse(WaveRefusalKind::chunkBeforeData);
        }
        const std::int32_t factSize = readDword(reader);
        skipBytes(reader, factSize);
        readTag(reader, tag);
    }
    h.binarydatasize = readDword(reader);
    // A header cut short anywhere, or with no bytes per frame, describes no file.
    if (reader.endOfFile || h.blocksize == 0) return refuse(WaveRefusalKind::zeroBlockSize);

    // Unsigned quotient; a data size beyond what the signed count can hold (the
    // 0xFFFFFFFF of a recorder that never went back to fix its header) is
    // clamped: readers stop at the real end of the data anyway.
    const std::uint32_t frames = static_cast<std::uint32_t>(h.binarydatasize) / h.blocksize;
    // Not one whole frame: no usable file, reported like every other failure.
    if (frames == 0) {
        why.size = static_cast<std::uint32_t>(h.binarydatasize);
        return refuse(WaveRefusalKind::dataTooShort);
    }
    constexpr auto kMaxCount = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    WaveInfo info;
    info.sampling_frequency = h.sampling_frequency;
    info.num_bits_sample = h.num_bits_sample;
    info.numberSamples = static_cast<std::int32_t>(std::min(frames, kMaxCount));
    info.number_of_channels = h.number_of_channels;
    chooseLayout(reader);
    return info;
}

std::int16_t waveReadSample(WaveReader& reader) {
    if (reader.layout == SampleLayout::mono8) {
        const int b = readByte(reader);
        if (b < 0) return 0;
        ++reader.samplesRead;
        return static_cast<std::int16_t>((b - 128) * 256);
    }
    if (reader.layout == SampleLayout::mono16) {
        const int lo = readByte(reader);
        const int hi = readByte(reader);
        if (lo < 0 || hi < 0) return 0;
        ++reader.samplesRead;
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
    }
    // A frame byte by byte (it may straddle two blocks); a frame cut off by
    // the end of the file is not delivered.
    const std::size_t width = reader.sampleBytes;
    std::int64_t sum = 0;
    for (std::size_t c = 0; c < reader.channels; ++c) {
        int lo = 0;
        int hi = 0;
        for (std::size_t k = 0; k < width; ++k) {
            const int b = readByte(reader);
            if (b < 0) return 0;
            lo = hi;
            hi = b;
        }
        sum += width == 1 ? (hi - 128) * 256
                          : static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
    }
    ++reader.samplesRead;
    return static_cast<std::int16_t>(sum / static_cast<std::int64_t>(reader.channels));
}

void waveReadSamples(WaveReader& reader, std::span<std::int16_t> out) {
    const SampleLayout layout = reader.layout;
    const std::size_t width = layout == SampleLayout::mono8    ? 1
                              : layout == SampleLayout::mono16 ? 2
                                                               : reader.sampleBytes * reader.channels;
    std::size_t done = 0;
    while (done < out.size()) {
        // Whole frames straight from the buffer, the common case.
        const std::size_t avail = (reader.bufferLen - reader.bufferPos) / width;
        const std::size_t n = std::min(avail, out.size() - done);
        const unsigned char* p = reader.buffer.data() + reader.bufferPos;
        if (layout == SampleLayout::mono8) {
            for (std::size_t i = 0; i < n; ++i) out[done + i] = static_cast<std::int16_t>((p[i] - 128) * 256);
        } else if (layout == SampleLayout::mono16) {
            for (std::size_t i = 0; i < n; ++i) {
                out[done + i] = static_cast<std::int16_t>(
                    static_cast<std::uint16_t>(p[2 * i] | (p[2 * i + 1] << 8)));
            }
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                out[done + i] = mixFrame(p + i * width, reader.sampleBytes, reader.channels);
            }
        }
        reader.bufferPos += n * width;
        reader.samplesRead += static_cast<std::int64_t>(n);
        done += n;
        if (done == out.size()) break;
        // A frame that straddles two blocks, a refill, or the end of the file.
        if (reader.endOfFile) {
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(done), out.end(), std::int16_t{0});
            break;
        }
        out[done++] = waveReadSample(reader);
    }
}

std::int64_t waveCountRawSamples(WaveReader& reader) {
    const std::size_t width = reader.header.num_bits_sample == 8 ? 1 : 2;
    std::int64_t bytes = 0;
    do {
        bytes += static_cast<std::int64_t>(reader.bufferLen - reader.bufferPos);
        reader.bufferPos = reader.bufferLen;
    } while (refill(reader));
    return bytes / static_cast<std::int64_t>(width);
}

std::string waveRefusalLine(const WaveRefusal& refusal) {
    const auto tagText = [&refusal] {
        std::string text;
        for (const char c : refusal.chunk) {
            const auto u = static_cast<unsigned char>(c);
            text += u >= 0x20 && u < 0x7F ? c : '?';
        }
        return "\"" + text + "\"";
    };
    constexpr const char* kRewrite = "; convert it: sox in.wav out.wav\n";
    constexpr const char* kTo16Bit = "; convert it: sox in.wav -e signed-integer -b 16 out.wav\n";
    switch (refusal.kind) {
    case WaveRefusalKind::none:
        return "";
    case WaveRefusalKind::cannotOpen:
        return std::string("reason: the file can't be opened: ") + std::strerror(refusal.systemError) + "\n";
    case WaveRefusalKind::readError:
        return std::string("reason: the file can't be read: ") + std::strerror(refusal.systemError) + "\n";
    case WaveRefusalKind::notRiffWave:
        return "reason: not a RIFF WAVE file (" + tagText() + " where RIFF or WAVE should be)" + kRewrite;
    case WaveRefusalKind::chunkBeforeFormat:
        return "reason: a " + tagText() + " chunk stands where the format chunk must be" + kRewrite;
    case WaveRefusalKind::formatCode: {
        std::array<char, 16> code{};
        std::snprintf(code.data(), code.size(), "0x%04X", static_cast<unsigned>(refusal.formatCode));
        return "reason: format code " + std::to_string(refusal.formatCode) + " (" + code.data() +
               "), only 1 (integer PCM) is read" + kTo16Bit;
    }
    case WaveRefusalKind::chunkBeforeData:
        return "reason: a " + tagText() + " chunk stands between the format chunk and the data" + kRewrite;
    case WaveRefusalKind::truncatedHeader:
        return "reason: the file ends inside its header\n";
    case WaveRefusalKind::zeroBlockSize:
        return std::string("reason: the format chunk gives 0 bytes per frame") + kTo16Bit;
    case WaveRefusalKind::dataTooShort:
        return "reason: data size " + std::to_string(refusal.size) +
               " is less than one frame (a recorder that stopped before writing it?)"
               "; convert it: sox --ignore-length in.wav out.wav\n";
    case WaveRefusalKind::rateOutOfRange:
        return "reason: sampling frequency " + std::to_string(refusal.size) + " Hz is outside " +
               std::to_string(refusal.lowestHz) + " to " + std::to_string(refusal.highestHz) +
               " Hz; convert it: sox in.wav -r 8000 out.wav\n";
    }
    return "";
}

WaveRefusal rateRefusal(int rateHz, int lowestHz, int highestHz) {
    WaveRefusal refusal;
    refusal.kind = WaveRefusalKind::rateOutOfRange;
    refusal.size = rateHz;
    refusal.lowestHz = lowestHz;
    refusal.highestHz = highestHz;
    return refusal;
}

int waveAtEnd(const WaveReader& reader) { return reader.endOfFile ? -1 : 0; }

void waveClose(WaveReader& reader) {
    reader.file.reset();
    reader.bufferPos = 0;
    reader.bufferLen = 0;
}

int waveCreate(WaveWriter& writer, const std::string& path, const WaveInfo& info) {
    if (writer.file) waveCloseWrite(writer);
    writer.header = WaveHeader{};
    writer.header.wave_format = 1;
    writer.buffer.clear();
    writer.failed = false;
    writer.file = openFile(path, "wb");
    if (!writer.file) return 0;
    // Blocks of kBlockSize go out in one write each; stdio adds no second buffer.
    std::setvbuf(writer.file.get(), nullptr, _IONBF, 0);
    writer.buffer.reserve(kBlockSize);
    waveWriteHeader(writer, info);
    return 1;
}

void waveWriteHeader(WaveWriter& writer, const WaveInfo& info) {
    WaveHeader& h = writer.header;
    h.sampling_frequency = info.sampling_frequency;
    h.num_bits_sample = info.num_bits_sample;
    h.number_of_channels = info.number_of_channels;
    h.blocksize = static_cast<std::uint16_t>((info.num_bits_sample / 8) * info.number_of_channels);
    // 32-bit two's-complement arithmetic as the fields hold it (no signed overflow).
    const auto dataSize = static_cast<std::uint32_t>(info.numberSamples) * h.blocksize;
    h.binarydatasize = static_cast<std::int32_t>(dataSize);
    h.filesizeMinus8 = static_cast<std::int32_t>(dataSize + 36u);
    h.rate = static_cast<std::int32_t>(h.blocksize * static_cast<std::uint32_t>(info.sampling_frequency));
    h.info_block_size = 16;
    h.wave_format = 1;

    writeTag(writer, h.keyword1);
    writeDword(writer, h.filesizeMinus8);
    writeTag(writer, h.keyword2);
    writeTag(writer, h.keyword3);
    writeDword(writer, h.info_block_size);
    writeWord(writer, h.wave_format);
    writeWord(writer, h.number_of_channels);
    writeDword(writer, h.sampling_frequency);
    writeDword(writer, h.rate);
    writeWord(writer, h.blocksize);
    writeWord(writer, h.num_bits_sample);
    writeTag(writer, h.keyword4);
    writeDword(writer, h.binarydatasize);
}

void waveWriteSample(WaveWriter& writer, std::int16_t value) {
    if (writer.header.num_bits_sample == 8) {
        writeByte(writer, static_cast<unsigned char>(((value >> 8) & 0xFF) ^ 0x80));
    } else {
        writeWord(writer, static_cast<std::uint16_t>(value));
    }
}

void waveWriteSamples(WaveWriter& writer, std::span<const std::int16_t> samples) {
    for (const std::int16_t v : samples) waveWriteSample(writer, v);
}

int waveCloseWrite(WaveWriter& writer) {
    if (!writer.file) return -1;
    flushBuffer(writer);
    const int closed = std::fclose(writer.file.release());
    const bool ok = closed == 0 && !writer.failed;
    writer.failed = false;
    return ok ? 0 : -1;
}

WaveWriter::~WaveWriter() {
    // A writer left open at the end of its scope still delivers its bytes.
    if (file) flushBuffer(*this);
}

}  // namespace sigcore
