// Metrics in reply tables: how the server and its modules hand measured values to the web front
// end, which serves them in the Prometheus text format at /metrics.
//
// A reply carries three kinds of keys:
//   "metric:<name>{<labels>}" = the sample's value (decimal text)   one per sample
//   "help:<name>"             = one line of help text              once per family
//   "type:<name>"             = "gauge" or "counter"               once per family
// <labels> is the exposition form (name="value",...; may be empty, then without braces), already
// escaped, so the front end copies sample lines as they are after checking them. Several
// producers may add samples of the same family; the front end groups them.
//
// Used by the server's GetMetrics method, the RAID module's GetMetrics method and cgiloader.
//
// Thread safety: pure functions; the table passed in belongs to the caller.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "common/variable_table.h"

inline constexpr char kMetricSamplePrefix[] = "metric:";
inline constexpr char kMetricHelpPrefix[] = "help:";
inline constexpr char kMetricTypePrefix[] = "type:";

struct MetricLabel {
  const char* name;  // a valid label name (letters, digits, '_'; not starting with a digit)
  std::string value;
};

// True for a metric name of the exposition format: [a-zA-Z_:][a-zA-Z0-9_:]*.
bool isMetricName(std::string_view name);
// True for a label name: [a-zA-Z_][a-zA-Z0-9_]*.
bool isMetricLabelName(std::string_view name);

// A text made fit to be a label value: cut at the first NUL, trailing blanks removed, bytes
// outside printable ASCII replaced by '?', at most 128 characters. Not yet escaped.
std::string metricLabelText(std::string_view raw);

// Escapes a label value for the exposition format (backslash, double quote, line feed).
std::string escapeMetricLabel(std::string_view value);

// The sample's value as the exposition format writes it: integers without a fraction, NaN and
// +Inf/-Inf by name, anything else in the shortest form that reads back as the same number.
std::string metricValueText(double value);

// "name{label="value",...}" (or "name" without labels). Labels with an invalid name are skipped.
std::string metricSampleName(std::string_view name, std::initializer_list<MetricLabel> labels);

// Adds the family's help and type keys. Nothing is added for an invalid name.
void addMetricFamily(VariableTable* reply, std::string_view name, std::string_view type,
                     std::string_view help);
// Adds one sample. Nothing is added for an invalid name.
void addMetricSample(VariableTable* reply, std::string_view name, std::initializer_list<MetricLabel> labels,
                     double value);
