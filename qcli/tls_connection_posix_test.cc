// HTTPS from the client: where the switch and the CA file come from, and what happens when the
// server cannot be trusted, is not the host the user named, speaks plain HTTP or no TLS at all, or
// trickles its handshake. In every failure the password must not reach the peer: the TLS peers
// record what they could decrypt and the raw peers every byte that arrived.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "common/test_folder.h"
#include "qcli/client_test_support.h"
#include "qcli/exit_codes.h"
#include "qcli/test_http_peer.h"
#include "qcli/tls_settings.h"

namespace qcli {
namespace {

using testing::htmlPage;
using testing::plainReply;
using testing::runClientWith;
using testing::TestHttpPeer;

// "admin:pinecone" as the client encodes it, and the header that carries it.
constexpr char kCredentials[] = "YWRtaW46cGluZWNvbmU=";

// A peer that records every raw byte of one connection and then does what the test says.
class RawPeer {
 public:
  // behaviour gets the accepted socket and the bytes that arrived within the first half second.
  explicit RawPeer(std::function<void(int fd)> behaviour) : behaviour_(std::move(behaviour)) {
    listener_ = testing::listenOnLoopback(&port_);
    thread_ = std::thread([this] { serve(); });
  }
  ~RawPeer() { stop(); }
  std::string port() const { return std::to_string(port_); }
  void stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    thread_.join();
    ::close(listener_);
  }
  // Everything that arrived, read after stop().
  std::string received() const { return received_; }

  // Reads what arrives until the client is quiet for 300 ms (or gone).
  void readQuietly(int fd) {
    char buffer[4096];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 300) <= 0) return;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      received_.append(buffer, static_cast<size_t>(n));
    }
  }

 private:
  void serve() {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) return;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    readQuietly(fd);
    behaviour_(fd);
    readQuietly(fd);  // whatever the client sends after the peer's answer counts too
    ::close(fd);
  }
  std::function<void(int)> behaviour_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  std::string received_;  // written by the serving thread only, read after stop()
};

void sendText(int fd, const std::string& text) {
  (void)::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

class TlsClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(testing::testCertificate().error, ""); }
  std::map<std::string, std::string> env() { return {{"QCLI_CONFIG_FILE", config_}}; }
  std::vector<std::string> args(const std::string& port, std::vector<std::string> more,
                                const std::string& ip = "127.0.0.1") {
    std::vector<std::string> a{"--ip", ip, "--port", port};
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
  const std::string& ca() const { return testing::testCertificate().certificate; }
  void writeConfig(const std::string& text) { writeBytes(config_, text); }
  static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
  // The settings start-up settles for the command line, environment and configuration file.
  bool settle(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment,
              ClientState* state, std::string* output) {
    std::vector<std::string> all{"qcli"};
    all.insert(all.end(), args.begin(), args.end());
    *state = makeClientState(all);
    if (!readConfigFile(config_, &state->config)) state->config = ConfigContents();
    FILE* out = std::tmpfile();
    const bool ok = settleTls(state, [&](const char* name) -> const char* {
      auto it = environment.find(name);
      return it == environment.end() ? nullptr : it->second.c_str();
    }, out);
    *output = testing::readAll(out);
    std::fclose(out);
    return ok;
  }
  TestFolder folder_;
  std::string config_ = folder_.file("qcliConfig.db");
};

TEST_F(TlsClientTest, SwitchAndCaFileComeFromFileEnvironmentAndCommandLine) {
  ClientState state;
  std::string out;
  // Default off: configuration files of before behave as before.
  ASSERT_TRUE(settle({"array", "display"}, {}, &state, &out));
  EXPECT_FALSE(state.tls.enabled);
  EXPECT_EQ(state.tls.caFile, "");

  writeConfig("DefaultTls = \"YES\"\nDefaultCaFile = file.pem\n");
  ASSERT_TRUE(settle({"array"}, {}, &state, &out));
  EXPECT_TRUE(state.tls.enabled);
  EXPECT_EQ(state.tls.caFile, "file.pem");
  // The environment is stronger than the file, the command line than both.
  // Off from the environment while the file names a CA file: refused (the user meant HTTPS).
  EXPECT_FALSE(settle({"array"}, {{"QCLI_SERVER_TLS", "off"}}, &state, &out));
  EXPECT_TRUE(has(out, "Error: A CA file (file.pem) is set but TLS is off")) << out;
  writeConfig("DefaultTls = no\n");
  ASSERT_TRUE(settle({"array"}, {{"QCLI_SERVER_TLS", "1"}, {"QCLI_CA_FILE", "env.pem"}}, &state, &out));
  EXPECT_TRUE(state.tls.enabled);
  EXPECT_EQ(state.tls.caFile, "env.pem");
  ASSERT_TRUE(settle({"--cafile", "arg.pem", "array", "--tls", "display"}, {{"QCLI_CA_FILE", "env.pem"}}, &state,
                     &out));
  EXPECT_TRUE(state.tls.enabled);
  EXPECT_EQ(state.tls.caFile, "arg.pem");
  // The options and the CA file's name are the client's: never sent to the server.
  EXPECT_EQ(state.consumed, (std::vector<bool>{false, true, true, false, true, false}));
}

