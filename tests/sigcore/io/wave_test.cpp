#include "sigcore/io/wave.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "support/testsupport.hpp"
#include "support/wavbytes.hpp"

using namespace sigcore;
using testsupport::appendChunk;
using testsupport::appendLe32;
using testsupport::appendTag;
using testsupport::Bytes;
using testsupport::FmtFields;
using testsupport::TempDir;
using testsupport::waveFile;
using testsupport::wavePrefix;

namespace {

bool allZero(const WaveInfo& i) {
    return i.sampling_frequency == 0 && i.num_bits_sample == 0 && i.numberSamples == 0 &&
           i.number_of_channels == 0;
}

WaveInfo openBytes(WaveReader& reader, const TempDir& dir, const Bytes& bytes) {
    const std::string path = dir.file("in.wav");
    testsupport::writeBytes(path, bytes);
    return waveOpen(reader, path);
}

WaveInfo openBytes(const Bytes& bytes) {
    TempDir dir;
    WaveReader reader;
    return openBytes(reader, dir, bytes);
}

// Prefix plus any chunks the caller puts between the format block and "data".
Bytes withChunks(const FmtFields& f, const Bytes& between, const Bytes& data) {
    Bytes b = wavePrefix(f);
    b.insert(b.end(), between.begin(), between.end());
    appendTag(b, "data");
    appendLe32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

}  // namespace

// ---- writer ----------------------------------------------------------------

TEST(WaveWriter, HeaderBytesOf8000Hz16Bit100Samples) {
    TempDir dir;
    const std::string path = dir.file("out.wav");
    WaveWriter writer;
    ASSERT_EQ(waveCreate(writer, path, WaveInfo{8000, 16, 100, 1}), 1);
    EXPECT_EQ(writer.header.filesizeMinus8, 236);
    EXPECT_EQ(writer.header.rate, 16000);
    EXPECT_EQ(writer.header.blocksize, 2);
    EXPECT_EQ(writer.header.binarydatasize, 200);
    for (int i = 0; i < 100; ++i) waveWriteSample(writer, static_cast<std::int16_t>(i));
    ASSERT_EQ(waveCloseWrite(writer), 0);

    const Bytes bytes = testsupport::readBytes(path);
    ASSERT_EQ(bytes.size(), 244u);
    const Bytes expected{0x52, 0x49, 0x46, 0x46, 0xEC, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45,
                         0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
                         0x40, 0x1F, 0x00, 0x00, 0x80, 0x3E, 0x00, 0x00, 0x02, 0x00, 0x10, 0x00,
                         0x64, 0x61, 0x74, 0x61, 0xC8, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 44), expected);
    EXPECT_EQ(bytes[44 + 2 * 99], 99);  // last sample, low byte first
    EXPECT_EQ(bytes[44 + 2 * 99 + 1], 0);
}

TEST(WaveWriter, SampleBytesAt8And16Bits) {
    TempDir dir;
    const std::vector<std::int16_t> values{0, -32768, 32767, 255, 256, -1};
    {
        WaveWriter writer;
        ASSERT_EQ(waveCreate(writer, dir.file("8.wav"), WaveInfo{8000, 8, 6, 1}), 1);
        waveWriteSamples(writer, values);
        ASSERT_EQ(waveCloseWrite(writer), 0);
    }
    const Bytes eight = testsupport::readBytes(dir.file("8.wav"));
    ASSERT_EQ(eight.size(), 50u);
    EXPECT_EQ(Bytes(eight.begin() + 44, eight.end()), (Bytes{0x80, 0x00, 0xFF, 0x80, 0x81, 0x7F}));

    {
        WaveWriter writer;
        ASSERT_EQ(waveCreate(writer, dir.file("16.wav"), WaveInfo{8000, 16, 6, 1}), 1);
        waveWriteSamples(writer, values);
        ASSERT_EQ(waveCloseWrite(writer), 0);
    }
    const Bytes sixteen = testsupport::readBytes(dir.file("16.wav"));
    EXPECT_EQ(Bytes(sixteen.begin() + 44, sixteen.end()),
              (Bytes{0x00, 0x00, 0x00, 0x80, 0xFF, 0x7F, 0xFF, 0x00, 0x00, 0x01, 0xFF, 0xFF}));
}

