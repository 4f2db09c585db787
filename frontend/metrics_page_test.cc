// The /metrics page: the server's metric keys grouped into families, faulty keys left out, the
// server's absence reported, and the front end's request counts and latency histogram.
#include "frontend/metrics_page.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/metrics_text.h"

namespace {

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The reply as the front end receives it: through the shared memory's serialized form, which
// hands the entries over in reverse.
TableOwner received(const TableOwner& reply) {
  std::string buffer(sizeOfSerializedTable(reply.get()), '\0');
  serializeVariableTable(reply.get(), buffer.data());
  return TableOwner(deserializeVariableTable(buffer.data()));
}

size_t indexOf(const std::vector<std::string>& lines, const std::string& line) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == line) return i;
  }
  return std::string::npos;
}

TEST(MetricsPage, FamiliesFromSeveralProducersAreGroupedOnce) {
  TableOwner reply;
  // The server's part, then a module adding samples to a family the server also wrote.
  addMetricFamily(reply.address(), "kestrova_zeta", "gauge", "Last by name.");
  addMetricSample(reply.address(), "kestrova_zeta", {}, 1);
  addMetricFamily(reply.address(), "kestrova_alpha_total", "counter", "Help with a \\ and\na line break.");
  addMetricSample(reply.address(), "kestrova_alpha_total", {{"level", "error"}}, 3);
  addMetricFamily(reply.address(), "kestrova_alpha_total", "gauge", "A second producer's help is ignored.");
  addMetricSample(reply.address(), "kestrova_alpha_total", {{"level", "warning"}}, 4);
  addMetricSample(reply.address(), "kestrova_alpha_total", {{"level", "error"}}, 99);  // a repeat: left out
  addVariable(reply.address(), "HTMLPath", "../Common/MessagePopupPanel.htm");         // not a metric
  const std::string page = renderMetricsPage(received(reply).get(), nullptr);
  const std::vector<std::string> lines = linesOf(page);

  EXPECT_EQ(lines[2], "kestrova_server_up 1");
  const size_t help = indexOf(lines, "# HELP kestrova_alpha_total Help with a \\\\ and\\na line break.");
  ASSERT_NE(help, std::string::npos);
  EXPECT_EQ(lines[help + 1], "# TYPE kestrova_alpha_total counter");
  EXPECT_EQ(lines[help + 2], "kestrova_alpha_total{level=\"error\"} 3");
  EXPECT_EQ(lines[help + 3], "kestrova_alpha_total{level=\"warning\"} 4");
  EXPECT_LT(help, indexOf(lines, "# TYPE kestrova_zeta gauge"));
  EXPECT_EQ(indexOf(lines, "kestrova_alpha_total{level=\"error\"} 99"), std::string::npos);
  int typeLines = 0;
  for (const std::string& line : lines) typeLines += line.starts_with("# TYPE kestrova_alpha_total") ? 1 : 0;
  EXPECT_EQ(typeLines, 1);
  EXPECT_EQ(page.find("HTMLPath"), std::string::npos);
}

TEST(MetricsPage, MalformedSamplesNeverReachThePage) {
  TableOwner reply;
  for (const char* key : {"metric:bad name", "metric:x{a=\"1\"", "metric:x{a=1}", "metric:x{a=\"1\",}",
                          "metric:x{a=\"\\q\"}", "metric:x{1a=\"v\"}", "metric:x{a=\"v\"b=\"w\"}",
                          "metric:x{}", "metric:kestrova_server_up", "metric:kestrova_http_requests_total"}) {
    addVariable(reply.address(), key, "1");
  }
  addVariable(reply.address(), "metric:kestrova_ok{a=\"v\",b=\"x\\\"y\"}", "2.5");
  addVariable(reply.address(), "metric:kestrova_nan", "NaN");
  addVariable(reply.address(), "metric:kestrova_text", "twelve");
  addVariable(reply.address(), "type:kestrova_ok", "summary");  // a type this page cannot vouch for
  const std::vector<std::string> lines = linesOf(renderMetricsPage(received(reply).get(), nullptr));
  std::vector<std::string> samples;
  for (const std::string& line : lines) {
    if (!line.starts_with("#")) samples.push_back(line);
  }
  EXPECT_EQ(samples, (std::vector<std::string>{"kestrova_server_up 1", "kestrova_nan NaN",
                                               "kestrova_ok{a=\"v\",b=\"x\\\"y\"} 2.5"}));
  EXPECT_NE(indexOf(lines, "# TYPE kestrova_ok untyped"), std::string::npos);
}

