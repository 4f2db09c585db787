// Fuzz target: the Brivo module's reading of a controller pair's event logs (READ BUFFER
// 0x46/0x47): header validation, the count of new entries from the bookmarks, merging both
// sides, decoding each entry with the module's own event texts (reason bytes into format texts,
// enclosure element events, array names read back from the controller) and the CSV export. The
// controller is the fuzzer: a fake pair answers the event log reads (and the array-record and
// controller-information reads that decoding makes) from the input.
//
// Input: a byte of flags, two 16-bit bookmarks, the interface bytes, 16 bytes of array name,
// then a 16-bit length and that many bytes of log A; the rest is log B. A log shorter than its
// buffer keeps zeros beyond, as the controller's answer leaves the buffer.
//
// Checks: each recorded event has a severity the server knows and a message; the monitor never
// records more events than the logs hold; bookmarks stay inside the log's index range.
//
// Thread safety: one input at a time.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "common/property_file.h"
#include "fuzz/fuzz_support.h"
#include "modules/brivo/events/event_export.h"
#include "modules/brivo/events/event_reader.h"
#include "modules/brivo/events/event_test_support.h"
#include "modules/brivo/events/event_validate.h"

namespace {

namespace fs = std::filesystem;
using brivo::events::testing::FakeModule;
using brivo::events::testing::FakePair;

std::map<std::string, std::string> tableOf(const fs::path& path) {
  std::map<std::string, std::string> pairs;
  TableOwner table(readPropertyFile(path.c_str()));
  // The reader keeps lines in reverse order; the first line of a key wins as in a look-up.
  for (const VariableEntry* e = table.get(); e != nullptr; e = e->next) pairs[e->key] = e->value;
  return pairs;
}

brivo::events::testing::FakeTexts gLoadedTexts;

class FuzzPair : public FakePair {
 public:
  std::string logBytes[2];
  std::string arrayName;

  int send(brivo::events::PairCommand& c) override {
    if (c.opcode == 0x3B) return 0;
    if (c.bufferId == brivo::kOpReadEventLogA || c.bufferId == brivo::kOpReadEventLogB) {
      const std::string& bytes = logBytes[c.bufferId == brivo::kOpReadEventLogA ? 0 : 1];
      std::fill(c.data.begin(), c.data.end(), 0);
      std::memcpy(c.data.data(), bytes.data(), std::min(bytes.size(), c.data.size()));
      return 0;
    }
    if (c.bufferId == brivo::kOpReadArray) {
      brivo::ArrayRecord record{};
      record.valid = brivo::kOn;
      std::memcpy(record.name, arrayName.data(), std::min(arrayName.size(), sizeof record.name));
      std::memcpy(c.data.data(), &record, std::min(c.data.size(), sizeof record));
      return 0;
    }
    return FakePair::send(c);
  }
};

void checkRaised(const FakeModule& module, size_t limit) {
  FUZZ_CHECK(module.raised.size() <= limit);
  for (const auto& event : module.raised) {
    FUZZ_CHECK(event.severity <= 2);
    FUZZ_CHECK(!event.text.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietStandardOutput();
  fuzz::enterScratchFolder("brivo_events");
  fs::create_directories("temp");
  fs::create_directories("Information");
  const fs::path data = fuzz::dataFolder();
  gLoadedTexts.events = tableOf(data / "mods/Brivo/EventStrings.db");
  gLoadedTexts.severities = tableOf(data / "mods/Brivo/EventSeverity.db");
  gLoadedTexts.settings = tableOf(data / "mods/Brivo/BrivoSettings.ini");
  gLoadedTexts.server = tableOf(data / "db/strings.db");
  if (gLoadedTexts.events.empty() || gLoadedTexts.severities.empty()) {
    std::fprintf(stderr, "brivo_events_fuzz: the module's text files were not found under %s\n",
                 data.c_str());
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  FakeModule module;
  module.textSource = &gLoadedTexts;
  FuzzPair pair;
  const uint8_t flags = input.byte();
  pair.valid[0] = (flags & 1) != 0 || (flags & 2) == 0;
  pair.valid[1] = (flags & 2) != 0;
  const int16_t markA = static_cast<int16_t>(input.u16());
  const int16_t markB = static_cast<int16_t>(input.u16());
  pair.drive = input.byte();
  pair.host = input.byte();
  pair.arrayName = std::string(input.bytes(16));
  pair.logBytes[0] = std::string(input.bytes(input.u16()));
  pair.logBytes[1] = std::string(input.rest());
  const size_t logLimit = 2 * brivo::kEventLogEntries;

  // The monitor's pass from the bookmarks the input gives, twice (the second sees nothing new).
  pair.index[0] = markA;
  pair.index[1] = markB;
  for (int pass = 0; pass < 2; ++pass) {
    brivo::events::monitorPairEvents(module, pair);
    for (int side = 0; side < 2; ++side) {
      const int32_t mark = pair.index[side];
      FUZZ_CHECK(mark == markA || mark == markB || mark == brivo::events::kEmptyLogBookmark ||
                 (mark >= 0 && mark < brivo::kEventLogEntries));
    }
  }
  checkRaised(module, 2 * logLimit);

  // Start-up replay, with stored times when the flags ask for them.
  FakeModule replaying;
  replaying.textSource = &gLoadedTexts;
  if ((flags & 4) != 0) {
    replaying.storeEventTime(pair.name(), 0, 1200000000);
    replaying.storeEventTime(pair.name(), 1, 1200000000);
  }
  pair.index[0] = pair.index[1] = -1;
  brivo::events::startupReplay(replaying, pair);
  checkRaised(replaying, logLimit);

  // The CSV export of both logs.
  if ((flags & 8) != 0) {
    TableOwner reply(brivo::events::getAllControllerLogs(module, &pair, nullptr));
  }
  return 0;
}
