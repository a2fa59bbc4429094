// The link probe and the record transfer on the in-memory port, with the
// device's bytes scripted and time on a virtual clock: waits that run out
// cost nothing, and how long a wait lasted is measured on that clock.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "base/Sha256.h"
#include "link/AdapterDiscovery.h"
#include "link/LinkProbe.h"
#include "link/Protocol.h"
#include "serial/PortLayer.h"
#include "serial/SerialLink.h"
#include "serial/memory/MemoryPort.h"
#include "support/EnglishTexts.h"
#include "support/FakePortPlatform.h"
#include "support/UpdateRecords.h"
#include "update/RecordTransfer.h"
#include "update/UpdateFile.h"
#include "update/UpdateImage.h"
#include "update/UpdateMessages.h"

namespace quorvel {
namespace {

using protocol::kModel1;
using protocol::kModel2;
using test::Bytes;
using test::JoinRecords;
using test::MakeRecord;

// What the device and the adapter's echo send, in the memory port's terms.
class Script {
 public:
  Script& Data(const Bytes& bytes) {
    for (const uint8_t b : bytes) {
      m_bytes.push_back(b);
      if (b == memport::kEscape) m_bytes.push_back(0x00);
    }
    return *this;
  }
  // The read that reaches this times out.
  Script& Pause() { return Code(0x01); }
  // The next write fails, as on a port whose adapter went away.
  Script& WriteFails() { return Code(0x05); }
  // Bytes that arrive `ms` after the read reaching them began.
  Script& Late(uint32_t ms, const Bytes& bytes) {
    Code(0x06);
    m_bytes.push_back(static_cast<uint8_t>(ms / 10));
    return Data(bytes);
  }
  // The next purge (0x03) or write (0x05) fails, once the read before it ends.
  Script& FailNext(uint8_t code) { return Code(code); }
  Script& Repeat(int times) {
    const Bytes once = m_bytes;
    for (int i = 1; i < times; ++i) m_bytes.insert(m_bytes.end(), once.begin(), once.end());
    return *this;
  }
  // Starts a run of the memory port on this script (kept alive by the caller).
  void Start() const { memport::ResetMemoryPort(m_bytes.data(), m_bytes.size(), 0); }

 private:
  Script& Code(uint8_t code) {
    m_bytes.push_back(memport::kEscape);
    m_bytes.push_back(code);
    return *this;
  }
  Bytes m_bytes;
};

size_t WritesOf(uint8_t command) {
  size_t n = 0;
  for (const memport::PortEvent& e : memport::MemoryPortEvents()) {
    if (e.op == memport::PortOp::Write && e.bytes == Bytes{command}) ++n;
  }
  return n;
}

class PartsTest : public testing::Test {
 protected:
  // The records as a loaded image.
  static std::unique_ptr<UpdateImage> ImageOf(const std::vector<Bytes>& records) {
    auto image = std::make_unique<UpdateImage>();
    const Bytes bytes = JoinRecords(records);
    std::copy(bytes.begin(), bytes.end(), image->bytes);
    image->count = static_cast<uint32_t>(bytes.size());
    return image;
  }

  PartsTest() {
    ports.ports.push_back(test::UsbPort(u"ttyMEM"));
    link.deviceDir = "/memory/";
    link.port = &memport::InMemoryPort();
    Script().Start();  // every wait on the virtual clock
  }
  ~PartsTest() override {
    link.ClosePort();
    UseClock(nullptr);
  }

  // Discovery opens the adapter, as the monitor's first tick does.
  void OpenAdapter(int32_t model) {
    const ProbeResult opened = StepLink(link, ports, model, kNoAdapterPort, false);
    ASSERT_EQ(opened.outcome, ProbeOutcome::AdapterOpened);
    ASSERT_EQ(opened.state, kDeviceSilent);
    ASSERT_EQ(memport::MemoryPortEvents().back().arg, protocol::BaudRate(model));
  }

