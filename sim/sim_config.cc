// The raidsim configuration file; see sim_config.h and sim/README.md.
#include "sim/sim_config.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "sim/pair_models.h"
#include "sim/sim_text.h"

namespace sim {

namespace {

enum class Section { kNone, kHost, kPair, kEnclosure, kDisk, kMegaRaid };

// FNV-1a of a name, for WWNs and serials that stay the same across runs.
uint64_t nameHash(const std::string& name) {
  uint64_t h = 1469598103934665603ULL;
  for (char c : name) h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ULL;
  return h;
}

std::string defaultSerial(const std::string& name) {
  char text[16];
  std::snprintf(text, sizeof(text), "SN%010llX",
                static_cast<unsigned long long>(nameHash(name) & 0xFFFFFFFFFFULL));
  return text;
}

bool validName(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
  });
}

bool parseBool(const std::string& text, bool* value) {
  std::string v = lowerCase(text);
  if (v == "yes" || v == "true" || v == "1" || v == "on") {
    *value = true;
  } else if (v == "no" || v == "false" || v == "0" || v == "off") {
    *value = false;
  } else {
    return false;
  }
  return true;
}

class Parser {
 public:
  explicit Parser(SimConfig* config) : config_(config) {}

  bool line(int number, std::string_view raw, std::string* error) {
    number_ = number;
    std::string_view text = trim(raw.substr(0, raw.find('#')));
    if (text.empty()) return true;
    if (text.front() == '[') return section(text, error);
    size_t equals = text.find('=');
    if (equals == std::string_view::npos) return fail("expected \"key = value\"", error);
    std::string key = lowerCase(trim(text.substr(0, equals)));
    std::string value(trim(text.substr(equals + 1)));
    if (value.empty()) return fail("empty value for \"" + key + "\"", error);
    switch (section_) {
      case Section::kNone:
        return fail("\"" + key + "\" outside a section", error);
      case Section::kHost:
        return hostKey(key, value, error);
      case Section::kPair:
        return pairKey(key, value, error);
      case Section::kEnclosure:
        return enclosureKey(key, value, error);
      case Section::kDisk:
        return diskKey(key, value, error);
      case Section::kMegaRaid:
        return megaRaidKey(key, value, error);
    }
    return true;
  }

  bool finish(std::string* error);

 private:
  bool fail(const std::string& what, std::string* error) {
    *error = "line " + std::to_string(number_) + ": " + what;
    return false;
  }

  bool section(std::string_view text, std::string* error) {
    if (text.back() != ']') return fail("section header without ']'", error);
    std::vector<std::string> words = splitWords(text.substr(1, text.size() - 2));
    if (words.size() != 2) return fail("section header must be \"[kind name]\"", error);
    const std::string kind = lowerCase(words[0]);
    const std::string& name = words[1];
    if (kind == "host") {
      int host = 0;
      if (!parseInRange(name, 0, 65535, &host)) return fail("host number must be 0-65535", error);
      section_ = Section::kHost;
      hostConfig(host);
      currentHost_ = host;
      return true;
    }
    if (!validName(name))
      return fail("name \"" + name + "\" may hold only letters, digits, '_', '-', '.'", error);
    if (!names_.insert(name).second) return fail("name \"" + name + "\" is used twice", error);
    if (kind == "pair") {
      section_ = Section::kPair;
      config_->pairs.emplace_back();
      config_->pairs.back().name = name;
      config_->pairs.back().wwn = 0x2000000000000000ULL | (nameHash(name) & 0xFFFFFFFFFFFFULL);
      claimedGiven_.emplace_back();
    } else if (kind == "enclosure") {
      section_ = Section::kEnclosure;
      config_->enclosures.emplace_back();
      SesConfig& ses = config_->enclosures.back().ses;
      ses.name = name;
      ses.identity = {
          0x0D,   "KESTROVA",          "SIM ENCLOSURE",
          "0100", defaultSerial(name), 0x5000000000000000ULL | (nameHash(name) & 0xFFFFFFFFFFFFULL),
          true};
    } else if (kind == "disk") {
      section_ = Section::kDisk;
      config_->disks.emplace_back();
      DiskConfig& disk = config_->disks.back().disk;
      disk.name = name;
      disk.identity = {
          0x00,   "KESTROVA",          "SIM DISK",
          "0100", defaultSerial(name), 0x5000C50000000000ULL | (nameHash(name) & 0xFFFFFFFFFFULL),
          false};
    } else if (kind == "megaraid") {
      section_ = Section::kMegaRaid;
      config_->megaraids.emplace_back();
      config_->megaraids.back().name = name;
    } else {
      return fail("unknown section kind \"" + kind + "\" (host, pair, enclosure, disk, megaraid)", error);
    }
    return true;
  }

