#include "ui/StationModel.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "base/ProfileFile.h"
#include "serial/PortList.h"
#include "ui/LanguageSwitch.h"
#include "ui/LocalisedTexts.h"

namespace quorvel {

namespace {

struct LabelEntry {
  Text StationLabels::*field;
  const char16_t* iniKey;
  const char16_t* english;
};

constexpr LabelEntry kLabels[] = {
    {&StationLabels::caption, u"ST_CAPTION", u"Update Station"},
    {&StationLabels::waiting, u"ST_WAITING", u"Waiting for a device"},
    {&StationLabels::remove, u"ST_REMOVE", u"Remove the device"},
    {&StationLabels::stopped, u"ST_STOPPED", u"Stopped"},
    {&StationLabels::counts, u"ST_COUNTS", u"pass %1  fail %2"},
    {&StationLabels::model, u"ST_MODEL", u"Model"},
    {&StationLabels::file, u"ST_FILE", u"File"},
    {&StationLabels::log, u"ST_LOG", u"Log"},
    {&StationLabels::totals, u"ST_TOTALS", u"Passed %1  Failed %2"},
    {&StationLabels::perHour, u"ST_PERHOUR", u"%1 devices/h"},
    {&StationLabels::running, u"ST_RUNNING", u"Running %1"},
    {&StationLabels::stop, u"ST_STOP", u"Stop"},
    {&StationLabels::start, u"ST_START", u"Start"},
    {&StationLabels::browse, u"ST_BROWSE", u"Browse..."},
    {&StationLabels::confirmStop, u"ST_CONFIRM",
     u"Devices are being flashed. Stop once their transfers have ended?"},
    {&StationLabels::stopping, u"ST_STOPPING", u"Stopping: the transfers in progress end first"},
    {&StationLabels::ended, u"ST_ENDED", u"The station has stopped"},
};

constexpr size_t kValueCapacity = 260;

Text Replace(Text text, std::u16string_view mark, const Text& value) {
  const size_t at = text.find(mark);
  if (at != Text::npos) text.replace(at, mark.size(), value);
  return text;
}

Text Decimal(long long value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld", value);
  return FromUtf8(buf);
}

// One flat JSON object of the station: string, number and null values.
// Strings come back as UTF-8, numbers as their text, null as absent.
bool ParseFlatObject(std::string_view s, std::map<std::string, std::string>& out) {
  size_t i = 0;
  const auto blanks = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
  };
  const auto hex4 = [&](uint32_t& v) {
    if (i + 4 > s.size()) return false;
    v = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s[i++];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') v |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v |= static_cast<uint32_t>(c - 'A' + 10);
      else return false;
    }
    return true;
  };
  const auto string = [&](std::string& value) {
    if (i >= s.size() || s[i] != '"') return false;
    ++i;
    Text text;
    while (i < s.size() && s[i] != '"') {
      if (s[i] != '\\') {
        size_t end = i;
        while (end < s.size() && s[end] != '"' && s[end] != '\\') ++end;
        text += FromUtf8(s.substr(i, end - i));
        i = end;
        continue;
      }
      if (++i >= s.size()) return false;
      const char c = s[i++];
      switch (c) {
        case 'n': text += u'\n'; break;
        case 't': text += u'\t'; break;
        case 'r': text += u'\r'; break;
        case 'b': text += u'\b'; break;
        case 'f': text += u'\f'; break;
        case 'u': {
          uint32_t v = 0;
          if (!hex4(v)) return false;
          text += static_cast<char16_t>(v);
          break;
        }
        default: text += static_cast<char16_t>(c);
      }
    }
    if (i >= s.size()) return false;
    ++i;
    value = ToUtf8(text);
    return true;
  };
  blanks();
  if (i >= s.size() || s[i++] != '{') return false;
  blanks();
  if (i < s.size() && s[i] == '}') return true;
  for (;;) {
    blanks();
    std::string key, value;
    if (!string(key)) return false;
    blanks();
    if (i >= s.size() || s[i++] != ':') return false;
    blanks();
    if (i < s.size() && s[i] == '"') {
      if (!string(value)) return false;
      out[key] = value;
    } else {
      const size_t start = i;
      while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ' ') ++i;
      const std::string_view token = s.substr(start, i - start);
      if (token.empty()) return false;
      if (token != "null") out[key] = std::string(token);
    }
    blanks();
    if (i >= s.size()) return false;
    if (s[i] == '}') return true;
    if (s[i++] != ',') return false;
  }
}

}  // namespace

StationLabels LoadStationLabels(const Environment& env) {
  StationLabels labels;
  const std::optional<Text> language =
      env.languageSwitch ? env.languageSwitch() : ReadLanguageSwitch(env.languageSwitchPath);
  std::optional<ProfileFile> file;
  if (SelectsLanguageFile(language)) file = ProfileFile::Load(LanguageFilePath(env.programPath));
  for (const LabelEntry& entry : kLabels) {
    labels.*entry.field =
        file ? file->GetString(u"Lab", entry.iniKey, entry.english, kValueCapacity) : Text(entry.english);
  }
  // The progress text is the window program's own, in its language.
  labels.transferring = LoadTexts(env).m_strTransferring;
  return labels;
}

Text PortLabel(const std::string& port) {
  constexpr std::string_view kDev = "/dev/";
  if (port.starts_with(kDev)) return FromUtf8(std::string_view(port).substr(kDev.size()));
  const size_t slash = port.rfind('/');
  return FromUtf8(slash == std::string::npos ? port : port.substr(slash + 1));
}

