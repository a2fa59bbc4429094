// The update job in the window: choose and load a file, stop the link
// monitor, hold the file, run the record transfer (update/RecordTransfer.h)
// with the progress shown after every record, and show how it ended.

#include <algorithm>
#include <memory>
#include <string>

#include "link/LinkProbe.h"
#include "link/Protocol.h"
#include "serial/PortLayer.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"
#include "update/LockedFile.h"
#include "update/RecordTransfer.h"
#include "update/UpdateImage.h"
#include "update/UpdateMessages.h"

namespace quorvel {

using namespace protocol;

namespace {

constexpr char16_t kFilterModel1[] = u"Config Files (*.kyc)|*.kyc|All Files (*.*)|*.*||";
constexpr char16_t kFilterModel2[] = u"Config Files (*.pkc)|*.pkc|All Files (*.*)|*.*||";
// What the desktop shows for the program while a job holds the session end.
constexpr char16_t kSessionHoldReason[] =
    u"A device's firmware is being updated. Ending the session now would leave the device "
    u"without a complete firmware image.";

// Shows the progress text and keeps the window alive after every record.
class WindowProgress final : public TransferObserver {
 public:
  explicit WindowProgress(CQuorvelDlg& dlg) : m_dlg(dlg) {}

  void OnProgress(uint32_t percent) override {
    m_dlg.GetWindow()->SetDlgItemText(IDC_STATUS_EDIT,
                                m_dlg.m_strTransferring + u" " + DecimalText(percent) + u"%");
    m_dlg.GetWindow()->UpdateWindow();
  }
  void KeepAlive() override { m_dlg.PumpMessages(); }
  void OnVerdict(uint32_t offset, uint32_t size, uint8_t verdict) override {
    if (!m_dlg.m_env.trace) return;
    const char* meaning = verdict == kRecordAccepted   ? "accepted"
                          : verdict == kRecordCrcError ? "check failed"
                                                       : "send again";
    m_dlg.m_env.trace("record at byte " + std::to_string(offset) + " (" + std::to_string(size) +
                      " bytes): verdict 0x" + ToUtf8(HexByteText(verdict)) + ", " + meaning);
  }

