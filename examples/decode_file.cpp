// Decodes the caller ID of a 16-bit mono recording through the library:
//   decode_file RECORDING RATE   (raw samples, or a canonical 44-byte-header WAV)
// Build: g++ -std=c++20 decode_file.cpp $(pkg-config --cflags --libs sigtools)
#include <sigcore/receivers/softfsk.hpp>
#include <sigcore/messages/usmessage.hpp>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

struct PrintMessages final : sigcore::EventSink {
    void onEvent(const sigcore::Event& event) override {
        const auto* decoded = std::get_if<sigcore::MessageDecoded>(&event);
        if (decoded == nullptr) return;
        std::printf("message at sample %lld, %s\n", static_cast<long long>(decoded->message.startSample),
                    decoded->message.valid ? "checksum correct" : "checksum wrong");
        for (const sigcore::MessageField& field : decoded->message.fields) {
            std::printf("  %s: %s\n", field.key.c_str(), field.value.c_str());
        }
    }
};

int main(int argc, char** argv) {
    std::FILE* file = argc == 3 ? std::fopen(argv[1], "rb") : nullptr;
    if (file == nullptr) return std::fprintf(stderr, "usage: decode_file RECORDING RATE\n"), 2;
    char riff[4] = {};
    if (std::fread(riff, 1, 4, file) == 4 && std::string_view(riff, 4) == "RIFF") std::fseek(file, 44, SEEK_SET);
    else std::rewind(file);
    sigcore::UsMessageDecoder decoder;  // US SDMF and MDMF
    PrintMessages sink;
    sigcore::SoftFskReceiver receiver(sigcore::kBell202, decoder, std::atoi(argv[2]), sink);
    std::vector<std::int16_t> block(4096);  // samples in the machine's byte order
    for (std::size_t n; (n = std::fread(block.data(), 2, block.size(), file)) > 0;) receiver.push({block.data(), n});
    receiver.finish();
    return std::fclose(file) == 0 ? 0 : 1;
}
