#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/TempDir.h"
#include "support/DialogHarness.h"
#include "support/EnglishTexts.h"
#include "support/HeadlessWindow.h"
#include "support/TestEnvironment.h"
#include "ui/DialogTemplates.h"
#include "ui/LocalisedTexts.h"
#include "ui/QuorvelDlg.h"
#include "ui/StationModel.h"

namespace quorvel {
namespace {

namespace english = test::english;
using sim::TempDir;
using test::TestEnvironment;

// The fields in the order of the language file's keys below.
std::vector<Text> Fields(const LocalisedTexts& t) {
  return {t.m_strCaption,          t.m_strSwVersionLabel, t.m_strConnStatusLabel,
          t.m_strDeviceLinkLabel,  t.m_strUpdateButton,   t.m_strUsbStateLabel,
          t.m_strDeviceStateLabel, t.m_strHintNoAdapter,  t.m_strHintNoDevice,
          t.m_strHintReady,        t.m_strTransferring,   t.m_strSuccessful,
          t.m_strDeviceSelect};
}

const std::vector<std::string> kKeys = {
    "DLG_CAPTION",  "ESCVER",       "ConnState",  "DeviceLink", "Update",
    "USBState",     "DeviceState",  "USBESCNOCONN", "USBCONNESCNO",
    "USBESCCONN",   "Transferring", "SUCCESSFUL", "DEVICE_SELECT"};

const std::vector<Text> kEnglish = {
    english::kCaption,         english::kSwVersionLabel, english::kConnStatusLabel,
    english::kDeviceLinkLabel, english::kUpdateButton,   english::kUsbStateLabel,
    english::kDeviceStateLabel, english::kHintNoAdapter, english::kHintNoDevice,
    english::kHintReady,       english::kTransferring,   english::kSuccessful,
    english::kDeviceSelect};

// A language file with "text<N>" for the N-th key; `skip` leaves a key out.
std::string LanguageFile(const std::string& skip = "") {
  std::string ini = "; translation\r\n[Lab]\r\n";
  for (size_t i = 0; i < kKeys.size(); ++i) {
    if (kKeys[i] != skip) ini += kKeys[i] + "=text" + std::to_string(i) + "\r\n";
  }
  return ini;
}

class LocalisedTextsTest : public testing::Test {
 protected:
  Environment Env(const std::string& conf) {
    Environment env = testEnv.Make(dir.Path().string());
    if (!conf.empty()) env.languageSwitchPath = dir.WriteFile("Quorvel.conf", conf).string();
    return env;
  }
  static constexpr const char* kJapanese = "[General]\nLanguage=Japanese\n";

  sim::TempDir dir;
  TestEnvironment testEnv;
};

TEST_F(LocalisedTextsTest, EnglishUnlessSwitchSaysJapanese) {
  dir.WriteFile("JapZemb.ini", LanguageFile());
  // Blanks around a value are dropped unless quoted, as in any Qt settings file.
  const std::vector<std::string> confs = {
      "",
      "[General]\n",
      "[General]\nLanguage=JAPANESE",
      "[General]\nLanguage=\"Japanese \"",
      "[General]\nLanguage=\"\"",
      "[General]\nLanguage=\"Japanese" + std::string(130, ' ') + "\""};
  for (const std::string& conf : confs) {
    SCOPED_TRACE(conf);
    EXPECT_EQ(Fields(LoadTexts(Env(conf))), kEnglish);
  }
}

TEST_F(LocalisedTextsTest, AllTextsFromLanguageFile) {
  dir.WriteFile("JapZemb.ini", LanguageFile());
  std::vector<Text> expected;
  for (size_t i = 0; i < kKeys.size(); ++i) expected.push_back(u"text" + DecimalText(static_cast<uint32_t>(i)));
  expected[0] += u" V1.1.1";
  EXPECT_EQ(Fields(LoadTexts(Env(kJapanese))), expected);
}

// The Japanese file installed beside the program translates every text.
TEST_F(LocalisedTextsTest, OurJapaneseFileGivesEveryText) {
  Environment env = Env(kJapanese);
  // With "/" between all its parts, as the program's own path is given.
  env.programPath = (std::filesystem::path(QUORVEL_SOURCE_DIR) / "ui" / "quorvel").generic_string();
  const std::vector<Text> texts = Fields(LoadTexts(env));
  EXPECT_EQ(texts[0], u"ファームウェア更新 V1.1.1");
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_NE(texts[i], u"df") << kKeys[i];
    EXPECT_NE(texts[i], kEnglish[i]) << kKeys[i];
  }
  // The station window's labels come from the same file.
  const StationLabels station = LoadStationLabels(env);
  EXPECT_EQ(station.caption, u"アップデートステーション");
  EXPECT_EQ(station.transferring, texts[10]);
  EXPECT_EQ(LoadStationLabels(Env("")).caption, u"Update Station");
}

TEST_F(LocalisedTextsTest, NoLanguageFileGivesDefaultEverywhere) {
  std::vector<Text> expected(kKeys.size(), u"df");
  expected[0] = u"df V1.1.1";
  EXPECT_EQ(Fields(LoadTexts(Env(kJapanese))), expected);
}

TEST_F(LocalisedTextsTest, MissingKeyGivesDefaultOthersFromFile) {
  dir.WriteFile("JapZemb.ini", LanguageFile("USBESCCONN"));
  const LocalisedTexts texts = LoadTexts(Env(kJapanese));
  EXPECT_EQ(texts.m_strHintReady, u"df");
  EXPECT_EQ(texts.m_strHintNoDevice, u"text8");
  EXPECT_EQ(texts.m_strTransferring, u"text10");
}

TEST_F(LocalisedTextsTest, CaptionKeepsFirst259CharactersThenSuffix) {
  dir.WriteFile("JapZemb.ini",
                "[lab]\ndlg_caption=" + std::string(300, 'c') + "\nsuccessful=\n");
  const LocalisedTexts texts = LoadTexts(Env(kJapanese));
  EXPECT_EQ(texts.m_strCaption, Text(259, u'c') + u" V1.1.1");
  EXPECT_EQ(texts.m_strSuccessful, u"");
  EXPECT_EQ(texts.m_strUpdateButton, u"df");
}

TEST_F(LocalisedTextsTest, DialogShowsTextsFromLanguageFile) {
  // 日本語 in code page 932, as a Japanese Windows machine saves it.
  test::DialogHarness h(nullptr, "", [](Environment& env) {
    const std::filesystem::path dir = std::filesystem::path(env.programPath).parent_path();
    std::ofstream(dir / "JapZemb.ini", std::ios::binary)
        << "[Lab]\r\nDLG_CAPTION=\x93\xFA\x96\x7B\x8C\xEA\r\nESCVER=\"Ver\"\r\n"
           "USBESCNOCONN=a=b\r\n";
    env.languageSwitchPath = (dir / "Quorvel.conf").string();
    std::ofstream(env.languageSwitchPath) << kJapanese;
  });
  test::HeadlessWindow& w = *h.w;
  EXPECT_EQ(w.caption, u"日本語 V1.1.1");
  EXPECT_EQ(w.TextOf(IDC_SWVER_GROUP), u"Ver");
  EXPECT_EQ(w.TextOf(IDC_HINT_TEXT), u"a=b");
  EXPECT_EQ(w.TextOf(IDC_UPDATE), u"df");
  EXPECT_EQ(h.Peer().m_texts.m_strSuccessful, u"df");
  EXPECT_EQ(h.Peer().m_texts.m_strTransferring, u"df");
}

}  // namespace
}  // namespace quorvel
