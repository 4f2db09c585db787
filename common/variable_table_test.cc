// Tests of the VariableTable: lookups and changes, the serialized and text forms, the debug
// listings and concurrent use through the process-wide lock.
#include "common/variable_table.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Entries in list order (newest first).
Pairs pairsOf(VariableTable table) {
  Pairs out;
  for (const VariableEntry* e = table; e != nullptr; e = e->next) out.emplace_back(e->key, e->value);
  return out;
}

TableOwner tableOf(const Pairs& addedInOrder) {
  TableOwner t;
  for (const auto& [k, v] : addedInOrder) addVariable(t.address(), k.c_str(), v.c_str());
  return t;
}

std::string serialized(VariableTable table) {
  std::string bytes(sizeOfSerializedTable(table), '\x7f');
  serializeVariableTable(table, bytes.data());
  return bytes;
}

TableOwner readText(const std::string& text) {
  FILE* f = tmpfile();
  fputs(text.c_str(), f);
  rewind(f);
  TableOwner t(readVariableTableText(f));
  fclose(f);
  return t;
}

// Print routine that itself uses a table, as a debug print routine may: it would deadlock if the
// listing held the table lock while calling it.
int collectWithTableUse(void* context, const char* format, ...) {
  TableOwner probe = tableOf({{"p", "1"}});
  char line[1024];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  *static_cast<std::string*>(context) += std::string(getVariable(probe.get(), "p")) + ":" + line;
  return n;
}

TEST(VariableTableTest, NewestDuplicateWinsAndRemoveUncoversOlder) {
  TableOwner t = tableOf({{"Name", "a"}, {"Name", "b"}, {"Other", "x"}});
  EXPECT_STREQ(getVariable(t.get(), "Name"), "b");
  removeVariable(t.address(), "Name");
  EXPECT_STREQ(getVariable(t.get(), "Name"), "a");
  removeVariable(t.address(), "Name");
  EXPECT_EQ(getVariable(t.get(), "Name"), nullptr);
  removeVariable(t.address(), "Name");  // absent: nothing
  removeVariable(t.address(), nullptr);
  EXPECT_EQ(pairsOf(t.get()), (Pairs{{"Other", "x"}}));
  EXPECT_EQ(getVariable(t.get(), nullptr), nullptr);
  EXPECT_EQ(getVariable(t.get(), "other"), nullptr);  // case-sensitive
}

TEST(VariableTableTest, LookupTellsApartKeysSharingLengthAndTail) {
  // Rows of one list: same length and last four bytes, different in the middle or the front.
  TableOwner t = tableOf({{"Row1Name", "r1"},
                          {"Row2Name", "r2"},
                          {"XRow1ame", "x"},
                          {"abc", "3"},
                          {"abcd", "4"},
                          {"ab", "2"},
                          {"", "empty"},
                          {"LogEntries1message", "m1"},
                          {"LogEntries2message", "m2"}});
  EXPECT_STREQ(getVariable(t.get(), "Row1Name"), "r1");
  EXPECT_STREQ(getVariable(t.get(), "Row2Name"), "r2");
  EXPECT_EQ(getVariable(t.get(), "Row3Name"), nullptr);
  EXPECT_EQ(getVariable(t.get(), "Row1Nam"), nullptr);
  EXPECT_STREQ(getVariable(t.get(), "abc"), "3");
  EXPECT_STREQ(getVariable(t.get(), "abcd"), "4");
  EXPECT_STREQ(getVariable(t.get(), "ab"), "2");
  EXPECT_STREQ(getVariable(t.get(), ""), "empty");
  EXPECT_EQ(getVariable(t.get(), "bcd"), nullptr);
  EXPECT_STREQ(getVariable(t.get(), "LogEntries1message"), "m1");
  EXPECT_EQ(getVariable(t.get(), "LogEntries3message"), nullptr);
}

TEST(VariableTableTest, EntryIsOneBlockWithKeyThenValue) {
  TableOwner t = tableOf({{"Key", "Value"}});
  const VariableEntry* e = t.get();
  EXPECT_EQ(e->key, reinterpret_cast<const char*>(e + 1));
  EXPECT_EQ(e->value, e->key + 4);
  EXPECT_EQ(e->keyLength, 3u);
  EXPECT_EQ(e->next, nullptr);
}