  HostConfig& hostConfig(int host) {
    for (HostConfig& h : config_->hosts) {
      if (h.host == host) return h;
    }
    config_->hosts.push_back(HostConfig{host});
    return config_->hosts.back();
  }

  bool address(const std::string& text, SimAddress* out, std::string* error) {
    if (!parseSimAddress(text, out))
      return fail("address \"" + text + "\" must be host:bus:target:lun", error);
    hostConfig(out->host);
    return true;
  }

  bool number(const std::string& value, int64_t low, int64_t high, int* out, std::string* error) {
    if (!parseInRange(value, low, high, out)) {
      return fail("\"" + value + "\" must be a number " + std::to_string(low) + "-" + std::to_string(high),
                  error);
    }
    return true;
  }

  bool identityKey(const std::string& key, const std::string& value, SimIdentity* id, bool* handled,
                   std::string* error) {
    *handled = true;
    uint64_t wwn = 0;
    if (key == "vendor") {
      id->vendor = value.substr(0, 8);
    } else if (key == "product") {
      id->product = value.substr(0, 16);
    } else if (key == "revision") {
      id->revision = value.substr(0, 4);
    } else if (key == "serial") {
      id->serial = value.substr(0, 12);
    } else if (key == "wwn") {
      std::string digits = value.rfind("0x", 0) == 0 ? value : "0x" + value;
      if (!parseUnsigned(digits, &wwn)) return fail("wwn must be hexadecimal", error);
      id->wwn = wwn;
    } else {
      *handled = false;
    }
    return true;
  }

  bool hostKey(const std::string& key, const std::string& value, std::string* error);
  bool pairKey(const std::string& key, const std::string& value, std::string* error);
  bool pairPath(const std::string& value, PairConfig* pair, std::string* error);
  bool enclosureKey(const std::string& key, const std::string& value, std::string* error);
  bool diskKey(const std::string& key, const std::string& value, std::string* error);
  bool megaRaidKey(const std::string& key, const std::string& value, std::string* error);
  bool iscsiHostKey(const std::string& key, const std::string& value, HostConfig* host, std::string* error);
  bool finishMegaRaids(std::string* error);

  SimConfig* config_;
  Section section_ = Section::kNone;
  int number_ = 0;
  int currentHost_ = 0;
  std::set<std::string> names_;
  std::vector<std::vector<bool>> claimedGiven_;  // per pair, per path: claimed= was written
};

bool Parser::hostKey(const std::string& key, const std::string& value, std::string* error) {
  HostConfig& host = hostConfig(currentHost_);
  if (key == "initiator_id") return number(value, 0, 255, &host.initiatorId, error);
  if (key.rfind("iscsi_", 0) == 0 || key.rfind("chap_", 0) == 0) return iscsiHostKey(key, value, &host, error);
  if (key != "max_transfer_kb") return fail("unknown host key \"" + key + "\"", error);
  std::string v = lowerCase(value);
  host.limitFails = v == "fails";
  if (v == "unlimited") {
    host.maxPhysicalPages = 0xFFFFFFFFu;
  } else if (!host.limitFails) {
    int kb = 0;
    if (!number(value, 4, 4 * 1024 * 1024, &kb, error)) return false;
    host.maxPhysicalPages = static_cast<uint32_t>(kb / 4 + 1);
  }
  return true;
}

