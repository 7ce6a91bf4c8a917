// The Japanese labels of the NTT report (written by the report sink). The report carries them as
// Shift-JIS bytes; each label's bytes stand next to its readable text, and a
// test converts every text to Shift-JIS and compares, so that no label can
// carry a wrong byte unnoticed.
#pragma once

#include <array>
#include <span>
#include <string_view>
#include <vector>

namespace sigcore {

struct Label {
    std::string_view text;  // UTF-8, for the reader of this file
    std::string_view sjis;  // the bytes written to the report
};

// A label chosen by one character of a parameter's data.
struct KeyedLabel {
    char key;
    Label label;
};

inline constexpr Label kHeaderLine{
    "07 [ヘッダ]\n",
    "07 [\x83\x77\x83\x62\x83\x5f]\n"};

// Message types.
inline constexpr Label kBeforeCallLine{
    "40 [通信前情報通知サービス]\n",
    "40 [\x92\xca\x90\x4d\x91\x4f\x8f\xee\x95\xf1\x92\xca\x92\x6d\x83\x54\x81\x5b\x83\x72\x83\x58]\n"};
inline constexpr Label kDuringCallLine{
    "41 [通信中情報通知サービス]\n",
    "41 [\x92\xca\x90\x4d\x92\x86\x8f\xee\x95\xf1\x92\xca\x92\x6d\x83\x54\x81\x5b\x83\x72\x83\x58]\n"};

// printf formats of the message and parameter length lines: the length in
// hexadecimal and in decimal.
inline constexpr Label kMessageLengthFormat{
    "%02x [メッセージ内容長=%d]\n",
    "%02x [\x83\x81\x83\x62\x83\x5a\x81\x5b\x83\x57\x93\xe0\x97\x65\x92\xb7=%d]\n"};
inline constexpr Label kParamLengthFormat{
    "%02x [情報内容長=%d]\n",
    "%02x [\x8f\xee\x95\xf1\x93\xe0\x97\x65\x92\xb7=%d]\n"};

// Parameter type lines (a full-width space between the two words).
inline constexpr Label kNumberParamLine{
    "02 [パラメータ種別　発信電話番号]\n",
    "02 [\x83\x70\x83\x89\x83\x81\x81\x5b\x83\x5e\x8e\xed\x95\xca\x81\x40"
    "\x94\xad\x90\x4d\x93\x64\x98\x62\x94\xd4\x8d\x86]\n"};
inline constexpr Label kReasonParamLine{
    "04 [パラメータ種別　発信電話番号非通知理由]\n",
    "04 [\x83\x70\x83\x89\x83\x81\x81\x5b\x83\x5e\x8e\xed\x95\xca\x81\x40"
    "\x94\xad\x90\x4d\x93\x64\x98\x62\x94\xd4\x8d\x86\x94\xf1\x92\xca\x92\x6d\x97\x9d\x97\x52]\n"};
inline constexpr Label kNameParamLine{
    "07 [パラメータ種別　発信企業名（氏名）情報]\n",
    "07 [\x83\x70\x83\x89\x83\x81\x81\x5b\x83\x5e\x8e\xed\x95\xca\x81\x40"
    "\x94\xad\x90\x4d\x8a\xe9\x8b\xc6\x96\xbc\x81\x69\x8e\x81\x96\xbc\x81\x6a\x8f\xee\x95\xf1]\n"};
inline constexpr Label kExtendedParamLine{
    "21 [パラメータ種別　発信電話番号拡張情報]\n",
    "21 [\x83\x70\x83\x89\x83\x81\x81\x5b\x83\x5e\x8e\xed\x95\xca\x81\x40"
    "\x94\xad\x90\x4d\x93\x64\x98\x62\x94\xd4\x8d\x86\x8a\x67\x92\xa3\x8f\xee\x95\xf1]\n"};

// Why the number is withheld, by the reason letter; another letter gets no label.
inline constexpr std::array<KeyedLabel, 4> kReasonLabels{{
    {'P', {" [ユーザ拒否]\n",
           " [\x83\x86\x81\x5b\x83\x55\x8b\x91\x94\xdb]\n"}},
    {'O', {" [サービス提供不可]\n",
           " [\x83\x54\x81\x5b\x83\x72\x83\x58\x92\xf1\x8b\x9f\x95\x73\x89\xc2]\n"}},
    {'C', {" [公衆電話発信]\n",
           " [\x8c\xf6\x8f\x4f\x93\x64\x98\x62\x94\xad\x90\x4d]\n"}},
    {'S', {" [サービス競合]\n",
           " [\x83\x54\x81\x5b\x83\x72\x83\x58\x8b\xa3\x8d\x87]\n"}},
}};

// Number type, by the first digit of the extended information.
inline constexpr std::array<KeyedLabel, 6> kNumberTypeLabels{{
    {'0', {" [番号種別：不定],",
           " [\x94\xd4\x8d\x86\x8e\xed\x95\xca\x81\x46\x95\x73\x92\xe8],"}},
    {'1', {" [番号種別：国際番号],",
           " [\x94\xd4\x8d\x86\x8e\xed\x95\xca\x81\x46\x8d\x91\x8d\xdb\x94\xd4\x8d\x86],"}},
    {'2', {" [番号種別：国内番号],",
           " [\x94\xd4\x8d\x86\x8e\xed\x95\xca\x81\x46\x8d\x91\x93\xe0\x94\xd4\x8d\x86],"}},
    {'3', {" [番号種別：網特有番号],",
           " [\x94\xd4\x8d\x86\x8e\xed\x95\xca\x81\x46\x96\xd4\x93\xc1\x97\x4c\x94\xd4\x8d\x86],"}},
    {'4', {" [番号種別：市内番号],",
           " [\x94\xd4\x8d\x86\x8e\xed\x95\xca\x81\x46\x8e\x73\x93\xe0\x94\xd4\x8d\x86],"}},
    {'6', {" [番号種別：短縮番号],",
           " [\x94\xd4\x8d\x86\x8e\xed\x95\xca\x81\x46\x92\x5a\x8f\x6b\x94\xd4\x8d\x86],"}},
}};
// Any other number type digit (ends in a blank, not a comma).
inline constexpr Label kNumberTypeUnclear{
    " [番号種別：不明] ",
    " [\x94\xd4\x8d\x86\x8e\xed\x95\xca\x81\x46\x95\x73\x96\xbe] "};

// Numbering plan, by the last digit when the one before it is 0.
inline constexpr std::array<KeyedLabel, 6> kNumberingPlanLabels{{
    {'0', {"[番号計画識別子：不定]\n",
           "[\x94\xd4\x8d\x86\x8c\x76\x89\xe6\x8e\xaf\x95\xca\x8e\x71\x81\x46\x95\x73\x92\xe8]\n"}},
    {'1', {"[番号計画識別子：ISDN番号計画]\n",
           "[\x94\xd4\x8d\x86\x8c\x76\x89\xe6\x8e\xaf\x95\xca\x8e\x71\x81\x46"
           "ISDN\x94\xd4\x8d\x86\x8c\x76\x89\xe6]\n"}},
    {'3', {"[番号計画識別子：データ番号計画]\n",
           "[\x94\xd4\x8d\x86\x8c\x76\x89\xe6\x8e\xaf\x95\xca\x8e\x71\x81\x46"
           "\x83\x66\x81\x5b\x83\x5e\x94\xd4\x8d\x86\x8c\x76\x89\xe6]\n"}},
    {'4', {"[番号計画識別子：テレックス番号計画]\n",
           "[\x94\xd4\x8d\x86\x8c\x76\x89\xe6\x8e\xaf\x95\xca\x8e\x71\x81\x46"
           "\x83\x65\x83\x8c\x83\x62\x83\x4e\x83\x58\x94\xd4\x8d\x86\x8c\x76\x89\xe6]\n"}},
    {'8', {"[番号計画識別子：国内番号計画]\n",
           "[\x94\xd4\x8d\x86\x8c\x76\x89\xe6\x8e\xaf\x95\xca\x8e\x71\x81\x46"
           "\x8d\x91\x93\xe0\x94\xd4\x8d\x86\x8c\x76\x89\xe6]\n"}},
    {'9', {"[番号計画識別子：私設番号計画]\n",
           "[\x94\xd4\x8d\x86\x8c\x76\x89\xe6\x8e\xaf\x95\xca\x8e\x71\x81\x46"
           "\x8e\x84\x90\xdd\x94\xd4\x8d\x86\x8c\x76\x89\xe6]\n"}},
}};
// Any other plan digit, or a middle digit other than 0.
inline constexpr Label kNumberingPlanUnclear{
    "[番号計画識別子：不明]\n",
    "[\x94\xd4\x8d\x86\x8c\x76\x89\xe6\x8e\xaf\x95\xca\x8e\x71\x81\x46\x95\x73\x96\xbe]\n"};

// The label of `key` in a keyed table, or nullptr.
const Label* findLabel(std::span<const KeyedLabel> table, int key);

// Every label above, for checking them all at once.
std::vector<Label> allLabels();

}  // namespace sigcore
