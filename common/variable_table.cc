// VariableTable operations: entry allocation, lookup, serialization, the text form and the debug
// listings. Used by every part of the server, the RAID module and the client.
//
// Thread safety: gTableLock serializes every walk or change of any table in this binary. It is not
// re-entrant, so no function here calls another public table function while holding it; shared
// work goes through the *Locked helpers, which expect the lock held. Output that leaves this file
// (text streams, print callbacks) is produced from a private copy, outside the lock, so a slow
// stream or a callback that itself uses a table cannot stall or deadlock the process.
#include "common/variable_table.h"

#include <cinttypes>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "common/thread_annotations.h"

const char* const kEndOfHashtableMarker =
    "=-\\=-\\=-\\=-\\=-\\=-\\=-\\=-\\=-\\=-\\=-\\=-\\=ENDOFHASHTABLE-/=-/=-/=-/=-/=-/=-/=-/=-/=-/=-/=-/=-/";

namespace {

constexpr int kDumpKeyCut = 256;
constexpr int kDumpValueCut = 512;
// fgets buffer of the text reader: lines of at most 499 characters.
constexpr int kTextLineBuffer = 500;

// Guards the links and the contents of every table of this binary.
Mutex gTableLock;

using Guard = MutexLock;

// A key prepared once per lookup: its length and its last four bytes as one word, so that most
// entries are rejected without touching their text beyond the tail.
struct SearchKey {
  const char* text;
  size_t length;
  uint32_t tail;
};

uint32_t tailWord(const char* text, size_t length) {
  uint32_t word;
  std::memcpy(&word, text + length - 4, sizeof(word));  // memcpy: keys have no alignment
  return word;
}

SearchKey makeSearchKey(const char* key) {
  SearchKey k{key, std::strlen(key), 0};
  if (k.length >= 4) k.tail = tailWord(key, k.length);
  return k;
}

bool entryMatches(const VariableEntry* entry, const SearchKey& k) {
  if (entry->keyLength != k.length) return false;
  if (k.length >= 4 && tailWord(entry->key, k.length) != k.tail) return false;
  return std::memcmp(entry->key, k.text, k.length) == 0;
}

// Address of the link that points at the newest entry of the key, or null.
VariableEntry** findLinkLocked(VariableEntry** head, const SearchKey& k) REQUIRES(gTableLock) {
  for (VariableEntry** link = head; *link != nullptr; link = &(*link)->next) {
    if (entryMatches(*link, k)) return link;
  }
  return nullptr;
}

const VariableEntry* findEntryLocked(VariableTable table, const SearchKey& k) REQUIRES(gTableLock) {
  for (const VariableEntry* e = table; e != nullptr; e = e->next) {
    if (entryMatches(e, k)) return e;
  }
  return nullptr;
}

// One block: header, key, NUL, value, NUL. Null on allocation failure or a key too long for the
// 32-bit length field.
VariableEntry* newEntry(const char* key, size_t keyLength, const char* value, size_t valueLength) {
  constexpr size_t kHeader = sizeof(VariableEntry);
  if (keyLength > UINT32_MAX || valueLength > SIZE_MAX - kHeader - keyLength - 2) return nullptr;
  auto* entry = static_cast<VariableEntry*>(std::malloc(kHeader + keyLength + 1 + valueLength + 1));
  if (entry == nullptr) return nullptr;
  char* keyText = reinterpret_cast<char*>(entry + 1);
  std::memcpy(keyText, key, keyLength);
  keyText[keyLength] = '\0';
  char* valueText = keyText + keyLength + 1;
  std::memcpy(valueText, value, valueLength);
  valueText[valueLength] = '\0';
  entry->key = keyText;
  entry->value = valueText;
  entry->next = nullptr;
  entry->keyLength = static_cast<uint32_t>(keyLength);
  return entry;
}

VariableEntry* newEntry(const char* key, const char* value) {
  return newEntry(key, std::strlen(key), value, std::strlen(value));
}

void freeChain(VariableEntry* entry) {
  while (entry != nullptr) {
    VariableEntry* next = entry->next;
    std::free(entry);
    entry = next;
  }
}

char* copyText(const char* text) {
  size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

}  // namespace

// ---- Adding -------------------------------------------------------------------------------------

void addVariable(VariableTable* table, const char* key, const char* value) {
  if (key == nullptr) {
    std::printf("***>>> TRYING TO ADD A NULL NAME TO HASHTABLE <<<***\n");
    return;
  }
  if (value == nullptr) {
    std::printf("***>>> TRYING TO ADD A NULL VALUE TO HASHTABLE <<<*** name=%s\n", key);
    return;
  }
  if (table == nullptr) return;
  VariableEntry* entry = newEntry(key, value);  // allocate before locking
  if (entry == nullptr) return;
  Guard guard(gTableLock);
  entry->next = *table;
  *table = entry;
}

void addIntVariable(VariableTable* table, const char* key, uint32_t value, bool isSigned) {
  char text[16];
  if (isSigned && static_cast<int32_t>(value) < 0) {
    std::snprintf(text, sizeof(text), "%" PRId32, static_cast<int32_t>(value));
  } else {
    std::snprintf(text, sizeof(text), "%" PRIu32, value);
  }
  addVariable(table, key, text);
}

void addUnsignedVariable(VariableTable* table, const char* key, uint32_t value) {
  addIntVariable(table, key, value, false);
}

void addBoolVariable(VariableTable* table, const char* key, bool flag) {
  addVariable(table, key, flag ? "true" : "false");
}

// ---- Looking up ---------------------------------------------------------------------------------

const char* getVariable(VariableTable table, const char* key) {
  if (key == nullptr) return nullptr;
  SearchKey k = makeSearchKey(key);
  Guard guard(gTableLock);
  const VariableEntry* entry = findEntryLocked(table, k);
  return entry != nullptr ? entry->value : nullptr;
}

char* getVariableCopy(VariableTable table, const char* key) {
  if (key == nullptr) return nullptr;
  SearchKey k = makeSearchKey(key);
  Guard guard(gTableLock);  // copy under the lock: the entry may be removed right after
  const VariableEntry* entry = findEntryLocked(table, k);
  return entry != nullptr ? copyText(entry->value) : nullptr;
}

char* getVariableCopyShared(const VariableTable* table, const char* key) {
  if (table == nullptr || key == nullptr) return nullptr;
  SearchKey k = makeSearchKey(key);
  Guard guard(gTableLock);
  const VariableEntry* entry = findEntryLocked(*table, k);
  return entry != nullptr ? copyText(entry->value) : nullptr;
}

const char* getVariableOrMissing(VariableTable table, const char* key) {
  const char* value = getVariable(table, key);
  return value != nullptr ? value : kMissing;
}

char* getVariableCopyOrMissing(VariableTable table, const char* key) {
  char* copy = getVariableCopy(table, key);
  return copy != nullptr ? copy : copyText(kMissing);
}

bool getBoolVariable(VariableTable table, const char* key) {
  if (key == nullptr) return false;
  SearchKey k = makeSearchKey(key);
  Guard guard(gTableLock);
  const VariableEntry* entry = findEntryLocked(table, k);
  return entry != nullptr && (std::strcmp(entry->value, "true") == 0 || std::strcmp(entry->value, "1") == 0);
}

// ---- Changing -----------------------------------------------------------------------------------

void replaceVariable(VariableTable* table, const char* key, const char* value) {
  if (table == nullptr || key == nullptr || value == nullptr) return;
  // Allocating first means an out-of-memory replace leaves the old value in place instead of
  // losing the key altogether.
  VariableEntry* fresh = newEntry(key, value);
  if (fresh == nullptr) return;
  SearchKey k = makeSearchKey(key);
  VariableEntry* old = nullptr;
  {
    Guard guard(gTableLock);
    if (VariableEntry** link = findLinkLocked(table, k)) {
      old = *link;
      *link = old->next;
    }
    fresh->next = *table;
    *table = fresh;
  }
  std::free(old);
}

void removeVariable(VariableTable* table, const char* key) {
  if (table == nullptr || key == nullptr) return;
  SearchKey k = makeSearchKey(key);
  VariableEntry* old = nullptr;
  {
    Guard guard(gTableLock);
    if (VariableEntry** link = findLinkLocked(table, k)) {
      old = *link;
      *link = old->next;
    }
  }
  std::free(old);
}

void freeVariableTable(VariableTable* table) {
  if (table == nullptr) return;
  VariableEntry* chain;
  {
    Guard guard(gTableLock);
    chain = *table;
    *table = nullptr;
  }
  freeChain(chain);  // the detached chain is ours alone
}

VariableTable copyVariableTable(VariableTable source) {
  VariableTable copy = nullptr;
  Guard guard(gTableLock);
  for (const VariableEntry* e = source; e != nullptr; e = e->next) {
    VariableEntry* entry = newEntry(e->key, e->keyLength, e->value, std::strlen(e->value));
    if (entry == nullptr) continue;  // as addVariable: an entry that cannot be allocated is dropped
    entry->next = copy;
    copy = entry;
  }
  return copy;
}

void appendVariableTable(VariableTable* first, VariableTable second) {
  if (first == nullptr || second == nullptr) return;
  Guard guard(gTableLock);
  VariableEntry** link = first;
  for (; *link != nullptr; link = &(*link)->next) {
    // Appending a chain that is already part of the first table would close a loop that every
    // later walk follows forever.
    if (*link == second) return;
  }
  *link = second;
}

namespace {

size_t countLocked(VariableTable table) REQUIRES(gTableLock) {
  size_t n = 0;
  for (const VariableEntry* e = table; e != nullptr; e = e->next) ++n;
  return n;
}

// Number of entries of table with the same key and value as pair.
size_t countPairLocked(VariableTable table, const VariableEntry* pair) REQUIRES(gTableLock) {
  SearchKey k{pair->key, pair->keyLength, pair->keyLength >= 4 ? tailWord(pair->key, pair->keyLength) : 0};
  size_t n = 0;
  for (const VariableEntry* e = table; e != nullptr; e = e->next) {
    if (entryMatches(e, k) && std::strcmp(e->value, pair->value) == 0) ++n;
  }
  return n;
}

}  // namespace

bool compareVariableTables(VariableTable a, VariableTable b) {
  if (a == b) return true;
  if (a == nullptr || b == nullptr) return false;
  Guard guard(gTableLock);
  if (countLocked(a) != countLocked(b)) return false;
  // Counting each pair on both sides, not just finding it in b: with duplicates, {x=1, x=1} and
  // {x=1, y=2} have the same size and every entry of the first occurs in the second.
  for (const VariableEntry* e = a; e != nullptr; e = e->next) {
    if (countPairLocked(b, e) != countPairLocked(a, e)) return false;
  }
  return true;
}

// ---- Serialized form ----------------------------------------------------------------------------

size_t sizeOfSerializedTable(VariableTable table) {
  size_t size = 0;
  Guard guard(gTableLock);
  for (const VariableEntry* e = table; e != nullptr; e = e->next) {
    if (e->keyLength == 0) continue;
    size += e->keyLength + 1 + std::strlen(e->value) + 1;
  }
  return size == 0 ? 0 : size + 1;
}

void serializeVariableTable(VariableTable table, char* buffer) {
  if (buffer == nullptr) return;
  char* out = buffer;
  Guard guard(gTableLock);
  for (const VariableEntry* e = table; e != nullptr; e = e->next) {
    if (e->keyLength == 0) continue;
    std::memcpy(out, e->key, e->keyLength + 1);
    out += e->keyLength + 1;
    size_t valueSize = std::strlen(e->value) + 1;
    std::memcpy(out, e->value, valueSize);
    out += valueSize;
  }
  if (out != buffer) *out = '\0';
}

namespace {

// Reads pairs from buffer[0, size) until the closing empty key or the first string that is not
// NUL-terminated within the bounds. Pairs are prepended, so the table is in reverse order.
// size == SIZE_MAX means "trusted, unbounded" and uses strlen.
VariableTable deserializePairs(const char* buffer, size_t size) {
  VariableTable table = nullptr;
  if (buffer == nullptr) return table;
  const bool bounded = size != SIZE_MAX;
  auto stringEnd = [&](size_t pos) -> const char* {
    if (!bounded) return buffer + pos + std::strlen(buffer + pos);
    if (pos >= size) return nullptr;
    return static_cast<const char*>(std::memchr(buffer + pos, '\0', size - pos));
  };
  size_t pos = 0;
  Guard guard(gTableLock);
  while (true) {
    const char* keyEnd = stringEnd(pos);
    if (keyEnd == nullptr || keyEnd == buffer + pos) break;  // unterminated key or closing NUL
    size_t valuePos = static_cast<size_t>(keyEnd - buffer) + 1;
    const char* valueEnd = stringEnd(valuePos);
    if (valueEnd == nullptr) break;
    VariableEntry* entry = newEntry(buffer + pos, static_cast<size_t>(keyEnd - buffer) - pos,
                                    buffer + valuePos, static_cast<size_t>(valueEnd - buffer) - valuePos);
    if (entry != nullptr) {
      entry->next = table;
      table = entry;
    }
    pos = static_cast<size_t>(valueEnd - buffer) + 1;
  }
  return table;
}

}  // namespace

VariableTable deserializeVariableTable(const char* buffer) { return deserializePairs(buffer, SIZE_MAX); }

VariableTable deserializeVariableTableBounded(const char* buffer, size_t size) {
  // SIZE_MAX bytes cannot exist; treating it as the largest bound keeps the two modes apart.
  return deserializePairs(buffer, size == SIZE_MAX ? SIZE_MAX - 1 : size);
}

// ---- Text form ----------------------------------------------------------------------------------

namespace {

// Copy of a table in the same order, made under the lock so that output can be written without
// it. Entries whose key or value pointer is null keep that mark. False when out of memory.
bool snapshotInOrder(VariableTable table, VariableTable* copy) {
  *copy = nullptr;
  VariableEntry** tail = copy;
  Guard guard(gTableLock);
  for (const VariableEntry* e = table; e != nullptr; e = e->next) {
    const char* key = e->key != nullptr ? e->key : "";
    const char* value = e->value != nullptr ? e->value : "";
    VariableEntry* entry = newEntry(key, value);
    if (entry == nullptr) {
      freeChain(*copy);
      *copy = nullptr;
      return false;
    }
    if (e->key == nullptr) entry->key = nullptr;
    if (e->value == nullptr) entry->value = nullptr;
    *tail = entry;
    tail = &entry->next;
  }
  return true;
}

// Leading spaces, then trailing space, CR, LF and tab, then one pair of enclosing double quotes.
char* trimField(char* text) {
  while (*text == ' ') ++text;
  size_t length = std::strlen(text);
  while (length > 0 && std::strchr(" \r\n\t", text[length - 1]) != nullptr) --length;
  text[length] = '\0';
  if (length >= 2 && text[0] == '"' && text[length - 1] == '"') {
    text[length - 1] = '\0';
    ++text;
  }
  return text;
}

}  // namespace

bool formatVariableTableText(VariableTable table, std::string* out) {
  VariableTable copy;
  if (out == nullptr || !snapshotInOrder(table, &copy)) return false;
  std::string text;
  for (const VariableEntry* e = copy; e != nullptr; e = e->next) {
    text.append(e->key != nullptr ? e->key : "").append(" = ").append(e->value != nullptr ? e->value : "");
    text += '\n';
  }
  freeChain(copy);
  text.append(kEndOfHashtableMarker).append("\n");
  out->append(text);
  return true;
}

bool writeVariableTableText(VariableTable table, FILE* stream) {
  if (stream == nullptr) return false;
  VariableTable copy;
  if (!snapshotInOrder(table, &copy)) return false;
  bool ok = true;
  for (const VariableEntry* e = copy; e != nullptr && ok; e = e->next) {
    ok = std::fprintf(stream, "%s = %s\n", e->key != nullptr ? e->key : "",
                      e->value != nullptr ? e->value : "") >= 0;
  }
  freeChain(copy);
  // The marker is written even after a failed line, so that a reader of a stream that recovers
  // never runs into the next table.
  bool markerOk = std::fprintf(stream, "%s\n", kEndOfHashtableMarker) >= 0;
  // Some C runtimes (Windows') report a stream that cannot be written only when its buffer is
  // flushed.
  const bool flushed = std::fflush(stream) == 0 && std::ferror(stream) == 0;
  return ok && markerOk && flushed;
}

VariableTable readVariableTableText(FILE* stream) {
  VariableTable table = nullptr;
  if (stream == nullptr) return table;
  char line[kTextLineBuffer];
  while (std::fgets(line, sizeof(line), stream) != nullptr) {
    if (std::strstr(line, kEndOfHashtableMarker) != nullptr) break;
    if (line[0] == '\'' || line[0] == '\\') continue;
    char* equals = std::strchr(line, '=');
    if (equals == nullptr) continue;
    *equals = '\0';
    // Trimming works in place, so unlike a copying trim it cannot fail for lack of memory.
    addVariable(&table, trimField(line), trimField(equals + 1));
  }
  return table;
}

// ---- Debug listings -----------------------------------------------------------------------------

namespace {

int printToStdout(void* /*context*/, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vprintf(format, args);
  va_end(args);
  return n;
}

}  // namespace

void dumpVariableTableTo(VariableTable table, VariablePrintRoutine print, void* context) {
  if (print == nullptr) return;
  VariableTable copy;
  bool complete = snapshotInOrder(table, &copy);
  print(context, "Hashtable: #########################\n");
  for (const VariableEntry* e = copy; e != nullptr; e = e->next) {
    if (e->key == nullptr || e->value == nullptr) {
      print(context, "bad pointers\n");
    } else {
      print(context, "%.*s=%.*s\n", kDumpKeyCut, e->key, kDumpValueCut, e->value);
    }
  }
  if (!complete) print(context, "bad pointers\n");  // out of memory: say the listing is not whole
  print(context, "Hashtable: done ####################\n");
  freeChain(copy);
}

void dumpVariableTable(VariableTable table) {
  dumpVariableTableTo(table, printToStdout, nullptr);
  std::fflush(nullptr);
}

void dumpVariableTableTitled(VariableTable table, const char* title) {
  std::printf("Hashtable %s \n", title != nullptr ? title : "");
  dumpVariableTable(table);
}

void dumpVariableTableAddresses(VariableTable table) {
  // Addresses belong to the live table, so this listing is printed under the lock (to standard
  // output only, never to a callback). At least eight hex digits, all of them on 64-bit hosts.
  {
    Guard guard(gTableLock);
    std::printf("Hashtable: #########################\n");
    for (const VariableEntry* e = table; e != nullptr; e = e->next) {
      if (e->key == nullptr || e->value == nullptr) {
        std::printf("bad pointers\n");
        continue;
      }
      std::printf("%08" PRIxPTR " %08" PRIxPTR "<%.*s>=%08" PRIxPTR "<%.*s>\n",
                  reinterpret_cast<uintptr_t>(e), reinterpret_cast<uintptr_t>(e->key), kDumpKeyCut, e->key,
                  reinterpret_cast<uintptr_t>(e->value), kDumpValueCut, e->value);
    }
    std::printf("Hashtable: done ####################\n");
  }
  std::fflush(nullptr);
}
