// The standalone server's /metrics (login, the server's request, the front end's own counts) and
// HTTPS with a self-signed certificate made by openssl for the test, with a fake server behind.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "common/cgi_client.h"
#include "frontend/front_end_test_support.h"
#include "frontend/http_mode.h"

namespace {

class Running {
 public:
  Running(FrontEnd* core, HttpModeOptions options) : http_(core, std::move(options)) {}
  ~Running() {
    if (thread_.joinable()) {
      http_.stop();
      thread_.join();
    }
  }
  bool start() {
    if (!http_.valid() || !http_.bind()) return false;
    thread_ = std::thread([this] { http_.run(); });
    return true;
  }
  int port() const { return http_.boundPort(); }

 private:
  HttpFrontEnd http_;
  std::thread thread_;
};

class MetricsOverHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    core_ = std::make_unique<FrontEnd>(prefix_.root(), FrontEndLimits(), server_.roundTrip());
    server_.answer([](const FlatReply& request) -> std::vector<std::pair<std::string, std::string>> {
      if (request.count("method") && request.at("method") == "GetMetrics") {
        return {{"help:kestrova_pair_readable", "Readable."},
                {"type:kestrova_pair_readable", "gauge"},
                {"metric:kestrova_pair_readable{pair=\"Brivo20000004CF8A1B2C\"}", "1"}};
      }
      return {{"Value", "x"}, {"HTMLPath", "../Server/html/page.htm"}};
    });
    HttpModeOptions options;
    options.port = 0;
    options.threads = 2;
    running_ = std::make_unique<Running>(core_.get(), options);
    ASSERT_TRUE(running_->start());
  }

  TestPrefix prefix_;
  FakeServer server_;
  std::unique_ptr<FrontEnd> core_;
  std::unique_ptr<Running> running_;
};

TEST_F(MetricsOverHttp, NeedsTheLoginAndCountsEveryAnswer) {
  // One connection: its requests are answered, and counted, one after the other by one worker.
  httplib::Client client("127.0.0.1", running_->port());
  client.set_keep_alive(true);
  auto refused = client.Get("/metrics");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 401);
  EXPECT_TRUE(server_.requests().empty());  // nothing reached the server

  client.set_basic_auth("admin", "pinecone");
  ASSERT_EQ(client.Get("/cgi-bin/cgiloader.cgi?module=server&method=x")->status, 200);
  ASSERT_EQ(client.Get("/no/such/file.css")->status, 404);
  auto page = client.Get("/metrics");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  const std::string& body = page->body;
  EXPECT_NE(body.find("\nkestrova_server_up 1\n"), std::string::npos);
  EXPECT_NE(body.find("\nkestrova_pair_readable{pair=\"Brivo20000004CF8A1B2C\"} 1\n"), std::string::npos);
  // The answers before this one, each once (this one is counted after it is written).
  EXPECT_NE(body.find("\nkestrova_http_requests_total{kind=\"metrics\",code=\"401\"} 1\n"),
            std::string::npos);
  EXPECT_NE(body.find("\nkestrova_http_requests_total{kind=\"page\",code=\"200\"} 1\n"), std::string::npos);
  EXPECT_NE(body.find("\nkestrova_http_requests_total{kind=\"static\",code=\"404\"} 1\n"), std::string::npos)
      << body;
  EXPECT_NE(body.find("\nkestrova_http_request_duration_seconds_count{kind=\"page\"} 1\n"),
            std::string::npos);

  const std::vector<FlatReply> requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].at("module"), "server");
  EXPECT_EQ(requests[1].at("method"), "GetMetrics");
  EXPECT_EQ(requests[1].at("RemoteUser"), "admin");
  EXPECT_EQ(client.Post("/metrics", "", "text/plain")->status, 405);
}

