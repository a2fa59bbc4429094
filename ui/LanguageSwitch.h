#pragma once
// The language switch: the value that chooses between the built-in English
// texts and the language file beside the program. It is the key "Language"
// of section [General] of a machine-wide settings file in Qt's INI format,
// read once at start and never written.

#include <cstddef>
#include <optional>
#include <string>

#include "base/WideText.h"

namespace quorvel {

// The longest switch value accepted, in UTF-16 units: 260 bytes of UTF-16
// data including the terminator. A longer value counts as no value.
constexpr size_t kMaxLanguageSwitchUnits = 129;

// The switch value in the settings file at `confPath`, read as Qt's INI
// format reads a plain text value: lines before the first section and in
// section [General] (any case) are top-level keys; the key must be exactly
// "Language" (keys are case-sensitive); the value is the UTF-8 text after
// the first "=", with surrounding blanks dropped, quotes removed and
// backslash escapes resolved; an unquoted ";" starts a comment. The last
// occurrence counts. Only the first kMaxTextFileBytes of the file are read;
// the rest counts as absent. Nothing if the file or the key is missing, if the value
// is longer than kMaxLanguageSwitchUnits or is no plain text (a
// comma-separated list). A value is cut at its first NUL character.
std::optional<Text> ReadLanguageSwitch(const std::string& confPath);

// The language file is used only for exactly "Japanese": case-sensitive,
// the whole text, no blanks around it.
bool SelectsLanguageFile(const std::optional<Text>& language);

// "JapZemb.ini" in the directory of the program's file: `programPath` cut
// after its last "/", or the bare name when it has none.
std::string LanguageFilePath(const std::string& programPath);

}  // namespace quorvel
