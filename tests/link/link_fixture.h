#pragma once
// The main dialog in a headless window, wired to a simulated adapter (a
// pseudo-terminal named ttySIM0) that a fake sysfs lists as a USB adapter
// with the identifiers discovery looks for.

#include <gtest/gtest.h>

#include <memory>

#include "link/Protocol.h"
#include "serial/PortPlatform.h"
#include "sim/SimulatedDevice.h"
#include "sim/SimulatedLine.h"
#include "support/DialogHarness.h"
#include "support/FakeSysfs.h"
#include "support/HeadlessWindow.h"
#include "support/TestEnvironment.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"

namespace quorvel::test {

class LinkFixture {
 public:
  explicit LinkFixture(int32_t model, const char* vid = "10c4", const char* pid = "ea60")
      : device(line, model) {
    sysfs.AddUsbSerial("ttySIM0", vid, pid, std::string("USB to UART Bridge"),
                       std::string("0001"));
    platform = MakeSysfsPortPlatform(sysfs.RootString());
    h = std::make_unique<DialogHarness>(
        platform.get(), line.DeviceDir());
    dlg = h->dlg.get();
    w = h->w;
  }

  void SelectModel(int32_t model) {
    w->Click(model == protocol::kModel1 ? IDC_MODEL1_RADIO : IDC_MODEL2_RADIO);
  }

  // Ticks and then paints what the tick invalidated, as the window would.
  void TickAndPaint() {
    w->Tick();
    w->Paint();
  }

  size_t Invalidations() const { return w->invalidations.size(); }

  sim::SimulatedLine line;
  sim::SimulatedDevice device;
  FakeSysfs sysfs;
  std::unique_ptr<PortPlatform> platform;
  std::unique_ptr<DialogHarness> h;
  CQuorvelDlg* dlg = nullptr;
  HeadlessWindow* w = nullptr;
};

}  // namespace quorvel::test