// The host as an iSCSI target: its name and the CHAP secrets initiators must know.
bool Parser::iscsiHostKey(const std::string& key, const std::string& value, HostConfig* host, std::string* error) {
  if (key == "iscsi_name") {
    if (!validIscsiName(value)) return fail("iscsi_name must be an iqn., eui. or naa. name of lower-case letters, digits, '.', '-' and ':'", error);
    host->iscsiName = value;
    return true;
  }
  std::string* field = key == "chap_user"            ? &host->chapUser
                       : key == "chap_secret"        ? &host->chapSecret
                       : key == "chap_target_user"   ? &host->chapTargetUser
                       : key == "chap_target_secret" ? &host->chapTargetSecret
                                                     : nullptr;
  if (field == nullptr) return fail("unknown host key \"" + key + "\"", error);
  bool printable = std::all_of(value.begin(), value.end(), [](char c) { return c > ' ' && c < 0x7F; });
  if (value.empty() || value.size() > 255 || !printable)
    return fail(key + " must be 1-255 printable characters without blanks", error);
  *field = value;
  return true;
}

bool Parser::pairPath(const std::string& value, PairConfig* pair, std::string* error) {
  std::vector<std::string> words = splitWords(value);
  if (words.size() < 2 || (words[0] != "A" && words[0] != "B")) {
    return fail("path must be \"A|B host:bus:target:lun [type=N] [claimed=yes|no]\"", error);
  }
  PairPath path;
  path.controller = words[0] == "A" ? 0 : 1;
  path.peripheralType = -1;  // the pair's type, settled in finish()
  SimAddress a;
  if (!address(words[1], &a, error)) return false;
  path.host = a.host, path.bus = a.bus, path.target = a.target, path.lun = a.lun;
  bool claimedGiven = false;
  for (size_t i = 2; i < words.size(); ++i) {
    if (words[i].rfind("type=", 0) == 0) {
      if (!number(words[i].substr(5), 0, 31, &path.peripheralType, error)) return false;
    } else if (words[i].rfind("claimed=", 0) == 0) {
      if (!parseBool(words[i].substr(8), &path.claimed)) return fail("claimed must be yes or no", error);
      claimedGiven = true;
    } else {
      return fail("unknown path option \"" + words[i] + "\"", error);
    }
  }
  pair->paths.push_back(path);
  claimedGiven_.back().push_back(claimedGiven);
  return true;
}

bool Parser::pairKey(const std::string& key, const std::string& value, std::string* error) {
  PairConfig& pair = config_->pairs.back();
  SimIdentity id{0, pair.vendor, pair.product, pair.revision, "", pair.wwn, false};
  bool handled = false;
  if (!identityKey(key, value, &id, &handled, error)) return false;
  if (handled) {
    pair.vendor = id.vendor, pair.product = id.product, pair.revision = id.revision, pair.wwn = id.wwn;
    return key != "serial" || fail("a pair has no serial (each controller derives its own)", error);
  }
  if (key == "path") return pairPath(value, &pair, error);
  if (key == "type") return number(value, 0, 31, &pair.peripheralType, error);
  if (key == "drives") return number(value, 0, 126, &pair.drives, error);
  if (key == "first_slot") return number(value, 0, 254, &pair.firstSlot, error);
  if (key == "battery") return number(value, 0, 100, &pair.batteryCharge, error);
  if (key == "enclosure") {
    pair.enclosure = value;
    return true;
  }
  if (key == "model") {
    if (!makePairModel(value)) return fail("unknown model \"" + value + "\"", error);
    pair.model = value;
    return true;
  }
  if (key == "drive_blocks") {
    if (!parseUnsigned(value, &pair.driveBlocks) || pair.driveBlocks == 0)
      return fail("bad drive_blocks", error);
    return true;
  }
  if (key.rfind("model.", 0) == 0 && key.size() > 6) {
    pair.modelOptions[key.substr(6)] = value;
    return true;
  }
  return fail("unknown pair key \"" + key + "\"", error);
}

