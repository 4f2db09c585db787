// VariableTable: the list of key/value texts that carries every request, every reply and every
// settings file, and the unit that crosses the shared-memory boundary to the front end.
//
// A table is a singly linked list, newest entry first; duplicate keys are allowed and a lookup
// finds the newest. The handle is a pointer to the first entry; an empty table is a null handle.
// Each entry is ONE malloc'ed block (header, key bytes, value bytes), so freeing an entry is a
// single free(). The layout is a plain C struct because tables cross the module boundary.
//
// Thread safety: one process-wide lock serializes every operation on every table of this binary
// (each binary that links common/ has its own). Borrowed pointers returned by the get operations
// are read outside the lock: a table shared between threads must not lose entries while another
// thread still reads a borrowed value. Operations that take the table by value read the caller's
// handle before the lock is taken, so on a table that another thread changes at the same time
// only the operations taking the handle's address are safe, plus getVariableCopyShared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

extern "C" {

struct VariableEntry {
  char* key;            // points into this same allocation
  char* value;          // points into this same allocation
  VariableEntry* next;  // older entry, or null
  uint32_t keyLength;   // strlen(key)
  // key bytes + NUL, then value bytes + NUL follow
};

typedef VariableEntry* VariableTable;

}  // extern "C"

// Text that stands for an absent value wherever a default is asked for.
inline constexpr const char kMissing[] = "(missing)";

// Closing line of a table's text form (without its newline).
extern const char* const kEndOfHashtableMarker;

// Adders copy key and value; the caller keeps its own strings. A null key or value prints a
// message on standard output and adds nothing.
void addVariable(VariableTable* table, const char* key, const char* value);
void addIntVariable(VariableTable* table, const char* key, uint32_t value, bool isSigned);
void addUnsignedVariable(VariableTable* table, const char* key, uint32_t value);
void addBoolVariable(VariableTable* table, const char* key, bool flag);

// Borrowed pointer to the newest value of key, or null. Valid until that entry is removed or the
// table is freed.
const char* getVariable(VariableTable table, const char* key);
// Newly malloc'ed copy of the value, or null. Caller frees.
char* getVariableCopy(VariableTable table, const char* key);
// As getVariableCopy, for a table that other threads change at the same time: the handle itself
// is read under the lock. Caller frees.
char* getVariableCopyShared(const VariableTable* table, const char* key);
// Borrowed value, or kMissing.
const char* getVariableOrMissing(VariableTable table, const char* key);
// Newly malloc'ed copy of the value or of "(missing)"; null only when out of memory. Caller frees.
char* getVariableCopyOrMissing(VariableTable table, const char* key);
// True only for the values "true" and "1".
bool getBoolVariable(VariableTable table, const char* key);

void replaceVariable(VariableTable* table, const char* key, const char* value);
void removeVariable(VariableTable* table, const char* key);
// Frees every entry; *table becomes null.
void freeVariableTable(VariableTable* table);
// New table holding every entry of source, in reverse order. Caller frees.
VariableTable copyVariableTable(VariableTable source);
// Links second's entries behind first's last entry; second's entries now belong to *first.
void appendVariableTable(VariableTable* first, VariableTable second);
// True when a and b are the same handle, or when both are non-empty and hold the same key/value
// pairs the same number of times each (order does not matter).
bool compareVariableTables(VariableTable a, VariableTable b);

// Serialized form: key NUL value NUL ... NUL; an empty table is zero bytes. An entry with an empty
// key cannot be told from the closing NUL, so it is left out (otherwise it would cut the table).
size_t sizeOfSerializedTable(VariableTable table);
// Writes sizeOfSerializedTable(table) bytes into buffer (nothing when buffer is null).
// REQUIRES: no other thread changes the table between the size query and this call.
void serializeVariableTable(VariableTable table, char* buffer);
// New table from key NUL value NUL ... NUL; reverse order of the buffer. Caller frees.
// REQUIRES: buffer holds a closing empty key within its bounds.
VariableTable deserializeVariableTable(const char* buffer);
// Bounded variant for buffers that come from outside the process (shared memory): never reads
// past buffer[size - 1]. When the closing empty key is missing, the table ends with the last pair
// whose key and value are both NUL-terminated within the bounds; a trailing partial pair is dropped.
VariableTable deserializeVariableTableBounded(const char* buffer, size_t size);

// Writes one "key = value" line per entry in list order, then the marker line. Returns false when
// the stream is null or a write failed (the lines after a failed one are not attempted).
bool writeVariableTableText(VariableTable table, FILE* stream);
// The same text appended to *out. False (and *out unchanged) when the table cannot be copied.
bool formatVariableTableText(VariableTable table, std::string* out);
// New table from the text form, up to end of file or the marker line, so that the next call
// reads the next table of the stream. Lines are read 499 characters at a time: a longer line is
// taken as several lines. Comment lines start with ' or a backslash; lines without "=" are
// skipped; the first "=" splits key from value; both are trimmed and lose enclosing quotes.
// The table holds the lines in reverse order (a later line of the same key wins). Caller frees.
VariableTable readVariableTableText(FILE* stream);

void dumpVariableTable(VariableTable table);
void dumpVariableTableTitled(VariableTable table, const char* title);
typedef int (*VariablePrintRoutine)(void* context, const char* format, ...);
void dumpVariableTableTo(VariableTable table, VariablePrintRoutine print, void* context);
void dumpVariableTableAddresses(VariableTable table);

// Owner for C++ code: frees the table when it goes out of scope.
class TableOwner {
 public:
  TableOwner() = default;
  explicit TableOwner(VariableTable table) : table_(table) {}
  ~TableOwner() { freeVariableTable(&table_); }
  TableOwner(const TableOwner&) = delete;
  TableOwner& operator=(const TableOwner&) = delete;
  TableOwner(TableOwner&& other) noexcept : table_(other.release()) {}
  TableOwner& operator=(TableOwner&& other) noexcept {
    if (this != &other) {
      freeVariableTable(&table_);
      table_ = other.release();
    }
    return *this;
  }

  VariableTable get() const { return table_; }
  VariableTable* address() { return &table_; }
  // Hands the table to the caller, who frees it.
  VariableTable release() {
    VariableTable t = table_;
    table_ = nullptr;
    return t;
  }
  explicit operator bool() const { return table_ != nullptr; }

 private:
  VariableTable table_ = nullptr;
};
