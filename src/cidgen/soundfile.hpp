// cidgen's output: samples coded by libsndfile in memory, then written
// whole: to standard output, or to a temporary file beside the target that
// is renamed onto it only once every byte is on disk, so that a failed run
// never leaves a partial file under the name asked for.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cidgen/options.hpp"

namespace cidgen {

struct SoundFormat {
    FileType type = FileType::Wav;
    Encoding encoding = Encoding::S16;
};

// The container and coding for `output`: --type, else the extension (.wav,
// .aif/.aiff, .flac, .ul/.ulaw, .al/.alaw), else WAV; --encoding, else
// 16-bit (mu-law or A-law for the headerless types). An error names the
// option when the pair can't be written.
[[nodiscard]] std::optional<SoundFormat> chooseFormat(const Options& options, std::string& error);

// Where the samples come from: fills the block it is given and returns how
// many it wrote, fewer than asked only at the end.
using SampleSource = std::function<std::size_t(std::span<double>)>;

// The whole file's bytes, mono at `rate`, the samples taken block by block
// from `source`. False with `error` set when libsndfile refuses.
[[nodiscard]] bool encodeSound(const SampleSource& source, int rate, SoundFormat format,
                               std::vector<unsigned char>& bytes, std::string& error);

// Writes `bytes` to `path` ("-": standard output) as described above.
[[nodiscard]] bool writeWhole(const std::string& path, std::span<const unsigned char> bytes, std::string& error);

}  // namespace cidgen
