// The front end's defences end to end, with the built server and cgiloader: brute force from one
// address (slowed, reported, other addresses served at once), shared-memory names taken by
// another user before the server starts (requests answered all the same), the modes of every
// file of an installed tree after use under umask 022, and the TLS suites a client can get.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "common/test_folder.h"
#include "qcli/request_builder.h"
#include "tests/frontend_flows.h"
#include "tests/frontend_web_instance.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;
// Each check reads the log file; the timing tests beside it want the cores for the server.
constexpr std::chrono::milliseconds kCheckEvery{200};

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// One request on a new connection from a loopback source address; the HTTP status, 0 on failure.
int statusFrom(const char* source, int port, const std::string& login) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, source, &local.sin_addr);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return 0;
  }
  timeval wait{60, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  const std::string request =
      "GET /cgi-bin/cgiloader.cgi?module=server&method=SessionPing HTTP/1.1\r\n"
      "Host: 127.0.0.1\r\nConnection: close\r\nAuthorization: Basic " +
      qcli::encodeBase64Url(login) + "\r\n\r\n";
  char buffer[32] = {};
  int status = 0;
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size()) &&
      recv(fd, buffer, sizeof buffer - 1, 0) > 12) {
    status = std::atoi(buffer + 9);
  }
  close(fd);
  return status;
}

std::string fileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The server (-debug) and cgiloader (with extra options) in a tree; stopped in reverse order.
class Stack {
 public:
  Stack(const fs::path& root, const fs::path& loader, std::vector<std::string> options,
        ServerProcess::Environment env = {})
      : root_(root) {
    server_ = std::make_unique<ServerProcess>(std::vector<std::string>{"-debug"}, root, env);
    if (!server_->waitForText("Scan System thread terminated\n")) return;
    options.insert(options.begin(), {"--listen", "127.0.0.1:0", "--root", root.string()});
    loader_ = std::make_unique<ChildProgram>(
        loader, options,
        std::vector<std::pair<std::string, std::string>>{{"KESTROVA_SHM_PREFIX", server_->shmPrefix()}});
    if (!loader_->waitForText("/\n")) return;
    const std::string output = loader_->output();
    port_ = std::stoi(output.substr(output.rfind(':') + 1));
  }
  ~Stack() {
    if (loader_) loader_->stop();
    if (server_) {
      server_->signal(SIGINT);
      server_->finish();
    }
  }
  int port() const { return port_; }
  std::string log() const { return fileText(root_ / "db/ServerLog.log"); }
  std::string output() { return (server_ ? server_->output() : "") + (loader_ ? loader_->output() : ""); }
  WebTarget target() const {
    WebTarget target;
    target.port = port_;
    target.root = root_;
    return target;
  }

 private:
  fs::path root_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<ChildProgram> loader_;
  int port_ = 0;
};

TEST(FrontEndSecurity, GuessingFromOneAddressIsSlowedAndLoggedWhileOthersAreServedAtOnce) {
  WebInstance instance;
  ASSERT_TRUE(instance.ready());
  // The delay doubles from 1 s; capped at 2 s here so the test takes half a minute (30 s by default).
  Stack stack(instance.root(), instance.loaderPath(), {"--login-delay-max", "2"});
  ASSERT_GT(stack.port(), 0) << stack.output();
  std::atomic<double> otherSeconds{-1};
  std::atomic<int> otherStatus{0};
  const auto start = Clock::now();
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::seconds(10));  // the guesser is being held by then
    const auto begin = Clock::now();
    otherStatus = statusFrom("127.0.0.4", stack.port(), "admin:pinecone");
    otherSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
  });
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(statusFrom("127.0.0.3", stack.port(), "admin:guess" + std::to_string(i)), 401);
  const double guessing = std::chrono::duration<double>(Clock::now() - start).count();
  other.join();
  EXPECT_GE(guessing, 20.0);
  EXPECT_EQ(otherStatus.load(), 200);
  EXPECT_LT(otherSeconds.load(), 2.0);
  EXPECT_TRUE(waitUntil([&] {
    const std::string log = stack.log();
    return log.find("0x10B") != std::string::npos && log.find("127.0.0.3") != std::string::npos;
  }, test_support::kWaitLimit, kCheckEvery)) << stack.log();
}

// ---- Shared memory names taken beforehand ------------------------------------------------------

// Creates name as another user would: owned by "nobody" when this test runs as root, else
// open to everybody; either way not this server's.
void squatObject(const std::string& path) {
  const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_RDWR, 0666);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(ftruncate(fd, 64), 0);
  ASSERT_EQ(fchmod(fd, 0666), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(fchown(fd, 65534, 65534), 0);
  }
  close(fd);
}

