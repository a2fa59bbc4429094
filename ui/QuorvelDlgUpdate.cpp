// The update job in the window: choose a file and accept it
// (update/UpdateFile.h), stop the link monitor, run the transfer
// (update/RecordTransfer.h) with the progress shown after every record, and
// show how it ended.

#include <algorithm>
#include <functional>
#include <string>

#include "link/LinkProbe.h"
#include "link/Protocol.h"
#include "serial/PortLayer.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"
#include "ui/FileFilter.h"
#include "update/RecordTransfer.h"
#include "update/UpdateFile.h"
#include "update/UpdateMessages.h"

namespace quorvel {

using namespace protocol;

namespace {

// What the desktop shows for the program while a job holds the session end.
constexpr char16_t kSessionHoldReason[] =
    u"A device's firmware is being updated. Ending the session now would leave the device "
    u"without a complete firmware image.";

}  // namespace

// Shows the progress text and keeps the window alive after every record.
class CQuorvelDlg::JobProgress final : public TransferObserver {
 public:
  explicit JobProgress(CQuorvelDlg& dlg) : m_dlg(dlg) {}

  void OnProgress(uint32_t percent) override {
    m_dlg.GetWindow()->SetDlgItemText(
        IDC_STATUS_EDIT, m_dlg.m_texts.m_strTransferring + u" " + DecimalText(percent) + u"%");
    m_dlg.GetWindow()->UpdateWindow();
  }
  void KeepAlive() override { m_dlg.PumpMessages(); }
  void OnHandshakeDone() override {
    if (m_dlg.m_env.trace) m_dlg.m_env.trace("handshake done; sending the records");
  }
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

void CQuorvelDlg::OnUpdateClicked() {
  // A click that arrives through the job's own message pump.
  if (m_jobRunning) return;
  if (m_model == kModel1) RunUpdateModel1();
  else if (m_model == kModel2) RunUpdateModel2();
}

Text CQuorvelDlg::ChooseUpdateFile(DeviceModel model) {
  return m_wnd->ChooseFile(Text(UpdateFileFilter(model)));
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

void CQuorvelDlg::WaitResponsive(uint32_t ms, const std::function<void(uint32_t)>& hook) {
  if (hook) {
    hook(ms);
    return;
  }
  // Slept in short steps that keep the window painted and answering, so the
  // wait costs no processor time and the desktop sees no hang.
  const uint64_t end = MonotonicMs() + ms;
  for (uint64_t now = MonotonicMs(); now < end; now = MonotonicMs()) {
    SleepMs(static_cast<uint32_t>(std::min<uint64_t>(kWaitHookPeriodMs, end - now)));
    m_wnd->KeepResponsive();
  }
}

void CQuorvelDlg::RunUpdate(DeviceModel model) {
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
  // Held from its read to the end of the job.
  UpdateFile file =
      AcceptUpdateFile(path, model, [this](uint32_t ms) { WaitResponsive(ms, m_env.fileWaitMs); });
  if (!file.Accepted()) {
    m_wnd->MessageBox(file.Message(), MbIcon::Stop);
    return;
  }
  // The monitor ran behind the file dialog and the file's wait, and a click
  // that passed their modality may have changed the model meanwhile: the
  // file goes only to the device the job was started for, still answering.
  if (m_model != model) {
    m_wnd->MessageBox(OtherModelsFileMessage(m_model), MbIcon::Stop);
    return;
  }
  if (m_linkState != kDeviceReady) {
    ShowJobEnd(m_linkState == kNoAdapterPort ? UpdateResult::NoAdapter : UpdateResult::NoDevice);
    return;
  }

  m_wnd->SetDlgItemText(IDC_STATUS_EDIT, u" ");
  m_wnd->KillTimer(kLinkTimerId);
  LockControlsForJob(true);
  // Every wait of the job keeps the window painted and answering the
  // desktop; input waits for the job's message pump or its end.
  m_link.whileWaiting = [this] { m_wnd->KeepResponsive(); };

  Trace("update from " + ToUtf8(path) + ": " + std::to_string(file.image->count) +
        " bytes; handshake");
  JobProgress progress(*this);
  const UpdateResult result = quorvel::RunUpdate(m_link, file, progress);
  file.held.Close();
  m_link.whileWaiting = nullptr;

  if (result == UpdateResult::Completed) {
    Trace("update completed");
    m_wnd->SetDlgItemText(IDC_STATUS_EDIT, m_texts.m_strSuccessful);
    m_wnd->UpdateWindow();
    // One second without taking input before the monitor resumes. A
    // program that is asked to end has no monitor to resume.
    if (!(m_closePending && m_closeUnattended)) WaitResponsive(kPauseAfterUpdateMs, m_env.pauseMs);
    m_refreshVersion = 1;
  } else {
    // After a refusal (a port that could not be purged, a file that
    // changed) the port stays open; after a failure of the handshake or the
    // transfer it is closed, so that the monitor starts discovery again.
    if (!IsRefusal(result)) m_link.ClosePort();
  }
  EndJob(result);
}

void CQuorvelDlg::EndJob(UpdateResult result) {
  m_link.whileWaiting = nullptr;
  // The job no longer holds the port: a termination signal from here on,
  // while a box is open, ends the program at once.
  LockControlsForJob(false);
  if (m_closePending && m_closeUnattended) {
    const Text line =
        result == UpdateResult::Completed ? m_texts.m_strSuccessful : UpdateMessage(result);
    if (m_env.reportLine) m_env.reportLine(ToUtf8(line));
    m_closePending = false;
    CDialogEx::OnCancel();
    return;
  }
  if (result != UpdateResult::Completed) ShowJobEnd(result);
  // The monitor restarts after every end, the purge refusal included, so
  // the lamps follow the port again (a purge fails on a port that is gone).
  m_wnd->SetTimer(kLinkTimerId, kMonitorPeriodMs);
  // A close that was asked for meanwhile.
  if (m_closePending) {
    m_closePending = false;
    CDialogEx::OnCancel();
  }
}

}  // namespace quorvel
