#pragma once
// The station window's model: a tile per port of a running station, fed the
// station's --json lines (quorvel-flash station --json), with the totals,
// the devices per hour and the time running. The texts of the update come
// from the program's table and the lines; the station's own labels are
// English, or Japanese where the language switch selects the language file.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/WideText.h"
#include "ui/Environment.h"

namespace quorvel {

struct SSerInfo;

// The station's own labels and the update texts the tiles show.
struct StationLabels {
  Text caption;         // "Update Station"
  Text waiting;         // "Waiting for a device"
  Text remove;          // "Remove the device"
  Text stopped;         // "Stopped"
  Text counts;          // "pass %1  fail %2"
  Text model;           // "Model"
  Text file;            // "File"
  Text log;             // "Log"
  Text totals;          // "Passed %1  Failed %2"
  Text perHour;         // "%1 devices/h"
  Text running;         // "Running %1"
  Text stop;            // "Stop"
  Text start;           // "Start"
  Text browse;          // "Browse..."
  Text confirmStop;     // asked while transfers are in progress
  Text stopping;        // shown while they end
  Text ended;           // the station has ended
  Text transferring;    // the program's own "Transferring.."
};

// Reads the language switch as the window program does; a label the
// language file lacks stays English.
StationLabels LoadStationLabels(const Environment& env);

enum class TileState { Waiting, Device, Flashing, Pass, Fail };

struct StationTile {
  std::string port;         // as the station names it: "/dev/ttyUSB0"
  Text serial;              // the adapter's USB serial number, may be empty
  TileState state = TileState::Waiting;
  Text version;             // the device's: before its update, after it on PASS
  int progress = 0;         // whole percent while flashing
  bool sending = false;     // records on the way (not the handshake before them)
  Text reason;              // FAIL: the program's text of why
  bool removeDevice = false;  // PASS or FAIL held until the device is gone
  bool stopped = false;       // the slot has ended
  Text stopReason;            // why, when not on a stop asked for
  int passed = 0;
  int failed = 0;
};

// The port as a person names it: "ttyUSB0" for "/dev/ttyUSB0", "pts/3" for
// "/dev/pts/3", the file's name elsewhere.
Text PortLabel(const std::string& port);

// The USB serial number of the adapter behind `port` in `ports`, empty when
// it is not there.
Text AdapterSerialOf(const std::vector<SSerInfo>& ports, const std::string& port);

class StationModel {
 public:
  // `serialOf` names the adapter of a port when its tile is added; null:
  // none is named.
  StationModel(StationLabels labels, uint64_t startMs,
               std::function<Text(const std::string& port)> serialOf = nullptr);

  // Takes one line of the station; returns the index of the tile it
  // changed or added, or nothing (a note for no port, or no line of the
  // station's).
  std::optional<size_t> Feed(std::string_view line);

  const std::vector<StationTile>& Tiles() const { return m_tiles; }
  const StationLabels& Labels() const { return m_labels; }
  int Passed() const;
  int Failed() const;
  // Records are on the way to a device: a stop lets them end. (A stop
  // during the handshake before them ends it with nothing sent.)
  bool Transferring() const;
  // The last note of the station that named no port ("No adapter: ..."),
  // until a tile is added.
  const Text& Note() const { return m_note; }

  double DevicesPerHour(uint64_t nowMs) const;
  // "1:02:03".
  Text RunningTime(uint64_t nowMs) const;
  Text TotalsText(uint64_t nowMs) const;

  // The large state text: "Waiting for a device", "P1.05.12",
  // "Transferring.. 37%", "PASS", "FAIL".
  Text StateText(const StationTile& tile) const;
  // Beneath it: the new version, the reason, "Remove the device", "Stopped".
  Text DetailText(const StationTile& tile) const;
  Text CountsText(const StationTile& tile) const;
  // For assistive technology: "ttyUSB0: PASS, P1.06.00".
  Text AccessibleName(const StationTile& tile) const;

 private:
  StationTile& TileFor(const std::string& port, size_t& index);
  std::vector<Text> DetailParts(const StationTile& tile) const;

  StationLabels m_labels;
  uint64_t m_startMs;
  std::function<Text(const std::string&)> m_serialOf;
  std::vector<StationTile> m_tiles;
  Text m_note;
};

}  // namespace quorvel
