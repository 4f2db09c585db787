// Test helpers of the webhook notifier tests: an HTTP peer (tests/webhook_sink.py under
// /usr/bin/python3) that keeps every POST, and the settings page's form for a receiver.
//
// Thread safety: one sink per test, used from the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "server/events/notifier_test_fixture.h"

namespace webhook_test {

using namespace notifier_test;

struct Posted {
  std::string path;
  std::string authorization;
  std::string contentType;
  nlohmann::json body;  // discarded when the body was not JSON
};

class WebhookSink {
 public:
  // Listens on port (0: a free one) with the further options of webhook_sink.py.
  WebhookSink(const std::string& folder, uint16_t port, const std::vector<std::string>& options = {})
      : log_(folder + "/posts-" + std::to_string(++count_) + ".jsonl") {
    port_ = port != 0 ? port : unusedTcpPort();
    std::vector<std::string> args = {"/usr/bin/python3", (sourceFolder() / "tests/webhook_sink.py").string(),
                                     log_, "--port", std::to_string(port_)};
    args.insert(args.end(), options.begin(), options.end());
    process_ = std::make_unique<PeerProcess>(args, log_ + ".out");
    ready_ = process_->started() &&
             waitUntil([this] { return tcpPortListening(port_) || !process_->running(); }, 20000ms) &&
             process_->running();
  }
  bool ready() const { return ready_; }
  uint16_t port() const { return port_; }
  std::string url(const std::string& path = "/hook") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::string output() const { return process_->output(); }
  std::vector<Posted> posts() const {
    std::vector<Posted> out;
    std::istringstream lines(readFile(log_));
    for (std::string line; std::getline(lines, line);) {
      const nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
      if (entry.is_discarded()) continue;
      out.push_back({entry.value("path", ""), entry.value("authorization", ""),
                     entry.value("content_type", ""),
                     nlohmann::json::parse(entry.value("body", ""), nullptr, false)});
    }
    return out;
  }
  bool waitForPosts(size_t count, std::chrono::milliseconds limit = 20000ms) const {
    return waitUntil([&] { return posts().size() >= count; }, limit);
  }

 private:
  static inline int count_ = 0;
  std::string log_;
  uint16_t port_ = 0;
  std::unique_ptr<PeerProcess> process_;
  bool ready_ = false;
};

// A save (or test) request with one receiver per URL, all levels.
struct FormRow {
  std::string url;
  const char* style = "generic";
  const char* auth = nullptr;
  const char* user = nullptr;
  const char* secret = nullptr;
  std::string id;
  const char* caFile = nullptr;
  const char* iwe = "111";
};

inline TableOwner webhookForm(const char* version, const std::vector<FormRow>& rows) {
  TableOwner request;
  if (version != nullptr) addVariable(request.address(), "version", version);
  for (size_t i = 0; i < rows.size(); ++i) {
    const FormRow& row = rows[i];
    const std::string n = std::to_string(i);
    const auto add = [&](const char* key, const std::string& value) {
      addVariable(request.address(), (key + n).c_str(), value.c_str());
    };
    add("WebhookUrl", row.url);
    add("WebhookStyle", row.style);
    if (row.auth != nullptr) add("WebhookAuth", row.auth);
    if (row.user != nullptr) add("WebhookUser", row.user);
    if (row.secret != nullptr) add("WebhookSecret", row.secret);
    if (!row.id.empty()) add("WebhookId", row.id);
    if (row.caFile != nullptr) add("WebhookCaFile", row.caFile);
    if (row.iwe[0] == '1') add("WebhookInfo", "true");
    if (row.iwe[1] == '1') add("WebhookWarn", "true");
    if (row.iwe[2] == '1') add("WebhookErr", "true");
  }
  return request;
}

}  // namespace webhook_test
