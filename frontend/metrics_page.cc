// The /metrics answer; see metrics_page.h.
#include "frontend/metrics_page.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "common/metrics_text.h"

namespace {

struct Family {
  std::string help;
  std::string type;
  std::vector<std::string> samples;  // whole lines without the newline
};

bool isNumberText(const std::string& text) {
  if (text == "NaN" || text == "+Inf" || text == "-Inf") return true;
  if (text.empty()) return false;
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

// Help text as the format wants it: backslash and line feed escaped.
std::string escapeHelp(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

bool isType(std::string_view type) { return type == "gauge" || type == "counter" || type == "untyped"; }

// Splits "name{labels}" or "name"; false when it is neither.
bool splitSample(std::string_view key, std::string_view* name, std::string_view* labels) {
  const size_t brace = key.find('{');
  if (brace == std::string_view::npos) {
    *name = key;
    *labels = {};
    return isMetricName(key);
  }
  if (key.back() != '}') return false;
  *name = key.substr(0, brace);
  *labels = key.substr(brace + 1, key.size() - brace - 2);
  return isMetricName(*name) && isMetricLabelSet(*labels);
}

void collect(VariableTable reply, std::map<std::string, Family>* families) {
  std::set<std::string> seen;
  // The shared memory hands the reply over in reverse: its first entry is the one the server
  // added first, so list order is the order the samples were added in.
  for (const VariableEntry* entry = reply; entry != nullptr; entry = entry->next) {
    const std::string_view key = entry->key;
    const char* value = entry->value;
    if (key.starts_with(kMetricHelpPrefix)) {
      const std::string name(key.substr(std::strlen(kMetricHelpPrefix)));
      if (isMetricName(name) && (*families)[name].help.empty()) (*families)[name].help = value;
    } else if (key.starts_with(kMetricTypePrefix)) {
      const std::string name(key.substr(std::strlen(kMetricTypePrefix)));
      if (isMetricName(name) && isType(value) && (*families)[name].type.empty())
        (*families)[name].type = value;
    } else if (key.starts_with(kMetricSamplePrefix)) {
      const std::string_view sample = key.substr(std::strlen(kMetricSamplePrefix));
      std::string_view name;
      std::string_view labels;
      if (!splitSample(sample, &name, &labels) || !isNumberText(value)) continue;
      if (!seen.insert(std::string(sample)).second) continue;
      (*families)[std::string(name)].samples.push_back(std::string(sample) + ' ' + value);
    }
  }
}

}  // namespace

bool isMetricLabelSet(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t equals = text.find('=', i);
    if (equals == std::string_view::npos || !isMetricLabelName(text.substr(i, equals - i))) return false;
    i = equals + 1;
    if (i >= text.size() || text[i] != '"') return false;
    ++i;
    bool closed = false;
    while (i < text.size() && !closed) {
      const char c = text[i];
      if (c == '\\') {
        if (i + 1 >= text.size() || std::strchr("\\\"n", text[i + 1]) == nullptr) return false;
        i += 2;
      } else if (c == '\n') {
        return false;
      } else {
        closed = c == '"';
        ++i;
      }
    }
    if (!closed) return false;
    if (i == text.size()) return true;
    if (text[i] != ',' || i + 1 == text.size()) return false;  // no trailing comma
    ++i;
  }
  return i == text.size() && !text.empty();
}

std::string renderMetricsPage(VariableTable serverReply, const RequestMetrics* own) {
  std::string out;
  out += "# HELP kestrova_server_up 1 when the Kestrova server answered the front end's metrics request.\n";
  out += "# TYPE kestrova_server_up gauge\n";
  out += std::string("kestrova_server_up ") + (serverReply != nullptr ? "1" : "0") + '\n';
  std::map<std::string, Family> families;
  if (serverReply != nullptr) collect(serverReply, &families);
  for (const auto& [name, family] : families) {
    // Families the front end writes itself are not taken from the server.
    if (name == "kestrova_server_up" || name.starts_with("kestrova_http_")) continue;
    if (family.samples.empty()) continue;
    if (!family.help.empty()) out += "# HELP " + name + ' ' + escapeHelp(family.help) + '\n';
    out += "# TYPE " + name + ' ' + (family.type.empty() ? "untyped" : family.type) + '\n';
    for (const std::string& sample : family.samples) out += sample + '\n';
  }
  if (own != nullptr) own->appendText(&out);
  return out;
}
