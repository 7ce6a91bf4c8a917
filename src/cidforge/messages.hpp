// The caller-ID message bytes of the line formats: the NTT frame (parity,
// DLE doubling, CRC), the US single data message (checksum), the multiple
// data message of the US and ETSI formats (checksum), and the conversion of
// the caller name to JIS code.
#pragma once

#include "cidforge/datafile.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cidforge {

// Longest DirectoryNumber, IDName or DateTime the builders take.
inline constexpr std::size_t kMaxFieldBytes = 63;
// Largest NTT message content length: beyond it the length byte's parity bit
// would overwrite a value bit.
inline constexpr int kMaxNttContentLength = 127;
// DLE SOH, header, DLE STX, type, M, M parameter bytes, DLE ETX and two CRC
// bytes: M + 11 bytes (one more when M itself is doubled), 138 at M = 127.
inline constexpr std::size_t kNttFrameCapacity = kMaxNttContentLength + 11;
// Type, length, date-time and number, checksum.
inline constexpr std::size_t kSdmfCapacity = 2 + 2 * kMaxFieldBytes + 1;

// Type, length, three parameters (date and time, number or its reason for
// absence, name or its reason for absence) of at most kMaxFieldBytes data
// bytes each, checksum.
inline constexpr std::size_t kMdmfCapacity = 2 + 3 * (2 + kMaxFieldBytes) + 1;

// Message type and parameter types of the multiple data message; the US and
// ETSI formats use the same codes for these fields.
inline constexpr std::uint8_t kCallSetupMessage = 0x80;
inline constexpr std::uint8_t kDateTimeParameter = 0x01;
inline constexpr std::uint8_t kNumberParameter = 0x02;
inline constexpr std::uint8_t kNumberAbsenceParameter = 0x04;
inline constexpr std::uint8_t kNameParameter = 0x07;
inline constexpr std::uint8_t kNameAbsenceParameter = 0x08;

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kSoh = 0x01;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;

struct NttFrame {
    std::array<std::uint8_t, kNttFrameCapacity> bytes{};
    std::size_t length = 0;
    std::span<const std::uint8_t> view() const { return std::span(bytes).first(length); }
};

struct SdmfMessage {
    std::array<std::uint8_t, kSdmfCapacity> bytes{};
    std::size_t length = 0;
    std::span<const std::uint8_t> view() const { return std::span(bytes).first(length); }
};

struct MdmfMessage {
    std::array<std::uint8_t, kMdmfCapacity> bytes{};
    std::size_t length = 0;
    std::span<const std::uint8_t> view() const { return std::span(bytes).first(length); }
};

using CharPair = std::array<std::uint8_t, 2>;

// One two-byte Shift-JIS character to JIS X 0208, in place; pairs whose first
// byte is not a lead byte stay as they are.
void sjisPairToJis(CharPair& pair);
// One two-byte EUC-JP character to JIS X 0208: bit 7 of both bytes cleared.
void eucPairToJis(CharPair& pair);
// Converts the name in place, pair by pair from its start; the length stays.
// A final odd byte is masked to 7 bits for EUC-JP and kept for Shift-JIS.
void nameToJis(std::string& name, bool sjis);

// Whether the name is a sequence of whole double-byte characters of the code:
// Shift-JIS lead byte 0x81..0x9F or 0xE0..0xFC with trail byte 0x40..0x7E or
// 0x80..0xFC, or EUC-JP bytes 0xA1..0xFE. ASCII letters and UTF-8 text are not.
bool isDoubleByteName(std::string_view name, bool sjis);

// If buffer[index] is DLE, places a second DLE behind it and returns 1; else 0.
// Nothing is placed beyond the buffer's end.
int stuffDle(std::span<std::uint8_t> buffer, std::size_t index);

// Sum of the bytes modulo 256.
std::uint8_t byteSum(std::span<const std::uint8_t> bytes);

// The builders' view of a field: at most kMaxFieldBytes bytes.
std::string_view fieldBytes(std::string_view value);
// The converted name as the frame carries it: up to its first NUL byte.
std::string_view jisNameBytes(std::string_view jisName);

// NTT message content length M for this number and converted name, before any
// reduction to a byte: the parameter bytes including doubled length DLEs.
int nttContentLength(std::string_view number, std::string_view jisName);

// Fills the NTT frame from DirectoryNumber and the (already converted) IDName.
// Returns the frame length, or 0 (frame left empty) when M would exceed 127.
std::size_t buildNttMessage(const GeneratorSettings& settings, NttFrame& frame);

// Fills the SDMF message from DateTime and DirectoryNumber; returns its length.
std::size_t buildSdmfMessage(const GeneratorSettings& settings, SdmfMessage& message);

// Whether an absence value is one the message can carry: "O" (unavailable)
// or "P" (private).
bool isAbsenceCode(std::string_view value);

// Fills the multiple data message (type 0x80) from the settings: date and
// time when DateTime is set; the reason for absence of the number when
// NumberAbsence is set, else the number when DirectoryNumber is set; the
// reason for absence of the name when NameAbsence is set, else the name
// (IDName's text with its spaces, bytes as they are) when it is set; then the checksum. An absence value
// goes in as its first byte (run refuses any but O and P). Returns its length.
std::size_t buildMultipleDataMessage(const GeneratorSettings& settings, MdmfMessage& message);

}  // namespace cidforge
