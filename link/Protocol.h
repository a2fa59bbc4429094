#pragma once
// The byte protocol spoken with the device, in one place: line settings per
// model, command and answer bytes, reply lengths and every wait.

#include <cstdint>

#include "base/WideText.h"

namespace quorvel::protocol {

// The device model a window or a command works with.
enum DeviceModel : int32_t {
  kModelNone = 0,
  kModel1 = 1,  // "BRENIX"
  kModel2 = 2,  // "OLMAR I"
};

// The models as the window's buttons name them.
constexpr const char16_t* ModelName(int32_t model) {
  return model == kModel1 ? u"BRENIX" : u"OLMAR I";
}

constexpr uint32_t kBaudModel1 = 1200;
constexpr uint32_t kBaudModel2 = 19200;

// Commands.
constexpr uint8_t kProbeModel1 = 0xD5;
constexpr uint8_t kProbeModel2 = 0xD4;
constexpr uint8_t kVersionQuery = 0xD7;
constexpr uint8_t kUpdateStart = 0xD6;
constexpr uint8_t kUpdateStep2 = 0xD7;  // model 1 handshake, phase 2

// Answers.
constexpr uint8_t kModel1Present = 0x26;
constexpr uint8_t kModel2Present = 0xD6;
constexpr uint8_t kModel2PresentAlt = 0xBD;
constexpr uint8_t kReadyForRecords = 0xD7;
constexpr uint8_t kStep2Answer = 0xD8;
constexpr uint8_t kRecordAccepted = 0x11;
constexpr uint8_t kRecordCrcError = 0x12;

// Reply lengths.
constexpr uint8_t kProbeAnswerLenModel1 = 1;
constexpr uint8_t kProbeAnswerLenModel2 = 2;
constexpr uint8_t kVersionReplyLen = 7;

// Waits, in milliseconds.
constexpr uint32_t kProbeAnswerWaitModel1Ms = 100;
constexpr uint32_t kProbeAnswerWaitModel2Ms = 150;
constexpr uint32_t kVersionReplyWaitMs = 1000;
constexpr uint32_t kHandshakeReplyWaitMs = 1000;
constexpr uint32_t kRecordEchoWaitMs = 2000;
constexpr uint32_t kVerdictWaitMs = 2000;
constexpr int kVerdictReads = 6;
constexpr int kHandshakeAttempts = 4;
constexpr uint32_t kMaxSendsPerRecord = 4;
constexpr uint32_t kMonitorPeriodMs = 500;
constexpr uint32_t kPauseAfterUpdateMs = 1000;

// The line speed of a model: kBaudModel1 for kModel1, kBaudModel2 otherwise.
uint32_t BaudRate(int32_t model);

// The shown version text: model 1 "%02X.%02X.%02d" of bytes 2, 3, 5; any
// other model "P%1d.%02d.%02d" of (byte 2 + 64) mod 256, byte 3, byte 5.
Text FormatVersion(int32_t model, const uint8_t version[kVersionReplyLen]);

}  // namespace quorvel::protocol
