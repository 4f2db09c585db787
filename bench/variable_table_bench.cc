// Benchmarks of the VariableTable on a request-sized table: lookups (the length and last-four-bytes
// prefilter against a plain strcmp walk over the same list) and the serialized form that crosses
// shared memory. Single-threaded; the library's lookups include the uncontended table lock.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/variable_table.h"

namespace {

constexpr int kRows = 400;
const char* const kFields[] = {"message", "time", "severity", "source", "id"};  // 5 x 400 = 2,000

// A log page reply: rows of one list whose keys share the "LogEntries" prefix and, per field,
// their length class and last four bytes, so the prefilter meets its hardest realistic case.
VariableTable buildRequestTable() {
  VariableTable table = nullptr;
  char key[64];
  char value[64];
  for (int row = 0; row < kRows; ++row) {
    for (const char* field : kFields) {
      std::snprintf(key, sizeof(key), "LogEntries%d%s", row, field);
      std::snprintf(value, sizeof(value), "value of %s in row %d", field, row);
      addVariable(&table, key, value);
    }
  }
  return table;
}

VariableTable requestTable() {
  static VariableTable table = buildRequestTable();  // shared by all benchmarks, never freed
  return table;
}

const char* naiveLookup(VariableTable table, const char* key) {
  for (const VariableEntry* e = table; e != nullptr; e = e->next) {
    if (std::strcmp(e->key, key) == 0) return e->value;
  }
  return nullptr;
}

// Newest entry, a row in the middle, the oldest entry, an absent row of the same shape and an
// absent key of another shape.
void BM_Lookup(benchmark::State& state, const char* key, bool expectHit) {
  VariableTable table = requestTable();
  if ((getVariable(table, key) != nullptr) != expectHit) state.SkipWithError("unexpected lookup result");
  for (auto _ : state) benchmark::DoNotOptimize(getVariable(table, key));
}

void BM_NaiveLookup(benchmark::State& state, const char* key, bool expectHit) {
  VariableTable table = requestTable();
  if ((naiveLookup(table, key) != nullptr) != expectHit) state.SkipWithError("unexpected lookup result");
  for (auto _ : state) benchmark::DoNotOptimize(naiveLookup(table, key));
}

#define LOOKUP_CASES(bm)                                                 \
  BENCHMARK_CAPTURE(bm, hit_newest, "LogEntries399id", true);            \
  BENCHMARK_CAPTURE(bm, hit_middle, "LogEntries200message", true);       \
  BENCHMARK_CAPTURE(bm, hit_oldest, "LogEntries0message", true);         \
  BENCHMARK_CAPTURE(bm, miss_same_shape, "LogEntries400message", false); \
  BENCHMARK_CAPTURE(bm, miss_other, "HTMLPath", false)

LOOKUP_CASES(BM_Lookup);
LOOKUP_CASES(BM_NaiveLookup);

void BM_Serialize(benchmark::State& state) {
  VariableTable table = requestTable();
  std::vector<char> buffer(sizeOfSerializedTable(table));
  for (auto _ : state) {
    size_t size = sizeOfSerializedTable(table);
    serializeVariableTable(table, buffer.data());
    benchmark::DoNotOptimize(size);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_Serialize);

void BM_Deserialize(benchmark::State& state, bool bounded) {
  VariableTable table = requestTable();
  std::vector<char> buffer(sizeOfSerializedTable(table));
  serializeVariableTable(table, buffer.data());
  for (auto _ : state) {
    VariableTable back = bounded ? deserializeVariableTableBounded(buffer.data(), buffer.size())
                                 : deserializeVariableTable(buffer.data());
    // The handle's value, not the variable: GCC 12 at -O2 miscompiles the non-const
    // DoNotOptimize ("+m,r") here, storing the table where freeVariableTable does not look.
    const VariableTable handle = back;
    benchmark::DoNotOptimize(handle);
    freeVariableTable(&back);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK_CAPTURE(BM_Deserialize, unbounded, false);
BENCHMARK_CAPTURE(BM_Deserialize, bounded, true);

}  // namespace

BENCHMARK_MAIN();
