// Texts of the brivo model's saved fields; see brivo_fields.h.
#include "sim/brivo_fields.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <type_traits>

#include "sim/sim_text.h"

namespace sim {

namespace {

using Staged = std::variant<int64_t, std::string, std::vector<uint8_t>, std::vector<bool>>;

std::vector<std::string> splitFields(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    out.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return out;
    start = comma + 1;
  }
}

// The integer a ref points at (bool, the integer types), or none for the other refs.
std::optional<int64_t> integerOf(const FieldRef& ref) {
  return std::visit(
      [](auto p) -> std::optional<int64_t> {
        using P = decltype(p);
        if constexpr (std::is_same_v<P, bool*>) {
          return *p ? 1 : 0;
        } else if constexpr (std::is_pointer_v<P> && std::is_integral_v<std::remove_pointer_t<P>>) {
          return static_cast<int64_t>(*p);
        } else {
          return std::nullopt;
        }
      },
      ref);
}

// Whether v fits the integer a ref points at.
bool fits(const FieldRef& ref, int64_t v) {
  return std::visit(
      [v](auto p) {
        using P = decltype(p);
        if constexpr (std::is_same_v<P, bool*>) {
          return v == 0 || v == 1;
        } else if constexpr (std::is_pointer_v<P> && std::is_integral_v<std::remove_pointer_t<P>>) {
          using T = std::remove_pointer_t<P>;
          return v >= static_cast<int64_t>(std::numeric_limits<T>::min()) &&
                 (std::is_same_v<T, int64_t> || v <= static_cast<int64_t>(std::numeric_limits<T>::max()));
        } else {
          return false;
        }
      },
      ref);
}

void storeInteger(const FieldRef& ref, int64_t v) {
  std::visit(
      [v](auto p) {
        using P = decltype(p);
        if constexpr (std::is_same_v<P, bool*>) {
          *p = v != 0;
        } else if constexpr (std::is_pointer_v<P> && std::is_integral_v<std::remove_pointer_t<P>>) {
          *p = static_cast<std::remove_pointer_t<P>>(v);
        }
      },
      ref);
}

bool parseHex(const std::string& text, size_t digits, int64_t* value) {
  if (text.empty() || text.size() > digits) return false;
  int64_t v = 0;
  for (char ch : text) {
    int d = ch >= '0' && ch <= '9'   ? ch - '0'
            : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
            : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                                     : -1;
    if (d < 0) return false;
    v = v * 16 + d;
  }
  *value = v;
  return true;
}

std::optional<Staged> parseOne(const std::string& text, const FieldRef& ref, FieldKind kind,
                               std::pair<int64_t, int64_t> range, const FieldClock& clock) {
  int64_t v = 0;
  switch (kind) {
    case FieldKind::kNumber:
    case FieldKind::kHex2:
    case FieldKind::kHex8: {
      bool ok = kind == FieldKind::kNumber ? parseSigned(text, &v)
                                           : parseHex(text, kind == FieldKind::kHex2 ? 2 : 8, &v);
      if (!ok || v < range.first || v > range.second || !fits(ref, v)) return std::nullopt;
      return Staged(v);
    }
    case FieldKind::kAge:
      if (!parseSigned(text, &v) || v < 0 || !fits(ref, clock.now - v)) return std::nullopt;
      return Staged(clock.now - v);
    case FieldKind::kText: {
      std::string word = text == "-" ? std::string() : text;
      if (!std::holds_alternative<std::string*>(ref) || static_cast<int64_t>(word.size()) > range.second ||
          word.find_first_of(" \t\r\n") != std::string::npos) {
        return std::nullopt;
      }
      return Staged(word);
    }
    case FieldKind::kBytes: {
      std::vector<uint8_t> bytes;
      if (!hexDecode(text, &bytes)) return std::nullopt;
      if (const auto* span = std::get_if<std::span<uint8_t>>(&ref)) {
        if (bytes.size() != span->size()) return std::nullopt;
      } else if (!std::holds_alternative<std::vector<uint8_t>*>(ref)) {
        return std::nullopt;
      }
      return Staged(std::move(bytes));
    }
    case FieldKind::kBits: {
      auto* const* bits = std::get_if<std::vector<bool>*>(&ref);
      std::string flags = text == "-" ? std::string() : text;
      if (bits == nullptr || flags.size() != (*bits)->size() ||
          flags.find_first_not_of("01") != std::string::npos)
        return std::nullopt;
      std::vector<bool> out;
      for (char ch : flags) out.push_back(ch == '1');
      return Staged(std::move(out));
    }
  }
  return std::nullopt;
}

void commit(const FieldRef& ref, Staged value) {
  if (const auto* v = std::get_if<int64_t>(&value)) {
    storeInteger(ref, *v);
  } else if (auto* text = std::get_if<std::string>(&value)) {
    *std::get<std::string*>(ref) = std::move(*text);
  } else if (auto* bytes = std::get_if<std::vector<uint8_t>>(&value)) {
    if (const auto* span = std::get_if<std::span<uint8_t>>(&ref))
      std::copy(bytes->begin(), bytes->end(), span->begin());
    else
      *std::get<std::vector<uint8_t>*>(ref) = std::move(*bytes);
  } else {
    *std::get<std::vector<bool>*>(ref) = std::move(std::get<std::vector<bool>>(value));
  }
}

std::string formatOne(const FieldRef& ref, FieldKind kind, const FieldClock& clock) {
  char text[24];
  switch (kind) {
    case FieldKind::kNumber:
      return std::to_string(integerOf(ref).value_or(0));
    case FieldKind::kHex2:
      std::snprintf(text, sizeof(text), "%02llX",
                    static_cast<unsigned long long>(integerOf(ref).value_or(0)));
      return text;
    case FieldKind::kHex8:
      std::snprintf(text, sizeof(text), "%08llX",
                    static_cast<unsigned long long>(integerOf(ref).value_or(0)));
      return text;
    case FieldKind::kAge:
      return std::to_string(clock.now - integerOf(ref).value_or(0));
    case FieldKind::kText: {
      const std::string& word = *std::get<std::string*>(ref);
      return word.empty() ? "-" : word;
    }
    case FieldKind::kBytes:
      if (const auto* span = std::get_if<std::span<uint8_t>>(&ref))
        return hexEncode(std::vector<uint8_t>(span->begin(), span->end()));
      return hexEncode(*std::get<std::vector<uint8_t>*>(ref));
    case FieldKind::kBits: {
      std::string flags;
      for (bool bit : *std::get<std::vector<bool>*>(ref)) flags += bit ? '1' : '0';
      return flags.empty() ? "-" : flags;
    }
  }
  return "";
}

}  // namespace

