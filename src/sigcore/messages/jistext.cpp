#include "sigcore/messages/jistext.hpp"

#include <iconv.h>

namespace sigcore {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// One iconv conversion descriptor, closed when done.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    [[nodiscard]] bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts `in` completely; false when it is not a valid character.
    bool convert(std::span<const char> in, std::string& out) {
        std::array<char, 16> buffer{};
        char* inPtr = const_cast<char*>(in.data());  // iconv's interface is not const-correct
        std::size_t inLeft = in.size();
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // initial shift state
        const std::size_t result = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
        if (result == static_cast<std::size_t>(-1) || inLeft != 0) return false;
        out.append(buffer.data(), buffer.size() - outLeft);
        return true;
    }

private:
    iconv_t cd_;
};

bool isJisByte(std::uint8_t b) { return b >= 0x21 && b <= 0x7E; }

}  // namespace

std::string jisToUtf8(std::span<const std::array<std::uint8_t, 2>> characters) {
    std::string out;
    Converter converter("UTF-8", "EUC-JP");
    for (const auto& pair : characters) {
        // EUC-JP carries a JIS X 0208 character as its two bytes with bit 7 set.
        const std::array<char, 2> euc{static_cast<char>(pair[0] | 0x80), static_cast<char>(pair[1] | 0x80)};
        if (!converter.ok() || !isJisByte(pair[0]) || !isJisByte(pair[1]) || !converter.convert(euc, out)) {
            out += kReplacement;
        }
    }
    return out;
}

}  // namespace sigcore
