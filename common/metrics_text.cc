// Metrics in reply tables; see metrics_text.h.
#include "common/metrics_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t kMaxLabelText = 128;

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool isMetricName(std::string_view name) {
  if (name.empty() || isDigit(name[0])) return false;
  for (char c : name) {
    if (!isLetter(c) && !isDigit(c) && c != '_' && c != ':') return false;
  }
  return true;
}

bool isMetricLabelName(std::string_view name) {
  if (name.empty() || isDigit(name[0])) return false;
  for (char c : name) {
    if (!isLetter(c) && !isDigit(c) && c != '_') return false;
  }
  return true;
}

std::string metricLabelText(std::string_view raw) {
  const size_t nul = raw.find('\0');
  if (nul != std::string_view::npos) raw = raw.substr(0, nul);
  while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t')) raw.remove_suffix(1);
  if (raw.size() > kMaxLabelText) raw = raw.substr(0, kMaxLabelText);
  std::string text;
  text.reserve(raw.size());
  for (char c : raw) {
    const auto byte = static_cast<unsigned char>(c);
    text.push_back(byte >= 0x20 && byte < 0x7F ? c : '?');
  }
  return text;
}

std::string escapeMetricLabel(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '\\' || c == '"') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string metricValueText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[64];
  if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0) {
    std::snprintf(text, sizeof(text), "%.0f", value);
    return text;
  }
  // The shortest form that reads back as the same number (0.0025, not 0.0025000000000000001).
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(text, sizeof(text), "%.*g", precision, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  return text;
}

std::string metricSampleName(std::string_view name, std::initializer_list<MetricLabel> labels) {
  std::string out(name);
  bool first = true;
  for (const MetricLabel& label : labels) {
    if (label.name == nullptr || !isMetricLabelName(label.name)) continue;
    out += first ? "{" : ",";
    first = false;
    out += label.name;
    out += "=\"";
    out += escapeMetricLabel(label.value);
    out += '"';
  }
  if (!first) out += '}';
  return out;
}

void addMetricFamily(VariableTable* reply, std::string_view name, std::string_view type,
                     std::string_view help) {
  if (!isMetricName(name)) return;
  const std::string family(name);
  addVariable(reply, (kMetricHelpPrefix + family).c_str(), std::string(help).c_str());
  addVariable(reply, (kMetricTypePrefix + family).c_str(), std::string(type).c_str());
}

void addMetricSample(VariableTable* reply, std::string_view name, std::initializer_list<MetricLabel> labels,
                     double value) {
  if (!isMetricName(name)) return;
  const std::string key = kMetricSamplePrefix + metricSampleName(name, labels);
  addVariable(reply, key.c_str(), metricValueText(value).c_str());
}