TEST_F(MetricsOverHttp, AServerThatIsNotRunningLeavesTheFrontEndsOwnMetrics) {
  server_.fail(kCgiServerNotRunning);
  httplib::Client client("127.0.0.1", running_->port());
  client.set_basic_auth("admin", "pinecone");
  auto page = client.Get("/metrics");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("\nkestrova_server_up 0\n"), std::string::npos);
  EXPECT_EQ(page->body.find("kestrova_pair_readable"), std::string::npos);
  EXPECT_NE(page->body.find("# TYPE kestrova_http_request_duration_seconds histogram"), std::string::npos);
}

// A certificate and key for 127.0.0.1 made by openssl, as an administrator would.
class Https : public ::testing::Test {
 protected:
  void SetUp() override {
    cert_ = (prefix_.root() / "cert.pem").string();
    key_ = (prefix_.root() / "key.pem").string();
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
        "-addext subjectAltName=IP:127.0.0.1 -keyout '" +
        key_ + "' -out '" + cert_ + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "openssl req failed";
    core_ = std::make_unique<FrontEnd>(prefix_.root(), FrontEndLimits(), server_.roundTrip());
    server_.answer([](const FlatReply&) -> std::vector<std::pair<std::string, std::string>> {
      return {{"Value", "over TLS"}, {"HTMLPath", "../Server/html/page.htm"}};
    });
  }
  HttpModeOptions tlsOptions(const std::string& cert, const std::string& key) const {
    HttpModeOptions options;
    options.port = 0;
    options.threads = 2;
    options.tlsCertificate = cert;
    options.tlsKey = key;
    return options;
  }

  TestPrefix prefix_;
  FakeServer server_;
  std::unique_ptr<FrontEnd> core_;
  std::string cert_;
  std::string key_;
};

TEST_F(Https, PagesComeOverTlsWithTheConfiguredCertificate) {
  Running running(core_.get(), tlsOptions(cert_, key_));
  ASSERT_TRUE(running.start());
  httplib::SSLClient client("127.0.0.1", running.port());
  client.set_keep_alive(true);
  client.set_ca_cert_path(cert_.c_str());  // trust exactly this certificate: verification stays on
  client.enable_server_certificate_verification(true);
  client.set_basic_auth("admin", "pinecone");
  auto page = client.Get("/cgi-bin/cgiloader.cgi?module=server&method=LoadIndex");
  ASSERT_TRUE(page) << httplib::to_string(page.error());
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("<p>over TLS</p>"), std::string::npos);
  auto metrics = client.Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("kestrova_http_requests_total{kind=\"page\",code=\"200\"} 1"),
            std::string::npos);

  EXPECT_EQ(page->get_header_value("Strict-Transport-Security"), "max-age=31536000");

  // Plain HTTP to the TLS port gets no page.
  httplib::Client plain("127.0.0.1", running.port());
  plain.set_basic_auth("admin", "pinecone");
  auto refused = plain.Get("/cgi-bin/cgiloader.cgi?module=server&method=LoadIndex");
  EXPECT_TRUE(!refused || refused->status != 200);
}

TEST_F(Https, AMissingOrMismatchedKeyIsRefusedAtStart) {
  EXPECT_FALSE(HttpFrontEnd(core_.get(), tlsOptions(cert_, key_ + ".missing")).valid());
  EXPECT_FALSE(HttpFrontEnd(core_.get(), tlsOptions(key_, cert_)).valid());
  const std::string otherKey = (prefix_.root() / "other.pem").string();
  ASSERT_EQ(std::system(("openssl genpkey -algorithm RSA -out '" + otherKey + "' >/dev/null 2>&1").c_str()),
            0);
  EXPECT_FALSE(HttpFrontEnd(core_.get(), tlsOptions(cert_, otherKey)).valid());
  EXPECT_TRUE(HttpFrontEnd(core_.get(), tlsOptions(cert_, key_)).valid());
  HttpModeOptions unknownCiphers = tlsOptions(cert_, key_);
  unknownCiphers.tlsPriorities = "NORMAL:+NO-SUCH-CIPHER";
  EXPECT_FALSE(HttpFrontEnd(core_.get(), unknownCiphers).valid());
}

}  // namespace
