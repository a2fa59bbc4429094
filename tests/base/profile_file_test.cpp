#include "base/ProfileFile.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/TempDir.h"
#include "support/FileHolder.h"

namespace quorvel {
namespace {

using sim::TempDir;

std::string Utf16Bytes(std::u16string_view text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t c : text) {
    const char hi = static_cast<char>(c >> 8);
    const char lo = static_cast<char>(c & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  }
  return out;
}

struct EncodingCase {
  const char* name;
  std::string bytes;
  Text expected;
};

class ProfileFileEncoding : public testing::TestWithParam<EncodingCase> {};

TEST_P(ProfileFileEncoding, DecodesJapaneseValue) {
  sim::TempDir dir;
  const auto path = dir.WriteFile("JapZemb.ini", GetParam().bytes);
  EXPECT_EQ(GetProfileString(path.string(), u"Lab", u"DLG_CAPTION", u"df", 260),
            GetParam().expected);
}

const std::u16string kJapaneseIni = u"[Lab]\r\nDLG_CAPTION=日本語の表示\r\n";

INSTANTIATE_TEST_SUITE_P(
    Encodings, ProfileFileEncoding,
    testing::Values(
        EncodingCase{"Utf16LittleEndian", Utf16Bytes(kJapaneseIni, false), u"日本語の表示"},
        EncodingCase{"Utf16BigEndian", Utf16Bytes(kJapaneseIni, true), u"日本語の表示"},
        EncodingCase{"Utf8", "[Lab]\nDLG_CAPTION=\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n",
                     u"日本語"},
        EncodingCase{"Utf8WithMark",
                     "\xEF\xBB\xBF[Lab]\nDLG_CAPTION=\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n",
                     u"日本語"},
        // 日本語の表示: "表" has 0x5C as its second byte, which must not be
        // taken for a backslash of its own; then half-width katakana.
        EncodingCase{"CodePage932",
                     "[Lab]\r\nDLG_CAPTION=\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x95\x5C\x8E\xA6"
                     "\xB1\xB2\r\n",
                     u"日本語の表示ｱｲ"},
        // A lone lead byte at the end cannot be decoded.
        EncodingCase{"CodePage932Truncated", "[Lab]\nDLG_CAPTION=\x93\xFA\x93",
                     u"日\uFFFD"}),
    [](const auto& info) { return std::string(info.param.name); });

struct LookupCase {
  const char* name;
  const char16_t* file;
  std::optional<Text> expected;  // value of Lab/Key
};

class ProfileFileLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(ProfileFileLookup, FindsLabKey) {
  const ProfileFile file = ProfileFile::Parse(GetParam().file);
  EXPECT_EQ(file.Find(u"Lab", u"Key"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileFileLookup,
    testing::Values(
        LookupCase{"Plain", u"[Lab]\nKey=text", u"text"},
        LookupCase{"NamesIgnoreCase", u"[lab]\nkey=text", u"text"},
        LookupCase{"BlanksAroundEverything", u"  [ Lab ]  \r\n \tKey \t=  a b \t\r\n", u"a b"},
        LookupCase{"DoubleQuotes", u"[Lab]\nKey=\" a b \"", u" a b "},
        LookupCase{"SingleQuotes", u"[Lab]\nKey='text'", u"text"},
        LookupCase{"UnmatchedQuote", u"[Lab]\nKey=\"text", u"\"text"},
        LookupCase{"EqualsInValue", u"[Lab]\nKey=a=b = c", u"a=b = c"},
        LookupCase{"EmptyValue", u"[Lab]\nKey=", u""},
        LookupCase{"EmptyQuotes", u"[Lab]\nKey=\"\"", u""},
        LookupCase{"CommentLine", u"[Lab]\n;Key=text\n  ; Key=text", std::nullopt},
        LookupCase{"NoEquals", u"[Lab]\nKey", std::nullopt},
        LookupCase{"FirstKeyWins", u"[Lab]\nKey=one\nKEY=two", u"one"},
        LookupCase{"FirstSectionOnly", u"[Lab]\nOther=x\n[Lab]\nKey=two", std::nullopt},
        LookupCase{"OtherSection", u"[Lab]\nOther=x\n[Labs]\nKey=y", std::nullopt},
        LookupCase{"BeforeAnySection", u"Key=x\n[Lab]\n", std::nullopt},
        LookupCase{"LastLineWithoutBreak", u"[Lab]\r\nA=1\r\nKey=last", u"last"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileFile, GetStringKeepsRoomForTerminator) {
  const ProfileFile file = ProfileFile::Parse(u"[Lab]\nLong=" + Text(300, u'x') + u"\nShort=abc");
  EXPECT_EQ(file.GetString(u"Lab", u"Long", u"df", 260), Text(259, u'x'));
  EXPECT_EQ(file.GetString(u"Lab", u"Short", u"df", 260), u"abc");
  EXPECT_EQ(file.GetString(u"Lab", u"Short", u"df", 3), u"ab");
  EXPECT_EQ(file.GetString(u"Lab", u"Missing", u"df", 260), u"df");
  EXPECT_EQ(file.GetString(u"Other", u"Short", u"df", 260), u"df");
}

TEST(ProfileFile, MissingOrUnreadableFileGivesDefault) {
  sim::TempDir dir;
  EXPECT_FALSE(ProfileFile::Load((dir.Path() / "none.ini").string()).has_value());
  EXPECT_FALSE(ProfileFile::Load(dir.Path().string()).has_value());  // a directory
  const std::string fifo = (dir.Path() / "fifo.ini").string();  // nobody writes it
  ASSERT_TRUE(test::MakeFifo(fifo));
  EXPECT_FALSE(ProfileFile::Load(fifo).has_value());
  EXPECT_EQ(GetProfileString((dir.Path() / "none.ini").string(), u"Lab", u"Key", u"df", 260),
            u"df");
}

TEST(ProfileFile, ReadsNoFurtherThanItsBound) {
  sim::TempDir dir;
  const std::string head = "[Lab]\nNear=near\n;";
  const std::string filler(kMaxTextFileBytes - head.size() - 7, 'x');
  const auto path = dir.WriteFile("big.ini", head + filler + "\nA=12345\nFar=far\n");
  const std::optional<ProfileFile> file = ProfileFile::Load(path.string());
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->Find(u"Lab", u"Near"), u"near");
  // The line that straddles the bound is cut; the one past it is absent.
  EXPECT_EQ(file->Find(u"Lab", u"A"), u"1234");
  EXPECT_EQ(file->Find(u"Lab", u"Far"), std::nullopt);
}

}  // namespace
}  // namespace quorvel