TEST(WaveWriter, RoundTripThroughTheReader) {
    TempDir dir;
    std::vector<std::int16_t> values;
    for (int v = -32768; v <= 32767; v += 97) values.push_back(static_cast<std::int16_t>(v));
    values.push_back(32767);
    const auto count = static_cast<std::int32_t>(values.size());

    for (const std::uint16_t bits : {std::uint16_t{8}, std::uint16_t{16}}) {
        const std::string path = dir.file("rt" + std::to_string(bits) + ".wav");
        WaveWriter writer;
        ASSERT_EQ(waveCreate(writer, path, WaveInfo{11025, bits, count, 1}), 1);
        waveWriteSamples(writer, values);
        ASSERT_EQ(waveCloseWrite(writer), 0);

        WaveReader reader;
        const WaveInfo info = waveOpen(reader, path);
        EXPECT_EQ(info.sampling_frequency, 11025);
        EXPECT_EQ(info.num_bits_sample, bits);
        EXPECT_EQ(info.numberSamples, count);
        EXPECT_EQ(info.number_of_channels, 1);
        for (const std::int16_t v : values) {
            // 8 bits keep the high byte: the value rounded down to a multiple of 256.
            const int expected = bits == 8 ? (v >> 8) * 256 : v;
            ASSERT_EQ(waveReadSample(reader), expected) << bits << " bits, value " << v;
        }
        waveClose(reader);
    }
}

TEST(WaveWriter, FailuresAreReported) {
    TempDir dir;
    WaveWriter writer;
    // A file in a folder that doesn't exist can't be created, and nothing is written.
    EXPECT_EQ(waveCreate(writer, dir.file("no/such/dir.wav"), WaveInfo{8000, 16, 10, 1}), 0);
    EXPECT_EQ(waveCloseWrite(writer), -1);

    // /dev/full accepts the open and fails every write: a small file fails at
    // the close, a large one already while writing; both come out of waveCloseWrite.
    for (const std::int32_t n : {100, 200000}) {
        ASSERT_EQ(waveCreate(writer, "/dev/full", WaveInfo{8000, 16, n, 1}), 1);
        const std::vector<std::int16_t> samples(static_cast<std::size_t>(n), 1000);
        waveWriteSamples(writer, samples);
        EXPECT_EQ(waveCloseWrite(writer), -1) << n << " samples";
    }
}

TEST(WaveWriter, UnclosedWriterStillDeliversItsBytes) {
    TempDir dir;
    const std::string path = dir.file("scope.wav");
    {
        WaveWriter writer;
        ASSERT_EQ(waveCreate(writer, path, WaveInfo{8000, 8, 1000, 1}), 1);
        for (int i = 0; i < 1000; ++i) waveWriteSample(writer, 0);
    }
    EXPECT_EQ(testsupport::readBytes(path).size(), 1044u);
}

// ---- reader: accepted headers ------------------------------------------------

TEST(WaveReader, CanonicalHeaders) {
    TempDir dir;
    WaveReader reader;
    const WaveInfo eight = openBytes(reader, dir, waveFile({.bits = 8}, Bytes(40000, 0x80)));
    EXPECT_EQ(eight.sampling_frequency, 8000);
    EXPECT_EQ(eight.num_bits_sample, 8);
    EXPECT_EQ(eight.numberSamples, 40000);
    EXPECT_EQ(eight.number_of_channels, 1);
    EXPECT_EQ(reader.header.binarydatasize, 40000);
    EXPECT_EQ(reader.header.blocksize, 1);
    EXPECT_EQ(reader.header.rate, 8000);
    waveClose(reader);

    // A partial last frame is not counted.
    EXPECT_EQ(openBytes(waveFile({.bits = 16}, Bytes(1001, 0))).numberSamples, 500);
    // Stereo: frames, not values.
    EXPECT_EQ(openBytes(waveFile({.channels = 2, .bits = 16}, Bytes(4000, 0))).numberSamples, 1000);
}

