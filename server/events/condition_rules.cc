// Condition rules; see condition_rules.h.
#include "server/events/condition_rules.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>

#include "common/property_file.h"

namespace {

constexpr size_t kMaxName = 64;
constexpr size_t kMaxMatchers = 32;

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

bool isNameChar(unsigned char c) { return std::isalnum(c) || c == '_'; }

// Splits text into words and quoted texts (kept with their quotes). False on an open quote.
bool tokens(std::string_view text, std::vector<std::string>* out) {
  size_t at = 0;
  while (at < text.size()) {
    if (text[at] == ' ' || text[at] == '\t') {
      ++at;
      continue;
    }
    if (text[at] == '"') {
      const size_t end = text.find('"', at + 1);
      if (end == std::string_view::npos) return false;
      out->emplace_back(text.substr(at, end - at + 1));
      at = end + 1;
      continue;
    }
    const size_t end = text.find_first_of(" \t\"", at);
    out->emplace_back(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
    at = end == std::string_view::npos ? text.size() : end;
  }
  return true;
}

bool parseId(const std::string& token, uint32_t* id) {
  const bool hex = token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
  const char* first = token.data() + (hex ? 2 : 0);
  const char* last = token.data() + token.size();
  const auto result = std::from_chars(first, last, *id, hex ? 16 : 10);
  return result.ec == std::errc() && result.ptr == last && *id != 0;
}

bool isTokenChar(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == '.' || c == ':' || c == '/' || c == '-';
}

}  // namespace

std::optional<ConditionRule> parseConditionRule(std::string_view name, std::string_view text,
                                                std::string* error) {
  ConditionRule rule;
  rule.name = std::string(name);
  if (rule.name.empty() || rule.name.size() > kMaxName ||
      !std::all_of(rule.name.begin(), rule.name.end(), [](unsigned char c) { return isNameChar(c); })) {
    *error = "a condition's name is 1 to 64 letters, digits or '_'";
    return std::nullopt;
  }
  std::vector<std::string> words;
  if (!tokens(text, &words)) {
    *error = "a quote is not closed";
    return std::nullopt;
  }
  std::vector<ConditionMatcher>* list = nullptr;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "raise" || word == "clear") {
      list = word == "raise" ? &rule.raise : &rule.clear;
    } else if (word == "subject") {
      if (i + 1 >= words.size() || words[i + 1][0] == '"' ||
          !std::all_of(words[i + 1].begin(), words[i + 1].end(),
                       [](unsigned char c) { return isNameChar(c); })) {
        *error = "subject needs one word of letters and digits";
        return std::nullopt;
      }
      rule.subjectWord = lower(words[++i]);
      list = nullptr;
    } else if (word[0] == '"') {
      if (list == nullptr || list->empty() || !list->back().text.empty() || word.size() < 3) {
        *error = "a quoted text follows an event ID of raise or clear";
        return std::nullopt;
      }
      list->back().text = lower(word.substr(1, word.size() - 2));
    } else {
      uint32_t id = 0;
      if (list == nullptr || !parseId(word, &id)) {
        *error = "unexpected \"" + word + "\": raise and clear take event IDs such as 0xB27";
        return std::nullopt;
      }
      if (list->size() == kMaxMatchers) {
        *error = "too many event IDs";
        return std::nullopt;
      }
      list->push_back({id, ""});
    }
  }
  if (rule.raise.empty() || rule.clear.empty()) {
    *error = "a condition needs both raise and clear events";
    return std::nullopt;
  }
  return rule;
}

std::vector<ConditionRule> readConditionRules(const char* path, std::vector<std::string>* errors) {
  std::vector<ConditionRule> rules;
  TableOwner table(readPropertyFile(path));
  std::vector<VariableEntry*> entries;
  for (VariableEntry* entry = table.get(); entry != nullptr; entry = entry->next) entries.push_back(entry);
  std::set<std::string> names;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    std::string error;
    std::optional<ConditionRule> rule = parseConditionRule((*it)->key, (*it)->value, &error);
    if (rule && !names.insert(rule->name).second) {
      error = "the name is used twice";
      rule.reset();
    }
    if (!rule) {
      if (errors != nullptr) errors->push_back(std::string((*it)->key) + ": " + error);
      continue;
    }
    rules.push_back(std::move(*rule));
  }
  return rules;
}

bool matchesAny(const std::vector<ConditionMatcher>& matchers, const EventRecord& record) {
  std::string message;
  bool lowered = false;
  for (const ConditionMatcher& matcher : matchers) {
    if (matcher.eventId != record.eventId) continue;
    if (matcher.text.empty()) return true;
    if (!lowered) {
      message = lower(record.message != nullptr ? record.message : "");
      lowered = true;
    }
    if (message.find(matcher.text) != std::string::npos) return true;
  }
  return false;
}

std::optional<std::string> conditionSubject(const ConditionRule& rule, const EventRecord& record) {
  if (rule.subjectWord.empty()) return std::string();
  const std::string message = lower(record.message != nullptr ? record.message : "");
  const std::string& word = rule.subjectWord;
  for (size_t at = message.find(word); at != std::string::npos; at = message.find(word, at + 1)) {
    const size_t end = at + word.size();
    const bool whole = (at == 0 || !isNameChar(static_cast<unsigned char>(message[at - 1]))) &&
                       (end == message.size() || !isNameChar(static_cast<unsigned char>(message[end])));
    if (!whole) continue;
    size_t start = end;
    while (start < message.size() && message[start] == ' ') ++start;
    size_t stop = start;
    while (stop < message.size() && isTokenChar(static_cast<unsigned char>(message[stop]))) ++stop;
    // A sentence's full stop is not part of the subject.
    while (stop > start && message[stop - 1] == '.') --stop;
    if (stop > start) return std::string(record.message + start, stop - start);
  }
  return std::nullopt;
}
