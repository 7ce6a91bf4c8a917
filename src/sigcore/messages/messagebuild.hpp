// Builders of caller-ID messages, the bytes a line sends: US single and
// multiple data messages (caller ID and message waiting), the European
// call set-up and message-waiting messages, the NTT frame, and the DTMF
// caller-ID digit string. Each builder is the inverse of the matching
// decoder in this folder: what it builds decodes back to the fields it was
// given.
//
//     sigcore::CallerIdFields fields;
//     fields.date = "1225"; fields.time = "1030"; fields.number = "0123456789";
//     const std::vector<std::uint8_t> bytes = sigcore::buildUsMdmf(fields);
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sigcore {

// A parameter added as it is: its type code and its value bytes.
struct ExtraParameter {
    std::uint8_t type = 0;
    std::vector<std::uint8_t> value;
};

// What a caller-ID message carries. Empty strings are fields left out.
struct CallerIdFields {
    std::string date;            // "MMDD" (digits only), or empty
    std::string time;            // "HHMM", or empty
    std::string number;          // calling number
    char numberAbsent = 0;       // 'O' unavailable, 'P' private, 0 none
    std::string name;            // caller name: US as given; ETSI UTF-8, sent as Latin-1;
                                 // NTT UTF-8, sent as JIS X 0208
    char nameAbsent = 0;         // 'O', 'P' or 0
    std::string redirecting;     // redirecting number
    std::optional<std::uint8_t> callType;  // ETSI call type code / US call qualifier byte
    std::vector<ExtraParameter> extra;     // sent after the others, in order
};

// Why a message could not be built; empty when it was.
struct BuildResult {
    std::vector<std::uint8_t> bytes;
    std::string error;
};

// ---- checks ------------------------------------------------------------------

// The byte that makes the sum of `bytes` and itself 0 modulo 256.
[[nodiscard]] std::uint8_t checksumFor(std::span<const std::uint8_t> bytes);

// The message with its check spoiled: every bit of the last byte (a US or
// ETSI checksum, the second CRC byte of an NTT frame) inverted, so that no
// one-bit repair can mend it. Empty input stays empty.
void spoilCheck(std::vector<std::uint8_t>& bytes);

// ---- US (Bell 202) --------------------------------------------------------------

// Single data message 0x04: MMDDHHMM and the number, or 'O'/'P' in its place.
[[nodiscard]] BuildResult buildUsSdmf(const CallerIdFields& fields);
// Multiple data message 0x80: date-time (0x01), number (0x02) or its absence
// (0x04), redirecting number (0x1a), call qualifier (0x06), name (0x07) or
// its absence (0x08), then the extra parameters.
[[nodiscard]] BuildResult buildUsMdmf(const CallerIdFields& fields);
// Single data message waiting 0x06: three 0x42 (on) or 0x6f (off).
[[nodiscard]] BuildResult buildUsSdmfMessageWaiting(bool on);
// Multiple data message waiting 0x82: date-time when given, the indicator
// (0x0b: 0xff on, 0x00 off), then the extra parameters.
[[nodiscard]] BuildResult buildUsMdmfMessageWaiting(bool on, const CallerIdFields& fields);

// ---- ETSI (V.23) ----------------------------------------------------------------

// Call set-up 0x80: date-time (0x01), number (0x02) or its absence (0x04),
// redirecting number (0x1a), call type (0x11), name (0x07) or its absence
// (0x08), then the extra parameters.
[[nodiscard]] BuildResult buildEtsiCallSetup(const CallerIdFields& fields);
// Message waiting 0x82: date-time when given, the visual indicator (0x0b),
// the calling number when given, then the extra parameters.
[[nodiscard]] BuildResult buildEtsiMessageWaiting(bool on, const CallerIdFields& fields);

// ---- NTT (V.23) -------------------------------------------------------------------

// The frame: DLE SOH header DLE STX, type 0x40, length, the number (0x02)
// or the reason it is withheld (0x04), the name (0x07, in JIS X 0208) or the
// reason it is withheld (0x08), the extra parameters; DLE ETX and the
// CRC-16. Every DLE of the body is doubled; characters carry even parity in
// bit 7. Refuses bytes above 0x7f and a body longer than 127 characters.
[[nodiscard]] BuildResult buildNttFrame(const CallerIdFields& fields);

// UTF-8 text as Latin-1 bytes, for the ETSI name (the decoder shows bytes
// above 0x7f as Latin-1); an error names the first character beyond U+00FF.
[[nodiscard]] BuildResult utf8ToLatin1(std::string_view text);

// UTF-8 text as JIS X 0208 byte pairs (7-bit), for the NTT name; an error
// names the first character with no JIS X 0208 form.
[[nodiscard]] BuildResult utf8ToJis(std::string_view text);

// ---- DTMF caller ID ------------------------------------------------------------------

// The digit string: A<number>C, A<number>D<redirecting>C, B00C (unavailable)
// or B10C (private), D<redirecting>B00C / D<redirecting>B10C. Numbers may
// hold the digits 0-9 only. The bytes are the digits' characters.
[[nodiscard]] BuildResult buildDtmfCallerId(const CallerIdFields& fields);

// ---- helpers ---------------------------------------------------------------------------

// Hex text ("0a1B...", even length, no separators) as bytes; nullopt when
// it is not.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text);

}  // namespace sigcore
