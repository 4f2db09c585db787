// The /metrics answer: the server's GetMetrics reply (the metric keys of common/metrics_text.h,
// from the server and its modules) and the front end's own request measurements, written in the
// Prometheus text exposition format (version 0.0.4).
//
// Families are written in name order with their help and type lines once (the first given
// counts); samples of a family keep the order in which the server added them. Keys that are not well-formed
// samples (bad name, bad labels, a value that is no number) and repeated samples are left out, so a faulty
// producer can never make the whole page unreadable.
//
// Thread safety: pure functions (the RequestMetrics guards itself).
#pragma once

#include <string>
#include <string_view>

#include "common/variable_table.h"
#include "frontend/request_metrics.h"

inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

// The page. serverReply: the server's reply as the round trip delivers it (borrowed; its first
// entry is the one the server added first), or null when the server did not answer;
// kestrova_server_up says which. own: the front end's measurements, or null (CGI mode).
std::string renderMetricsPage(VariableTable serverReply, const RequestMetrics* own);

// True when text is a well-formed label set: name="value" pairs separated by commas, values
// escaped as the format wants (\\, \", \n). The braces are not part of text.
bool isMetricLabelSet(std::string_view text);