  Script script;
  test::FakePortPlatform ports;
  SerialLink link;
};

// ---- link probe

TEST_F(PartsTest, AnswerAcceptedReadsTheVersion) {
  script.Data({0xD4, 0xBD, 0xFF})                               // probe, other first byte
      .Data({0xD7, 0x00, 0x01, 0xC2, 0x00, 0x00, 0x07, 0x00})   // version query
      .Data({0xD4, 0xD6, 0x00});                                // probe in state 2
  script.Start();
  OpenAdapter(kModel2);

  const ProbeResult first = StepLink(link, ports, kModel2, kDeviceSilent, false);
  EXPECT_EQ(first.outcome, ProbeOutcome::VersionRead);
  EXPECT_EQ(first.state, kDeviceReady);
  ASSERT_TRUE(first.versionRead);
  EXPECT_EQ(protocol::FormatVersion(kModel2, first.version.data()), u"P2.00.07");
  EXPECT_TRUE(SetsLinkState(first.outcome));

  // Ready, no refresh asked: only the probe goes out.
  const ProbeResult again = StepLink(link, ports, kModel2, kDeviceReady, false);
  EXPECT_EQ(again.outcome, ProbeOutcome::DeviceStillReady);
  EXPECT_FALSE(again.versionRead);
  EXPECT_FALSE(SetsLinkState(again.outcome));
  EXPECT_EQ(WritesOf(protocol::kVersionQuery), 1u);
}

TEST_F(PartsTest, UnacceptedAnswersKeepStateOne) {
  const struct {
    const char* what;
    int32_t model;
    Script tick;  // the probe's echo and what follows it
  } cases[] = {
      {"silent model 1", kModel1, Script().Data({0xD5}).Pause()},
      {"silent model 2", kModel2, Script().Data({0xD4}).Pause()},
      {"wrong byte model 1", kModel1, Script().Data({0xD5, 0x27})},
      {"wrong first byte model 2", kModel2, Script().Data({0xD4, 0xD7, 0x00})},
      {"model 2 answer cut short", kModel2, Script().Data({0xD4, 0xD6}).Pause()},
      {"late model 1", kModel1, Script().Data({0xD5}).Late(250, {0x26})},
      {"late model 2", kModel2, Script().Data({0xD4}).Late(300, {0xD6, 0x00})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    link.ClosePort();
    script = c.tick;
    script.Repeat(2).Start();
    OpenAdapter(c.model);
    for (int i = 0; i < 2; ++i) {
      // Ticks come 500 ms apart, so a late answer is purged before the next
      // probe rather than taken for its answer.
      SleepMs(protocol::kMonitorPeriodMs);
      const ProbeResult r = StepLink(link, ports, c.model, kDeviceSilent, false);
      EXPECT_EQ(r.state, kDeviceSilent);
      EXPECT_EQ(r.outcome, ProbeOutcome::DeviceSilent);
      EXPECT_TRUE(SetsLinkState(r.outcome));  // the lamps are repainted every time
    }
    EXPECT_NE(link.hPort, kInvalidPort);
    EXPECT_EQ(WritesOf(protocol::kVersionQuery), 0u);
  }
}

// A probe that cannot get its command through loses the port and says at
// which step, so that a port that opened but takes no bytes is told apart.
TEST_F(PartsTest, LostPortTellsTheFailedStep) {
  const struct {
    const char* what;
    Script after;  // the first probe's bytes and what the second meets
    CommandStep step;
  } cases[] = {
      {"purge fails", Script().Data({0xD4, 0xD6, 0x00}).FailNext(0x03), CommandStep::Purge},
      {"write does not leave", Script().Data({0xD4, 0xD6, 0x00}).FailNext(0x05), CommandStep::Write},
      {"no echo", Script().Data({0xD4, 0xD6, 0x00}), CommandStep::Echo},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    link.ClosePort();
    script = c.after;
    script.Start();
    OpenAdapter(kModel2);
    EXPECT_EQ(StepLink(link, ports, kModel2, kDeviceReady, false).lostAt, CommandStep::None);
    const ProbeResult lost = StepLink(link, ports, kModel2, kDeviceReady, false);
    EXPECT_EQ(lost.outcome, ProbeOutcome::PortLost);
    EXPECT_EQ(lost.state, kNoAdapterPort);
    EXPECT_EQ(lost.lostAt, c.step);
    EXPECT_EQ(link.hPort, kInvalidPort);
  }
}

// ---- record transfer

struct Progress : TransferObserver {
  void OnProgress(uint32_t percent) override { percents.push_back(percent); }
  void KeepAlive() override { keptAliveAtMs.push_back(memport::VirtualNowMs()); }
  void Idle() override { ++idles; }
  std::vector<uint32_t> percents;
  int idles = 0;
  std::vector<uint64_t> keptAliveAtMs;
};

// Every byte the transfer wrote, in order, and its record writes alone.
Bytes Written() {
  Bytes sent;
  for (const memport::PortEvent& e : memport::MemoryPortEvents()) {
    if (e.op == memport::PortOp::Write) sent.insert(sent.end(), e.bytes.begin(), e.bytes.end());
  }
  return sent;
}
std::vector<Bytes> RecordsWritten() {
  std::vector<Bytes> records;
  for (const memport::PortEvent& e : memport::MemoryPortEvents()) {
    if (e.op == memport::PortOp::Write && e.bytes.size() > 1) records.push_back(e.bytes);
  }
  return records;
}

// One handshake attempt that the device leaves unanswered, and one answered.
Script Unanswered(uint8_t command, int attempts = 1) {
  return Script().Data({command}).Pause().Repeat(attempts);
}
constexpr uint8_t kD6 = protocol::kUpdateStart;
constexpr uint8_t kD7 = protocol::kUpdateStep2;

// The handshakes of both models: which commands go out, how each ends, and
// how long the waits took at least.
TEST_F(PartsTest, Handshakes) {
  const Bytes record = MakeRecord(3, 0x77);
  const Bytes accepted = [&] { Bytes b = record; b.push_back(0x11); return b; }();
  const Bytes model1Phases = {kD6, kD6, kD6, kD6, kD7, kD6, kD6, kD6, kD6};
  const Script d6Silent4 = Unanswered(kD6, 4);
  const Script d6Silent3 = Unanswered(kD6, 3);
  const struct Case {
    const char* what;
    int32_t model;
    Script device;
    UpdateResult result;
    Bytes commands;        // what went out before the records (the last may have failed)
    uint64_t atLeastMs;    // on the virtual clock
  } cases[] = {
      {"model 2 silent: four commands", kModel2, Unanswered(kD6, 4),
       UpdateResult::HandshakeD7Timeout, Bytes(4, kD6), 4 * 1000},
      {"model 2 reply after 900 ms passes", kModel2,
       Script().Data({kD6}).Late(900, {0xD7}).Data(accepted), UpdateResult::Completed, {kD6}, 900},
      // No reply, but the echo reads as 0xD7.
      {"model 2 echo of 0xD7 passes", kModel2, Script().Data({0xD7}).Pause().Data(accepted),
       UpdateResult::Completed, {kD6}, 1000},
      // Nothing comes back at all: the command's echo read fails.
      {"model 2 echo missing", kModel2, Script().Pause(), UpdateResult::HandshakeD7Timeout, {kD6},
       500},
      {"model 1 silent first phase still reaches the records", kModel1,
       Script(d6Silent4).Data({kD7, 0xD8}).Data({kD6}).Pause()
           .Data({kD6}).Pause().Data({kD6}).Pause().Data({kD6}).Pause()
           .Data({kD6, 0xD7}).Data(accepted),
       UpdateResult::Completed, {kD6, kD6, kD6, kD6, kD7, kD6, kD6, kD6, kD6, kD6}, 4 * 1000},
      {"model 1 silent second phase", kModel1, Script(d6Silent4).Data({kD7}).Pause()
           .Data({kD7}).Pause().Data({kD7}).Pause().Data({kD7}).Pause(),
       UpdateResult::HandshakeD7Timeout, {kD6, kD6, kD6, kD6, kD7, kD7, kD7, kD7}, 8 * 1000},
      // The adapter goes away while a phase sends its command: phases 1 and
      // 3 name 0xD6, phases 2 and 4 name 0xD7 (although phase 4 sends 0xD6).
      {"model 1 port lost in phase 1", kModel1, Script().Data({kD6}).Pause().Data({kD6}).WriteFails(),
       UpdateResult::HandshakeD6Timeout, Bytes(3, kD6), 0},
      {"model 1 port lost in phase 2", kModel1, Script(d6Silent3).Data({kD6}).WriteFails(),
       UpdateResult::HandshakeD7Timeout, Bytes(model1Phases.begin(), model1Phases.begin() + 5), 0},
      {"model 1 port lost in phase 3", kModel1,
       Script(d6Silent4).Data({kD7, 0xD8}).Data({kD6}).Pause().Data({kD6}).WriteFails(),
       UpdateResult::HandshakeD6Timeout, Bytes(model1Phases.begin(), model1Phases.begin() + 8), 0},
      {"model 1 port lost in phase 4", kModel1,
       Script(d6Silent4).Data({kD7, 0xD8}).Data({kD6}).Pause().Data({kD6}).Pause()
           .Data({kD6}).Pause().Data({kD6}).WriteFails(),
       UpdateResult::HandshakeD7Timeout, [&] { Bytes b = model1Phases; b.push_back(kD6); return b; }(),
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    link.ClosePort();
    script = c.device;
    script.Start();
    OpenAdapter(c.model);
    const uint64_t start = memport::VirtualNowMs();
    const auto image = ImageOf({record});
    Progress progress;

    const UpdateResult result = RunUpdate(link, c.model, *image, progress);

    EXPECT_EQ(result, c.result) << ToUtf8(UpdateMessage(result));
    EXPECT_GE(memport::VirtualNowMs() - start, c.atLeastMs);
    Bytes expected = c.commands;
    if (result == UpdateResult::Completed) {
      expected.insert(expected.end(), record.begin(), record.end());
      // A slow reply: the caller heard the wait; one keep-alive per record.
      EXPECT_GE(progress.idles, 1);
      EXPECT_EQ(progress.keptAliveAtMs.size(), 1u);
      EXPECT_EQ(progress.percents, std::vector<uint32_t>{100});
    } else {
      EXPECT_TRUE(progress.percents.empty());
    }
    EXPECT_EQ(Written(), expected);
  }
}

// Records with their echoes and verdicts: resends, garbled echoes and the
// ways a transfer fails.
TEST_F(PartsTest, RecordTransfers) {
  using Verdicts = std::vector<uint8_t>;
  const std::vector<Bytes> three = {MakeRecord(40, 0xA1), MakeRecord(40, 0xA2),
                                    MakeRecord(40, 0xA3)};
  const std::vector<Bytes> garbled = {MakeRecord(200, 0x5A), MakeRecord(3, 0x00)};
  const std::vector<Bytes> two = {MakeRecord(10, 0x01), MakeRecord(10, 0x02)};
  const struct Case {
    const char* what;
    std::vector<Bytes> records;
    Verdicts verdicts;       // one per record sent, in order
    uint8_t echoMask;        // what the adapter does to every echoed byte
    size_t cutEchoAfter;     // 0: whole echoes; else the last echo stops short
    UpdateResult result;
    std::vector<size_t> sent;  // the records sent, by index
    std::vector<uint32_t> percents;
  } cases[] = {
      // A resend repeats the last percentage; two of three equal records is 66.
      {"resends up to three times, counted afresh per record", three,
       {0x55, 0x00, 0x13, 0x11, 0x55, 0x55, 0x55, 0x11, 0x11}, 0, 0, UpdateResult::Completed,
       {0, 0, 0, 0, 1, 1, 1, 1, 2}, {0, 0, 0, 33, 33, 33, 33, 66, 100}},
      // The handshake reply still passes, and a resent record is sent as the
      // file has it, not as it came back.
      {"garbled echoes change nothing that is sent", garbled, {0x55, 0x55, 0x11, 0x11}, 0xFF, 0,
       UpdateResult::Completed, {0, 0, 0, 1}, {0, 0, 97, 100}},
      {"crc error on the second record", two, {0x11, 0x12}, 0, 0, UpdateResult::CrcError, {0, 1},
       {50}},
      {"four rejections of one record", two, {0x55, 0x12 + 1, 0xD7, 0x55}, 0, 0,
       UpdateResult::TooManyResends, {0, 0, 0, 0}, {0, 0, 0}},
      {"adapter pulled in the middle of the second record's echo", two, {0x11, 0}, 0, 5,
       UpdateResult::TransferError, {0, 1}, {50}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    link.ClosePort();
    script = Script().Data({static_cast<uint8_t>(kD6 ^ c.echoMask), 0xD7});
    for (size_t i = 0; i < c.sent.size(); ++i) {
      Bytes echo = c.records[c.sent[i]];
      for (uint8_t& b : echo) b ^= c.echoMask;
      if (c.cutEchoAfter != 0 && i + 1 == c.sent.size()) {
        script.Data(Bytes(echo.begin(), echo.begin() + c.cutEchoAfter)).Pause();
      } else {
        script.Data(echo).Data({c.verdicts[i]});
      }
    }
    script.Start();
    OpenAdapter(kModel2);
    const auto image = ImageOf(c.records);
    struct Verdict {
      uint32_t offset, size;
      uint8_t verdict;
      bool operator==(const Verdict&) const = default;
    };
    struct Heard final : Progress {
      void OnVerdict(uint32_t offset, uint32_t size, uint8_t verdict) override {
        verdicts.push_back({offset, size, verdict});
      }
      std::vector<Verdict> verdicts;
    } heard;

    const UpdateResult result = RunUpdate(link, kModel2, *image, heard);

    EXPECT_EQ(result, c.result) << ToUtf8(UpdateMessage(result));
    std::vector<Bytes> expected;
    for (const size_t i : c.sent) expected.push_back(c.records[i]);
    EXPECT_EQ(RecordsWritten(), expected);
    EXPECT_EQ(heard.percents, c.percents);
    // Each verdict as it came, with the record it answered.
    const size_t answered = c.sent.size() - (c.cutEchoAfter != 0 ? 1 : 0);
    ASSERT_EQ(heard.verdicts.size(), answered);
    for (size_t i = 0; i < answered; ++i) {
      uint32_t offset = 0;
      for (size_t r = 0; r < c.sent[i]; ++r) offset += static_cast<uint32_t>(c.records[r].size());
      EXPECT_EQ(heard.verdicts[i],
                (Verdict{offset, static_cast<uint32_t>(c.records[c.sent[i]].size()), c.verdicts[i]}));
    }
  }
}

// Verdict reads of 2000 ms each, six of them: a verdict in the second read is
// taken, none in twelve seconds ends the job.
TEST_F(PartsTest, VerdictWaitsSixReadsThenGivesUp) {
  const std::vector<Bytes> records = {MakeRecord(5, 0x01), MakeRecord(5, 0x02)};
  script.Data({0xD6, 0xD7})                    // handshake: echo, reply
      .Data(records[0]).Late(2500, {0x11})     // first verdict in the second read
      .Data(records[1]);                       // then silence
  script.Start();
  OpenAdapter(kModel2);
  const auto image = ImageOf(records);
  Progress progress;

  const UpdateResult result = RunUpdate(link, kModel2, *image, progress);

  EXPECT_EQ(result, UpdateResult::NoVerdict);
  EXPECT_EQ(ToUtf8(UpdateMessage(result)), "Update Error: No reply from device!");
  EXPECT_FALSE(IsRefusal(result));
  ASSERT_EQ(progress.keptAliveAtMs.size(), 1u);
  const uint64_t waitedMs = memport::VirtualNowMs() - progress.keptAliveAtMs[0];
  EXPECT_GE(waitedMs, 6u * 2000u);
  EXPECT_LT(waitedMs, 6u * 2000u + 5000u);
  EXPECT_EQ(progress.percents, std::vector<uint32_t>{50});
  // Each wait that ran out, and the late verdict, let the caller keep its
  // window alive; the hook is gone with the transfer.
  EXPECT_GE(progress.idles, 7);
  EXPECT_FALSE(link.whileWaiting);
}

// A stop asked for between records ends the transfer before the next record
// goes out: the record under way is never cut.
TEST_F(PartsTest, StopBetweenRecordsSendsNoFurtherRecord) {
  const std::vector<Bytes> records = {MakeRecord(5, 0x01), MakeRecord(5, 0x02), MakeRecord(5, 0x03)};
  script.Data({0xD6, 0xD7}).Data(records[0]).Data({0x11});
  script.Start();
  OpenAdapter(kModel2);
  const auto image = ImageOf(records);
  struct Stopping final : TransferObserver {
    void OnProgress(uint32_t percent) override { percents.push_back(percent); }
    // Asked once a record is in: before the first record the answer is no.
    bool StopRequested() override { return !percents.empty(); }
    std::vector<uint32_t> percents;
  } stopping;

  EXPECT_EQ(RunUpdate(link, kModel2, *image, stopping), UpdateResult::Stopped);
  EXPECT_EQ(stopping.percents, std::vector<uint32_t>{33});
  size_t recordWrites = 0;
  for (const memport::PortEvent& e : memport::MemoryPortEvents()) {
    if (e.op == memport::PortOp::Write && e.bytes.size() > 1) ++recordWrites;
  }
  EXPECT_EQ(recordWrites, 1u);
}

// A file written on after it was accepted (by a writer that takes no lock)
// is refused before the port is touched, or, when it changes during the
// handshake, right before the first record: nothing of it goes out.
TEST_F(PartsTest, FileChangedSinceItsReadSendsNone) {
  namespace fs = std::filesystem;
  const fs::path path = fs::path(testing::TempDir()) / "parts-changed.pkc";
  const auto writeOn = [&path] { std::ofstream(path, std::ios::binary | std::ios::app) << "0001AA"; };
  struct Changer final : TransferObserver {
    void OnProgress(uint32_t) override { ++records; }
    void Idle() override {
      if (change) change();
      change = nullptr;
    }
    std::function<void()> change;
    int records = 0;
  };
  for (const bool duringHandshake : {false, true}) {
    SCOPED_TRACE(duringHandshake ? "during the handshake" : "before the job");
    link.ClosePort();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "0003C0FFEE";
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(1));
    const UpdateFile file = AcceptUpdateFile(FromUtf8(path.string()), kModel2);
    ASSERT_TRUE(file.Accepted());
    // The reply comes late, so that the observer hears the wait.
    script = Script().Data({0xD6}).Late(100, {0xD7}).Data({0x00, 0x03, 0xC0, 0xFF, 0xEE, 0x11});
    script.Start();
    OpenAdapter(kModel2);
    Changer changer;
    if (duringHandshake) changer.change = writeOn;
    else writeOn();

    const UpdateResult result = RunUpdate(link, file, changer);

    EXPECT_EQ(result, UpdateResult::FileChanged);
    EXPECT_EQ(UpdateMessage(result), test::english::kFileChanging);
    EXPECT_TRUE(IsRefusal(result));
    EXPECT_EQ(WritesOf(protocol::kUpdateStart), duringHandshake ? 1u : 0u);
    for (const memport::PortEvent& e : memport::MemoryPortEvents()) {
      EXPECT_FALSE(e.op == memport::PortOp::Write && e.bytes.size() > 1);
    }
    EXPECT_EQ(changer.records, 0);
  }
  fs::remove(path);
}

TEST(Sha256, KnownVectorsWhateverTheChunks) {
  const std::string million(1000000, 'a');
  const struct { std::string text; const char* hex; } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // padding spills into a second block
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
  for (const auto& c : cases) {
    for (const size_t chunk : {size_t{1}, size_t{63}, size_t{1000000}}) {
      Sha256 hash;
      const auto* data = reinterpret_cast<const uint8_t*>(c.text.data());
      for (size_t at = 0; at < c.text.size(); at += chunk) hash.Add(data + at, std::min(chunk, c.text.size() - at));
      EXPECT_EQ(hash.Hex(), c.hex) << c.text.size() << " bytes in chunks of " << chunk;
    }
  }
}

}  // namespace
}  // namespace quorvel
