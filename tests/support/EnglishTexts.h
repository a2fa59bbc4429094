#pragma once
// The texts a user reads in English, as the tests expect them: written out
// here once, never taken from the program under test.

#include "base/WideText.h"

namespace quorvel::test::english {

// The main dialog's thirteen texts, without a language file.
inline constexpr char16_t kCaption[] = u"Update Routine V1.1.1";
inline constexpr char16_t kSwVersionLabel[] = u"Device S/W Version";
inline constexpr char16_t kConnStatusLabel[] = u"Connection Status";
inline constexpr char16_t kDeviceLinkLabel[] = u"Device link";
inline constexpr char16_t kUpdateButton[] = u"Update";
inline constexpr char16_t kUsbStateLabel[] = u"USB Adapter State";
inline constexpr char16_t kDeviceStateLabel[] = u"Device State";
inline constexpr char16_t kHintNoAdapter[] =
    u"Connect your USB adaptor to PC, Red signal change to Green.";
inline constexpr char16_t kHintNoDevice[] =
    u"Connect your Device to USB adaptor, Red signal change to Green.";
inline constexpr char16_t kHintReady[] = u"You can update the software.";
inline constexpr char16_t kTransferring[] = u"Transferring..";
inline constexpr char16_t kSuccessful[] = u"Updated successfully!";
inline constexpr char16_t kDeviceSelect[] = u"Device Selection";

// How a job ends.
inline constexpr char16_t kTimeoutD6[] = u"Update Error: TX=0xD6, TX Timeover!";
inline constexpr char16_t kTimeoutD7[] = u"Update Error: TX=0xD7, TX Timeover!";
inline constexpr char16_t kTransferError[] = u"Update Error: Data transfer error!";
inline constexpr char16_t kCrcError[] = u"Update Error: Data transfer crc error!";
inline constexpr char16_t kTooManyResends[] = u"Update Error: repeat Data transfer over four time!";
inline constexpr char16_t kNoVerdict[] = u"Update Error: No reply from device!";
inline constexpr char16_t kFileChanging[] = u"The file is still being written!";

}  // namespace quorvel::test::english
