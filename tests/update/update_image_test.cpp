// Decoding of update files, the record-chain check and the file's lock.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/TempDir.h"
#include "support/EnglishTexts.h"
#include "support/FileHolder.h"
#include "link/Protocol.h"
#include "update/UpdateFile.h"
#include "update/UpdateImage.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ImageBytes(const UpdateImage& image) {
  return Bytes(image.bytes, image.bytes + image.count);
}

std::unique_ptr<UpdateImage> MakeImage(const Bytes& bytes) {
  auto image = std::make_unique<UpdateImage>();
  std::copy(bytes.begin(), bytes.end(), image->bytes);
  image->count = static_cast<uint32_t>(bytes.size());
  return image;
}

// `records` records, each of `bodyLength` body bytes (all `fill`), as digits.
std::string ChainText(size_t records, uint8_t bodyLength, const char* fillDigits = "5A") {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (size_t r = 0; r < records; ++r) {
    text += "00";
    text += kHex[bodyLength >> 4];
    text += kHex[bodyLength & 15];
    for (int i = 0; i < bodyLength; ++i) text += fillDigits;
  }
  return text;
}

// ---- DecodeHexPair

TEST(DecodeHexPairTest, AcceptsExactlyTheUpperCaseDigitsOfEveryCharacterValue) {
  const std::u16string digits = u"0123456789ABCDEF";
  for (uint32_t c = 0; c <= 0xFFFF; ++c) {
    const char16_t pair[2] = {u'1', static_cast<char16_t>(c)};
    uint8_t byte = 0xEE;
    const size_t value = digits.find(static_cast<char16_t>(c));
    ASSERT_EQ(DecodeHexPair(pair, byte), value != std::u16string::npos) << "char " << c;
    if (value != std::u16string::npos) {
      ASSERT_EQ(byte, 0x10 + value);
    }
  }
}

TEST(DecodeHexPairTest, FirstCharacterIsTheHighHalf) {
  const char16_t pair[2] = {u'C', u'3'};
  uint8_t byte = 0;
  ASSERT_TRUE(DecodeHexPair(pair, byte));
  EXPECT_EQ(byte, 0xC3);
  const char16_t bad[2] = {u'g', u'0'};
  EXPECT_FALSE(DecodeHexPair(bad, byte));
}

// ---- decoding of file contents

struct DecodeCase {
  const char* name;
  std::string file;
  ImageLoadResult result;
  Bytes bytes;
};

std::vector<DecodeCase> DecodeCases() {
  using R = ImageLoadResult;
  return {
      {"NoBytes", "", R::Empty, {}},
      {"OneCharacter", "A", R::Empty, {}},
      {"AllDigits", "0123456789ABCDEF", R::Loaded, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
      {"OneRecord", "0003C0FFEE", R::Loaded, {0x00, 0x03, 0xC0, 0xFF, 0xEE}},
      {"LowerCase", "000a", R::NotValid, {}},
      {"LowerCaseLate", "0001ab", R::NotValid, {}},
      {"Blank", "00 01", R::NotValid, {}},
      {"Tab", "00\t1", R::NotValid, {}},
      {"ColonBetweenRanges", "0:", R::NotValid, {}},
      {"AtSignBetweenRanges", "@0", R::NotValid, {}},
      {"LetterAfterF", "0G", R::NotValid, {}},
      // 0xB0 and 0xB1 would read as "01" if the high bit were dropped.
      {"HighBytes", std::string("\xB0\xB1"), R::NotValid, {}},
      {"Utf8ByteOrderMark", std::string("\xEF\xBB\xBF") + "0001", R::NotValid, {}},
      {"LineFeedBetweenPairs", "00\n01", R::NotValid, {}},
      {"CrLfBetweenPairs", "00\r\n01", R::NotValid, {}},
      {"LineFeedAtEnd", "0001\n", R::Loaded, {0x00, 0x01}},
      {"CrLfAtEnd", "0001\r\n", R::Loaded, {0x00, 0x01}},
      {"LoneCrAtEnd", "0001\r", R::Loaded, {0x00, 0x01}},
      {"TwoLineFeedsAtEnd", "0001\n\n", R::NotValid, {}},
      {"TwoCrLfsAtEnd", "0001\r\n\r\n", R::NotValid, {}},
      // Only CR LF is merged: CR CR LF reads as CR LF, one pair.
      {"CrCrLfAtEnd", "0001\r\r\n", R::NotValid, {}},
      {"OddDigitCount", "0001AB5", R::Loaded, {0x00, 0x01, 0xAB}},
      {"EndOfDataByte", std::string("0001\x1A") + "zz", R::Loaded, {0x00, 0x01}},
      {"EndOfDataAfterOddDigit", std::string("000\x1A") + "1", R::Loaded, {0x00}},
      {"EndOfDataAfterCr", std::string("0001\r\x1A") + "\n", R::Loaded, {0x00, 0x01}},
      {"StartsWithEndOfData", std::string("\x1A") + "0001", R::Empty, {}},
  };
}

class DecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, DecodesWholeAndByteByByte) {
  const DecodeCase& c = GetParam();
  auto image = std::make_unique<UpdateImage>();
  image->count = 77;
  EXPECT_EQ(DecodeUpdateText(c.file, *image), c.result);
  EXPECT_EQ(ImageBytes(*image), c.bytes);