 private:
  CQuorvelDlg& m_dlg;
};

}  // namespace

void CQuorvelDlg::OnUpdateClicked() {
  // A click that arrives through the job's own message pump.
  if (m_jobRunning) return;
  if (m_model == kModel1) RunUpdateModel1();
  else if (m_model == kModel2) RunUpdateModel2();
}

Text CQuorvelDlg::ChooseUpdateFile(int32_t model) {
  return m_wnd->ChooseFile(model == kModel1 ? kFilterModel1 : kFilterModel2);
}

void CQuorvelDlg::RunUpdateModel1() { RunUpdate(kModel1); }

void CQuorvelDlg::RunUpdateModel2() { RunUpdate(kModel2); }

void CQuorvelDlg::PumpMessages() { m_wnd->PumpWaitingMessage(); }

void CQuorvelDlg::LockControlsForJob(bool locked) {
  m_jobRunning = locked;
  m_wnd->EnableDlgItem(IDC_UPDATE, !locked);
  m_wnd->EnableDlgItem(IDC_MODEL1_RADIO, !locked);
  m_wnd->EnableDlgItem(IDC_MODEL2_RADIO, !locked);
  // The menu's own loop would hold the job up while it is open.
  m_wnd->EnableSystemMenu(!locked);
  // A logoff or shutdown would cut the transfer short.
  m_wnd->HoldSessionEnd(locked ? kSessionHoldReason : Text());
}

void CQuorvelDlg::ShowJobEnd(UpdateResult result) {
  Trace("update ended: " + ToUtf8(UpdateMessage(result)));
  // Nothing is sent any more: the session may end while the box waits.
  m_wnd->HoldSessionEnd(Text());
  m_wnd->MessageBox(UpdateMessage(result), IsRefusal(result) ? MbIcon::Stop : MbIcon::None);
}

void CQuorvelDlg::RunUpdate(int32_t model) {
  if (m_jobRunning) return;

  if (m_linkState == kNoAdapterPort) {
    ShowJobEnd(UpdateResult::NoAdapter);
    return;
  }
  if (m_linkState == kDeviceSilent) {
    ShowJobEnd(UpdateResult::NoDevice);
    return;
  }
  if (m_linkState != kDeviceReady) return;

  const Text path = ChooseUpdateFile(model);
  // "All Files" lets any name through; a file named for the other model
  // is refused before it is read, let alone sent.
  if (IsOtherModelsFile(path, model)) {
    m_wnd->MessageBox(OtherModelsFileMessage(model), MbIcon::Stop);
    return;
  }
  // The image belongs to this job alone; it is too big for the stack.
  const auto image = std::make_unique<UpdateImage>();
  const ImageLoadResult loaded = LoadUpdateImage(path, *image);
  if (loaded != ImageLoadResult::Loaded) {
    m_wnd->MessageBox(UpdateMessage(loaded), MbIcon::Stop);
    return;
  }

  m_wnd->SetDlgItemText(IDC_STATUS_EDIT, u" ");
  m_wnd->KillTimer(kLinkTimerId);
  LockControlsForJob(true);
  // Every wait of the job keeps the window painted and answering the
  // desktop; input waits for the job's message pump or its end.
  m_link.whileWaiting = [this] { m_wnd->KeepResponsive(); };

  // Every end from here on: controls back, then a close that was asked for
  // meanwhile.
  const auto endJob = [this] {
    m_link.whileWaiting = nullptr;
    LockControlsForJob(false);
    if (m_closePending) {
      m_closePending = false;
      CDialogEx::OnCancel();
    }
  };

  // The monitor restarts after these two refusals as after every other end,
  // so the lamps follow the port again (a purge fails on a port that is gone).
  if (!m_link.PurgePort()) {
    ShowJobEnd(UpdateResult::PurgeFailed);
    m_wnd->SetTimer(kLinkTimerId, kMonitorPeriodMs);
    endJob();
    return;
  }
  LockedFile heldFile;
  if (!heldFile.Open(path)) {
    ShowJobEnd(UpdateResult::FileHoldFailed);
    m_wnd->SetTimer(kLinkTimerId, kMonitorPeriodMs);
    endJob();
    return;
  }

  Trace("update from " + ToUtf8(path) + ": " + std::to_string(image->count) +
        " bytes; handshake");
  UpdateResult result = RunHandshake(m_link, model);
  if (result == UpdateResult::Completed) {
    Trace("handshake done; sending the records");
    WindowProgress progress(*this);
    result = SendRecords(m_link, *image, progress);
  }

  if (result != UpdateResult::Completed) {
    m_link.ClosePort();
    ShowJobEnd(result);
    m_wnd->SetTimer(kLinkTimerId, kMonitorPeriodMs);
    heldFile.Close();
    endJob();
    return;
  }

  heldFile.Close();
  Trace("update completed");
  m_wnd->SetDlgItemText(IDC_STATUS_EDIT, m_strSuccessful);
  m_wnd->UpdateWindow();
  // One second without taking input before the monitor resumes; slept in
  // short steps that keep the window painted and answering, so the second
  // costs no processor time and the desktop sees no hang.
  if (m_env.pauseMs) {
    m_env.pauseMs(kPauseAfterUpdateMs);
  } else {
    const uint64_t end = MonotonicMs() + kPauseAfterUpdateMs;
    for (uint64_t now = MonotonicMs(); now < end; now = MonotonicMs()) {
      SleepMs(static_cast<uint32_t>(std::min<uint64_t>(kWaitHookPeriodMs, end - now)));
      m_wnd->KeepResponsive();
    }
  }
  m_refreshVersion = 1;
  m_wnd->SetTimer(kLinkTimerId, kMonitorPeriodMs);
  endJob();
}

}  // namespace quorvel
