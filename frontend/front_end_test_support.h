// Test helpers for the front end's tests: an installed tree in a temporary folder (password file
// for admin/pinecone, a few templates, an image, a log) and a fake server that records every
// request table (the front end's reports apart) and answers with a reply the test chooses,
// instead of the shared memory.
//
// Thread safety: FakeServer's members may be used from the front end's worker threads and the
// test thread at once (one lock).
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/apr1.h"
#include "common/cgi_client.h"
#include "common/test_folder.h"
#include "frontend/front_end.h"
#include "frontend/reply_tree.h"

class TestPrefix {
 public:
  TestPrefix() {
    root_ = std::filesystem::path(folder_.path()) / "prefix";
    for (const char* dir :
         {"www/cgi-bin", "www/Server/html", "www/images", "html/Brivo/main", "db", "temp"}) {
      std::filesystem::create_directories(root_ / dir);
    }
    write("db/password.web", "admin:" + apr1Hash("pinecone", "fixture1"));
    write("db/ServerLog.log", "\"Log Number\",\"Message\"\r\n\"1\",\"started\"\r\n");
    write("www/Server/html/page.htm", "<p>{{Value}}</p>{{#Rows}}<i>{{x}}</i>{{/Rows}}");
    write("html/Brivo/main/qcli.htm",
          "<!-- qcli script -->\n<pre>\n{{#textloop}}{{{text}}}{{/textloop}}</pre>\n");
    write("www/images/tab.gif", std::string("GIF89a\0\x01\x02", 9));
    write("temp/config.bin", std::string("\x00\xff\r\n", 4));
  }
  void write(const std::string& relative, const std::string& bytes) const {
    writeBytes((root_ / relative).string(), bytes);
  }
  const std::filesystem::path& root() const { return root_; }
  // Names in temp/ (uploads in flight or left behind).
  std::vector<std::string> tempNames() const { return namesIn((root_ / "temp").string()); }

 private:
  TestFolder folder_;
  std::filesystem::path root_;
};

class FakeServer {
 public:
  using Responder = std::function<std::vector<std::pair<std::string, std::string>>(const FlatReply& request)>;

  // Answers every request with the pairs the responder returns (or with result when it is not
  // kCgiOk). onRequest runs inside the round trip, while uploads still exist.
  void answer(Responder responder) {
    std::lock_guard<std::mutex> lock(mu_);
    responder_ = std::move(responder);
  }
  void fail(int result) {
    std::lock_guard<std::mutex> lock(mu_);
    result_ = result;
  }
  std::vector<FlatReply> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }
  // The front end's own reports (refusals, failed logins), kept apart from the requests.
  std::vector<FlatReply> reports() {
    std::lock_guard<std::mutex> lock(mu_);
    return reports_;
  }

  RoundTrip roundTrip() {
    return [this](VariableTable request, VariableTable* reply) {
      const FlatReply flat = flattenReply(request);
      std::lock_guard<std::mutex> lock(mu_);
      if (flat.count("FrontEndReport") != 0) {
        reports_.push_back(flat);
        *reply = nullptr;
        return static_cast<int>(kCgiOk);
      }
      requests_.push_back(flat);
      if (result_ != kCgiOk) return result_;
      TableOwner table;
      if (responder_) {
        for (const auto& [key, value] : responder_(flat))
          addVariable(table.address(), key.c_str(), value.c_str());
      }
      *reply = table.release();
      return static_cast<int>(kCgiOk);
    };
  }

 private:
  std::mutex mu_;
  Responder responder_;
  int result_ = kCgiOk;
  std::vector<FlatReply> requests_;
  std::vector<FlatReply> reports_;
};
