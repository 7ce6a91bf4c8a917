#include "sigcore/report/reportsink.hpp"

#include <array>
#include <cstdio>
#include <string_view>

#include "sigcore/report/nttlabels.hpp"

namespace sigcore {

namespace {

constexpr int kNumberParam = 0x02;
constexpr int kReasonParam = 0x04;
constexpr int kNameParam = 0x07;
constexpr int kExtendedParam = 0x21;

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
// Spelled out for compilers without aggregate deduction (clang before 17, the fuzz preset's).
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

// One byte as it came; a zero byte leaves no trace in the text.
void printByte(Report& report, std::uint8_t c) {
    if (c == 0) return;
    const char text = static_cast<char>(c);
    reportPrint(report, std::string_view(&text, 1));
}

void printLabel(Report& report, const Label& label) { reportPrint(report, label.sjis); }

// A length line of the NTT frame: the value in hexadecimal and in decimal.
void printLength(Report& report, const Label& format, int value) {
    std::array<char, 96> line{};
    std::snprintf(line.data(), line.size(), format.sjis.data(), static_cast<unsigned>(value), value);
    reportPrint(report, line.data());
}

void printPosition(Report& report, const char* label, std::int64_t position, int samplingRate) {
    const auto millis = static_cast<long>(static_cast<double>(position) * 1000 / samplingRate);
    std::array<char, 96> line{};
    std::snprintf(line.data(), line.size(), "%s [%ld %ld]\n", label, millis, static_cast<long>(position));
    reportPrint(report, line.data());
}

const char* usFieldText(UsFieldMark mark) {
    switch (mark) {
    case UsFieldMark::DateStart: return "   [Date] ";
    case UsFieldMark::DateSeparator: return ".";
    case UsFieldMark::TimeStart: return "   [Time] ";
    case UsFieldMark::TimeSeparator: return ":";
    case UsFieldMark::NumberStart: return "   [Number] ";
    }
    return "";
}

void printControl(Report& report, std::uint8_t code) {
    switch (code) {
    case 0x10: reportPrint(report, "10 [DLE]\n"); break;
    case 0x01: reportPrint(report, "01 [SOH]\n"); break;
    case 0x07: printLabel(report, kHeaderLine); break;
    case 0x02: reportPrint(report, "02 [STX]\n"); break;
    case 0x03: reportPrint(report, "03 [ETX]\n"); break;
    default: break;
    }
}

void printParameter(Report& report, std::uint8_t type) {
    switch (type) {
    case kNumberParam: printLabel(report, kNumberParamLine); break;
    case kReasonParam: printLabel(report, kReasonParamLine); break;
    case kNameParam: printLabel(report, kNameParamLine); break;
    case kExtendedParam: printLabel(report, kExtendedParamLine); break;
    default: break;
    }
}

}  // namespace

void jisToSjis(std::array<std::uint8_t, 2>& pair) {
    const unsigned j1 = pair[0];
    const unsigned j2 = pair[1];
    const unsigned first = (j1 + 1) / 2 + (j1 < 0x5F ? 0x70u : 0xB0u);
    unsigned second = 0;
    if (j1 % 2 == 0) {
        second = j2 + 0x7E;
    } else {
        second = j2 <= 0x5F ? j2 + 0x1F : j2 + 0x20;
    }
    pair[0] = static_cast<std::uint8_t>(first & 0xFFu);
    pair[1] = static_cast<std::uint8_t>(second & 0xFFu);
}

void jisToEuc(std::array<std::uint8_t, 2>& pair) {
    pair[0] = static_cast<std::uint8_t>(pair[0] | 0x80u);
    pair[1] = static_cast<std::uint8_t>(pair[1] | 0x80u);
}

void ReportTextSink::onEvent(const Event& event) {
    Report& report = report_;
    std::visit(
        Overloaded{
            [&](const BurstDetected& e) { printPosition(report, "detected", e.position, samplingRate_); },
            [&](const MarkConfirmed&) { reportPrint(report, "Mark at least 55ms has found.\n"); },
            [&](const BurstEnded& e) { printPosition(report, "terminated", e.position, samplingRate_); },
            [&](const UsMessageType& e) {
                std::array<char, 96> line{};
                std::snprintf(line.data(), line.size(), "%02x [%.*s]\n", static_cast<unsigned>(e.code),
                              static_cast<int>(e.name.size()), e.name.data());
                reportPrint(report, line.data());
            },
            [&](const UsMessageLength& e) {
                std::array<char, 64> line{};
                std::snprintf(line.data(), line.size(), "%02x [SDMF packet length=%d]\n",
                              static_cast<unsigned>(e.length), static_cast<int>(e.length));
                reportPrint(report, line.data());
            },
            [&](const UsField& e) { reportPrint(report, usFieldText(e.mark)); },
            [&](const UsChecksum& e) {
                std::array<char, 64> line{};
                std::snprintf(line.data(), line.size(), "%02x [SDMF packet checksum] %02x %s\n",
                              static_cast<unsigned>(e.received), static_cast<unsigned>(e.sum),
                              e.correct ? "correct" : "incorrect");
                reportPrint(report, line.data());
            },
            [&](const NttControl& e) { printControl(report, e.code); },
            [&](const NttMessageType& e) {
                if (e.code == 0x40) printLabel(report, kBeforeCallLine);
                if (e.code == 0x41) printLabel(report, kDuringCallLine);
            },
            [&](const NttMessageLength& e) { printLength(report, kMessageLengthFormat, e.length); },
            [&](const NttParameter& e) { printParameter(report, e.type); },
            [&](const NttParameterLength& e) {
                printLength(report, kParamLengthFormat, e.length);
                if (e.type == kNumberParam || e.type == kNameParam) reportPrint(report, "   ");
            },
            [&](const NttNameCharacter& e) {
                std::array<std::uint8_t, 2> pair = e.jis;
                if (japaneseCode_ == kNamesInShiftJis) {
                    jisToSjis(pair);
                } else if (japaneseCode_ == kNamesInEucJp) {
                    jisToEuc(pair);
                }
                printByte(report, pair[0]);
                printByte(report, pair[1]);
            },
            [&](const NttReason& e) {
                if (const Label* reason = findLabel(kReasonLabels, e.code)) printLabel(report, *reason);
            },
            [&](const NttNumberInfo& e) {
                const Label* type = findLabel(kNumberTypeLabels, e.typeCode);
                printLabel(report, type != nullptr ? *type : kNumberTypeUnclear);
                const Label* plan = e.planPrefix == '0' ? findLabel(kNumberingPlanLabels, e.planCode) : nullptr;
                printLabel(report, plan != nullptr ? *plan : kNumberingPlanUnclear);
            },
            [&](const NttCrc& e) {
                std::array<char, 64> line{};
                std::snprintf(line.data(), line.size(), "%04x [CRC] %04x %s\n", static_cast<unsigned>(e.received),
                              static_cast<unsigned>(e.computed), e.correct ? "correct" : "incorrect");
                reportPrint(report, line.data());
            },
            [&](const TextByte& e) { printByte(report, e.value); },
            [&](const LineEnd&) { reportPrint(report, "\n"); },
            // Whole messages belong to other outputs; the report is written as the bytes arrive.
            [&](const MessageDecoded&) {},
            [&](const DtmfTone&) {},
        },
        event);
}

}  // namespace sigcore
