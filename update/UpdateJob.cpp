// The two update jobs: choose and decode a file, stop the link monitor, run
// the model's handshake, then send the image record by record with echo,
// verdict and resends, showing the progress after every record.

#include <memory>

#include "link/Protocol.h"
#include "serial/PortLayer.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"
#include "update/LockedFile.h"
#include "update/UpdateImage.h"

namespace quorvel {

using namespace protocol;

namespace {

constexpr char16_t kFilterModel1[] = u"Config Files (*.kyc)|*.kyc|All Files (*.*)|*.*||";
constexpr char16_t kFilterModel2[] = u"Config Files (*.pkc)|*.pkc|All Files (*.*)|*.*||";

constexpr char16_t kMsgNoAdapter[] = u"USB Connection Error!";
constexpr char16_t kMsgNoDevice[] = u"DEVICE Connection Error!";
constexpr char16_t kMsgPurgeFailed[] = u"串口缓存清空失败!";
constexpr char16_t kMsgHoldFailed[] = u"读取文件失败!";
constexpr char16_t kMsgTimeoutD6[] = u"Update Error: TX=0xD6, TX Timeover!";
constexpr char16_t kMsgTimeoutD7[] = u"Update Error: TX=0xD7, TX Timeover!";
constexpr char16_t kMsgTransferError[] = u"Update Error: Data transfer error!";
constexpr char16_t kMsgCrcError[] = u"Update Error: Data transfer crc error!";
constexpr char16_t kMsgTooManyResends[] = u"Update Error: repeat Data transfer over four time!";
constexpr char16_t kMsgNoVerdict[] = u"Update Error: No reply from device!";

// One phase of a handshake: a command sent up to kHandshakeAttempts times,
// each followed by a one-byte reply wait.
struct HandshakePhase {
  uint8_t command;
  // True: every attempt is made and the replies are ignored.
  bool allAttempts;
  // With allAttempts false: the phase also passes when no byte came but the
  // receive buffer's first byte holds this value.
  uint8_t passByte;
  const char16_t* sendFailedText;
  const char16_t* noReplyText;
};

// Runs one phase; false with `errorText` set when it fails.
bool RunPhase(SerialLink& link, const HandshakePhase& phase, Text& errorText) {
  for (int attempt = 0; attempt < kHandshakeAttempts; ++attempt) {
    if (!link.SendCommand(phase.command)) {
      errorText = phase.sendFailedText;
      return false;
    }
    const bool replied = link.ReadBytes(1, link.rxBuf, kHandshakeReplyWaitMs);
    if (phase.allAttempts) continue;
    if (replied || link.rxBuf[0] == phase.passByte) return true;
  }
  if (phase.allAttempts) return true;
  errorText = phase.noReplyText;
  return false;
}

// Progress in whole percent, truncated, in 32-bit unsigned arithmetic.
uint32_t Percent(uint32_t confirmed, uint32_t count) { return confirmed * 100u / count; }

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

void CQuorvelDlg::RunUpdateModel1() { RunUpdate(kModel1, &CQuorvelDlg::HandshakeModel1); }

void CQuorvelDlg::RunUpdateModel2() { RunUpdate(kModel2, &CQuorvelDlg::HandshakeModel2); }

void CQuorvelDlg::PumpMessages() { m_wnd->PumpWaitingMessage(); }

bool CQuorvelDlg::HandshakeModel2(Text& errorText) {
  return RunPhase(m_link, {kUpdateStart, false, kReadyForRecords, kMsgTimeoutD7, kMsgTimeoutD7},
                  errorText);
}

bool CQuorvelDlg::HandshakeModel1(Text& errorText) {
  static constexpr HandshakePhase kPhases[] = {
      {kUpdateStart, true, 0, kMsgTimeoutD6, kMsgTimeoutD6},
      {kUpdateStep2, false, kStep2Answer, kMsgTimeoutD7, kMsgTimeoutD7},
      {kUpdateStart, true, 0, kMsgTimeoutD6, kMsgTimeoutD6},
      {kUpdateStart, false, kReadyForRecords, kMsgTimeoutD7, kMsgTimeoutD7},
  };
  for (const HandshakePhase& phase : kPhases) {
    if (!RunPhase(m_link, phase, errorText)) return false;
  }
  return true;
}

void CQuorvelDlg::LockControlsForJob(bool locked) {
  m_jobRunning = locked;
  m_wnd->EnableDlgItem(IDC_UPDATE, !locked);
  m_wnd->EnableDlgItem(IDC_MODEL1_RADIO, !locked);
  m_wnd->EnableDlgItem(IDC_MODEL2_RADIO, !locked);
}

void CQuorvelDlg::RunUpdate(int32_t model, bool (CQuorvelDlg::*handshake)(Text& errorText)) {
  if (m_jobRunning) return;

  if (m_linkState == 0) {
    m_wnd->MessageBox(kMsgNoAdapter, MbIcon::Stop);
    return;
  }
  if (m_linkState == 1) {
    m_wnd->MessageBox(kMsgNoDevice, MbIcon::Stop);
    return;
  }
  if (m_linkState != 2) return;

  const Text path = ChooseUpdateFile(model);
  // The image belongs to this job alone; it is too big for the stack.
  const auto image = std::make_unique<UpdateImage>();
  const ImageLoadResult loaded = LoadUpdateImage(path, *image);
  if (loaded != ImageLoadResult::Loaded) {
    m_wnd->MessageBox(ImageLoadMessage(loaded), MbIcon::Stop);
    return;
  }

  m_wnd->SetDlgItemText(IDC_STATUS_EDIT, u" ");
  m_wnd->KillTimer(1);
  LockControlsForJob(true);

  // Every end from here on: controls back, then a close that was asked for
  // meanwhile.
  const auto endJob = [this] {
    LockControlsForJob(false);
    if (m_closePending) {
      m_closePending = false;
      CDialogEx::OnCancel();
    }
  };

  // The monitor stays stopped after these two refusals; a model selection
  // starts it again.
  if (!m_link.PurgePort()) {
    m_wnd->MessageBox(kMsgPurgeFailed, MbIcon::Stop);
    endJob();
    return;
  }
  LockedFile heldFile;
  if (!heldFile.Open(path)) {
    m_wnd->MessageBox(kMsgHoldFailed, MbIcon::Stop);
    endJob();
    return;
  }

  Text errorText;
  bool sent = (this->*handshake)(errorText);

  if (sent) {
    // The load checked the record chain, so every record has a high length
    // byte of 0 and lies wholly within the image: its write count equals
    // its size and the walk ends exactly at image->count.
    uint8_t echo[255];
    uint32_t position = 0;
    uint32_t confirmed = 0;
    uint32_t resends = 0;
    while (position < image->count) {
      const uint8_t* record = image->bytes + position;
      const uint32_t recordSize = 256u * record[0] + record[1] + 2u;
      const auto n = static_cast<uint8_t>(recordSize % 256u);

      // The echo goes into a buffer of its own, so a resend sends the
      // file's bytes, not what came back.
      if (!m_link.WriteBytes(n, record) ||
          (m_link.skipEcho == 0 && !m_link.ReadBytes(n, echo, kRecordEchoWaitMs))) {
        errorText = kMsgTransferError;
        sent = false;
        break;
      }

      bool verdictCame = false;
      for (int read = 0; read < kVerdictReads && !verdictCame; ++read) {
        verdictCame = m_link.ReadBytes(1, m_link.rxBuf, kVerdictWaitMs);
      }
      if (!verdictCame) {
        errorText = kMsgNoVerdict;
        sent = false;
        break;
      }

      uint32_t next = position;
      const uint8_t verdict = m_link.rxBuf[0];
      if (verdict == kRecordAccepted) {
        confirmed += recordSize;
        resends = 0;
        next = position + recordSize;
      } else if (verdict == kRecordCrcError) {
        errorText = kMsgCrcError;
        sent = false;
        break;
      } else if (++resends >= kMaxSendsPerRecord) {
        errorText = kMsgTooManyResends;
        sent = false;
        break;
      }

      m_wnd->SetDlgItemText(IDC_STATUS_EDIT, m_strTransferring + u" " +
                                                 DecimalText(Percent(confirmed, image->count)) +
                                                 u"%");
      m_wnd->UpdateWindow();
      PumpMessages();
      position = next;
    }
  }

  if (!sent) {
    m_link.ClosePort();
    m_wnd->MessageBox(errorText, MbIcon::None);
    m_wnd->SetTimer(1, kMonitorPeriodMs);
    heldFile.Close();
    endJob();
    return;
  }

  heldFile.Close();
  m_wnd->SetDlgItemText(IDC_STATUS_EDIT, m_strSuccessful);
  m_wnd->UpdateWindow();
  // One second without processing messages before the monitor resumes; a
  // sleep rather than a spin, so the second costs no processor time.
  if (m_env.pauseMs) {
    m_env.pauseMs(kPauseAfterUpdateMs);
  } else {
    SleepMs(kPauseAfterUpdateMs);
  }
  m_refreshVersion = 1;
  m_wnd->SetTimer(1, kMonitorPeriodMs);
  endJob();
}

}  // namespace quorvel
