// The detectors' settings file: a text file read line by line, in pieces of
// at most 255 characters, with "Sensitivity" (and, for the NTT detector,
// "JapaneseCode") found anywhere in a line.
#pragma once

#include <array>
#include <string>

#include "sigcore/io/filehandle.hpp"

namespace sigcore {

using SettingsLine = std::array<char, 256>;

struct SettingsFile {
    FileHandle file;
};

// Opens the file for reading (text mode). On failure prints
// "error .... can't open text file[<path>]\n" on standard error and returns 1.
int settingsOpen(SettingsFile& settings, const std::string& path);
// The next line, at most 255 characters with its line end if it fitted;
// false at the end of the file.
bool settingsGetLine(SettingsFile& settings, SettingsLine& line);
void settingsClose(SettingsFile& settings);

// One settings line. A line starting with "/" is a comment. A line holding
// "Sensitivity" sets the sensitivity from the integer at offset 11, whatever
// position the key stands at; otherwise a line holding "JapaneseCode" sets
// *japaneseCode (when given) from offset 12. A number that can't be read
// leaves the value as it was.
void applySettingsLine(const SettingsLine& line, int& sensitivity, int* japaneseCode);

// Reads a whole settings file with applySettingsLine. An unreadable file
// prints the open message and leaves the values as they were.
void readSettingsFile(const std::string& path, int& sensitivity, int* japaneseCode);

}  // namespace sigcore