Text AdapterSerialOf(const std::vector<SSerInfo>& ports, const std::string& port) {
  const Text name = PortLabel(port);
  for (const SSerInfo& p : ports) {
    if (p.name == name) return p.serialNumber;
  }
  return {};
}

StationModel::StationModel(StationLabels labels, uint64_t startMs,
                           std::function<Text(const std::string&)> serialOf)
    : m_labels(std::move(labels)), m_startMs(startMs), m_serialOf(std::move(serialOf)) {}

StationTile& StationModel::TileFor(const std::string& port, size_t& index) {
  for (index = 0; index < m_tiles.size(); ++index) {
    if (m_tiles[index].port == port) return m_tiles[index];
  }
  // A new slot: the note that there was no adapter is over.
  m_note.clear();
  StationTile& tile = m_tiles.emplace_back();
  tile.port = port;
  if (m_serialOf) tile.serial = m_serialOf(port);
  return tile;
}

std::optional<size_t> StationModel::Feed(std::string_view line) {
  std::map<std::string, std::string> f;
  if (!ParseFlatObject(line, f) || !f.contains("state")) return std::nullopt;
  const std::string& state = f["state"];
  if (!f.contains("port")) {
    if (f.contains("message")) m_note = FromUtf8(f["message"]);
    return std::nullopt;
  }
  size_t index = 0;
  StationTile& tile = TileFor(f["port"], index);
  const Text version = FromUtf8(f["version"]);
  tile.sending = state == "transferring";
  if (state == "waiting") {
    // A new device, or a slot that starts again on a returned adapter.
    tile.state = TileState::Waiting;
    tile.removeDevice = false;
    tile.stopped = false;
    tile.reason.clear();
    tile.version.clear();
  } else if (state == "ready") {
    tile.state = TileState::Device;
    tile.version = version;
  } else if (state == "handshake" || state == "transferring") {
    tile.state = TileState::Flashing;
    tile.progress = f.contains("progress") ? static_cast<int>(std::strtol(f["progress"].c_str(), nullptr, 10)) : 0;
  } else if (state == "done") {
    if (f["result"] == "success") {
      tile.state = TileState::Pass;
      if (!version.empty()) tile.version = version;
      ++tile.passed;
    } else {
      tile.state = TileState::Fail;
      tile.reason = FromUtf8(f["message"]);
      ++tile.failed;
    }
  } else if (state == "remove") {
    tile.removeDevice = true;
  } else if (state == "ended") {
    tile.stopped = true;
    tile.stopReason = f["result"] == "interrupted" ? Text() : FromUtf8(f["message"]);
  }
  return index;
}

int StationModel::Passed() const {
  int n = 0;
  for (const StationTile& t : m_tiles) n += t.passed;
  return n;
}

int StationModel::Failed() const {
  int n = 0;
  for (const StationTile& t : m_tiles) n += t.failed;
  return n;
}

bool StationModel::Transferring() const {
  for (const StationTile& t : m_tiles) {
    if (t.sending && !t.stopped) return true;
  }
  return false;
}

double StationModel::DevicesPerHour(uint64_t nowMs) const {
  const uint64_t elapsed = nowMs > m_startMs ? nowMs - m_startMs : 0;
  return elapsed > 0 ? Passed() * 3600000.0 / static_cast<double>(elapsed) : 0.0;
}

Text StationModel::RunningTime(uint64_t nowMs) const {
  const uint64_t s = (nowMs > m_startMs ? nowMs - m_startMs : 0) / 1000u;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600u),
                static_cast<unsigned long long>(s / 60u % 60u), static_cast<unsigned long long>(s % 60u));
  return FromUtf8(buf);
}

Text StationModel::TotalsText(uint64_t nowMs) const {
  Text totals = Replace(Replace(m_labels.totals, u"%1", Decimal(Passed())), u"%2", Decimal(Failed()));
  totals += u"   " + Replace(m_labels.perHour, u"%1", Decimal(std::llround(DevicesPerHour(nowMs))));
  return totals + u"   " + Replace(m_labels.running, u"%1", RunningTime(nowMs));
}

Text StationModel::StateText(const StationTile& tile) const {
  switch (tile.state) {
    case TileState::Waiting: return tile.stopped ? m_labels.stopped : m_labels.waiting;
    case TileState::Device: return tile.version;
    case TileState::Flashing: return m_labels.transferring + u" " + Decimal(tile.progress) + u"%";
    case TileState::Pass: return u"PASS";
    case TileState::Fail: return u"FAIL";
  }
  return {};
}

std::vector<Text> StationModel::DetailParts(const StationTile& tile) const {
  std::vector<Text> parts;
  const auto add = [&parts](const Text& part) {
    if (!part.empty()) parts.push_back(part);
  };
  add(tile.state == TileState::Pass ? tile.version : tile.state == TileState::Fail ? tile.reason : Text());
  if (tile.stopped) {
    if (tile.state != TileState::Waiting) add(m_labels.stopped);
    add(tile.stopReason);
  } else if (tile.removeDevice) {
    add(m_labels.remove);
  }
  return parts;
}

Text StationModel::DetailText(const StationTile& tile) const {
  Text detail;
  for (const Text& part : DetailParts(tile)) detail += (detail.empty() ? u"" : u"\n") + part;
  return detail;
}

Text StationModel::CountsText(const StationTile& tile) const {
  return Replace(Replace(m_labels.counts, u"%1", Decimal(tile.passed)), u"%2", Decimal(tile.failed));
}

Text StationModel::AccessibleName(const StationTile& tile) const {
  Text name = PortLabel(tile.port) + u": " + StateText(tile);
  for (const Text& part : DetailParts(tile)) name += u", " + part;
  return name;
}

}  // namespace quorvel
