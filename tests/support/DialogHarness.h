#pragma once
// The main dialog as the tests open it: an environment of the test's own (a
// directory, recorded pauses and file waits, no machine ports unless given),
// the headless window, and the dialog's state through DialogPeer.
//
//   test::DialogHarness h;                          // no ports
//   test::DialogHarness h(&fakePorts, line.DeviceDir());
//   h.w->Click(IDC_MODEL2_RADIO);
//   EXPECT_EQ(h.Peer().m_linkState, kNoAdapterPort);

#include <functional>
#include <memory>
#include <string>

#include "sim/TempDir.h"
#include "support/DialogPeer.h"
#include "support/HeadlessWindow.h"
#include "support/TestEnvironment.h"
#include "ui/QuorvelDlg.h"

namespace quorvel::test {

class DialogHarness {
 public:
  // `ports`: the port list, none at all when null. `deviceDir`: where port
  // names become device files, the harness's directory when empty.
  // `adjust`: anything else of the environment, before the dialog is built.
  explicit DialogHarness(PortPlatform* ports = nullptr, const std::string& deviceDir = "",
                         const std::function<void(Environment&)>& adjust = nullptr) {
    Environment e = env.Make(dir.Path().string(), ports);
    if (!deviceDir.empty()) e.deviceDir = deviceDir;
    if (adjust) adjust(e);
    dlg = std::make_unique<CQuorvelDlg>(ws, std::move(e));
    w = &ws.Open(*dlg);
  }

  test::DialogPeer Peer() { return test::DialogPeer(*dlg); }

  sim::TempDir dir;
  TestEnvironment env;
  HeadlessWindowSystem ws;
  std::unique_ptr<CQuorvelDlg> dlg;
  HeadlessWindow* w = nullptr;
};

}  // namespace quorvel::test
