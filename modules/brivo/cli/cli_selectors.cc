// Selections, states and files of the controller-level commands; see cli_selectors.h.
//
// Thread safety: as cli_selectors.h.
#include "modules/brivo/cli/cli_selectors.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "common/atomic_file.h"
#include "common/private_file.h"
#include "modules/brivo/controller_time.h"
#include "modules/brivo/firmware_image.h"

namespace brivo::cli {

namespace {

constexpr char kTempFolder[] = "temp";

}  // namespace

bool chooseControllers(CliContext& ctx, ControllerChoice* out) {
  *out = ControllerChoice{};
  const char* text = modifierValue(ctx, kModControllerId);
  if (text == nullptr) return true;
  long value = 0;
  if (!parseNumberOrAll(text, -1, &value)) {
    writeText(ctx, "Error: Parsing Controller index. Not a number.\n");
    return false;
  }
  if (value == -1) return true;
  if (value != 0 && value != 1) {
    writeText(ctx, "Error: Illegal Controller Index.\n");
    return false;
  }
  out->index = static_cast<int>(value);
  out->side[0] = value == 0;
  out->side[1] = value == 1;
  out->selector = value == 0 ? kSelectA : kSelectB;
  return true;
}

bool controllerOnline(const ControllerInformation& info, int c) {
  return (c == 0 ? info.stateA : info.stateB) == kOn;
}

std::string controllerStateText(uint8_t state) {
  if (state == kOn) return "Online";
  if (state == kOff) return "Failed or not responding";
  char text[24];
  std::snprintf(text, sizeof(text), "Unknown (0x%02X)", state);
  return text;
}

const char* weekdayText(uint8_t weekday) {
  static const char* const kDays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                       "Thursday", "Friday", "Saturday"};
  return weekday < 7 ? kDays[weekday] : "?";
}

std::string controllerClockText(const EventTime& clock) {
  if (clock.year == 0 && clock.month == 0 && clock.day == 0) return "not set";
  char text[64];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u %s", clock.year, clock.month, clock.day,
                clock.hour, clock.minute, clock.second, weekdayText(clock.weekday));
  return text;
}

ClockValue parseClockValue(const char* text, EventTime* out) {
  if (text == nullptr || *text == '\0') return ClockValue::kNotANumber;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return ClockValue::kNotANumber;
  }
  if (std::strlen(text) != 14) return ClockValue::kOutOfRange;
  auto field = [text](int at, int digits) {
    int value = 0;
    for (int i = 0; i < digits; ++i) value = value * 10 + (text[at + i] - '0');
    return value;
  };
  const int year = field(0, 4), month = field(4, 2), day = field(6, 2);
  const int hour = field(8, 2), minute = field(10, 2), second = field(12, 2);
  const std::optional<EventTime> time = makeControllerTime(year, month, day, hour, minute, second);
  if (!time) return ClockValue::kOutOfRange;
  *out = *time;
  return ClockValue::kOk;
}

bool chooseDrives(CliContext& ctx, std::vector<int>* out) {
  out->clear();
  const int count = ctx.drives != nullptr ? std::min<int>(ctx.drives->count, kMaxDrives) : 0;
  for (const std::string& word : modifierValues(ctx, kModDiskId)) {
    long value = 0;
    if (!parseNumber(word.c_str(), &value)) {
      writeText(ctx, "Error: Parsing disk ID value. Not a number.\n");
      return false;
    }
    if (value >= count) {
      writeText(ctx, "Error: Disk index out of range.\n");
      return false;
    }
    if (std::find(out->begin(), out->end(), static_cast<int>(value)) == out->end())
      out->push_back(static_cast<int>(value));
  }
  return true;
}

bool chooseEnclosures(CliContext& ctx, std::vector<int>* out) {
  out->clear();
  auto present = [&ctx](long number) {
    if (ctx.info == nullptr || number < 0 || number >= kMaxEnclosures) return false;
    for (const EnclosureEntry& e : ctx.info->enclosures) {
      if (e.valid == kOn && e.number == number) return true;
    }
    return false;
  };
  const std::vector<std::string> words = modifierValues(ctx, kModEnclosureId);
  if (words.empty()) {
    for (int n = 0; n < kMaxEnclosures; ++n) {
      if (present(n)) out->push_back(n);
    }
    return true;
  }
  for (const std::string& word : words) {
    long value = 0;
    if (!parseNumber(word.c_str(), &value)) {
      writeText(ctx, "Error: Parsing enclosure index. Not a number.\n");
      return false;
    }
    if (!present(value)) {
      writeText(ctx, "Error: Enclosure index out of range.\n");
      return false;
    }
    if (std::find(out->begin(), out->end(), static_cast<int>(value)) == out->end())
      out->push_back(static_cast<int>(value));
  }
  return true;
}

bool identifySeconds(CliContext& ctx, int* seconds) {
  long value = 0;
  if (!parseNumber(modifierValue(ctx, kModTime), &value)) {
    writeText(ctx, "Error: Parsing ident time. Not a number.\n");
    return false;
  }
  if (value < 1 || value > 255) {
    writeText(ctx, "Error: Parsing ident time. Out of range.\n");
    return false;
  }
  *seconds = static_cast<int>(value);
  return true;
}

bool readSentFile(CliContext& ctx, size_t limit, std::vector<uint8_t>* out) {
  const char* path = globalOption(ctx, kOptSendFile);
  if (path == nullptr || *path == '\0') {
    out->clear();
    writeText(ctx, "Error: No file was sent. Use --sfile.\n");
    return false;
  }
  // A file past the limit is handed back cut one byte past it, for the caller to refuse.
  if (readWholeFile(path, limit, out) == FileRead::kMissing) {
    writeText(ctx, "Error: Cannot read the sent file.\n");
    return false;
  }
  return true;
}

bool readFirmwareImage(CliContext& ctx, std::vector<uint8_t>* image, FirmwareImageHeader* header) {
  if (!readSentFile(ctx, kMaxFirmwareImage, image)) return false;
  const bool valid = checkFirmwareImage(*image, header);
  if (!valid) writeText(ctx, "Error: The file is not a firmware image. Nothing was sent.\n");
  return valid;
}

void writeItemsField(CliContext& ctx, const char* label, const std::vector<std::string>& items) {
  if (items.empty()) {
    writeField(ctx, label, "none");
    return;
  }
  const size_t room = static_cast<size_t>(std::max(ctx.width - labelColumnOf(ctx) - 2, 16));
  std::string line;
  bool first = true;
  for (const std::string& item : items) {
    if (!line.empty() && line.size() + 1 + item.size() > room) {
      writeField(ctx, first ? label : "", line, first ? ':' : ' ');
      first = false;
      line.clear();
    }
    line += (line.empty() ? "" : " ") + item;
  }
  writeField(ctx, first ? label : "", line, first ? ':' : ' ');
}

bool writeTempFile(const std::string& name, const void* bytes, size_t length) {
  std::error_code error;
  std::filesystem::create_directories(kTempFolder, error);
  const std::string path = std::string(kTempFolder) + "/" + name;
  return replaceFileAtomically(path, std::string_view(static_cast<const char*>(bytes), length),
                               FileAccess::exact(kSharedFileMode));
}

std::string exportPath(const std::string& name) { return "../../" + std::string(kTempFolder) + "/" + name; }

}  // namespace brivo::cli