TEST(VariableTableTest, NullKeyOrValuePrintsAndAddsNothing) {
  TableOwner t;
  testing::internal::CaptureStdout();
  addVariable(t.address(), nullptr, "v");
  addVariable(t.address(), "k", nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "***>>> TRYING TO ADD A NULL NAME TO HASHTABLE <<<***\n"
            "***>>> TRYING TO ADD A NULL VALUE TO HASHTABLE <<<*** name=k\n");
  EXPECT_FALSE(t);
}

TEST(VariableTableTest, ReplaceTakesOnlyTheNewestAndNeedsBothTexts) {
  TableOwner t = tableOf({{"k", "old"}, {"k", "mid"}});
  replaceVariable(t.address(), "k", nullptr);
  EXPECT_EQ(pairsOf(t.get()), (Pairs{{"k", "mid"}, {"k", "old"}}));
  replaceVariable(t.address(), "k", "new");
  EXPECT_EQ(pairsOf(t.get()), (Pairs{{"k", "new"}, {"k", "old"}}));
  replaceVariable(t.address(), "n", "1");  // absent: added
  EXPECT_STREQ(getVariable(t.get(), "n"), "1");
}

TEST(VariableTableTest, MissingPlaceholderAndCopies) {
  TableOwner t = tableOf({{"k", "v"}, {"m", kMissing}});
  EXPECT_STREQ(getVariableOrMissing(t.get(), "absent"), "(missing)");
  EXPECT_STREQ(getVariableOrMissing(t.get(), nullptr), "(missing)");
  EXPECT_STREQ(getVariableOrMissing(t.get(), "m"), getVariableOrMissing(t.get(), "absent"));
  char* copy = getVariableCopy(t.get(), "k");
  char* missing = getVariableCopyOrMissing(t.get(), "absent");
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, getVariable(t.get(), "k"));
  t = TableOwner();  // copies outlive the table
  EXPECT_STREQ(copy, "v");
  EXPECT_STREQ(missing, "(missing)");
  EXPECT_EQ(getVariableCopy(t.get(), "k"), nullptr);
  free(copy);
  free(missing);
}

TEST(VariableTableTest, BoolIsTrueOnlyForTrueAndOne) {
  EXPECT_FALSE(getBoolVariable(nullptr, "b"));
  TableOwner t;
  addBoolVariable(t.address(), "on", true);
  addBoolVariable(t.address(), "off", false);
  EXPECT_EQ(pairsOf(t.get()), (Pairs{{"off", "false"}, {"on", "true"}}));
  EXPECT_TRUE(getBoolVariable(t.get(), "on"));
  EXPECT_FALSE(getBoolVariable(t.get(), "off"));
  const char* cases[][2] = {{"1", "1"}, {"TRUE", "0"}, {"yes", "0"}, {"2", "0"}, {"", "0"}, {"true ", "0"}};
  for (auto& c : cases) {
    replaceVariable(t.address(), "b", c[0]);
    EXPECT_EQ(getBoolVariable(t.get(), "b"), c[1][0] == '1') << c[0];
  }
  EXPECT_FALSE(getBoolVariable(t.get(), "absent"));
}

TEST(VariableTableTest, IntegersAsDecimalText) {
  TableOwner t;
  addIntVariable(t.address(), "s", static_cast<uint32_t>(-5), true);
  addIntVariable(t.address(), "u", static_cast<uint32_t>(-5), false);
  addIntVariable(t.address(), "min", 0x80000000u, true);
  addIntVariable(t.address(), "pos", 42, true);
  addIntVariable(t.address(), "zero", 0, true);
  addUnsignedVariable(t.address(), "max", 0xffffffffu);
  EXPECT_STREQ(getVariable(t.get(), "s"), "-5");
  EXPECT_STREQ(getVariable(t.get(), "u"), "4294967291");
  EXPECT_STREQ(getVariable(t.get(), "min"), "-2147483648");
  EXPECT_STREQ(getVariable(t.get(), "pos"), "42");
  EXPECT_STREQ(getVariable(t.get(), "zero"), "0");
  EXPECT_STREQ(getVariable(t.get(), "max"), "4294967295");
}

