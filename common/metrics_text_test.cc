// Metric keys in reply tables: label texts that can never break a page, escaping, number forms,
// and the keys a producer adds.
#include "common/metrics_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

TEST(MetricsText, NamesFollowTheExpositionGrammar) {
  EXPECT_TRUE(isMetricName("kestrova_drive_status"));
  EXPECT_TRUE(isMetricName("ns:sub_total"));
  EXPECT_FALSE(isMetricName(""));
  EXPECT_FALSE(isMetricName("9lives"));
  EXPECT_FALSE(isMetricName("drive-status"));
  EXPECT_FALSE(isMetricName("a{b=\"c\"}"));
  EXPECT_TRUE(isMetricLabelName("_pair"));
  EXPECT_FALSE(isMetricLabelName("ns:pair"));  // colons belong to metric names only
  EXPECT_FALSE(isMetricLabelName("1st"));
}

TEST(MetricsText, LabelTextsFromControllersStayPrintableAndBounded) {
  // Controller names are NUL-padded fixed fields with trailing blanks.
  EXPECT_EQ(metricLabelText(std::string_view("finance\0\0\0", 10)), "finance");
  EXPECT_EQ(metricLabelText("vol 1   "), "vol 1");
  EXPECT_EQ(metricLabelText("a\tb\nc\x7F\xC3\xA9"), "a?b?c???");
  EXPECT_EQ(metricLabelText(std::string(300, 'x')).size(), 128u);
  EXPECT_EQ(escapeMetricLabel("say \"hi\" \\ bye\n"), "say \\\"hi\\\" \\\\ bye\\n");
}

TEST(MetricsText, ValuesReadBackAsTheSameNumber) {
  EXPECT_EQ(metricValueText(0), "0");
  EXPECT_EQ(metricValueText(-3), "-3");
  EXPECT_EQ(metricValueText(4294967295.0), "4294967295");
  EXPECT_EQ(metricValueText(0.0025), "0.0025");
  EXPECT_EQ(std::stod(metricValueText(1.0 / 3)), 1.0 / 3);
  EXPECT_EQ(metricValueText(std::numeric_limits<double>::infinity()), "+Inf");
  EXPECT_EQ(metricValueText(-std::numeric_limits<double>::infinity()), "-Inf");
  EXPECT_EQ(metricValueText(std::nan("")), "NaN");
}

TEST(MetricsText, ProducersAddFamiliesAndSamples) {
  TableOwner reply;
  addMetricFamily(reply.address(), "kestrova_x", "gauge", "An example.");
  addMetricSample(reply.address(), "kestrova_x", {{"pair", "Brivo\"1"}, {"bad-name", "dropped"}, {"c", "A"}},
                  2);
  addMetricSample(reply.address(), "kestrova_x", {}, 0.5);
  addMetricSample(reply.address(), "bad name", {}, 1);  // refused: no key
  addMetricFamily(reply.address(), "bad name", "gauge", "refused too");
  EXPECT_STREQ(getVariable(reply.get(), "help:kestrova_x"), "An example.");
  EXPECT_STREQ(getVariable(reply.get(), "type:kestrova_x"), "gauge");
  EXPECT_STREQ(getVariable(reply.get(), "metric:kestrova_x{pair=\"Brivo\\\"1\",c=\"A\"}"), "2");
  EXPECT_STREQ(getVariable(reply.get(), "metric:kestrova_x"), "0.5");
  int entries = 0;
  for (VariableEntry* entry = reply.get(); entry != nullptr; entry = entry->next) ++entries;
  EXPECT_EQ(entries, 4);
}

}  // namespace