std::string formatFields(const std::vector<FieldRef>& refs, const std::vector<FieldKind>& kinds,
                         const FieldClock& clock) {
  std::string out;
  for (size_t i = 0; i < refs.size(); ++i) {
    if (i != 0) out += ',';
    out += formatOne(refs[i], kinds[i], clock);
  }
  return out;
}

bool parseFields(const std::string& text, const std::vector<FieldRef>& refs,
                 const std::vector<FieldKind>& kinds, const std::vector<std::pair<int64_t, int64_t>>& ranges,
                 const FieldClock& clock) {
  std::vector<std::string> parts = splitFields(text);
  if (parts.size() != refs.size()) return false;
  std::vector<Staged> staged;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::optional<Staged> value = parseOne(parts[i], refs[i], kinds[i], ranges[i], clock);
    if (!value) return false;
    staged.push_back(std::move(*value));
  }
  for (size_t i = 0; i < refs.size(); ++i) commit(refs[i], std::move(staged[i]));
  return true;
}

std::string keyOf(const std::string& pattern, const KeyIndex& index) {
  std::string key;
  size_t n = 0;
  for (char ch : pattern) {
    if (ch == '@')
      key += index.side == 0 ? 'A' : 'B';
    else if (ch == '#')
      key += std::to_string(index.number(n++));
    else
      key += ch;
  }
  return key;
}

bool matchKey(const std::string& pattern, const std::vector<int>& highs, const std::string& key,
              KeyIndex* index) {
  KeyIndex found;
  size_t k = 0;
  for (char ch : pattern) {
    if (ch == '@') {
      if (k >= key.size() || (key[k] != 'A' && key[k] != 'B')) return false;
      found.side = key[k++] == 'A' ? 0 : 1;
    } else if (ch == '#') {
      size_t end = key.find('.', k);
      if (end == std::string::npos) end = key.size();
      int number = 0;
      size_t which = found.numbers.size();
      if (which >= highs.size() || !parseInRange(key.substr(k, end - k), 0, highs[which], &number))
        return false;
      found.numbers.push_back(number);
      k = end;
    } else {
      if (k >= key.size() || key[k] != ch) return false;
      ++k;
    }
  }
  if (k != key.size()) return false;
  *index = std::move(found);
  return true;
}

std::vector<KeyIndex> numbered(int count, int side) {
  std::vector<KeyIndex> out;
  for (int n = 0; n < count; ++n) out.push_back(KeyIndex{side, {n}});
  return out;
}

}  // namespace sim