TEST(WaveReader, FormatBlockExtensionIsSkipped) {
    TempDir dir;
    WaveReader reader;
    const WaveInfo info = openBytes(reader, dir, waveFile({.bits = 16, .fmtSize = 18}, Bytes{0x34, 0x12, 0xFF, 0x7F}));
    EXPECT_EQ(info.numberSamples, 2);
    EXPECT_EQ(reader.header.info_block_size, 16);
    EXPECT_EQ(waveReadSample(reader), 0x1234);
    EXPECT_EQ(waveReadSample(reader), 32767);
}

TEST(WaveReader, FactChunksAreSkipped) {
    const FmtFields f{.bits = 16};
    const Bytes data{0x01, 0x00, 0x02, 0x00};
    Bytes one;
    appendChunk(one, "fact", Bytes{4, 0, 0, 0});
    Bytes several;
    appendChunk(several, "fact", Bytes{4, 0, 0, 0});
    appendChunk(several, "fact", Bytes{});
    appendChunk(several, "fact", Bytes(1001, 0x55));
    // A negative size skips nothing: the next tag follows the size field.
    Bytes negative;
    appendTag(negative, "fact");
    appendLe32(negative, 0xFFFFFFF0u);

    for (const Bytes& between : {one, several, negative}) {
        TempDir dir;
        WaveReader reader;
        const WaveInfo info = openBytes(reader, dir, withChunks(f, between, data));
        EXPECT_EQ(info.numberSamples, 2);
        EXPECT_EQ(waveReadSample(reader), 1);
        EXPECT_EQ(waveReadSample(reader), 2);
    }
}

TEST(WaveReader, FactChunkOnAStreamThatCannotSeek) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Bytes between;
    appendChunk(between, "fact", Bytes(200000, 0x11));  // more than one read block
    const Bytes bytes = withChunks({.bits = 16}, between, Bytes{0x07, 0x00});
    std::thread feeder([&] { testsupport::writeBytes(fifo, bytes); });
    WaveReader reader;
    const WaveInfo info = waveOpen(reader, fifo);
    EXPECT_EQ(info.numberSamples, 1);
    EXPECT_EQ(waveReadSample(reader), 7);
    waveClose(reader);
    feeder.join();
}

TEST(WaveReader, HugeDataSizeIsClampedToTheSignedCount) {
    // Streaming recorders leave 0xFFFFFFFF as the data size.
    EXPECT_EQ(openBytes(waveFile({.bits = 8}, Bytes(10, 0x80), 0xFFFFFFFFu)).numberSamples, 2147483647);
    EXPECT_EQ(openBytes(waveFile({.bits = 16}, Bytes(10, 0), 0xFFFFFFFFu)).numberSamples, 2147483647);
    EXPECT_EQ(openBytes(waveFile({.bits = 16}, Bytes(10, 0), 0x80000000u)).numberSamples, 1073741824);

    // Reading such a file still stops at the real end of the data.
    TempDir dir;
    WaveReader reader;
    openBytes(reader, dir, waveFile({.bits = 8}, Bytes(10, 0xFF), 0xFFFFFFFFu));
    std::vector<std::int16_t> block(512);
    waveReadSamples(reader, block);
    EXPECT_EQ(reader.samplesRead, 10);
    EXPECT_EQ(waveAtEnd(reader), -1);
}

// ---- reader: rejected headers ------------------------------------------------

