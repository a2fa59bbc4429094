// Time of a whole model-2 update against the simulated adapter and device at
// line rate, compared with the time the bytes need on the wire.
//
//   update_bench [baud]        (default 19200)
//
// Image: 257 records of 255 bytes (65535 bytes, the most 255-byte records
// that fit in 64 KiB). The simulated line is half-duplex: every byte, in
// either direction, occupies the wire for ten bit times, one after another;
// the adapter's echo of a byte is that same transmission, not a second one.
// So the line-time limit counts each byte on the wire once:
//   wire bytes = bytes the program sent (handshake command + records)
//              + bytes the device sent (handshake reply + one verdict per record)
//   limit      = wire bytes x 10 / baud
// Measured: from the click on Update to the job's return, file dialog and
// decoding included; the one-second pause at the end is not waited for (the
// pause is injected and only recorded), since it is not line time.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "link/Protocol.h"
#include "support/HeadlessWindow.h"
#include "sim/SimulatedDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/TempDir.h"
#include "support/TestEnvironment.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"

using namespace quorvel;

namespace {

constexpr size_t kRecords = 257;
constexpr uint8_t kBody = 253;
constexpr double kGoalRatio = 1.02;

std::vector<uint8_t> MakeImage() {
  std::mt19937 random(7);
  std::vector<uint8_t> image;
  for (size_t r = 0; r < kRecords; ++r) {
    image.push_back(0x00);
    image.push_back(kBody);
    for (int i = 0; i < kBody; ++i) image.push_back(static_cast<uint8_t>(random()));
  }
  return image;
}

std::string HexText(const std::vector<uint8_t>& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t baud = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 19200;
  if (baud == 0) {
    std::fprintf(stderr, "usage: update_bench [baud]\n");
    return 2;
  }

  sim::SimulatedLine::Options options;
  options.lineRate = baud;
  sim::SimulatedLine line(options);
  sim::SimulatedDevice device(line, protocol::kModel2);

  sim::TempDir dir;
  test::TestEnvironment env;
  test::HeadlessWindowSystem ws;
  CQuorvelDlg dlg(ws, env.Make(dir.Path().string()));
  test::HeadlessWindow& w = ws.Open(dlg);

  const std::vector<uint8_t> image = MakeImage();
  ws.filesToPick.push_back(FromUtf8(dir.WriteFile("bench.pkc", HexText(image)).string()));

  // As the link monitor leaves things once the device has answered.
  dlg.m_model = protocol::kModel2;
  dlg.m_baudRate = static_cast<int32_t>(protocol::kBaudModel2);
  dlg.m_link.deviceDir = line.DeviceDir();
  if (!dlg.m_link.OpenPort(line.PortName(), protocol::kBaudModel2)) {
    std::fprintf(stderr, "cannot open the simulated port\n");
    return 1;
  }
  dlg.m_linkState = 2;

  const auto start = std::chrono::steady_clock::now();
  w.Click(IDC_UPDATE);
  const double measured =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  if (!w.messageBoxes.empty() || w.TextOf(IDC_STATUS_EDIT) != u"Updated successfully!" ||
      device.AcceptedImage() != image) {
    std::fprintf(stderr, "the update did not complete: %s\n",
                 w.messageBoxes.empty() ? "wrong image" : ToUtf8(w.messageBoxes[0].text).c_str());
    return 1;
  }

  const size_t programBytes = line.ReceivedCount();
  const size_t echoBytes = programBytes;
  const size_t deviceBytes = line.SentToProgram().size() - echoBytes;
  const size_t wireBytes = programBytes + deviceBytes;
  const double limit = static_cast<double>(wireBytes) * 10.0 / baud;
  const double ratio = measured / limit;

  std::printf("image:            %zu records, %zu bytes\n", kRecords, image.size());
  std::printf("line rate:        %u baud, 10 bits per byte\n", baud);
  std::printf("program -> wire:  %zu bytes (handshake command + records)\n", programBytes);
  std::printf("device -> wire:   %zu bytes (handshake reply + verdicts)\n", deviceBytes);
  std::printf("echo (not counted, same transmission): %zu bytes\n", echoBytes);
  std::printf("line-time limit:  %.3f s\n", limit);
  std::printf("measured:         %.3f s\n", measured);
  std::printf("ratio:            %.4f (goal < %.2f: %s)\n", ratio, kGoalRatio,
              ratio < kGoalRatio ? "met" : "missed");
  std::printf("overhead:         %.3f ms per record\n", (measured - limit) * 1000.0 / kRecords);
  return 0;
}
