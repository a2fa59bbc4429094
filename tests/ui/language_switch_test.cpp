#include "ui/LanguageSwitch.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/TempDir.h"
#include "base/ProfileFile.h"

namespace quorvel {
namespace {

using sim::TempDir;

struct SwitchCase {
  const char* name;
  std::string conf;
  bool selectsLanguageFile;
};

class LanguageSwitchChoice : public testing::TestWithParam<SwitchCase> {};

TEST_P(LanguageSwitchChoice, SelectsLanguageFileOnlyForJapanese) {
  sim::TempDir dir;
  const auto path = dir.WriteFile("Quorvel.conf", GetParam().conf);
  EXPECT_EQ(SelectsLanguageFile(ReadLanguageSwitch(path.string())),
            GetParam().selectsLanguageFile);
}

INSTANTIATE_TEST_SUITE_P(
    Values, LanguageSwitchChoice,
    testing::Values(
        SwitchCase{"General", "[General]\nLanguage=Japanese\n", true},
        SwitchCase{"BlanksAndCrLf", "\xEF\xBB\xBF[General]\r\n  Language =  Japanese \t\r\n", true},
        SwitchCase{"NoSection", "Language=Japanese", true},
        SwitchCase{"GeneralInLowerCase", "[general]\nLanguage=Japanese", true},
        SwitchCase{"Quoted", "[General]\nLanguage=\"Japanese\"", true},
        SwitchCase{"TrailingComment", "[General]\nLanguage=Japanese ; set at install\n", true},
        SwitchCase{"LastOneCounts", "[General]\nLanguage=English\n[General]\nLanguage=Japanese",
                   true},
        SwitchCase{"CutAtNul", "[General]\nLanguage=Japanese\\0tail", true},
        SwitchCase{"LowerCaseValue", "[General]\nLanguage=japanese", false},
        SwitchCase{"QuotedTrailingBlank", "[General]\nLanguage=\"Japanese \"", false},
        SwitchCase{"LowerCaseKey", "[General]\nlanguage=Japanese", false},
        SwitchCase{"OtherSection", "[Quorvel]\nLanguage=Japanese", false},
        SwitchCase{"Empty", "[General]\nLanguage=", false},
        SwitchCase{"CommentedOut", "[General]\n;Language=Japanese", false},
        SwitchCase{"List", "[General]\nLanguage=Japanese,English", false},
        SwitchCase{"NoKey", "[General]\nRegion=Japan", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LanguageSwitch, ValueLengthLimit) {
  sim::TempDir dir;
  const auto longest = dir.WriteFile("a.conf", "Language=" + std::string(129, 'x'));
  const auto tooLong = dir.WriteFile("b.conf", "Language=" + std::string(130, 'x'));
  EXPECT_EQ(ReadLanguageSwitch(longest.string()), Text(129, u'x'));
  EXPECT_EQ(ReadLanguageSwitch(tooLong.string()), std::nullopt);
  // The limit is in UTF-16 units: 129 three-byte characters still fit.
  std::string kana;
  for (int i = 0; i < 129; ++i) kana += "\xE3\x81\x82";  // あ
  const auto wide = dir.WriteFile("c.conf", "Language=" + kana);
  EXPECT_EQ(ReadLanguageSwitch(wide.string()), Text(129, u'あ'));
}

TEST(LanguageSwitch, OnlyTheFileHeadIsRead) {
  sim::TempDir dir;
  const std::string filler = "; " + std::string(kMaxTextFileBytes, 'x') + "\n";
  const auto within = dir.WriteFile("a.conf", "Language=Japanese\n" + filler);
  const auto beyond = dir.WriteFile("b.conf", filler + "Language=Japanese\n");
  EXPECT_EQ(ReadLanguageSwitch(within.string()), u"Japanese");
  EXPECT_EQ(ReadLanguageSwitch(beyond.string()), std::nullopt);
}

TEST(LanguageSwitch, MissingFileMeansNoValue) {
  sim::TempDir dir;
  EXPECT_EQ(ReadLanguageSwitch((dir.Path() / "none.conf").string()), std::nullopt);
  EXPECT_FALSE(SelectsLanguageFile(std::nullopt));
}

TEST(LanguageSwitch, LanguageFileLiesBesideProgram) {
  EXPECT_EQ(LanguageFilePath("/opt/quorvel/bin/quorvel"), "/opt/quorvel/bin/JapZemb.ini");
  EXPECT_EQ(LanguageFilePath("/quorvel"), "/JapZemb.ini");
  EXPECT_EQ(LanguageFilePath("quorvel"), "JapZemb.ini");
  EXPECT_EQ(LanguageFilePath(""), "JapZemb.ini");
}

}  // namespace
}  // namespace quorvel
