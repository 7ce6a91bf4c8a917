// RIFF WAVE files of linear PCM: the reader used by the detectors and wavpeek,
// the writer used by the generators. Inside the programs every sample is a
// signed 16-bit value, whatever the file's depth.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace sigcore {

using Tag = std::array<char, 4>;

// The 44-byte canonical header, field by field in file order. The constant
// parts start out filled in; the reader compares tags against them and never
// overwrites info_block_size (it stays 16 whatever the file's format block size).
struct WaveHeader {
    Tag keyword1{'R', 'I', 'F', 'F'};
    std::int32_t filesizeMinus8 = 0;  // "filesize-8"
    Tag keyword2{'W', 'A', 'V', 'E'};
    Tag keyword3{'f', 'm', 't', ' '};
    std::int32_t info_block_size = 16;
    std::uint16_t wave_format = 0;
    std::uint16_t number_of_channels = 0;
    std::int32_t sampling_frequency = 0;
    std::int32_t rate = 0;
    std::uint16_t blocksize = 0;
    std::uint16_t num_bits_sample = 0;
    Tag keyword4{'d', 'a', 't', 'a'};
    std::int32_t binarydatasize = 0;
};

// What a file means to the rest of a program. numberSamples 0 means that no
// usable file was opened; after a failed open all four fields are 0.
struct WaveInfo {
    std::int32_t sampling_frequency = 0;
    std::uint16_t num_bits_sample = 0;
    std::int32_t numberSamples = 0;
    std::uint16_t number_of_channels = 0;
};

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Reader: one open input stream, read in blocks into `buffer`.
struct WaveReader {
    FileHandle file;
    WaveHeader header;
    std::vector<unsigned char> buffer;  // block read buffer
    std::size_t bufferPos = 0;           // next unread byte in buffer
    std::size_t bufferLen = 0;           // valid bytes in buffer
    bool endOfFile = false;              // a read has met the end of the file
    std::int64_t samplesRead = 0;        // whole samples delivered from the file (not the zero fill)
};

// Opens the file (binary) and walks its header. Returns all zeros when the file
// can't be opened; closes it again when numberSamples comes out 0.
WaveInfo waveOpen(WaveReader& reader, const std::string& path);
// The header walk on an already open stream; fills reader.header.
WaveInfo waveReadHeader(WaveReader& reader);
// Next sample as a signed 16-bit value; 0 once the file is exhausted.
std::int16_t waveReadSample(WaveReader& reader);
// Fills `out` with the next out.size() samples (zeros past the end).
void waveReadSamples(WaveReader& reader, std::span<std::int16_t> out);
// -1 once a read on the input stream has met the end of the file, else 0.
int waveAtEnd(const WaveReader& reader);
void waveClose(WaveReader& reader);

// Writer: one open output stream, written in blocks from `buffer`.
struct WaveWriter {
    FileHandle file;
    WaveHeader header;
    std::vector<unsigned char> buffer;  // bytes not yet handed to the stream
    bool failed = false;  // a write or flush has failed since waveCreate

    WaveWriter() = default;
    WaveWriter(WaveWriter&&) = default;
    WaveWriter& operator=(WaveWriter&&) = default;
    // Flushes the pending bytes of a writer that was never closed with
    // waveCloseWrite (whose result then goes unchecked).
    ~WaveWriter();
};

// Creates (or truncates) the file in binary mode and writes the whole header
// at once. `info` must carry the exact number of sample frames to come.
// Returns 1 on success, 0 if the file can't be created.
int waveCreate(WaveWriter& writer, const std::string& path, const WaveInfo& info);
void waveWriteHeader(WaveWriter& writer, const WaveInfo& info);
void waveWriteSample(WaveWriter& writer, std::int16_t value);
void waveWriteSamples(WaveWriter& writer, std::span<const std::int16_t> samples);
// Flushes and closes: 0, or -1 when the close (or any earlier write) failed.
int waveCloseWrite(WaveWriter& writer);

}  // namespace sigcore