  // Fed one byte at a time, as at the boundaries of read blocks.
  auto pieces = std::make_unique<UpdateImage>();
  UpdateTextDecoder decoder(*pieces);
  for (char ch : c.file) {
    const auto byte = static_cast<uint8_t>(ch);
    if (!decoder.Feed(&byte, 1)) break;
  }
  EXPECT_EQ(decoder.Finish(), c.result);
  EXPECT_EQ(ImageBytes(*pieces), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(Files, DecodeTest, testing::ValuesIn(DecodeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeCapacityTest, FillsTheImageExactlyAndRefusesOneByteMore) {
  // 514 records of 255 bytes, then a header-only one: 131072 bytes.
  const std::string full = ChainText(514, 253) + ChainText(1, 0);
  ASSERT_EQ(full.size(), 2u * kImageCapacity);
  auto image = std::make_unique<UpdateImage>();
  ASSERT_EQ(DecodeUpdateText(full, *image), ImageLoadResult::Loaded);
  EXPECT_EQ(image->count, kImageCapacity);
  EXPECT_TRUE(IsWellFormedRecordChain(*image));

  // One pair more: refused, and (under AddressSanitizer) nothing written
  // past the heap-allocated image.
  EXPECT_EQ(DecodeUpdateText(full + "00", *image), ImageLoadResult::NotValid);
  EXPECT_EQ(image->count, 0u);
  EXPECT_EQ(DecodeUpdateText(full + "0", *image), ImageLoadResult::Loaded);
}

// ---- record chain

struct ChainCase {
  const char* name;
  Bytes bytes;
  bool wellFormed;
};

Bytes Record(uint8_t high, uint8_t low, size_t body) {
  Bytes r{high, low};
  r.resize(2 + body, 0x11);
  return r;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::vector<ChainCase> ChainCases() {
  return {
      {"OneRecordOfSize5", {0x00, 0x03, 0xC0, 0xFF, 0xEE}, true},
      {"OddDigitExample", {0x00, 0x01, 0xAB}, true},
      {"HeaderOnlyRecord", {0x00, 0x00}, true},
      {"LargestRecord", Record(0, 253, 253), true},
      {"ThreeRecords", Join({Record(0, 3, 3), Record(0, 0, 0), Record(0, 200, 200)}), true},
      {"HighLengthByteSet", Record(1, 0, 256), false},
      {"LowLengthByte254", Record(0, 254, 254), false},
      {"LowLengthByte255", Record(0, 255, 255), false},
      {"LastRecordRunsPast", {0x00, 0x03, 0xC0, 0xFF}, false},
      {"LoneByteAfterRecord", Join({Record(0, 1, 1), {0x00}}), false},
      {"BadSecondRecord", Join({Record(0, 1, 1), Record(2, 0, 512)}), false},
      {"SingleByte", {0x00}, false},
  };
}

class ChainTest : public testing::TestWithParam<ChainCase> {};

TEST_P(ChainTest, Checks) {
  const auto image = MakeImage(GetParam().bytes);
  EXPECT_EQ(IsWellFormedRecordChain(*image), GetParam().wellFormed);
  // The walk ends on every image; on a well-formed one its records follow
  // each other up to the end.
  uint32_t next = 0;
  for (const UpdateRecord& r : image->Records()) {
    EXPECT_EQ(r.offset, next);
    EXPECT_EQ(r.bytes, image->bytes + r.offset);
    next = r.offset + r.size;
  }
  if (GetParam().wellFormed) {
    EXPECT_EQ(next, image->count);
  }
}

INSTANTIATE_TEST_SUITE_P(Images, ChainTest, testing::ValuesIn(ChainCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- loading files

class LoadTest : public testing::Test {
 protected:
  Text Write(const std::string& name, const std::string& bytes) {
    return FromUtf8(dir.WriteFile(name, bytes).string());
  }
  ImageLoadResult Load(const Text& path) { return LoadUpdateImage(path, *image); }

  sim::TempDir dir;
  std::unique_ptr<UpdateImage> image = std::make_unique<UpdateImage>();
};

TEST_F(LoadTest, LoadsAWellFormedFileInManyBlocks) {
  const std::string text = ChainText(300, 253, "0D") + "\r\n";  // 76500 bytes, 150 KB of text
  const Text path = Write("big.pkc", text);
  ASSERT_EQ(Load(path), ImageLoadResult::Loaded);
  ASSERT_EQ(image->count, 300u * 255u);
  EXPECT_EQ(image->bytes[0], 0x00);
  EXPECT_EQ(image->bytes[1], 253);
  EXPECT_EQ(image->bytes[2], 0x0D);
  EXPECT_EQ(image->bytes[image->count - 1], 0x0D);
}

TEST_F(LoadTest, PathInNonAsciiCharacters) {
  const Text path = Write("固件 ünïcode.kyc", "0003C0FFEE");
  ASSERT_EQ(Load(path), ImageLoadResult::Loaded);
  EXPECT_EQ(ImageBytes(*image), (Bytes{0x00, 0x03, 0xC0, 0xFF, 0xEE}));
}

TEST_F(LoadTest, RefusalsAndTheirMessages) {
  const Text fifo = FromUtf8((dir.Path() / "fifo.pkc").string());
  ASSERT_TRUE(test::MakeFifo(ToUtf8(fifo)));
  struct Case {
    const char* what;
    Text path;
    ImageLoadResult result;
    Text message;
  };
  const Case cases[] = {
      {"empty path", u"", ImageLoadResult::OpenFailed, u"Fail to open the file!"},
      {"missing file", FromUtf8((dir.Path() / "none.pkc").string()), ImageLoadResult::OpenFailed,
       u"Fail to open the file!"},
      {"directory", FromUtf8(dir.Path().string()), ImageLoadResult::OpenFailed,
       u"Fail to open the file!"},
      // Neither may block: a FIFO nobody writes, a device that never ends.
      {"FIFO", fifo, ImageLoadResult::OpenFailed, u"Fail to open the file!"},
      {"device", u"/dev/ptmx", ImageLoadResult::OpenFailed, u"Fail to open the file!"},
      {"bad digit", Write("bad.pkc", "00x1"), ImageLoadResult::NotValid,
       u"Not a valid upgrade file!"},
      {"empty file", Write("empty.pkc", ""), ImageLoadResult::Empty, u"The file is empty!"},
      // The digits decode, but the record claims 4 bytes of body and has 3.
      {"record runs past the end", Write("short.pkc", "0004C0FFEE"), ImageLoadResult::NotValid,
       u"Not a valid upgrade file!"},
      {"record too long to send", Write("long.pkc", ChainText(1, 254)),
       ImageLoadResult::NotValid, u"Not a valid upgrade file!"},
      {"past the capacity", Write("huge.pkc", ChainText(515, 253)), ImageLoadResult::NotValid,
       u"Not a valid upgrade file!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    image->count = 5;
    EXPECT_EQ(Load(c.path), c.result);
    EXPECT_EQ(image->count, 0u);
    EXPECT_EQ(ImageLoadMessage(c.result), c.message);
  }
}

TEST_F(LoadTest, AFileHeldElsewhereCannotBeOpened) {
  const Text path = Write("held.pkc", "0003C0FFEE");
  {
    test::FileHolder writer(path, true);
    ASSERT_TRUE(writer.Held());
    EXPECT_EQ(Load(path), ImageLoadResult::OpenFailed);
  }
  // Another reader: on Linux the hold is a shared lock (NFS grants no
  // other kind on a read-only file), so the file can still be read.
  {
    test::FileHolder reader(path, false);
    ASSERT_TRUE(reader.Held());
    EXPECT_EQ(Load(path), test::kHoldLetsReadersIn ? ImageLoadResult::Loaded
                                                   : ImageLoadResult::OpenFailed);
  }
  EXPECT_EQ(Load(path), ImageLoadResult::Loaded);
  // The load let go of the file when it returned.
  test::FileHolder after(path, true);
  EXPECT_TRUE(after.Held());
}

// A file is taken as a job takes it: one changed within the last two
// seconds is looked at again once it is that old and refused if it changed
// meanwhile (a copy still under way); an older one is taken at once.
TEST_F(LoadTest, AcceptanceWaitsForAFreshFileAndRefusesOneStillWritten) {
  namespace fs = std::filesystem;
  const auto append = [](const char* digits) {
    return [digits](const fs::path& p) { std::ofstream(p, std::ios::app | std::ios::binary) << digits; };
  };
  const auto replace = [this](const fs::path& p) {
    fs::rename(dir.WriteFile("new.pkc", "0003C0FFEE"), p);
  };
  struct Case {
    const char* what;
    bool old;  // last changed a minute ago
    std::string text;
    std::function<void(const fs::path&)> duringWait;  // null: left alone
    FileAcceptance result;
  };
  const Case cases[] = {
      {"old file", true, "0003C0FFEE", nullptr, FileAcceptance::Accepted},
      {"fresh file left alone", false, "0003C0FFEE", nullptr, FileAcceptance::Accepted},
      {"fresh file written on", false, "0003C0FFEE", append("0001AA"), FileAcceptance::Changing},
      {"copy cut mid-record, then finished", false, "0003C0", append("FFEE"),
       FileAcceptance::Changing},
      {"fresh file replaced", false, "0001AA", replace, FileAcceptance::Changing},
      {"fresh and invalid", false, "00x1", nullptr, FileAcceptance::NotValid},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Windows' hold keeps every writer out: such a file cannot change.
    if (c.duringWait && !test::kHeldFileCanBeWritten) continue;
    const fs::path path = dir.WriteFile(std::to_string(++n) + ".pkc", c.text);
    if (c.old) fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(1));
    std::vector<uint32_t> waits;
    const UpdateFile file =
        AcceptUpdateFile(FromUtf8(path.string()), protocol::kModel2, [&](uint32_t ms) {
          waits.push_back(ms);
          if (c.duringWait) c.duringWait(path);
        });

    EXPECT_EQ(file.result, c.result);
    if (c.old) {
      EXPECT_TRUE(waits.empty());
    } else {
      ASSERT_EQ(waits.size(), 1u);
      EXPECT_GT(waits[0], 0u);
      EXPECT_LE(waits[0], kFileSettleMs);
    }
    EXPECT_EQ(file.held.IsOpen(), file.Accepted());
    if (file.Accepted()) {
      EXPECT_EQ(ImageBytes(*file.image), (Bytes{0x00, 0x03, 0xC0, 0xFF, 0xEE}));
      EXPECT_TRUE(file.Unchanged());
      EXPECT_TRUE(file.Message().empty());
    } else {
      EXPECT_EQ(file.image->count, 0u);
    }
    if (c.result == FileAcceptance::Changing) {
      EXPECT_EQ(file.Message(), test::english::kFileChanging);
    }
  }
}

}  // namespace
}  // namespace quorvel