TEST_F(TlsClientTest, BadValuesAndACaFileWithoutTlsAreRefusedBeforeAnythingIsSent) {
  ClientState state;
  std::string out;
  EXPECT_FALSE(settle({"array"}, {{"QCLI_SERVER_TLS", "maybe"}}, &state, &out));
  EXPECT_EQ(out, "Error: TLS setting 'maybe' from QCLI_SERVER_TLS is not yes or no.\n");
  writeConfig("DefaultTls = sometimes\n");
  EXPECT_FALSE(settle({"array"}, {}, &state, &out));
  EXPECT_EQ(out, "Error: TLS setting 'sometimes' from DefaultTls is not yes or no.\n");
  writeConfig("");
  for (const std::vector<std::string>& missing :
       {std::vector<std::string>{"array", "--cafile"}, {"--cafile", "--tls", "array"}, {"--cafile", "", "x"}}) {
    EXPECT_FALSE(settle(missing, {}, &state, &out));
    EXPECT_EQ(out, "Error: Argument '--cafile' requires data component.\n");
  }

  // A CA file says the user meant HTTPS; without TLS on, nothing goes out, and the exit code is
  // the client's own error.
  TestHttpPeer peer({plainReply("text/html", htmlPage("sent\n"))}, false);
  const testing::ClientRun run = runClientWith(args(peer.portText(), {"--cafile", ca(), "array", "display"}), env());
  EXPECT_EQ(run.exitCode, kExitError);
  EXPECT_TRUE(has(run.output, "Error: A CA file (" + ca() + ") is set but TLS is off; the request was not sent.\n"))
      << run.output;
  peer.stop();
  EXPECT_TRUE(peer.requests().empty());
}

TEST_F(TlsClientTest, OverHttpsTheRequestIsTheSameBytesAndTheAnswerIsRead) {
  TestHttpPeer plain({plainReply("text/html", htmlPage("Array 0\n"))}, false);
  TestHttpPeer secure({plainReply("text/html", htmlPage("Array 0\n"))}, true);
  const testing::ClientRun overHttp = runClientWith(args(plain.portText(), {"array", "display"}), env());
  const testing::ClientRun overHttps =
      runClientWith(args(secure.portText(), {"--tls", "--cafile", ca(), "array", "display"}), env());
  plain.stop();
  secure.stop();
  EXPECT_EQ(overHttps.exitCode, kExitOk);
  EXPECT_EQ(overHttps.output, overHttp.output);
  ASSERT_EQ(plain.requests().size(), 1u);
  ASSERT_EQ(secure.requests().size(), 1u);
  // Only the port differs between the two requests.
  std::string expected = plain.requests()[0];
  for (size_t at; (at = expected.find(plain.portText())) != std::string::npos;)
    expected.replace(at, plain.portText().size(), secure.portText());
  EXPECT_EQ(secure.requests()[0], expected);
  EXPECT_TRUE(has(expected, std::string("Authorization: Basic ") + kCredentials));
}

TEST_F(TlsClientTest, UntrustedCertificatesAndWrongNamesGetNoCredentials) {
  // The system's store does not know the test's self-signed certificate.
  TestHttpPeer untrusted({plainReply("text/html", htmlPage("never\n"))}, true);
  testing::ClientRun run = runClientWith(args(untrusted.portText(), {"--tls", "array", "display"}), env());
  untrusted.stop();
  EXPECT_EQ(run.exitCode, kExitTransportFailure);
  EXPECT_TRUE(run.output.ends_with(
      "Error: TLS: the certificate of server, 127.0.0.1, is not trusted: self-signed certificate.\n"
      "       Check that --cafile names the certificate the front end uses (or the authority that signed it).\n"
      "http request returned no data.\n"))
      << run.output;
  ASSERT_EQ(untrusted.requests().size(), 1u);
  EXPECT_EQ(untrusted.requests()[0], "") << "the peer decrypted nothing";

  // The certificate names 127.0.0.1 and kestrova.test, not localhost, though localhost is the
  // same address.
  TestHttpPeer misnamed({plainReply("text/html", htmlPage("never\n"))}, true);
  run = runClientWith(args(misnamed.portText(), {"--tls", "--cafile", ca(), "array", "display"}, "localhost"), env());
  misnamed.stop();
  EXPECT_EQ(run.exitCode, kExitTransportFailure);
  EXPECT_TRUE(run.output.ends_with(
      "Error: TLS: the server's certificate does not name localhost.\n"
      "       Check that --ip is a name or address that the certificate lists.\n"
      "http request returned no data.\n"))
      << run.output;
  ASSERT_EQ(misnamed.requests().size(), 1u);
  EXPECT_EQ(misnamed.requests()[0], "");

  // A CA file that holds no certificate is named, and nothing is sent at all.
  writeBytes(folder_.file("not.pem"), "not a certificate\n");
  RawPeer quiet([](int) {});
  run = runClientWith(args(quiet.port(), {"--tls", "--cafile", folder_.file("not.pem"), "array"}), env());
  quiet.stop();
  EXPECT_EQ(run.exitCode, kExitTransportFailure);
  EXPECT_TRUE(has(run.output, "Error: TLS: cannot load the CA file " + folder_.file("not.pem") + ": ")) << run.output;
  EXPECT_EQ(quiet.received(), "");
}

