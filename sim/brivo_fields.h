// The saved state of the brivo model's parts as "model PAIR KEY VALUE" lines: each part declares
// its keys once, in one table, and the same table writes and reads them, so a field added to a
// table is saved and loaded alike and the two directions cannot drift apart.
//
// A key is a pattern: '@' stands for a controller letter (A or B), '#' for a decimal number. Its
// value is a record of fields separated by commas, each field with a kind that fixes its text:
//
//   kNumber  decimal (bool as 0 or 1), checked against [low, high] when read
//   kHex2    an 8-bit value as two hexadecimal digits; kHex8 a 32-bit one as eight
//   kAge     a model-clock instant written as the seconds before now (so it ages with the file)
//   kText    a word without blanks or commas, "-" when empty, at most `high` characters
//   kBytes   hexadecimal bytes: a fixed-size record (its exact size) or a byte vector (any size)
//   kBits    a vector of flags as 0s and 1s, "-" when empty; it keeps the size it has
//
// Reading parses the whole record into a copy first: a bad field changes nothing.
//
// Thread safety: none; the parts belong to one model, which the simulated world serializes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace sim {

enum class FieldKind { kNumber, kHex2, kHex8, kAge, kText, kBytes, kBits };

using FieldRef = std::variant<bool*, uint8_t*, uint16_t*, int*, int64_t*, uint32_t*, std::string*,
                              std::span<uint8_t>, std::vector<uint8_t>*, std::vector<bool>*>;

// One field of a record of type T.
template <typename T>
struct Field {
  const char* name;
  FieldKind kind;
  FieldRef (*at)(T&);
  int64_t low = INT64_MIN;
  int64_t high = INT64_MAX;
};

// What a field's text depends on besides the field: the model clock, for kAge.
struct FieldClock {
  int64_t now = 0;
};

// Which controller and numbers a key names ('@' and '#' in its pattern, in order).
struct KeyIndex {
  int side = 0;  // 0 = A, 1 = B
  std::vector<int> numbers;
  int number(size_t i = 0) const { return i < numbers.size() ? numbers[i] : 0; }
};

// Record texts of a list of fields (the refs of one record).
std::string formatFields(const std::vector<FieldRef>& refs, const std::vector<FieldKind>& kinds,
                         const FieldClock& clock);
// False, with nothing written, when the text has the wrong number of fields or one is bad.
bool parseFields(const std::string& text, const std::vector<FieldRef>& refs,
                 const std::vector<FieldKind>& kinds, const std::vector<std::pair<int64_t, int64_t>>& ranges,
                 const FieldClock& clock);

// The key of one instance of a pattern, and the instance a key names (false: not this pattern, or
// a number above its '#''s entry of highs).
std::string keyOf(const std::string& pattern, const KeyIndex& index);
bool matchKey(const std::string& pattern, const std::vector<int>& highs, const std::string& key,
              KeyIndex* index);

// One saved key of a part.
template <typename Part>
struct SavedKey {
  std::string pattern;
  std::vector<int> highs;  // the largest number each '#' stands for when read
  std::function<std::vector<KeyIndex>(const Part&)> instances;  // what to save, in order
  std::function<std::optional<std::string>(const Part&, const KeyIndex&, const FieldClock&)> format;
  std::function<bool(Part&, const KeyIndex&, const std::string&, const FieldClock&)> parse;
};

// A key whose value is one record of type T. get: the saved record (none: the instance is not
// saved, or read starts from T{}); put: takes a parsed record (false: refused as a whole).
template <typename Part, typename T>
SavedKey<Part> recordKey(std::string pattern, std::vector<int> highs, std::vector<Field<T>> fields,
                         std::function<std::vector<KeyIndex>(const Part&)> instances,
                         std::function<std::optional<T>(const Part&, const KeyIndex&)> get,
                         std::function<bool(Part&, const KeyIndex&, const T&)> put) {
  auto refsOf = [fields](T& value) {
    std::vector<FieldRef> refs;
    for (const Field<T>& f : fields) refs.push_back(f.at(value));
    return refs;
  };
  std::vector<FieldKind> kinds;
  std::vector<std::pair<int64_t, int64_t>> ranges;
  for (const Field<T>& f : fields) {
    kinds.push_back(f.kind);
    ranges.emplace_back(f.low, f.high);
  }
  SavedKey<Part> key;
  key.pattern = std::move(pattern);
  key.highs = std::move(highs);
  key.instances = std::move(instances);
  key.format = [get, refsOf, kinds](const Part& part, const KeyIndex& index,
                                    const FieldClock& clock) -> std::optional<std::string> {
    std::optional<T> value = get(part, index);
    if (!value) return std::nullopt;
    return formatFields(refsOf(*value), kinds, clock);
  };
  key.parse = [get, put, refsOf, kinds, ranges](Part& part, const KeyIndex& index, const std::string& text,
                                                const FieldClock& clock) {
    std::optional<T> value = get(part, index);
    if (!value) value.emplace();
    return parseFields(text, refsOf(*value), kinds, ranges, clock) && put(part, index, *value);
  };
  return key;
}

// The instances of a key without '@' or '#', of one per controller, and of 0..count-1.
inline std::vector<KeyIndex> single() { return {KeyIndex{}}; }
inline std::vector<KeyIndex> perController() { return {KeyIndex{0, {}}, KeyIndex{1, {}}}; }
std::vector<KeyIndex> numbered(int count, int side = 0);

template <typename Part>
using SavedKeys = std::vector<SavedKey<Part>>;

// Saves every key of the table in table order.
template <typename Part>
void saveKeys(const SavedKeys<Part>& keys, const Part& part, const FieldClock& clock,
              std::vector<std::pair<std::string, std::string>>* out) {
  for (const SavedKey<Part>& key : keys) {
    for (const KeyIndex& index : key.instances(part)) {
      if (std::optional<std::string> value = key.format(part, index, clock))
        out->emplace_back(keyOf(key.pattern, index), std::move(*value));
    }
  }
}

enum class KeyLoad { kUnknown, kBad, kOk };

// Loads one key through the first pattern of the table that names it.
template <typename Part>
KeyLoad loadKey(const SavedKeys<Part>& keys, Part& part, const std::string& name, const std::string& value,
                const FieldClock& clock) {
  for (const SavedKey<Part>& key : keys) {
    KeyIndex index;
    if (matchKey(key.pattern, key.highs, name, &index))
      return key.parse(part, index, value, clock) ? KeyLoad::kOk : KeyLoad::kBad;
  }
  return KeyLoad::kUnknown;
}

// A kBytes field over the bytes of a fixed-size record.
template <typename T>
FieldRef bytesOf(T& value) {
  return std::span<uint8_t>(reinterpret_cast<uint8_t*>(&value), sizeof(T));
}

}  // namespace sim