TEST(VariableTableTest, CopyReversesAndIsIndependent) {
  EXPECT_EQ(copyVariableTable(nullptr), nullptr);
  TableOwner source = tableOf({{"a", "1"}, {"b", "2"}, {"a", "3"}});
  TableOwner copy(copyVariableTable(source.get()));
  EXPECT_EQ(pairsOf(copy.get()), (Pairs{{"a", "1"}, {"b", "2"}, {"a", "3"}}));
  EXPECT_STREQ(getVariable(copy.get(), "a"), "1");
  source = TableOwner();
  EXPECT_EQ(pairsOf(copy.get()).size(), 3u);
}

TEST(VariableTableTest, AppendLinksBehindAndRefusesLoops) {
  TableOwner first = tableOf({{"a", "1"}});
  TableOwner second = tableOf({{"b", "2"}, {"c", "3"}});
  appendVariableTable(first.address(), second.release());
  EXPECT_EQ(pairsOf(first.get()), (Pairs{{"a", "1"}, {"c", "3"}, {"b", "2"}}));
  appendVariableTable(first.address(), first.get());        // itself
  appendVariableTable(first.address(), first.get()->next);  // its own tail
  EXPECT_EQ(pairsOf(first.get()).size(), 3u);

  TableOwner empty;
  appendVariableTable(empty.address(), first.release());
  EXPECT_EQ(pairsOf(empty.get()).size(), 3u);
}

TEST(VariableTableTest, CompareMatchesPairsAsAMultiset) {
  TableOwner a = tableOf({{"x", "1"}, {"y", "2"}});
  TableOwner b = tableOf({{"y", "2"}, {"x", "1"}});
  EXPECT_TRUE(compareVariableTables(nullptr, nullptr));
  EXPECT_TRUE(compareVariableTables(a.get(), a.get()));
  EXPECT_FALSE(compareVariableTables(a.get(), nullptr));
  EXPECT_FALSE(compareVariableTables(nullptr, b.get()));
  EXPECT_TRUE(compareVariableTables(a.get(), b.get()));
  replaceVariable(b.address(), "y", "3");
  EXPECT_FALSE(compareVariableTables(a.get(), b.get()));
  addVariable(a.address(), "z", "1");
  EXPECT_FALSE(compareVariableTables(a.get(), b.get()));

  TableOwner dup = tableOf({{"x", "1"}, {"x", "1"}});
  TableOwner mixed = tableOf({{"x", "1"}, {"y", "2"}});
  EXPECT_FALSE(compareVariableTables(dup.get(), mixed.get()));
  EXPECT_FALSE(compareVariableTables(mixed.get(), dup.get()));
}

TEST(VariableTableTest, SerializedForm) {
  EXPECT_EQ(sizeOfSerializedTable(nullptr), 0u);
  char untouched = 'q';
  serializeVariableTable(nullptr, &untouched);
  EXPECT_EQ(untouched, 'q');

  TableOwner one = tableOf({{"a", "1"}});
  EXPECT_EQ(sizeOfSerializedTable(one.get()), 5u);
  EXPECT_EQ(serialized(one.get()), std::string("a\0"
                                               "1\0\0",
                                               5));

  TableOwner t = tableOf({{"Name", "old"}, {"x", ""}, {"Name", "new"}});
  std::string bytes = serialized(t.get());
  EXPECT_EQ(bytes, std::string("Name\0new\0x\0\0Name\0old\0\0", 22));
  TableOwner back(deserializeVariableTable(bytes.c_str()));
  EXPECT_EQ(pairsOf(back.get()), (Pairs{{"Name", "old"}, {"x", ""}, {"Name", "new"}}));
  EXPECT_STREQ(getVariable(back.get(), "Name"), "old");
  EXPECT_EQ(deserializeVariableTable(nullptr), nullptr);
}

TEST(VariableTableTest, EmptyKeyIsLeftOutInsteadOfEndingTheTable) {
  TableOwner t = tableOf({{"after", "2"}, {"", "v"}, {"before", "1"}});
  std::string bytes = serialized(t.get());
  TableOwner back(deserializeVariableTable(bytes.c_str()));
  EXPECT_EQ(pairsOf(back.get()), (Pairs{{"after", "2"}, {"before", "1"}}));
  TableOwner onlyEmpty = tableOf({{"", "v"}});
  EXPECT_EQ(sizeOfSerializedTable(onlyEmpty.get()), 0u);
}