TEST(WaveReader, RejectedHeadersGiveAllZerosAndCloseTheFile) {
    const Bytes data(100, 0);
    Bytes list;
    appendChunk(list, "LIST", Bytes(26, 'x'));
    Bytes factThenList;
    appendChunk(factThenList, "fact", Bytes{4, 0, 0, 0});
    appendChunk(factThenList, "LIST", Bytes(4, 'x'));

    Bytes notRiff = waveFile({}, data);
    notRiff[0] = 'X';
    Bytes notWave = waveFile({}, data);
    notWave[8] = 'w';
    Bytes listFirst;  // a chunk before the format block
    appendTag(listFirst, "RIFF");
    appendLe32(listFirst, 0);
    appendTag(listFirst, "WAVE");
    appendChunk(listFirst, "LIST", Bytes(4, 'x'));
    const Bytes fmtOnly = wavePrefix({});
    const Bytes whole = waveFile({}, data);

    const std::vector<std::pair<const char*, Bytes>> cases{
        {"empty file", Bytes{}},
        {"not RIFF", notRiff},
        {"not WAVE", notWave},
        {"chunk before fmt", listFirst},
        {"format 3", waveFile({.format = 3, .bits = 32}, data)},
        {"LIST before data", withChunks({}, list, data)},
        {"fact then LIST", withChunks({}, factThenList, data)},
        {"blocksize 0", waveFile({.blocksize = 0}, data)},
        {"blocksize 0, bits 0", waveFile({.bits = 0}, data)},
        {"empty data chunk", waveFile({}, Bytes{})},
        {"data shorter than a frame", waveFile({.channels = 2, .bits = 16}, Bytes{1, 2, 3}, 3)},
        {"ends after the format block", fmtOnly},
        {"ends inside the format block", Bytes(fmtOnly.begin(), fmtOnly.begin() + 30)},
        {"ends in the data size", Bytes(whole.begin(), whole.begin() + 42)},
    };
    for (const auto& [name, bytes] : cases) {
        TempDir dir;
        WaveReader reader;
        EXPECT_TRUE(allZero(openBytes(reader, dir, bytes))) << name;
        EXPECT_FALSE(reader.file) << name;
    }

    // A file that ends inside the chunk walk: after a fact chunk, with no tag,
    // and with a fact size far beyond the end of the file.
    Bytes endsAfterFact = wavePrefix({});
    appendChunk(endsAfterFact, "fact", Bytes{4, 0, 0, 0});
    Bytes endsInTag = endsAfterFact;
    appendTag(endsInTag, "da");
    Bytes hugeFact = wavePrefix({});
    appendTag(hugeFact, "fact");
    appendLe32(hugeFact, 0x7FFFFFFFu);
    appendTag(hugeFact, "data");
    appendLe32(hugeFact, 4);
    for (const Bytes& bytes : {endsAfterFact, endsInTag, hugeFact}) {
        EXPECT_TRUE(allZero(openBytes(bytes)));
    }

    WaveReader reader;
    EXPECT_TRUE(allZero(waveOpen(reader, "/no/such/file.wav")));
    EXPECT_FALSE(reader.file);
}

// ---- reader: samples ------------------------------------------------------------

