// Fuzz target: the variable table's two decoders of outside input. The serialized form arrives
// in shared memory from the front end (deserializeVariableTableBounded); the text form is read
// from settings files and streams (readVariableTableText).
//
// Checks: a decoded table serializes to a form that decodes to the same pairs (round trip), the
// serialized size is what the serializer writes, the bounded decoder never reads past the
// buffer, and the text reader takes a stream of several tables table by table.
//
// Thread safety: one input at a time.
#include <cstdio>
#include <string>
#include <vector>

#include "common/variable_table.h"
#include "fuzz/fuzz_support.h"

namespace {

size_t countOf(VariableTable table) {
  size_t n = 0;
  for (const VariableEntry* e = table; e != nullptr; e = e->next) ++n;
  return n;
}

void checkSerializedForm(const uint8_t* data, size_t size) {
  // An exact-size heap copy: a read past the end is caught by ASan.
  std::vector<char> buffer(data, data + size);
  TableOwner table(deserializeVariableTableBounded(buffer.data(), buffer.size()));
  for (const VariableEntry* e = table.get(); e != nullptr; e = e->next) {
    FUZZ_CHECK(e->keyLength > 0 && e->keyLength == std::strlen(e->key));
  }
  const size_t serializedSize = sizeOfSerializedTable(table.get());
  std::vector<char> serialized(serializedSize + 1, '\x7f');
  serializeVariableTable(table.get(), serialized.data());
  FUZZ_CHECK(serialized[serializedSize] == '\x7f');  // wrote exactly the announced size
  // Decoding reverses the order, so decoding twice gives the original order back.
  TableOwner again(deserializeVariableTableBounded(serialized.data(), serializedSize));
  FUZZ_CHECK(countOf(again.get()) == countOf(table.get()));
  FUZZ_CHECK(table.get() == nullptr || compareVariableTables(table.get(), again.get()));
  if (serializedSize > 0) {
    TableOwner unbounded(deserializeVariableTable(serialized.data()));
    FUZZ_CHECK(countOf(unbounded.get()) == countOf(table.get()));
  }
  TableOwner copy(copyVariableTable(table.get()));
  FUZZ_CHECK(table.get() == nullptr || compareVariableTables(table.get(), copy.get()));
  // Lookups and removals on whatever keys arrived.
  for (const VariableEntry* e = table.get(); e != nullptr; e = e->next) {
    FUZZ_CHECK(getVariable(copy.get(), e->key) != nullptr);
  }
  if (table.get() != nullptr) {
    const std::string firstKey = table.get()->key;
    removeVariable(copy.address(), firstKey.c_str());
    replaceVariable(copy.address(), firstKey.c_str(), "replaced");
    FUZZ_CHECK(std::strcmp(getVariableOrMissing(copy.get(), firstKey.c_str()), "replaced") == 0);
  }
}

void checkTextForm(const uint8_t* data, size_t size) {
  if (size == 0) return;
  std::vector<char> text(data, data + size);
  FILE* stream = fmemopen(text.data(), text.size(), "r");
  if (stream == nullptr) return;
  // The stream may hold several tables, each closed by the marker line.
  for (int tables = 0; tables < 64 && !feof(stream); ++tables) {
    TableOwner table(readVariableTableText(stream));
    for (const VariableEntry* e = table.get(); e != nullptr; e = e->next) {
      FUZZ_CHECK(std::strchr(e->key, '\n') == nullptr);
      FUZZ_CHECK(std::strlen(e->key) < 500 && std::strlen(e->value) < 500);
    }
    char* dump = nullptr;
    size_t dumpSize = 0;
    FILE* out = open_memstream(&dump, &dumpSize);
    if (out != nullptr) {
      FUZZ_CHECK(writeVariableTableText(table.get(), out));
      std::fclose(out);
    }
    std::free(dump);
  }
  std::fclose(stream);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the form, so that one corpus serves both decoders.
  if ((data[0] & 1) == 0) {
    checkSerializedForm(data + 1, size - 1);
  } else {
    checkTextForm(data + 1, size - 1);
  }
  return 0;
}
