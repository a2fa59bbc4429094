// The check that the fault tests rely on to tell that nothing but the file
// went out: it must accept every legal way a job can send the file (resends,
// a record cut short by a pulled adapter, a handshake cut short) and refuse
// anything else.

#include <gtest/gtest.h>

#include "faults/fault_bench.h"

namespace quorvel {
namespace {

using namespace test;
using protocol::kModel1;
using protocol::kModel2;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Head(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

TEST(SentOnlyTheFile, AcceptsLegalTransfersAndRefusesTheRest) {
  const Bytes r0 = MakeRecord(4, 0xA1), r1 = MakeRecord(6, 0xA2);
  const std::vector<Bytes> records = {r0, r1};
  const Bytes s2 = {0xD6};
  const Bytes s1 = {0xD6, 0xD6, 0xD6, 0xD6, 0xD7, 0xD6, 0xD6, 0xD6, 0xD6, 0xD6};
  const struct {
    const char* what;
    int32_t model;
    Bytes sent;
    bool accepted;
  } cases[] = {
      {"whole file", kModel2, Cat({s2, r0, r1}), true},
      {"handshake retried, record resent three times", kModel2,
       Cat({s2, s2, s2, r0, r0, r0, r0, r1}), true},
      {"cut in the second record", kModel2, Cat({s2, r0, Head(r1, 3)}), true},
      {"handshake only, cut short", kModel2, Bytes{0xD6, 0xD6}, true},
      {"model 1 handshake with retries", kModel1,
       Cat({{0xD6, 0xD6, 0xD6, 0xD6, 0xD7, 0xD7, 0xD6, 0xD6, 0xD6, 0xD6, 0xD6, 0xD6}, r0, r1}),
       true},
      {"model 1 cut in phase 3", kModel1, Head(s1, 7), true},
      {"nothing at all", kModel1, Bytes{}, true},
      {"a fifth send of one record", kModel2, Cat({s2, r0, r0, r0, r0, r0}), false},
      {"a record skipped", kModel2, Cat({s2, r1}), false},
      {"a record cut and then another", kModel2, Cat({s2, Head(r0, 3), r1}), false},
      {"a resend of the last record cut short", kModel2, Cat({s2, r0, r1, Bytes{0x00}}), true},
      {"bytes past the last record", kModel2, Cat({s2, r0, r1, Bytes{0x00, 0x09}}), false},
      {"a record past the last one", kModel2, Cat({s2, r0, r1, r0}), false},
      {"a changed byte", kModel2, Cat({s2, r0, Head(r1, 5), Bytes{0xA3}, Bytes{0xA2}}), false},
      {"five handshake commands", kModel2, Bytes{0xD6, 0xD6, 0xD6, 0xD6, 0xD6}, false},
      {"records with no handshake", kModel2, Cat({r0, r1}), false},
      {"model 1 records before phase 4", kModel1, Cat({Head(s1, 9), r0}), false},
      {"a probe in the middle", kModel1, Bytes{0xD6, 0xD5}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(static_cast<bool>(SentOnlyTheFile(c.sent, c.model, records)), c.accepted);
  }
}

}  // namespace
}  // namespace quorvel
