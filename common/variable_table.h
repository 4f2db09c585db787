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
// thread still reads a borrowed value.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

extern "C" {

struct VariableEntry {
  char* key;             // points into this same allocation
  char* value;           // points into this same allocation
  VariableEntry* next;   // older entry, or null
  uint32_t keyLength;    // strlen(key)
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
bool compareVariableTables(VariableTable a, VariableTable b);

size_t sizeOfSerializedTable(VariableTable table);
// Writes sizeOfSerializedTable(table) bytes into buffer (nothing when buffer is null).
void serializeVariableTable(VariableTable table, char* buffer);
// New table from key NUL value NUL ... NUL; reverse order of the buffer. Caller frees.
// REQUIRES: buffer holds a closing empty key within its bounds.
VariableTable deserializeVariableTable(const char* buffer);
// Bounded variant for buffers that come from outside the process (shared memory): stops at
// `size` bytes even when the closing NUL is missing, and never reads past the buffer.
VariableTable deserializeVariableTableBounded(const char* buffer, size_t size);

void writeVariableTableText(VariableTable table, FILE* stream);
// New table from the text form, up to end of file or the marker line. Caller frees.
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
