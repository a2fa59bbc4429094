// The sample update files of the demo (samples/, written by
// tools/make_samples.py): they load, their records carry the check the demo
// device applies, and an update from them takes a few seconds.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/Protocol.h"
#include "sim/DemoDevice.h"
#include "update/UpdateImage.h"

namespace quorvel {
namespace {

const std::filesystem::path kSamples = QUORVEL_SAMPLES_DIR;

struct Sample {
  const char* name;
  int32_t model;
  size_t records;
  size_t recordSize;
  int badRecord;  // -1: every record passes
  const char16_t* version;
};

const Sample kSamplesList[] = {
    {"olmar-demo.pkc", protocol::kModel2, 16, 255, -1, u"P1.06.00"},
    {"olmar-bad-crc.pkc", protocol::kModel2, 16, 255, 5, u"P1.06.00"},
    {"brenix-demo.kyc", protocol::kModel1, 12, 64, -1, u"01.30.02"},
    {"brenix-bad-crc.kyc", protocol::kModel1, 12, 64, 3, u"01.30.02"},
    {"brenix-full-size.kyc", protocol::kModel1, 4, 255, -1, u"01.31.00"},
};

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(SampleFiles, AreUnbrokenUpperCaseHexPairs) {
  for (const Sample& s : kSamplesList) {
    const std::string text = ReadAll(kSamples / s.name);
    ASSERT_FALSE(text.empty()) << s.name;
    EXPECT_EQ(text.size() % 2, 0u) << s.name;
    EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos) << s.name;
  }
}

TEST(SampleFiles, LoadAsRecordChainsWhoseChecksTheDemoDeviceJudges) {
  for (const Sample& s : kSamplesList) {
    SCOPED_TRACE(s.name);
    auto image = std::make_unique<UpdateImage>();
    ASSERT_EQ(LoadUpdateImage(FromUtf8((kSamples / s.name).string()), *image), ImageLoadResult::Loaded);
    ASSERT_EQ(image->count, s.records * s.recordSize);
    size_t position = 0;
    for (size_t i = 0; i < s.records; ++i) {
      ASSERT_EQ(image->bytes[position], 0x00);
      ASSERT_EQ(image->bytes[position + 1] + 2u, s.recordSize);
      const std::vector<uint8_t> record(image->bytes + position, image->bytes + position + s.recordSize);
      EXPECT_EQ(sim::DemoDevice::RecordCheckPasses(record), static_cast<int>(i) != s.badRecord) << i;
      position += s.recordSize;
    }
    // The first body starts with the version reply of the firmware.
    EXPECT_EQ(ToUtf8(protocol::FormatVersion(s.model, image->bytes + 2)), ToUtf8(s.version));
  }
}

// A whole update at the model's speed stays short enough for the demo.
TEST(SampleFiles, UpdateInAFewSecondsAtTheirModelsLineSpeed) {
  for (const Sample& s : kSamplesList) {
    const uint32_t baud = s.model == protocol::kModel1 ? protocol::kBaudModel1 : protocol::kBaudModel2;
    const double recordMs = s.recordSize * 10'000.0 / baud;
    EXPECT_LT(recordMs * s.records, 15'000.0) << s.name;
  }
}

}  // namespace
}  // namespace quorvel