TEST(VariableTableTest, BoundedDeserializeKeepsOnlyCompletePairs) {
  TableOwner t = tableOf({{"k1", "v1"}, {"key2", "value2"}});
  const std::string bytes = serialized(t.get());  // key2 value2 k1 v1 NUL
  // Every prefix, copied into a block of exactly that size so that a read past it is caught.
  for (size_t size = 0; size <= bytes.size(); ++size) {
    char* block = static_cast<char*>(malloc(size == 0 ? 1 : size));
    memcpy(block, bytes.data(), size);
    TableOwner back(deserializeVariableTableBounded(block, size));
    free(block);
    Pairs expected;
    if (size >= 18) expected.emplace_back("k1", "v1");
    if (size >= 12) expected.emplace_back("key2", "value2");
    EXPECT_EQ(pairsOf(back.get()), expected) << "size " << size;
  }
  // Bytes after the closing NUL are not read as pairs.
  TableOwner stop(deserializeVariableTableBounded("a\0b\0\0c\0d\0", 10));
  EXPECT_EQ(pairsOf(stop.get()), (Pairs{{"a", "b"}}));
  EXPECT_EQ(deserializeVariableTableBounded(nullptr, 10), nullptr);
}

TEST(VariableTableTest, TextReaderTrimsSplitsAndSkips) {
  TableOwner t = readText(
      "  Key1   =   \"  spaced value \"  \r\n"
      "Empty=\n"
      "'Comment=1\n"
      "\\Backslash=1\n"
      "no equals sign\n"
      "Two=a=b\n"
      "Tab =\tlead\t\n"
      "Quote=\"\n"
      "Dup=first\n"
      "Dup=second\n");
  EXPECT_EQ(pairsOf(t.get()), (Pairs{{"Dup", "second"},
                                     {"Dup", "first"},
                                     {"Quote", "\""},
                                     {"Tab", "\tlead"},
                                     {"Two", "a=b"},
                                     {"Empty", ""},
                                     {"Key1", "  spaced value "}}));
}

TEST(VariableTableTest, TextReaderStopsAtMarkerAndReadsLongLinesInPieces) {
  std::string marker = kEndOfHashtableMarker;
  ASSERT_EQ(marker.size(), 89u);
  EXPECT_EQ(marker.substr(0, 6), "=-\\=-\\");
  EXPECT_EQ(marker.substr(36, 15), "=ENDOFHASHTABLE");
  EXPECT_EQ(marker.substr(84), "-/=-/");

  std::string longValue(600, 'v');
  FILE* f = tmpfile();
  fprintf(f, "a=1\nxx%syy\nb=2\nLong=%s\nPiece=tail\nc=3\n", marker.c_str(), longValue.c_str());
  rewind(f);
  TableOwner first(readVariableTableText(f));
  TableOwner second(readVariableTableText(f));
  TableOwner third(readVariableTableText(f));
  fclose(f);
  EXPECT_EQ(pairsOf(first.get()), (Pairs{{"a", "1"}}));
  // "Long=" plus 494 characters fill the 499-character buffer; the rest of the line has no "=".
  EXPECT_EQ(pairsOf(second.get()),
            (Pairs{{"c", "3"}, {"Piece", "tail"}, {"Long", longValue.substr(0, 494)}, {"b", "2"}}));
  EXPECT_FALSE(third);
  EXPECT_EQ(readVariableTableText(nullptr), nullptr);
}

TEST(VariableTableTest, TextWriterRoundTripsAndReportsFailure) {
  TableOwner t = tableOf({{"a", "1"}, {"b", "x y"}});
  FILE* f = tmpfile();
  ASSERT_TRUE(writeVariableTableText(t.get(), f));
  ASSERT_TRUE(writeVariableTableText(nullptr, f));
  rewind(f);
  char text[300] = {};
  size_t n = fread(text, 1, sizeof(text) - 1, f);
  EXPECT_EQ(std::string(text, n),
            "b = x y\na = 1\n" + std::string(kEndOfHashtableMarker) + "\n" + kEndOfHashtableMarker + "\n");
  rewind(f);
  TableOwner back(readVariableTableText(f));
  TableOwner empty(readVariableTableText(f));
  fclose(f);
  EXPECT_EQ(pairsOf(back.get()), (Pairs{{"a", "1"}, {"b", "x y"}}));
  EXPECT_FALSE(empty);

  EXPECT_FALSE(writeVariableTableText(t.get(), nullptr));
  FILE* readOnly = fopen("/dev/null", "r");
  ASSERT_NE(readOnly, nullptr);
  EXPECT_FALSE(writeVariableTableText(t.get(), readOnly));
  fclose(readOnly);
}