TEST(FrontEndSecurity, NamesTakenByAnotherUserDoNotStopTheRequests) {
  WebInstance instance;
  ASSERT_TRUE(instance.ready());
  const std::string prefix = "kestrova-squat-" + std::to_string(getpid()) + ".";
  std::vector<std::string> squatted;
  for (int number : {9190}) squatted.push_back("/dev/shm/" + prefix + std::to_string(number));
  for (int slot = 0; slot < 10; ++slot) {
    squatted.push_back("/dev/shm/" + prefix + std::to_string(9290 + slot));
    squatted.push_back("/dev/shm/" + prefix + std::to_string(9390 + slot));
    squatted.push_back("/dev/shm/sem." + prefix + "sem" + std::to_string(9290 + slot));
    squatted.push_back("/dev/shm/sem." + prefix + "sem" + std::to_string(9390 + slot));
  }
  squatted.push_back("/dev/shm/sem." + prefix + "sem9190");
  for (const std::string& path : squatted) squatObject(path);
  {
    Stack stack(instance.root(), instance.loaderPath(), {}, {{"KESTROVA_SHM_PREFIX", prefix}});
    ASSERT_GT(stack.port(), 0) << stack.output();
    auto client = webClient(stack.target());
    for (int i = 0; i < 25; ++i) {  // every slot, more than once
      auto ping = client->Get(pageUrl(stack.target(), "SessionPing"));
      ASSERT_TRUE(ping) << i;
      EXPECT_EQ(ping->status, 200) << i << " " << ping->body.substr(0, 300);
    }
    EXPECT_TRUE(waitUntil([&] { return stack.log().find("0x308") != std::string::npos; }, test_support::kWaitLimit, kCheckEvery)) << stack.log();
    // Reported once per name, not once per request.
    const std::string log = stack.log();
    EXPECT_LE(std::count(log.begin(), log.end(), '\n'), 40) << log;
  }
  for (const std::string& path : squatted) unlink(path.c_str());
}

// ---- File modes of an installed tree --------------------------------------------------------

TEST(FrontEndSecurity, UnderUmask022NothingButPagesAndProgramsIsReadableByOthers) {
  const char* build = std::getenv("KESTROVA_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  TestFolder folder;
  const fs::path root = fs::path(folder.path()) / "tree";
  const mode_t previous = umask(022);
  const std::string install =
      "cmake --install '" + std::string(build) + "' --prefix '" + root.string() + "' >/dev/null";
  ASSERT_EQ(std::system(install.c_str()), 0) << install;
  {
    Stack stack(root, root / "www/cgi-bin/cgiloader", {});
    ASSERT_GT(stack.port(), 0) << stack.output();
    const WebTarget target = stack.target();
    checkSettingsSaveAndReload(target);
    auto client = webClient(target);
    for (const char* method : {"ClearEventLogs", "ExportLogs", "GetSnmpConfig"}) {
      auto page = client->Get(pageUrl(target, method));
      ASSERT_TRUE(page);
      EXPECT_EQ(page->status, 200) << method;
    }
    const nlohmann::json snmp = apiJson(target, "GetSnmpConfig");
    httplib::Params form = {
        {"module", "server"},         {"method", "SetSnmpConfig"},  {"version", snmp.value("version", "")},
        {"SnmpServer0", "127.0.0.1"}, {"SnmpCommunity0", "s3cret"}, {"SnmpPort0", "1162"}};
    auto saved = client->Post(target.pagePath, form);
    ASSERT_TRUE(saved);
    // A browser's page: the server makes its token key.
    auto page = client->Get(pageUrl(target, "ViewLogs"), {{"Sec-Fetch-Site", "same-origin"}});
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("kestrova-page-token"), std::string::npos);
    auto archive =
        client->Post(pageUrl(target, "GatherInformation"), "", "application/x-www-form-urlencoded");
    ASSERT_TRUE(archive);
    EXPECT_TRUE(fs::exists(root / "db/pagetoken.key"));
  }
  umask(previous);
  std::vector<std::string> readable;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::error_code error;
    if (!entry.is_regular_file(error) || entry.is_symlink(error)) continue;
    const std::string relative = fs::relative(entry.path(), root).string();
    struct stat info {};
    ASSERT_EQ(stat(entry.path().c_str(), &info), 0);
    // The web pages and the manuals are public; programs, modules and libraries must run as
    // other accounts.
    const bool publicFile = relative.rfind("www/", 0) == 0 || relative.rfind("html/", 0) == 0 ||
                            relative.rfind("doc/", 0) == 0 || (info.st_mode & 0111) != 0 ||
                            entry.path().extension() == ".so";
    if (!publicFile && (info.st_mode & S_IROTH) != 0) readable.push_back(relative);
    for (const char* secret : {"db/password.web", "db/snmp.ini", "db/email.ini", "db/pagetoken.key"}) {
      if (relative == secret) {
        EXPECT_EQ(info.st_mode & 077, 0u) << relative;
      }
    }
  }
  EXPECT_TRUE(readable.empty()) << [&] {
    std::string list;
    for (const std::string& name : readable) list += name + "\n";
    return list;
  }();
}

