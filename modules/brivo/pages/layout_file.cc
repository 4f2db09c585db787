// The storage layout file; see layout_file.h.
#include "modules/brivo/pages/layout_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr int kLayoutVersion = 1;
constexpr size_t kMaxLines = 4096;

// Printable ASCII only, so that a name never breaks the line it stands on.
std::string printable(const std::string& text) {
  std::string out;
  for (char c : text) out += (c >= 0x20 && c < 0x7F) ? c : '?';
  return out;
}

std::string trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// "a=1 b=2" to a map; false on a word without '=' or a repeated name.
bool fieldsOf(const std::string& value, std::map<std::string, std::string>* fields) {
  std::istringstream words(value);
  for (std::string word; words >> word;) {
    const size_t equals = word.find('=');
    if (equals == 0 || equals == std::string::npos) return false;
    if (!fields->emplace(word.substr(0, equals), word.substr(equals + 1)).second) return false;
  }
  return true;
}

bool number(const std::map<std::string, std::string>& fields, const char* name, long low, long high,
            long* out) {
  auto it = fields.find(name);
  if (it == fields.end() || it->second.empty() || it->second.size() > 10 ||
      it->second.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *out = std::strtol(it->second.c_str(), nullptr, 10);
  return *out >= low && *out <= high;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool parseArray(const std::string& value, const std::string& name, PlannedArray* array) {
  std::map<std::string, std::string> f;
  long level = 0, chunk = 0, parity = 0, unused = 0, cache = 0, flush = 0, readAhead = 0, writeBack = 0;
  if (!fieldsOf(value, &f) || !number(f, "level", 0, 0x50, &level) || !number(f, "chunk", 64, 256, &chunk) ||
      !number(f, "parity", 0, 16, &parity) || !number(f, "unused", 0, 99, &unused) ||
      !number(f, "cache", 0, 0x3F, &cache) || !number(f, "flush", 0, 255, &flush) ||
      !number(f, "readahead", 0, 0xFFFF, &readAhead) || !number(f, "writeback", 0, 0xFFFF, &writeBack) ||
      f.count("drives") == 0 || f.size() != 9 || name.size() > sizeof(array->block.name))
    return false;
  CreateArrayBlock& b = array->block;
  b = CreateArrayBlock{};
  const std::vector<std::string> drives = split(f["drives"], ',');
  if (drives.empty() || drives.size() > kMaxMembers) return false;
  for (size_t m = 0; m < drives.size(); ++m) {
    if (!parseWwn(drives[m].c_str(), b.driveWwn[m])) return false;
  }
  b.raidLevel = static_cast<uint8_t>(level);
  b.driveCount = static_cast<uint8_t>(drives.size());
  b.chunkSizeKb = static_cast<uint16_t>(chunk);
  b.parityDrives = static_cast<uint8_t>(parity);
  b.cacheFlags = static_cast<uint8_t>(cache);
  b.cacheFlush = static_cast<uint8_t>(flush);
  b.readAheadKb = static_cast<uint16_t>(readAhead);
  b.writeBackMb = static_cast<uint16_t>(writeBack);
  b.initialize = kOff;  // the drives' data is not the configuration's to erase again
  b.unusedPercent = static_cast<uint8_t>(unused);
  std::memcpy(b.name, name.data(), name.size());
  return true;
}

bool parseDrive(const std::string& value, const std::string& name, size_t arrays, PlannedDrive* drive) {
  std::map<std::string, std::string> f;
  long ports = 0, block = 0, lun = -1;
  if (!fieldsOf(value, &f) || f.count("segments") == 0 || f.count("lun") == 0 ||
      !number(f, "ports", 0, 0x0F, &ports) || !number(f, "block", 0, 0xFFFF, &block) || f.size() != 4 ||
      name.size() > 32)
    return false;
  if (f["lun"] != "none" && !number(f, "lun", 0, kMaxHostLuns - 1, &lun)) return false;
  for (const std::string& segment : split(f["segments"], ',')) {
    const std::vector<std::string> parts = split(segment, ':');
    std::map<std::string, std::string> sf{{"a", parts[0]}, {"s", parts.size() == 2 ? parts[1] : ""}};
    long array = 0, size = 0;
    if (parts.size() != 2 || !number(sf, "a", 0, static_cast<long>(arrays) - 1, &array) ||
        !number(sf, "s", 1, 0xFFFF, &size) || drive->segments.size() >= kMaxSegments)
      return false;
    drive->segments.push_back({static_cast<int>(array), -1, static_cast<uint32_t>(size)});
  }
  drive->name = name;
  drive->hostLun = static_cast<int>(lun);
  drive->availability = static_cast<uint8_t>(ports);
  drive->blockSizeCode = static_cast<uint16_t>(block);
  return true;
}

bool parseSpare(const std::string& value, size_t arrays, PlannedSpare* spare) {
  std::map<std::string, std::string> f;
  long array = -1;
  if (!fieldsOf(value, &f) || f.size() != 2 || f.count("drive") == 0 || f.count("array") == 0 ||
      !parseWwn(f["drive"].c_str(), spare->wwn))
    return false;
  if (f["array"] != "global" && !number(f, "array", 0, static_cast<long>(arrays) - 1, &array)) return false;
  spare->array = static_cast<int>(array);
  return true;
}

}  // namespace

LayoutPlan layoutOfConfiguration(const ConfigurationBlock& config) {
  LayoutPlan plan;
  std::map<int, int> index;  // controller array number -> plan index
  for (int n = 0; n < kMaxArrays; ++n) {
    const ArrayRecord& a = config.arrays[n];
    if (a.valid != kOn || a.driveCount == 0 || a.driveCount > kMaxMembers) continue;
    PlannedArray array;
    CreateArrayBlock& b = array.block;
    b.raidLevel = a.raidLevel;
    b.driveCount = a.driveCount;
    b.chunkSizeKb = a.chunkSizeKb;
    std::memcpy(b.driveWwn, a.memberWwn, sizeof(a.memberWwn[0]) * a.driveCount);
    b.parityDrives = a.parityDrives;
    b.cacheFlags = a.cacheFlags;
    b.cacheFlush = a.cacheFlush;
    b.readAheadKb = a.readAheadKb;
    b.writeBackMb = a.writeBackMb;
    b.initialize = kOff;
    b.unusedPercent = a.unusedPercent;
    const std::string name = printable(fieldText(a.name, sizeof(a.name)));
    std::memcpy(b.name, name.data(), std::min(name.size(), sizeof(b.name)));
    index[n] = static_cast<int>(plan.arrays.size());
    plan.arrays.push_back(array);
  }
  for (const LogicalDriveRecord& d : config.logicalDrives) {
    if (d.valid != kOn || (d.availability & kAvailabilityInternal) != 0 || d.segmentCount == 0 ||
        d.segmentCount > kMaxSegments)
      continue;
    PlannedDrive drive;
    for (int s = 0; s < d.segmentCount; ++s) {
      auto it = index.find(d.segments[s].array);
      if (it == index.end() || d.segments[s].sizeGb == 0) break;
      drive.segments.push_back({it->second, -1, d.segments[s].sizeGb});
    }
    if (drive.segments.size() != d.segmentCount) continue;
    drive.name = printable(fieldText(d.name, sizeof(d.name)));
    drive.hostLun = d.hostLun == kLunNone ? -1 : d.hostLun;
    drive.availability = static_cast<uint8_t>(d.availability & 0x0F);
    drive.blockSizeCode = d.blockSizeCode;
    plan.drives.push_back(drive);
  }
  for (const SpareRecord& s : config.spares) {
    if (s.valid != kOn) continue;
    PlannedSpare spare;
    std::memcpy(spare.wwn, s.wwn, sizeof(spare.wwn));
    auto it = index.find(s.array);
    spare.array = s.array == kSpareGlobal || s.array == 0xFF || it == index.end() ? -1 : it->second;
    plan.spares.push_back(spare);
  }
  return plan;
}

std::string layoutText(const LayoutPlan& plan, const std::string& pairName) {
  std::ostringstream out;
  out << "' Storage layout of " << printable(pairName)
      << ": arrays, logical drives and hot spares by drive WWN.\n"
      << "' Apply it to a pair that holds these drives unused (SlmApply).\n"
      << "LayoutVersion = " << kLayoutVersion << "\nPair = " << printable(pairName) << "\n";
  for (size_t i = 0; i < plan.arrays.size(); ++i) {
    const CreateArrayBlock& b = plan.arrays[i].block;
    out << "Array" << i << " = level=" << int{b.raidLevel} << " chunk=" << b.chunkSizeKb
        << " parity=" << int{b.parityDrives} << " unused=" << int{b.unusedPercent}
        << " cache=" << int{b.cacheFlags} << " flush=" << int{b.cacheFlush} << " readahead=" << b.readAheadKb
        << " writeback=" << b.writeBackMb << " drives=";
    for (int m = 0; m < b.driveCount; ++m) out << (m > 0 ? "," : "") << wwnText(b.driveWwn[m]);
    out << "\nArray" << i << "Name = " << fieldText(b.name, sizeof(b.name)) << "\n";
  }
  for (size_t i = 0; i < plan.drives.size(); ++i) {
    const PlannedDrive& d = plan.drives[i];
    out << "LogicalDrive" << i << " = segments=";
    for (size_t s = 0; s < d.segments.size(); ++s)
      out << (s > 0 ? "," : "") << d.segments[s].array << ":" << d.segments[s].sizeGb;
    out << " lun=" << (d.hostLun < 0 ? std::string("none") : std::to_string(d.hostLun))
        << " ports=" << int{d.availability} << " block=" << d.blockSizeCode << "\n"
        << "LogicalDrive" << i << "Name = " << d.name << "\n";
  }
  for (size_t i = 0; i < plan.spares.size(); ++i) {
    const PlannedSpare& s = plan.spares[i];
    out << "Spare" << i << " = drive=" << wwnText(s.wwn)
        << " array=" << (s.array < 0 ? std::string("global") : std::to_string(s.array)) << "\n";
  }
  return out.str();
}

bool parseLayout(const std::string& text, LayoutPlan* plan, std::string* error) {
  *plan = LayoutPlan{};
  std::map<std::string, std::string> keys;
  std::istringstream lines(text);
  size_t count = 0;
  for (std::string line; std::getline(lines, line);) {
    if (++count > kMaxLines) {
      *error = "too many lines";
      return false;
    }
    const std::string trimmed = trim(line);
    if (trimmed.empty() || trimmed[0] == '\'') continue;
    const size_t equals = trimmed.find('=');
    const std::string key = equals == std::string::npos ? "" : trim(trimmed.substr(0, equals));
    if (key.empty() || !keys.emplace(key, trim(trimmed.substr(equals + 1))).second) {
      *error = "line " + std::to_string(count);
      return false;
    }
  }
  if (keys["LayoutVersion"] != std::to_string(kLayoutVersion)) {
    *error = "LayoutVersion";
    return false;
  }
  size_t used = keys.count("Pair") + 1;
  auto take = [&](const std::string& key, std::string* value) {
    auto it = keys.find(key);
    if (it == keys.end()) return false;
    *value = it->second;
    ++used;
    return true;
  };
  std::string value, name;
  for (int i = 0; take("Array" + std::to_string(i), &value); ++i) {
    if (!take("Array" + std::to_string(i) + "Name", &name)) name.clear();
    PlannedArray array;
    if (i >= kMaxArrays || !parseArray(value, name, &array)) {
      *error = "Array" + std::to_string(i);
      return false;
    }
    plan->arrays.push_back(array);
  }
  for (int i = 0; take("LogicalDrive" + std::to_string(i), &value); ++i) {
    if (!take("LogicalDrive" + std::to_string(i) + "Name", &name)) name.clear();
    PlannedDrive drive;
    if (i >= kMaxLogicalDrives || !parseDrive(value, name, plan->arrays.size(), &drive)) {
      *error = "LogicalDrive" + std::to_string(i);
      return false;
    }
    plan->drives.push_back(drive);
  }
  for (int i = 0; take("Spare" + std::to_string(i), &value); ++i) {
    PlannedSpare spare;
    if (i >= kMaxDrives || !parseSpare(value, plan->arrays.size(), &spare)) {
      *error = "Spare" + std::to_string(i);
      return false;
    }
    plan->spares.push_back(spare);
  }
  if (used != keys.size()) {
    *error = "unknown or out-of-order key";
    return false;
  }
  return true;
}

}  // namespace brivo
