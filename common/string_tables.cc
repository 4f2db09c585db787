// String tables: the user-visible texts by key. Every page and every event looks texts up, so
// the two server tables (and up to three of a module's) are held in memory: the whole file in one
// buffer, cut into NUL-terminated keys and values in place, with a pair index over it. A lookup
// walks the index without copying and copies only the result. Paths that are not loaded are read
// from disk, line by line, on every lookup.
//
// The two paths disagree on purpose in small ways that callers see (and tests pin down): in
// memory the last line of a key wins and trailing spaces of a value stay; on disk the first line
// wins and trailing blanks are cut.
//
// Thread safety: the slots are written only by loadStringTables and clearStringTables, at
// start-up and shutdown while nothing else looks texts up; lookupString reads them without a
// lock and keeps its line buffer on its own stack.
#include "common/string_tables.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/property_file.h"
#include "common/variable_table.h"

namespace {

constexpr int kSlotCount = 5;
constexpr int kLineBufferSize = 500;

struct StringPair {
  const char* key;     // inside the slot's text; null for a line that held no pair
  size_t valueOffset;  // from key to its value
};

struct StringTableSlot {
  char* path = nullptr;  // as registered; null when the slot is empty
  char* text = nullptr;  // the file's bytes (plus one NUL), cut in place
  size_t size = 0;       // bytes read
  size_t lineCount = 0;  // line feeds in the text; the pair array has as many entries
  StringPair* pairs = nullptr;
};

StringTableSlot g_slots[kSlotCount];

void emptySlot(StringTableSlot* slot) {
  free(slot->path);
  free(slot->text);
  free(slot->pairs);
  *slot = StringTableSlot{};
}

// Whole file into a new buffer; *size receives the bytes actually read. Null on failure.
char* readWholeFile(FILE* stream, size_t* size) {
  if (fseek(stream, 0, SEEK_END) != 0) return nullptr;
  long end = ftell(stream);
  if (end < 0 || fseek(stream, 0, SEEK_SET) != 0) return nullptr;
  char* text = static_cast<char*>(malloc(static_cast<size_t>(end) + 1));
  if (text == nullptr) return nullptr;
  *size = fread(text, 1, static_cast<size_t>(end), stream);
  text[*size] = '\0';
  return text;
}

// One line, already NUL-terminated at its line feed: fills pair and returns true when it holds a
// key and a value. The key ends at the first "="; that sign and the blanks before it become NULs.
bool parseLineInPlace(char* line, StringPair* pair) {
  if (line[0] == '\'' || line[0] == '\\') return false;
  char* equals = strchr(line, '=');
  if (equals == nullptr) return false;
  char* key = line;
  while (*key == ' ') ++key;
  char* end = equals;
  *end = '\0';
  while (end > key && (end[-1] == ' ' || end[-1] == '\r' || end[-1] == '\n')) *--end = '\0';
  char* value = equals + 1;
  while (*value == ' ') ++value;
  pair->key = key;
  pair->valueOffset = static_cast<size_t>(value - key);
  return true;
}

// Cuts the text into lines and fills the pair array. A last line without a line feed is not
// parsed. A carriage return before a line feed ends the line too, as a text-mode read would have
// removed it.
void parseSlotText(StringTableSlot* slot) {
  char* line = slot->text;
  char* textEnd = slot->text + slot->size;
  size_t index = 0;
  while (line < textEnd) {
    char* feed = static_cast<char*>(memchr(line, '\n', static_cast<size_t>(textEnd - line)));
    if (feed == nullptr) break;
    *feed = '\0';
    if (feed > line && feed[-1] == '\r') feed[-1] = '\0';
    if (parseLineInPlace(line, &slot->pairs[index])) ++index;
    line = feed + 1;
  }
}

void loadSlot(StringTableSlot* slot, const char* path) {
  if (path == nullptr || path[0] == '\0') return;
  FILE* stream = fopen(path, "re");
  if (stream == nullptr) return;
  size_t size = 0;
  char* text = readWholeFile(stream, &size);
  fclose(stream);
  if (text == nullptr) return;
  slot->path = strdup(path);
  slot->text = text;
  slot->size = size;
  if (slot->path == nullptr) {
    emptySlot(slot);
    return;
  }
  for (size_t i = 0; i < size; ++i) slot->lineCount += text[i] == '\n';
  if (slot->lineCount == 0) return;
  slot->pairs = static_cast<StringPair*>(calloc(slot->lineCount, sizeof(StringPair)));
  if (slot->pairs == nullptr) {
    slot->lineCount = 0;
    return;
  }
  parseSlotText(slot);
}

// Value of the last pair with key in the first loaded slot of path, or null.
const char* findInRam(const char* path, const char* key) {
  for (const StringTableSlot& slot : g_slots) {
    if (slot.path == nullptr || strcmp(slot.path, path) != 0) continue;
    const char* found = nullptr;
    for (size_t i = 0; i < slot.lineCount && slot.pairs[i].key != nullptr; ++i) {
      if (strcmp(slot.pairs[i].key, key) == 0) found = slot.pairs[i].key + slot.pairs[i].valueOffset;
    }
    if (found != nullptr) return found;
  }
  return nullptr;
}

void trimTrailing(char* text) {
  size_t length = strlen(text);
  while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\r' || text[length - 1] == '\n')) {
    text[--length] = '\0';
  }
}

// Copy of the value of the first line with key in the file at path, or null.
char* findOnDisk(const char* path, const char* key) {
  FILE* stream = fopen(path, "re");
  if (stream == nullptr) return nullptr;
  char line[kLineBufferSize];
  char* result = nullptr;
  while (result == nullptr && fgets(line, sizeof line, stream) != nullptr) {
    StringPair pair{};
    if (!parseLineInPlace(line, &pair) || strcmp(pair.key, key) != 0) continue;
    char* value = line + (pair.key - line) + pair.valueOffset;
    trimTrailing(value);
    result = strdup(value);
    if (result == nullptr) break;
  }
  fclose(stream);
  return result;
}

}  // namespace

void loadStringTables(const char* path2, const char* path3, const char* path4) {
  clearStringTables();
  const char* paths[kSlotCount] = {kStringsDbPath, kScsiErrorsDbPath, path2, path3, path4};
  for (int i = 0; i < kSlotCount; ++i) loadSlot(&g_slots[i], paths[i]);
}

void clearStringTables() {
  for (StringTableSlot& slot : g_slots) emptySlot(&slot);
}

char* lookupString(const char* path, const char* key) {
  if (path != nullptr && key != nullptr) {
    const char* value = findInRam(path, key);
    if (value != nullptr) return strdup(value);
    char* copy = findOnDisk(path, key);
    if (copy != nullptr) return copy;
  }
  return strdup(kMissing);
}
