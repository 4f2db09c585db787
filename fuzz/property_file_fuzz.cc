// Fuzz target: property files (db/*.ini, db/IP.db, a module's settings) and string tables
// (db/strings.db, db/scsiErrors.db, a module's string files): files anyone with access to the
// folder can edit.
//
// Checks:
// - a property file that reads into a table writes back (when writePropertyFile accepts the
//   table) and reads again as the same keys with each value as the reader trims it;
// - a string table gives the same text for a key held in memory as read from disk, where the
//   two paths are meant to agree (a key on exactly one line, lines of ordinary length, no NUL).
//
// Thread safety: one input at a time; the string table slots are process-wide.
#include <map>
#include <string>
#include <vector>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "common/variable_table.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int kReaderLine = 499;

// The reader's trim of a value: leading spaces; trailing blanks, CR, LF, tabs; one pair of quotes.
std::string readerTrim(std::string text) {
  size_t start = text.find_first_not_of(' ');
  text = start == std::string::npos ? std::string() : text.substr(start);
  while (!text.empty() && std::strchr(" \r\n\t", text.back()) != nullptr) text.pop_back();
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
  return text;
}

std::vector<std::pair<std::string, std::string>> pairsOf(VariableTable table) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const VariableEntry* e = table; e != nullptr; e = e->next) pairs.emplace_back(e->key, e->value);
  return pairs;
}

void checkPropertyFile(std::string_view text) {
  fuzz::writeFile("settings.ini", text);
  TableOwner table(readPropertyFile("settings.ini"));
  if (writePropertyFile("written.ini", "fuzz", table.get()) != 0) return;
  // Lines longer than the reader takes at once come back as several lines (documented).
  for (const VariableEntry* e = table.get(); e != nullptr; e = e->next) {
    if (std::strlen(e->key) + std::strlen(e->value) + 3 >= kReaderLine) return;
  }
  TableOwner again(readPropertyFile("written.ini"));
  const auto before = pairsOf(table.get());
  const auto after = pairsOf(again.get());
  // The table is written in list order and read back newest first: the order turns over.
  FUZZ_CHECK(before.size() == after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    const auto& back = after[after.size() - 1 - i];
    FUZZ_CHECK(before[i].first == back.first);
    FUZZ_CHECK(readerTrim(before[i].second) == back.second);
  }
}

// Keys of the LF-terminated pair lines, with how often each occurs; false when the text is not
// one the two look-up paths are meant to agree on.
bool keysOfStringTable(std::string_view text, std::map<std::string, int>* keys) {
  if (text.find('\0') != std::string_view::npos) return false;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t feed = text.find('\n', pos);
    if (feed == std::string_view::npos) break;  // a last line without LF is never loaded
    std::string_view line = text.substr(pos, feed - pos);
    pos = feed + 1;
    if (line.size() + 1 >= kReaderLine) return false;
    if (line.empty() || line[0] == '\'' || line[0] == '\\') continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string key(line.substr(0, equals));
    key.erase(0, key.find_first_not_of(' '));
    while (!key.empty() && (key.back() == ' ' || key.back() == '\r')) key.pop_back();
    ++(*keys)[key];
  }
  return true;
}

std::string rightTrimmed(std::string text) {
  while (!text.empty() && std::strchr(" \r\n", text.back()) != nullptr) text.pop_back();
  return text;
}

void checkStringTable(std::string_view text) {
  fuzz::writeFile("loaded.db", text);
  fuzz::writeFile("ondisk.db", text);
  loadStringTables("loaded.db", nullptr, nullptr);
  std::map<std::string, int> keys;
  const bool comparable = keysOfStringTable(text, &keys);
  for (const auto& [key, count] : keys) {
    char* inMemory = lookupString("loaded.db", key.c_str());
    char* onDisk = lookupString("ondisk.db", key.c_str());
    FUZZ_CHECK(inMemory != nullptr && onDisk != nullptr);
    if (comparable && count == 1) FUZZ_CHECK(rightTrimmed(inMemory) == std::string(onDisk));
    std::free(inMemory);
    std::free(onDisk);
  }
  // A key never holds a line feed, so this one is absent whatever the file says.
  char* absent = lookupString("loaded.db", "no\nkey");
  FUZZ_CHECK(absent != nullptr && std::strcmp(absent, kMissing) == 0);
  std::free(absent);
  clearStringTables();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietStandardOutput();
  fuzz::enterScratchFolder("property_file");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] & 1) == 0) {
    checkPropertyFile(text);
  } else {
    checkStringTable(text);
  }
  return 0;
}