bool Parser::enclosureKey(const std::string& key, const std::string& value, std::string* error) {
  EnclosureEntry& entry = config_->enclosures.back();
  bool handled = false;
  if (!identityKey(key, value, &entry.ses.identity, &handled, error)) return false;
  if (handled) return true;
  if (key == "slots") return number(value, 0, 255, &entry.ses.slots, error);
  if (key == "fans") return number(value, 0, 64, &entry.ses.fans, error);
  if (key == "power_supplies") return number(value, 0, 64, &entry.ses.powerSupplies, error);
  if (key == "temperature_sensors") return number(value, 0, 64, &entry.ses.temperatureSensors, error);
  if (key == "self_slot") return number(value, -1, 254, &entry.ses.selfSlot, error);
  if (key == "esis") return number(value, 0, 2, &entry.ses.esis, error);
  if (key == "esi_restart_ms") return number(value, 0, 600000, &entry.ses.esiRestartMs, error);
  if (key == "alarm") return parseBool(value, &entry.ses.alarm) || fail("alarm must be yes or no", error);
  if (key == "claimed") return parseBool(value, &entry.claimed) || fail("claimed must be yes or no", error);
  if (key == "path") {
    entry.hasPath = true;
    return address(value, &entry.address, error);
  }
  return fail("unknown enclosure key \"" + key + "\"", error);
}

bool Parser::diskKey(const std::string& key, const std::string& value, std::string* error) {
  DiskEntry& entry = config_->disks.back();
  bool handled = false;
  if (!identityKey(key, value, &entry.disk.identity, &handled, error)) return false;
  if (handled) return true;
  if (key == "path") return address(value, &entry.address, error);
  if (key == "claimed") return parseBool(value, &entry.claimed) || fail("claimed must be yes or no", error);
  if (key == "blocks") {
    if (!parseUnsigned(value, &entry.disk.blocks) || entry.disk.blocks == 0) return fail("bad blocks", error);
    return true;
  }
  if (key == "block_size") {
    int size = 0;
    if (!number(value, 512, 65536, &size, error)) return false;
    entry.disk.blockSize = static_cast<uint32_t>(size);
    return true;
  }
  return fail("unknown disk key \"" + key + "\"", error);
}

bool Parser::megaRaidKey(const std::string& key, const std::string& value, std::string* error) {
  MegaRaidConfig& mr = config_->megaraids.back();
  if (key == "id") return number(value, 0, 0xFFFFFF, &mr.id, error);
  if (key == "system_drives") return number(value, 0, 255, &mr.systemDrives, error);
  if (key == "enclosure_drives") return number(value, 0, 254, &mr.enclosureDrives, error);
  if (key == "enclosure") {
    mr.enclosure = value;
    return true;
  }
  if (key == "type") {
    std::string v = lowerCase(value);
    if (v != "megaraid" && v != "sas") return fail("type must be megaraid or sas", error);
    mr.sasItIr = v == "sas";
    return true;
  }
  if (key == "drive_blocks") {
    if (!parseUnsigned(value, &mr.driveBlocks) || mr.driveBlocks == 0) return fail("bad drive_blocks", error);
    return true;
  }
  return fail("unknown megaraid key \"" + key + "\"", error);
}

// Controller IDs (position by default, unique), enclosures that exist and hold the drives, and
// drive lists that fit storelib's list (256 entries).
bool Parser::finishMegaRaids(std::string* error) {
  std::set<int> ids;
  for (size_t i = 0; i < config_->megaraids.size(); ++i) {
    MegaRaidConfig& mr = config_->megaraids[i];
    if (mr.id < 0) mr.id = static_cast<int>(i);
    if (!ids.insert(mr.id).second)
      return (*error = "megaraid \"" + mr.name + "\" repeats a controller id", false);
    int slots = 0;
    if (!mr.enclosure.empty()) {
      auto it = std::find_if(config_->enclosures.begin(), config_->enclosures.end(),
                             [&](const EnclosureEntry& e) { return e.ses.name == mr.enclosure; });
      if (it == config_->enclosures.end())
        return (*error = "megaraid \"" + mr.name + "\" names unknown enclosure \"" + mr.enclosure + "\"",
                false);
      slots = it->ses.slots;
    }
    if (mr.enclosureDrives > slots)
      return (*error = "megaraid \"" + mr.name + "\" has more enclosure drives than slots", false);
    if (mr.systemDrives + mr.enclosureDrives + 1 > 256)
      return (*error = "megaraid \"" + mr.name + "\" has more than 255 drives", false);
  }
  return true;
}