TEST(MetricsPage, AServerThatDidNotAnswerIsReportedAsDown) {
  RequestMetrics own;
  own.record("page", 503, 0.002);
  const std::vector<std::string> lines = linesOf(renderMetricsPage(nullptr, &own));
  EXPECT_EQ(lines[2], "kestrova_server_up 0");
  EXPECT_NE(indexOf(lines, "kestrova_http_requests_total{kind=\"page\",code=\"503\"} 1"), std::string::npos);
}

TEST(RequestMetricsTest, CountsByKindAndStatusAndCumulativeBuckets) {
  RequestMetrics metrics;
  metrics.record("page", 200, 0.0004);
  metrics.record("page", 200, 0.003);
  metrics.record("page", 401, 0.003);
  metrics.record("api", 200, 12.0);  // above every finite bucket but the last
  metrics.record("api", 200, 100.0);
  metrics.record("nonsense", 400, -1);  // untimed, counted as refused
  std::string out;
  metrics.appendText(&out);
  const std::vector<std::string> lines = linesOf(out);
  for (const char* expected : {"kestrova_http_requests_total{kind=\"page\",code=\"200\"} 2",
                               "kestrova_http_requests_total{kind=\"page\",code=\"401\"} 1",
                               "kestrova_http_requests_total{kind=\"refused\",code=\"400\"} 1",
                               "kestrova_http_request_duration_seconds_bucket{kind=\"page\",le=\"0.001\"} 1",
                               "kestrova_http_request_duration_seconds_bucket{kind=\"page\",le=\"0.0025\"} 1",
                               "kestrova_http_request_duration_seconds_bucket{kind=\"page\",le=\"0.005\"} 3",
                               "kestrova_http_request_duration_seconds_bucket{kind=\"page\",le=\"+Inf\"} 3",
                               "kestrova_http_request_duration_seconds_count{kind=\"page\"} 3",
                               "kestrova_http_request_duration_seconds_bucket{kind=\"api\",le=\"10\"} 0",
                               "kestrova_http_request_duration_seconds_bucket{kind=\"api\",le=\"40\"} 1",
                               "kestrova_http_request_duration_seconds_bucket{kind=\"api\",le=\"+Inf\"} 2",
                               "kestrova_http_request_duration_seconds_sum{kind=\"api\"} 112",
                               "kestrova_http_request_duration_seconds_count{kind=\"refused\"} 0"}) {
    EXPECT_NE(indexOf(lines, expected), std::string::npos) << expected;
  }
  EXPECT_EQ(RequestMetrics::kindOfPath("/cgi-bin/cgiloader.cgi"), "page");
  EXPECT_EQ(RequestMetrics::kindOfPath("/api/server/ViewLogs"), "api");
  EXPECT_EQ(RequestMetrics::kindOfPath("/metrics"), "metrics");
  EXPECT_EQ(RequestMetrics::kindOfPath("/css/kestrova.css"), "static");
}

TEST(RequestMetricsTest, BucketsNeverExceedTheCountWhileRequestsArrive) {
  RequestMetrics metrics;
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&metrics] {
      for (int i = 0; i < 20000; ++i) metrics.record("page", 200, 0.0001 * (i % 50));
    });
  }
  for (int round = 0; round < 200; ++round) {
    std::string out;
    metrics.appendText(&out);
    long long previous = 0;
    long long infinite = -1;
    for (const std::string& line : linesOf(out)) {
      if (!line.starts_with("kestrova_http_request_duration_seconds_bucket{kind=\"page\"")) continue;
      const long long value = std::stoll(line.substr(line.rfind(' ') + 1));
      ASSERT_GE(value, previous) << line;  // cumulative
      previous = value;
      if (line.find("+Inf") != std::string::npos) infinite = value;
    }
    ASSERT_EQ(infinite, previous);
  }
  for (std::thread& writer : writers) writer.join();
}

TEST(MetricsPage, LabelSetGrammar) {
  EXPECT_TRUE(isMetricLabelSet("a=\"\""));
  EXPECT_TRUE(isMetricLabelSet("a=\"x\\ny\",_b=\"\\\\\""));
  EXPECT_FALSE(isMetricLabelSet(""));
  EXPECT_FALSE(isMetricLabelSet("a=\"x\"\""));
  EXPECT_FALSE(isMetricLabelSet("a=\"line\nbreak\""));
  EXPECT_FALSE(isMetricLabelSet("a=\"x\\\""));
}

}  // namespace