TEST(WaveReader, SampleValuesAndReadingPastTheEnd) {
    TempDir dir;
    WaveReader reader;
    ASSERT_EQ(openBytes(reader, dir, waveFile({.bits = 8}, Bytes{0x00, 0x80, 0xFF})).numberSamples, 3);
    EXPECT_EQ(waveReadSample(reader), -32768);
    EXPECT_EQ(waveReadSample(reader), 0);
    EXPECT_EQ(waveReadSample(reader), 32512);
    EXPECT_EQ(waveAtEnd(reader), 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(waveReadSample(reader), 0);
    EXPECT_EQ(waveAtEnd(reader), -1);
    EXPECT_EQ(reader.samplesRead, 3);

    // 16 bits, with a final odd byte that is no whole sample.
    ASSERT_EQ(openBytes(reader, dir, waveFile({.bits = 16}, Bytes{0x00, 0x80, 0xFF, 0x7F, 0x55}, 4)).numberSamples,
              2);
    std::vector<std::int16_t> block(6, 123);
    waveReadSamples(reader, block);
    EXPECT_EQ(block, (std::vector<std::int16_t>{-32768, 32767, 0, 0, 0, 0}));
    EXPECT_EQ(reader.samplesRead, 2);
    EXPECT_EQ(waveAtEnd(reader), -1);

    // Any depth other than 8 is read as 16-bit words.
    ASSERT_EQ(openBytes(reader, dir, waveFile({.bits = 12, .blocksize = 2}, Bytes{0x01, 0x02})).numberSamples, 1);
    EXPECT_EQ(waveReadSample(reader), 0x0201);
}

// Several channels are mixed into one value per frame (their mean, rounded
// toward zero) and 24- and 32-bit samples give their top 16 bits, so the
// detectors see every frame of a stereo or deep file at its own position.
TEST(WaveReader, FramesOfSeveralChannelsAndDeeperSamples) {
    struct Case {
        const char* name;
        std::uint32_t channels;
        std::uint32_t bits;
        Bytes data;
        std::vector<std::int16_t> frames;
    };
    const std::vector<Case> cases{
        {"stereo 16", 2, 16,
         Bytes{100, 0, 44, 1, 3, 0, 0xFC, 0xFF, 0xFD, 0xFF, 0xFC, 0xFF, 0xFF, 0x7F, 0xFF, 0x7F, 0, 0x80, 0, 0x80},
         {200, 0, -3, 32767, -32768}},
        {"stereo 8", 2, 8, Bytes{0x00, 0xFF, 0x81, 0x81}, {-128, 256}},
        {"mono 24", 1, 24, Bytes{0x11, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80}, {0x1234, -1, -32768}},
        {"stereo 32", 2, 32, Bytes{9, 9, 0x34, 0x12, 9, 9, 0x00, 0x80}, {-14054}},
        {"three channels 16", 3, 16, Bytes{1, 0, 1, 0, 0xFF, 0xFF, 0x30, 0x75, 0x30, 0x75, 0x30, 0x75}, {0, 30000}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WaveReader reader;
        Bytes data = c.data;
        data.push_back(0x55);  // part of a frame: never delivered
        const WaveInfo info = openBytes(reader, dir, waveFile({.channels = c.channels, .bits = c.bits}, data));
        ASSERT_EQ(info.numberSamples, static_cast<std::int32_t>(c.frames.size())) << c.name;
        std::vector<std::int16_t> got(c.frames.size() + 2, 123);
        waveReadSamples(reader, got);
        std::vector<std::int16_t> expected = c.frames;
        expected.insert(expected.end(), {0, 0});
        EXPECT_EQ(got, expected) << c.name;
        EXPECT_EQ(reader.samplesRead, static_cast<std::int64_t>(c.frames.size())) << c.name;
        EXPECT_EQ(waveAtEnd(reader), -1) << c.name;
    }
}

TEST(WaveReader, BlockReadsMatchSingleReadsAcrossBufferBoundaries) {
    // An odd number of data bytes well beyond two read blocks, trailing chunk included.
    Bytes data(150001);
    std::uint32_t x = 12345;
    for (auto& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 23);
    }
    struct Layout {
        std::uint32_t channels;
        std::uint32_t bits;
    };
    for (const auto [channels, bits] : {Layout{1, 8}, Layout{1, 16}, Layout{2, 8}, Layout{2, 16}, Layout{1, 24},
                                        Layout{3, 24}, Layout{2, 32}}) {
        TempDir dir;
        WaveReader single;
        WaveReader blocks;
        const Bytes file = waveFile({.channels = channels, .bits = bits}, data, 100000);
        openBytes(single, dir, file);
        ASSERT_NE(waveOpen(blocks, dir.file("in.wav")).numberSamples, 0);
        std::vector<std::int16_t> got;
        std::vector<std::int16_t> block(511);  // odd, so blocks straddle the buffer's edges
        while (waveAtEnd(blocks) == 0) {
            waveReadSamples(blocks, block);
            got.insert(got.end(), block.begin(), block.end());
        }
        const std::size_t whole = data.size() / (bits / 8 * channels);
        EXPECT_EQ(blocks.samplesRead, static_cast<std::int64_t>(whole));
        ASSERT_GE(got.size(), whole);
        for (std::size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(got[i], waveReadSample(single)) << channels << " x " << bits << " bits, frame " << i;
        }
        EXPECT_EQ(single.samplesRead, static_cast<std::int64_t>(whole));
    }
}

TEST(WaveReader, ReopeningStartsAfresh) {
    TempDir dir;
    WaveReader reader;
    openBytes(reader, dir, waveFile({.bits = 8}, Bytes{0xFF}));
    waveReadSample(reader);
    waveReadSample(reader);
    ASSERT_EQ(waveAtEnd(reader), -1);
    testsupport::writeBytes(dir.file("b.wav"), waveFile({.channels = 2, .rate = 44100, .bits = 16}, Bytes(8, 0)));
    const WaveInfo info = waveOpen(reader, dir.file("b.wav"));
    EXPECT_EQ(info.sampling_frequency, 44100);
    EXPECT_EQ(info.numberSamples, 2);
    EXPECT_EQ(waveAtEnd(reader), 0);
    EXPECT_EQ(reader.samplesRead, 0);
}
