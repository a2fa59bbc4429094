// The language switch: any bytes as the settings file.
//
// Checked: a value is at most kMaxLanguageSwitchUnits long and holds no NUL;
// reading is repeatable; a UTF-8 mark in front changes nothing; only exactly
// "Japanese" selects the language file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "ui/LanguageSwitch.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::MemoryFile file;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::optional<Text> value = ReadLanguageSwitch(file.Write(data, size));
  if (value) {
    FUZZ_CHECK(value->size() <= kMaxLanguageSwitchUnits);
    FUZZ_CHECK(value->find(u'\0') == Text::npos);
  }
  FUZZ_CHECK(SelectsLanguageFile(value) == (value && *value == u"Japanese"));
  FUZZ_CHECK(ReadLanguageSwitch(file.Write(data, size)) == value);

  if (!bytes.starts_with("\xEF\xBB\xBF")) {
    const std::string marked = "\xEF\xBB\xBF" + std::string(bytes);
    FUZZ_CHECK(ReadLanguageSwitch(file.Write(marked.data(), marked.size())) == value);
  }
  return 0;
}
