// The saved-field tables of the brivo model's parts: one table writes and reads a record alike,
// a bad field or a wrong field count changes nothing, and key patterns name only their own keys.
#include "sim/brivo_fields.h"

#include <gtest/gtest.h>

#include <map>

namespace sim {
namespace {

struct Sample {
  bool flag = false;
  uint8_t state = 0;
  uint32_t level = 0;
  int64_t since = 0;
  std::string word;
  std::vector<bool> bits = {false, false, false};
  uint8_t raw[4] = {};
};

struct Part {
  std::map<int, Sample> samples;
};

const SavedKeys<Part>& sampleKeys() {
  static const SavedKeys<Part> keys = {recordKey<Part, Sample>(
      "sample.@.#", {9},
      {{"flag", FieldKind::kNumber, [](Sample& s) -> FieldRef { return &s.flag; }},
       {"state", FieldKind::kHex2, [](Sample& s) -> FieldRef { return &s.state; }},
       {"level", FieldKind::kHex8, [](Sample& s) -> FieldRef { return &s.level; }},
       {"since", FieldKind::kAge, [](Sample& s) -> FieldRef { return &s.since; }},
       {"word", FieldKind::kText, [](Sample& s) -> FieldRef { return &s.word; }, 0, 6},
       {"bits", FieldKind::kBits, [](Sample& s) -> FieldRef { return &s.bits; }},
       {"raw", FieldKind::kBytes, [](Sample& s) -> FieldRef { return std::span<uint8_t>(s.raw, 4); }}},
      [](const Part& p) {
        std::vector<KeyIndex> out;
        for (const auto& [n, s] : p.samples) out.push_back(KeyIndex{n % 2, {n / 2}});
        return out;
      },
      [](const Part& p, const KeyIndex& k) {
        auto it = p.samples.find(k.number() * 2 + k.side);
        return it == p.samples.end() ? std::optional<Sample>() : std::optional<Sample>(it->second);
      },
      [](Part& p, const KeyIndex& k, const Sample& s) {
        p.samples[k.number() * 2 + k.side] = s;
        return true;
      })};
  return keys;
}

TEST(BrivoFields, OneTableWritesAndReadsTheSameRecord) {
  Part part;
  Sample& s = part.samples[3];  // side B, number 1
  s.flag = true;
  s.state = 0x0A;
  s.level = 0x03012345;
  s.since = 900;
  s.bits = {true, false, true};
  s.raw[0] = 0xDE, s.raw[3] = 0xAD;
  std::vector<std::pair<std::string, std::string>> saved;
  saveKeys(sampleKeys(), part, FieldClock{1000}, &saved);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].first, "sample.B.1");
  EXPECT_EQ(saved[0].second, "1,0A,03012345,100,-,101,DE0000AD");

  // Read back an hour later: the age stays an age, everything else as it was.
  Part copy;
  copy.samples[3].bits.assign(3, false);
  ASSERT_EQ(loadKey(sampleKeys(), copy, saved[0].first, saved[0].second, FieldClock{4600}), KeyLoad::kOk);
  const Sample& r = copy.samples[3];
  EXPECT_TRUE(r.flag);
  EXPECT_EQ(r.state, 0x0A);
  EXPECT_EQ(r.level, 0x03012345u);
  EXPECT_EQ(r.since, 4500);
  EXPECT_EQ(r.word, "");
  EXPECT_EQ(r.bits, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(r.raw[3], 0xAD);
}

TEST(BrivoFields, ABadFieldChangesNothing) {
  Part part;
  Sample& s = part.samples[0];
  s.word = "keep";
  const char* bad[] = {
      "1,0A,03012345,100,abc,000,00000000,extra",  // one field too many
      "1,0A,03012345,100,abc,000",                 // one too few
      "2,0A,03012345,100,abc,000,00000000",        // a flag of 2
      "1,1FF,03012345,100,abc,000,00000000",       // three digits for a byte
      "1,0A,0301234G,100,abc,000,00000000",        // not hexadecimal
      "1,0A,03012345,-1,abc,000,00000000",         // an age below zero
      "1,0A,03012345,100,toolong,000,00000000",    // text beyond its six characters
      "1,0A,03012345,100,abc,0000,00000000",       // four flags where there are three
      "1,0A,03012345,100,abc,000,000000",          // three bytes where the record has four
  };
  for (const char* value : bad) {
    EXPECT_EQ(loadKey(sampleKeys(), part, "sample.A.0", value, FieldClock{1000}), KeyLoad::kBad) << value;
    EXPECT_EQ(part.samples[0].word, "keep") << value;
    EXPECT_FALSE(part.samples[0].flag) << value;
  }
  EXPECT_EQ(part.samples.size(), 1u);  // nor did a refused record add one
}

TEST(BrivoFields, PatternsNameOnlyTheirOwnKeys) {
  KeyIndex k;
  EXPECT_TRUE(matchKey("stats.@.#.#", {1, 512}, "stats.B.1.512", &k));
  EXPECT_EQ(k.side, 1);
  EXPECT_EQ(k.numbers, (std::vector<int>{1, 512}));
  EXPECT_FALSE(matchKey("stats.@.#.#", {1, 512}, "stats.B.2.5", &k));  // port above its high
  EXPECT_FALSE(matchKey("stats.@.#", {1}, "stats.A.0.5", &k));         // a longer key is another key
  EXPECT_FALSE(matchKey("stats.@.#", {1}, "stats.C.0", &k));
  EXPECT_FALSE(matchKey("job.#", {63}, "job.", &k));
  EXPECT_FALSE(matchKey("job.#", {63}, "job.64", &k));
  EXPECT_TRUE(matchKey("failop.#", {255}, "failop.0x81", &k));
  EXPECT_EQ(k.number(), 0x81);
  EXPECT_EQ(keyOf("eventlog.@.#", KeyIndex{1, {7}}), "eventlog.B.7");
  Part part;
  EXPECT_EQ(loadKey(sampleKeys(), part, "sample.A.10", "1,0A,03012345,100,abc,000,00000000", FieldClock{}),
            KeyLoad::kUnknown);
}

}  // namespace
}  // namespace sim
