// The language file: any bytes decoded (UTF-16 with its mark, UTF-8, else
// code page 932) and the thirteen texts looked up in section "Lab" with the
// default "df", both through the profile reader and through LoadTexts with
// the file beside a program and a switch that selects it.
//
// Checked: every text fits its 260-character buffer (at most 259 units);
// a text is the file's value cut to the buffer, or "df" when the file has
// none; reading the file gives what parsing its decoded bytes gives; the
// decoding is repeatable.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "ui/Environment.h"
#include "ui/LocalisedTexts.h"
#include "base/ProfileFile.h"

using namespace quorvel;

namespace {

constexpr size_t kCapacity = 260;
constexpr std::u16string_view kSection = u"Lab";
constexpr std::u16string_view kDefault = u"df";

// In the order of the fields of LocalisedTexts.
constexpr std::u16string_view kKeys[] = {
    u"DLG_CAPTION",  u"ESCVER",      u"ConnState",     u"DeviceLink",   u"Update",
    u"USBState",     u"DeviceState", u"USBESCNOCONN",  u"USBCONNESCNO", u"USBESCCONN",
    u"Transferring", u"SUCCESSFUL",  u"DEVICE_SELECT",
};

// A program directory with the switch that selects the language file; the
// file itself is rewritten for every input.
struct ProgramDir {
  ProgramDir() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    dir = std::string(base) + "/quorvel-fuzz-lang-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    env.languageSwitchPath = dir + "/Quorvel.conf";
    env.programPath = dir + "/quorvel";
    languageFile = dir + "/JapZemb.ini";
    std::ofstream(env.languageSwitchPath) << "[General]\nLanguage=Japanese\n";
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(Instance().dir, ec);
    });
  }
  // Never destroyed: the exit handler above still needs it.
  static ProgramDir& Instance() {
    static ProgramDir* const instance = new ProgramDir;
    return *instance;
  }

  std::string dir;
  std::string languageFile;
  Environment env;
};

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) quorvel::fuzz::Fail("cannot write the language file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::MemoryFile memory;
  ProgramDir& program = ProgramDir::Instance();

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const Text decoded = DecodeProfileBytes(bytes);
  FUZZ_CHECK(DecodeProfileBytes(bytes) == decoded);
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    FUZZ_CHECK(decoded.size() == (size - 2) / 2);
  } else {
    // Every 8-bit encoding gives at most one unit per byte.
    FUZZ_CHECK(decoded.size() <= size);
  }

  const ProfileFile parsed = ProfileFile::Parse(decoded);
  Text texts[std::size(kKeys)];
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    texts[i] = parsed.GetString(kSection, kKeys[i], kDefault, kCapacity);
    FUZZ_CHECK(texts[i].size() <= kCapacity - 1);
    const std::optional<Text> value = parsed.Find(kSection, kKeys[i]);
    FUZZ_CHECK(texts[i] == (value ? value->substr(0, kCapacity - 1) : Text(kDefault)));
    // Names compare without regard to ASCII case.
    Text lower(kKeys[i]);
    for (char16_t& c : lower) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    }
    FUZZ_CHECK(parsed.Find(u"lab", lower) == value);
  }

  // The same bytes read from a file.
  const std::string& path = memory.Write(data, size);
  const std::optional<ProfileFile> loaded = ProfileFile::Load(path);
  FUZZ_CHECK(loaded.has_value());
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    FUZZ_CHECK(loaded->GetString(kSection, kKeys[i], kDefault, kCapacity) == texts[i]);
  }
  // The one-look-up form reads the whole file each time: one key per input.
  const size_t one = size % std::size(kKeys);
  FUZZ_CHECK(GetProfileString(path, kSection, kKeys[one], kDefault, kCapacity) == texts[one]);

  // The dialog's texts from the file beside the program.
  WriteFile(program.languageFile, data, size);
  const LocalisedTexts dialog = LoadTexts(program.env);
  const Text* fields[] = {
      &dialog.m_strCaption,          &dialog.m_strSwVersionLabel, &dialog.m_strConnStatusLabel,
      &dialog.m_strDeviceLinkLabel,  &dialog.m_strUpdateButton,   &dialog.m_strUsbStateLabel,
      &dialog.m_strDeviceStateLabel, &dialog.m_strHintNoAdapter,  &dialog.m_strHintNoDevice,
      &dialog.m_strHintReady,        &dialog.m_strTransferring,   &dialog.m_strSuccessful,
      &dialog.m_strDeviceSelect,
  };
  FUZZ_CHECK(dialog.m_strCaption == texts[0] + u" V1.1.1");
  for (size_t i = 1; i < std::size(kKeys); ++i) {
    FUZZ_CHECK(fields[i]->size() <= kCapacity - 1);
    FUZZ_CHECK(*fields[i] == texts[i]);
  }
  return 0;
}
