// Property files: read whole into a VariableTable, written back whole by replacing the file.
//
// A settings file must never be left half-written: the page that saves it reports failure and the
// server keeps running on the old file. So the new text is composed in memory and replaces the
// file whole (atomic_file.h), with the mode policy of private_file.h.
//
// Thread safety: no state of its own.
#include "common/property_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "common/atomic_file.h"
#include "common/debug.h"

namespace {

// htable subsystem, Server module, level 4: file faults worth a line when asked for.
constexpr uint32_t kPropertyDebugCode = 0x10014;

bool hasLineBreak(const char* text) { return strpbrk(text, "\r\n") != nullptr; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool tableIsWritable(const char* path, VariableTable table) {
  for (VariableEntry* entry = table; entry != nullptr; entry = entry->next) {
    if (!isWritableProperty(entry->key, entry->value)) {
      debugPrint(kPropertyDebugCode, "htable: writePropertyFile %s: refused key <%.64s>\n", path, entry->key);
      return false;
    }
  }
  return true;
}

// Header and table text, exactly as they go to disk.
bool composeText(const char* header, VariableTable table, std::string* text) {
  text->clear();
  if (header != nullptr) {
    text->push_back('\0');
    text->append("\n'").append(header).append("\n");
  }
  return formatVariableTableText(table, text);
}

// Replaces path with text (atomic_file.h). On any failure the old file is untouched.
bool replaceFile(const char* path, const std::string& text, const FileAccess& access = FileAccess::policy()) {
  std::string error;
  if (replaceFileAtomically(path, text, access, &error)) return true;
  debugPrint(kPropertyDebugCode, "htable: writePropertyFile %s\n", error.c_str());
  return false;
}

}  // namespace

// True when the pair, written as "key = value", reads back as the same key and value (or, for
// the value, at most loses blanks or quotes around it, which the reader trims by design).
bool isWritableProperty(const char* key, const char* value) {
  size_t keyLength = strlen(key);
  if (keyLength == 0 || strchr(key, '=') != nullptr || hasLineBreak(key) || hasLineBreak(value)) {
    return false;
  }
  if (key[0] == ' ' || key[0] == '\'' || key[0] == '\\' || isBlank(key[keyLength - 1])) {
    return false;
  }
  if (keyLength >= 2 && key[0] == '"' && key[keyLength - 1] == '"') return false;
  return strstr(key, kEndOfHashtableMarker) == nullptr && strstr(value, kEndOfHashtableMarker) == nullptr;
}

VariableTable readPropertyFile(const char* path) {
  if (path == nullptr) return nullptr;
  FILE* stream = fopen(path, "re");
  if (stream == nullptr) return nullptr;
  VariableTable table = readVariableTableText(stream);
  fclose(stream);
  return table;
}

int writePropertyFile(const char* path, const char* header, VariableTable table) {
  return writePropertyFileAs(path, header, table, FileAccess::policy());
}

int writePropertyFileAs(const char* path, const char* header, VariableTable table, const FileAccess& access) {
  if (path == nullptr || path[0] == '\0' || !tableIsWritable(path, table)) return -1;
  std::string text;
  if (!composeText(header, table, &text)) {
    debugPrint(kPropertyDebugCode, "htable: writePropertyFile %s: out of memory\n", path);
    return -1;
  }
  return replaceFile(path, text, access) ? 0 : -1;
}

int replaceFileContents(const char* path, const char* data, size_t size) {
  if (path == nullptr || path[0] == '\0' || (data == nullptr && size != 0)) return -1;
  return replaceFile(path, std::string(data != nullptr ? data : "", size)) ? 0 : -1;
}

bool acquireFileInUse(std::atomic<int>* word, int timeoutMs, int value, int pollMs) {
  if (word == nullptr || value == 0) return false;  // 0 would mark the word free
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const auto poll = std::chrono::milliseconds(pollMs > 0 ? pollMs : 1);
  for (;;) {
    int expected = 0;
    if (word->compare_exchange_strong(expected, value)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(poll);
  }
}

void releaseFileInUse(std::atomic<int>* word) {
  if (word != nullptr) word->store(0);
}