bool Parser::finish(std::string* error) {
  number_ = 0;
  std::vector<SimAddress> used;
  auto claim = [&](const SimAddress& a, const std::string& owner) {
    if (std::find(used.begin(), used.end(), a) != used.end()) {
      *error = "address " + formatSimAddress(a) + " of \"" + owner + "\" is used twice";
      return false;
    }
    used.push_back(a);
    return true;
  };
  for (size_t p = 0; p < config_->pairs.size(); ++p) {
    PairConfig& pair = config_->pairs[p];
    if (pair.paths.empty()) return (*error = "pair \"" + pair.name + "\" has no path", false);
    for (size_t i = 0; i < pair.paths.size(); ++i) {
      PairPath& path = pair.paths[i];
      if (path.peripheralType < 0) path.peripheralType = pair.peripheralType;
      if (!claimedGiven_[p][i]) path.claimed = path.peripheralType == 0;
      if (!claim({path.host, path.bus, path.target, path.lun}, pair.name)) return false;
    }
    if (!pair.enclosure.empty()) {
      auto it = std::find_if(config_->enclosures.begin(), config_->enclosures.end(),
                             [&](const EnclosureEntry& e) { return e.ses.name == pair.enclosure; });
      if (it == config_->enclosures.end()) {
        return (*error = "pair \"" + pair.name + "\" names unknown enclosure \"" + pair.enclosure + "\"",
                false);
      }
      if (pair.firstSlot > 0 && pair.firstSlot + pair.drives > it->ses.slots)
        return (*error = "pair \"" + pair.name + "\" has drives beyond the last slot of its enclosure", false);
    }
  }
  for (const EnclosureEntry& e : config_->enclosures) {
    if (e.hasPath && !claim(e.address, e.ses.name)) return false;
  }
  for (const DiskEntry& d : config_->disks) {
    if (!claim(d.address, d.disk.name)) return false;
  }
  if (!finishMegaRaids(error)) return false;
  std::set<std::string> iscsiNames;
  for (const HostConfig& h : config_->hosts) {
    std::string where = "host " + std::to_string(h.host) + ": ";
    if (h.chapUser.empty() != h.chapSecret.empty()) return (*error = where + "chap_user and chap_secret go together", false);
    if (h.chapTargetUser.empty() != h.chapTargetSecret.empty())
      return (*error = where + "chap_target_user and chap_target_secret go together", false);
    if (!h.chapTargetUser.empty() && h.chapUser.empty())
      return (*error = where + "mutual CHAP (chap_target_*) needs chap_user and chap_secret", false);
    if (!h.iscsiName.empty() && !iscsiNames.insert(h.iscsiName).second)
      return (*error = where + "iscsi_name " + h.iscsiName + " is used twice", false);
  }
  std::sort(config_->hosts.begin(), config_->hosts.end(),
            [](const HostConfig& a, const HostConfig& b) { return a.host < b.host; });
  return true;
}

}  // namespace

bool validIscsiName(std::string_view name) {
  if (name.size() < 5 || name.size() > 223) return false;
  std::string_view kind = name.substr(0, 4);
  if (kind != "iqn." && kind != "eui." && kind != "naa.") return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':';
  });
}

bool parseSimAddress(std::string_view text, SimAddress* address) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ':') {
      parts.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  SimAddress a;
  if (parts.size() != 4 || !parseInRange(parts[0], 0, 65535, &a.host) ||
      !parseInRange(parts[1], 0, 255, &a.bus) || !parseInRange(parts[2], 0, 255, &a.target) ||
      !parseInRange(parts[3], 0, 255, &a.lun)) {
    return false;
  }
  *address = a;
  return true;
}

std::string formatSimAddress(const SimAddress& a) {
  return std::to_string(a.host) + ":" + std::to_string(a.bus) + ":" + std::to_string(a.target) + ":" +
         std::to_string(a.lun);
}

bool parseSimConfig(std::string_view text, SimConfig* config, std::string* error) {
  *config = SimConfig{};
  Parser parser(config);
  int number = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!parser.line(++number, line, error)) return false;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  if (!parser.finish(error)) return false;
  if (config->pairs.empty() && config->enclosures.empty() && config->disks.empty() &&
      config->megaraids.empty()) {
    *error = "the configuration names no device";
    return false;
  }
  return true;
}

bool loadSimConfig(const std::string& path, SimConfig* config, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  if (!parseSimConfig(text.str(), config, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace sim
