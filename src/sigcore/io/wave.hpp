// RIFF WAVE files of linear PCM: the reader used by the detectors and wavpeek,
// the writer used by the generators. Inside the programs every sample is a
// signed 16-bit value, whatever the file's depth: the reader hands on one
// value per frame (the channels mixed, the most significant 16 bits of deeper
// samples).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "sigcore/io/filehandle.hpp"

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

// Why waveOpen refused a file (or the caller refused its sampling rate).
enum class WaveRefusalKind {
    none,                // not refused
    cannotOpen,          // the file can't be opened for reading
    readError,           // a read failed (a directory, an I/O error)
    notRiffWave,         // the file doesn't start with RIFF....WAVE
    chunkBeforeFormat,   // another chunk where the format chunk must stand
    formatCode,          // format code other than 1 (integer PCM)
    chunkBeforeData,     // a chunk other than fact between the format chunk and the data
    truncatedHeader,     // the file ends inside its header
    zeroBlockSize,       // the format chunk gives 0 bytes per frame
    dataTooShort,        // the data size gives less than one frame (0: a recorder that died)
    rateOutOfRange,      // the sampling rate is outside what the detectors take
};

struct WaveRefusal {
    WaveRefusalKind kind = WaveRefusalKind::none;
    Tag chunk{};                    // the offending tag
    std::uint16_t formatCode = 0;   // the offending format code
    std::int64_t size = 0;          // the data size, or the sampling rate
    std::int32_t lowestHz = 0;      // the rates taken, for rateOutOfRange
    std::int32_t highestHz = 0;
    int systemError = 0;            // errno of a failed open or read
};

// How the data bytes make frames: mono 8- or 16-bit samples one after the
// other, or frames of several channels and/or 24- or 32-bit samples.
enum class SampleLayout { mono8, mono16, frames };

// Reader: one open input stream, read in blocks into `buffer`. From a pipe a
// block is whatever has arrived, so samples are handed on as they come.
struct WaveReader {
    FileHandle file;
    WaveHeader header;
    std::vector<unsigned char> buffer;  // block read buffer
    std::size_t bufferPos = 0;           // next unread byte in buffer
    std::size_t bufferLen = 0;           // valid bytes in buffer
    bool endOfFile = false;              // a read has met the end of the file
    std::int64_t samplesRead = 0;        // whole frames delivered from the file (not the zero fill)
    SampleLayout layout = SampleLayout::mono16;
    std::size_t sampleBytes = 2;         // bytes of one channel's sample in the frames layout
    std::size_t channels = 1;            // channels mixed per frame in the frames layout
    WaveRefusal refusal;                 // why the last waveOpen/waveReadHeader failed
};

// Opens the file (binary; "-" is standard input) and walks its header.
// Returns all zeros when the file can't be opened; closes it again when
// numberSamples comes out 0. reader.refusal says why.
WaveInfo waveOpen(WaveReader& reader, const std::string& path);
// The header walk on an already open stream; fills reader.header and
// reader.refusal and chooses the sample layout.
WaveInfo waveReadHeader(WaveReader& reader);
// Next frame as a signed 16-bit value; 0 once the file is exhausted. Several
// channels give the mean of their values, rounded toward zero; 24- and 32-bit
// samples give their most significant 16 bits.
std::int16_t waveReadSample(WaveReader& reader);
// Fills `out` with the next out.size() frames (zeros past the end).
void waveReadSamples(WaveReader& reader, std::span<std::int16_t> out);
// Counts what is left of the file as wavpeek reports it: one byte per
// sample at 8 bits, two bytes otherwise, whatever the channels; leaves the
// reader at the end.
std::int64_t waveCountRawSamples(WaveReader& reader);
// The line that tells why a recording was refused and how sox converts it
// (with a line end); "" for WaveRefusalKind::none.
std::string waveRefusalLine(const WaveRefusal& refusal);
// The refusal of a sampling rate outside lowestHz..highestHz.
WaveRefusal rateRefusal(int rateHz, int lowestHz, int highestHz);
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

// Creates (or truncates) the file in binary mode ("-" is standard output) and writes the whole header
// at once. `info` must carry the exact number of sample frames to come.
// Returns 1 on success, 0 if the file can't be created.
int waveCreate(WaveWriter& writer, const std::string& path, const WaveInfo& info);
void waveWriteHeader(WaveWriter& writer, const WaveInfo& info);
void waveWriteSample(WaveWriter& writer, std::int16_t value);
void waveWriteSamples(WaveWriter& writer, std::span<const std::int16_t> samples);
// Flushes and closes: 0, or -1 when the close (or any earlier write) failed.
int waveCloseWrite(WaveWriter& writer);

}  // namespace sigcore