TEST_F(TlsClientTest, PlainHttpAndOtherProtocolsAreNamedAndSeeNoCredentials) {
  // A plain-HTTP server answers the ClientHello with an HTTP error, as web servers do.
  RawPeer http([](int fd) { sendText(fd, "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n"); });
  testing::ClientRun run = runClientWith(args(http.port(), {"--tls", "--cafile", ca(), "array", "display"}), env());
  http.stop();
  EXPECT_EQ(run.exitCode, kExitTransportFailure);
  EXPECT_TRUE(run.output.ends_with("Error: TLS: server 127.0.0.1 port " + http.port() +
                                   " answered in plain HTTP, not TLS.\n"
                                   "       Check that the port is the front end's HTTPS port (--tls-cert, --tls-key).\n"
                                   "http request returned no data.\n"))
      << run.output;
  const std::string bytes = http.received();
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes[0], 0x16) << "a TLS handshake record, the ClientHello";
  EXPECT_FALSE(has(bytes, "Authorization") || has(bytes, kCredentials) || has(bytes, "GET ")) << bytes;

  RawPeer closing([](int) {});
  run = runClientWith(args(closing.port(), {"--tls", "--cafile", ca(), "array"}), env());
  closing.stop();
  EXPECT_TRUE(has(run.output, "Error: TLS: server 127.0.0.1 port " + closing.port() +
                                  " does not offer TLS: it closed the connection.\n"))
      << run.output;
  EXPECT_FALSE(has(closing.received(), kCredentials));

  RawPeer ssh([](int fd) { sendText(fd, "SSH-2.0-OpenSSH_9.2\r\n"); });
  run = runClientWith(args(ssh.port(), {"--tls", "--cafile", ca(), "array"}), env());
  ssh.stop();
  EXPECT_EQ(run.exitCode, kExitTransportFailure);
  EXPECT_TRUE(has(run.output, " does not offer TLS: it answered in another protocol.\n")) << run.output;
  EXPECT_FALSE(has(ssh.received(), kCredentials));
}

// The front end may close while a large upload is still going out (a body over its limit): the
// client must report the send error, not die of SIGPIPE (which would end this test program).
TEST_F(TlsClientTest, AServerThatClosesDuringTheUploadIsASendError) {
  int port = 0;
  const int listener = testing::listenOnLoopback(&port);
  std::thread closer([listener] {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) return;
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    testing::TlsPeerStream stream(fd);  // the handshake, then a read of the head only
    char head[256];
    (void)stream.read(head, sizeof head);
  });
  writeBytes(folder_.file("big.bin"), std::string(8 << 20, 'x'));
  const testing::ClientRun run = runClientWith(
      args(std::to_string(port), {"--tls", "--cafile", ca(), "--sfile", folder_.file("big.bin"), "config", "restore"}),
      env());
  closer.join();
  ::close(listener);
  EXPECT_EQ(run.exitCode, kExitTransportFailure);
  EXPECT_TRUE(has(run.output, "Error: send() returned an error. ")) << run.output;
  EXPECT_TRUE(run.output.ends_with("http POST request returned no data.\nError: HTTP request failed\n")) << run.output;
}

TEST_F(TlsClientTest, ATricklingHandshakeEndsAtTheTimeLimit) {
  // A TLS record header, then one byte a tenth of a second: never a whole ServerHello.
  RawPeer trickle([](int fd) {
    const std::string start = "\x16\x03\x03\x40\x00";
    for (size_t i = 0; i < 600; ++i) {
      if (::send(fd, start.data() + (i < start.size() ? i : 0), 1, MSG_NOSIGNAL) != 1) return;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) > 0) {
        char buffer[512];
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return;  // the client gave up
      }
    }
  });
  const auto start = std::chrono::steady_clock::now();
  const testing::ClientRun run =
      runClientWith(args(trickle.port(), {"--tls", "--cafile", ca(), "--timeout", "2", "array"}), env());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  trickle.stop();
  EXPECT_EQ(run.exitCode, kExitTransportFailure);
  EXPECT_TRUE(run.output.ends_with("Error: TLS: no handshake with server 127.0.0.1 port " + trickle.port() +
                                   ": the time limit passed.\n"
                                   "       Check that the port is the front end's HTTPS port (--tls-cert, --tls-key).\n"
                                   "Error: No complete answer from the server within 2 seconds (--timeout).\n"
                                   "http request returned no data.\n"))
      << run.output;
  // Far below the 60 s the trickle would last: the limit held during the handshake.
  EXPECT_LT(seconds, 30.0);
  EXPECT_FALSE(has(trickle.received(), kCredentials));
}

}  // namespace
}  // namespace qcli
