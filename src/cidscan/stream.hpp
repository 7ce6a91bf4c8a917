// What cidscan does with inputs libsndfile can't take as they are: a WAV
// header whose data size was never written, and streams (pipes, devices)
// that libsndfile would seek in or misjudge. A stream is passed on through a
// pipe of our own, its header mended where needed; a stream in a format
// other than WAV is first read whole into a temporary file.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cidscan {

// The most header bytes looked at for the data chunk.
inline constexpr std::size_t kMostHeaderBytes = 1 << 16;
// The data size written into a stream's header that gives none: libsndfile
// reads a stream with this size to its end.
inline constexpr std::uint64_t kStreamDataSize = 0x7FFFFFFF;

// Where a RIFF WAVE header's data chunk is: its size field, the size it
// gives, and the offset of its first sample byte.
struct DataChunk {
    std::size_t sizeOffset = 0;
    std::uint32_t size = 0;
    std::uint64_t start = 0;
};

// The data chunk of a little-endian WAV header, when `head` reaches it.
[[nodiscard]] std::optional<DataChunk> findDataChunk(std::span<const std::uint8_t> head);
// The sampling rate of the fmt chunk of a little-endian WAV header.
[[nodiscard]] std::optional<std::uint32_t> wavSampleRate(std::span<const std::uint8_t> head);
// Writes `size` (at most 0xFFFFFFFF) as the data chunk's size, and makes the
// RIFF size cover it.
void setDataSize(std::vector<std::uint8_t>& head, const DataChunk& chunk, std::uint64_t size);

enum class StreamKind { Wav, Other };

// Reads a stream's first bytes into `head`: a WAV header up to its data
// chunk's first sample (at most kMostHeaderBytes), or the first 12 bytes of
// any other format. `error` is set when the stream can't be read.
StreamKind readStreamHead(int fd, std::vector<std::uint8_t>& head, std::string& error);

// The errno of a failed read of a forwarded stream's source (0 while none),
// set before the pipe is closed.
using SourceError = std::shared_ptr<std::atomic<int>>;

// A pipe that gives `head` and then what follows in `source`, copied by a
// thread of its own that closes `source` at the end. Returns the pipe's read
// end, or -1 with `error` set; `sourceError` tells whether the copy ended on
// a read error rather than at the source's end.
int forwardStream(int source, std::vector<std::uint8_t> head, SourceError& sourceError, std::string& error);

// A temporary file holding `head` and the rest of `fd`, rewound; nullptr
// with `error` set when it can't be written.
std::FILE* spoolToTempFile(int fd, std::span<const std::uint8_t> head, std::string& error);

}  // namespace cidscan
