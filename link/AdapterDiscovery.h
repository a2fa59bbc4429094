#pragma once
// Finding the USB-to-serial adapter among the machine's serial ports and
// opening its port, for the link monitor of the window and for any other
// front end (a command-line flasher).
//
//   SerialLink link;
//   const AdapterSearch found = OpenAdapterPort(link, SystemPortPlatform(),
//                                               protocol::kModel2);
//   if (found.opened) ... link.hPort is open at 19200 baud on found.portName
//
// or, when the user names the port:
//
//   if (OpenNamedPort(link, u"ttyUSB0", protocol::kModel1)) ...

#include <cstddef>
#include <cstdint>

#include "base/WideText.h"
#include "serial/PortError.h"

namespace quorvel {

struct SerialLink;
class PortPlatform;

struct SSerInfo;

// True for the port of a USB device with the adapters' identifiers
// (vendor 0x10c4, product 0xea60; vendor 0x10c8, product 0xea61).
bool IsAdapter(const SSerInfo& port);

// What one search for the adapter found.
struct AdapterSearch {
  // A port was opened; link.hPort holds it.
  bool opened = false;
  // The name the port was opened by (its name in the port list).
  Text portName;
  // Adapter entries in the list, whether or not they could be opened.
  size_t adapters = 0;
  // Nothing opened though adapters are listed: why the first of them could
  // not be opened (no permission, held by another program ...).
  PortError openError;
  // The enumeration failed; nothing was opened. Its reason, for whoever
  // wants to show it (the window does not).
  bool listFailed = false;
  Text listError;
};

// Where a scan of the adapters starts, with an adapter named.
enum class ScanStart {
  AtIt,     // with that adapter, then those after it, then those before it
  AfterIt,  // with those after it, then those before it, and finally it
};

// Refreshes link.ports from `ports` and opens the first adapter, in list
// order, whose port opens at the baud rate of `model` (protocol::kModel1 or
// kModel2). With `adapter` naming an adapter's port, the scan starts there
// instead (`start`) and goes round the list, so that a caller can stay with
// an adapter or move on to the next (link/AdapterRotation.h). Nothing is
// opened while link.hPort is already open. Resets link.skipEcho for every
// adapter reached. Never throws.
AdapterSearch OpenAdapterPort(SerialLink& link, PortPlatform& ports, int32_t model,
                              const Text& adapter = Text(), ScanStart start = ScanStart::AfterIt);

// Opens the port the user named ("ttyUSB0"), looked up in link.deviceDir,
// at the baud rate of `model`.
// False, with the link closed, when it cannot be opened.
bool OpenNamedPort(SerialLink& link, const Text& portName, int32_t model);

}  // namespace quorvel