TEST(VariableTableTest, DumpListings) {
  TableOwner t = tableOf({{"k", std::string(600, 'v')}, {std::string(300, 'k'), "x"}});
  testing::internal::CaptureStdout();
  dumpVariableTableTitled(t.get(), "Req");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Hashtable Req \nHashtable: #########################\n" + std::string(256, 'k') +
                "=x\nk=" + std::string(512, 'v') + "\nHashtable: done ####################\n");

  VariableEntry bad{nullptr, nullptr, nullptr, 0};
  VariableEntry head{const_cast<char*>("h"), const_cast<char*>("1"), &bad, 1};
  std::string lines;
  dumpVariableTableTo(&head, collectWithTableUse, &lines);
  EXPECT_EQ(lines,
            "1:Hashtable: #########################\n1:h=1\n1:bad pointers\n1:Hashtable: done "
            "####################\n");

  TableOwner small = tableOf({{"key", "val"}});
  testing::internal::CaptureStdout();
  dumpVariableTableAddresses(small.get());
  std::string out = testing::internal::GetCapturedStdout();
  char expected[200];
  const VariableEntry* e = small.get();
  snprintf(expected, sizeof(expected), "%08" PRIxPTR " %08" PRIxPTR "<key>=%08" PRIxPTR "<val>\n",
           reinterpret_cast<uintptr_t>(e), reinterpret_cast<uintptr_t>(e->key), reinterpret_cast<uintptr_t>(e->value));
  EXPECT_NE(out.find(expected), std::string::npos) << out;
}

TEST(VariableTableTest, ConcurrentUseOfPrivateAndSharedTables) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 300;
  TableOwner shared = tableOf({{"Counter", "0"}});
  std::vector<size_t> privateSizes(kThreads);
  std::vector<std::thread> threads;
  for (int id = 0; id < kThreads; ++id) {
    threads.emplace_back([&, id] {
      TableOwner mine;
      char key[64];
      for (int i = 0; i < kRounds; ++i) {
        snprintf(key, sizeof(key), "Thread%dLoop%dValue", id, i);
        addIntVariable(mine.address(), key, static_cast<uint32_t>(i), true);
        EXPECT_STREQ(getVariable(mine.get(), key), std::to_string(i).c_str());
        if (i % 50 == 0) {
          TableOwner copy(copyVariableTable(mine.get()));
          EXPECT_TRUE(compareVariableTables(copy.get(), mine.get()));
        }

        // The shared table only through its handle's address: other threads move its head.
        addVariable(shared.address(), key, "s");
        replaceVariable(shared.address(), "Counter", key);
        char* own = getVariableCopyShared(shared.address(), key);
        char* counter = getVariableCopyShared(shared.address(), "Counter");
        EXPECT_STREQ(own, "s");
        EXPECT_NE(counter, nullptr);
        free(own);
        free(counter);
        if (i % 2 == 0) {
          removeVariable(shared.address(), key);
          EXPECT_EQ(getVariableCopyShared(shared.address(), key), nullptr);
        }
      }
      privateSizes[id] = pairsOf(mine.get()).size();
      EXPECT_EQ(getVariable(mine.get(), "Thread0Loop0Value") != nullptr, id == 0);
    });
  }
  for (auto& th : threads) th.join();
  for (size_t size : privateSizes) EXPECT_EQ(size, static_cast<size_t>(kRounds));
  // One Counter plus the odd-numbered rows of every thread.
  EXPECT_EQ(pairsOf(shared.get()).size(), 1u + kThreads * kRounds / 2);
  EXPECT_STREQ(getVariable(shared.get(), "Thread3Loop299Value"), "s");
  EXPECT_EQ(getVariable(shared.get(), "Thread3Loop298Value"), nullptr);
}

}  // namespace
