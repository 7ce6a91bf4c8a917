// The detectors' report: the one place that turns events into report text.
// It writes the burst lines, the US single data message and the NTT frame
// line by line as their events arrive, into a report file.
#pragma once

#include "sigcore/messages/events.hpp"
#include "sigcore/report/report.hpp"

namespace sigcore {

// How caller names of NTT frames are written: the settings file's
// JapaneseCode (0 Shift-JIS, 1 EUC-JP, any other value the JIS bytes as
// received).
inline constexpr int kNamesInShiftJis = 0;
inline constexpr int kNamesInEucJp = 1;

class ReportTextSink final : public EventSink {
public:
    // `samplingRate` turns positions into the milliseconds of the burst lines.
    ReportTextSink(Report& report, int samplingRate, int japaneseCode = kNamesInShiftJis)
        : report_(report), samplingRate_(samplingRate), japaneseCode_(japaneseCode) {}

    void onEvent(const Event& event) override;

private:
    Report& report_;
    int samplingRate_;
    int japaneseCode_;
};

// JIS X 0208 character (both bytes 0x21..0x7E) to Shift-JIS, in place.
void jisToSjis(std::array<std::uint8_t, 2>& pair);
// JIS X 0208 character to EUC-JP, in place: bit 7 set in both bytes.
void jisToEuc(std::array<std::uint8_t, 2>& pair);

}  // namespace sigcore