// ---- TLS suites ----------------------------------------------------------------------------

// The TLS 1.2 suites openssl knows, with their key exchange and MAC as "ciphers -v" lists them.
struct Suite {
  std::string name;
  std::string kx;
  std::string mac;
};

std::vector<Suite> openSslTls12Suites() {
  std::vector<Suite> suites;
  FILE* list = popen("openssl ciphers -v 'ALL:COMPLEMENTOFALL:@SECLEVEL=0' 2>/dev/null", "r");
  if (list == nullptr) return suites;
  char line[512];
  while (std::fgets(line, sizeof line, list) != nullptr) {
    std::istringstream words(line);
    std::string name, version, kx, au, enc, mac;
    words >> name >> version >> kx >> au >> enc >> mac;
    if (version == "TLSv1.3") continue;
    suites.push_back({name, kx.substr(kx.find('=') + 1), mac.substr(mac.find('=') + 1)});
  }
  pclose(list);
  return suites;
}

// True when a TLS handshake with those s_client options succeeds.
bool handshake(int port, const std::string& options) {
  const std::string command = "openssl s_client -connect 127.0.0.1:" + std::to_string(port) + " " + options +
                              " </dev/null 2>/dev/null | grep -q 'Cipher is [A-Z]'";
  return std::system(command.c_str()) == 0;
}

TEST(FrontEndSecurity, TlsOffersForwardSecrecyAndAeadCiphersOnly) {
  TestFolder folder;
  const std::string cert = folder.file("cert.pem");
  const std::string key = folder.file("key.pem");
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -keyout '" +
                           key + "' -out '" + cert + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  WebInstance instance;
  ASSERT_TRUE(instance.ready());
  ChildProgram loader(
      instance.loaderPath(),
      {"--listen", "127.0.0.1:0", "--root", instance.root().string(), "--tls-cert", cert, "--tls-key", key},
      {{"KESTROVA_SHM_PREFIX", "kestrova-tls-nobody."}});
  ASSERT_TRUE(loader.waitForText("/\n")) << loader.output();
  const std::string output = loader.output();
  const int port = std::stoi(output.substr(output.rfind(':') + 1));
  EXPECT_TRUE(handshake(port, "-tls1_3"));
  EXPECT_TRUE(handshake(port, "-tls1_2 -cipher ECDHE-RSA-AES128-GCM-SHA256"));
  EXPECT_FALSE(handshake(port, "-tls1_1 -cipher 'ALL:@SECLEVEL=0'"));
  // A client that offers every suite of a kind gets one of them if the server takes any: so one
  // handshake per kind covers every suite openssl knows.
  std::string withoutSecrecy;
  std::string withoutAead;
  std::string good;
  const std::vector<Suite> suites = openSslTls12Suites();
  ASSERT_GT(suites.size(), 20u);
  for (const Suite& suite : suites) {
    const bool secrecy = suite.kx == "ECDH" || suite.kx == "DH";
    const bool aead = suite.mac == "AEAD";
    std::string& list = !secrecy ? withoutSecrecy : (!aead ? withoutAead : good);
    list += (list.empty() ? "" : ":") + suite.name;
  }
  ASSERT_FALSE(withoutSecrecy.empty());
  ASSERT_FALSE(withoutAead.empty());
  EXPECT_FALSE(handshake(port, "-tls1_2 -cipher '" + withoutSecrecy + ":@SECLEVEL=0'")) << withoutSecrecy;
  EXPECT_FALSE(handshake(port, "-tls1_2 -cipher '" + withoutAead + ":@SECLEVEL=0'")) << withoutAead;
  EXPECT_TRUE(handshake(port, "-tls1_2 -cipher '" + good + "'")) << good;
}

}  // namespace
