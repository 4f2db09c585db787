// The command-line client end to end, as a user runs it: the built qcli program in a folder of its
// own (with its qcliConfig.db), the built front end cgiloader serving HTTP on a loopback port, the
// server with the Brivo module in an installed tree, and raidsim with the demo's two controller
// pairs. Each check runs qcli as a child process with the words and the standard input a user
// would give, and compares what it prints, the files it writes and its exit code with what the
// simulator itself holds (its configuration block read over its socket, its status and event
// counts), so that a fault anywhere on the way (client, HTTP, front end, shared memory, server,
// interpreter) shows.
//
// The programs are started once per run of the test program and shared by its tests, which run one
// after another (ctest runs each test in a process of its own, so each starts from the demo's
// state). Single-threaded apart from the readers that collect the children's output.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/scsi/scsi_sim.h"
#include "modules/brivo/protocol.h"
#include "qcli/test_peer_stream.h"
#include "tests/frontend_web_instance.h"
#include "tests/server_process.h"
#include "tests/support/wait_until.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The pairs of sim/examples/demo.conf: alpha (12 drives, arrays 0-1, spare 11, drive 10 free) on
// target 0, beta (16 drives, arrays 0-1, spare 12, drives 13-15 free) on target 2.
constexpr char kAlphaWwn[] = "20000004CF8A1B2C";
constexpr char kBetaWwn[] = "20000004CF8A9F10";
constexpr int kAlphaTarget = 0;
constexpr int kBetaTarget = 2;
constexpr int kBetaDrives = 16;

constexpr char kPrompt[] =
    "\nThis is a potentially data altering operation.\nDo you want to continue? y/n > ";
constexpr char kPostStart[] = "qcliRequestSendPost ---------------\n";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string drain(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(got));
  close(fd);
  return text;
}

struct QcliRun {
  int exitCode = -1;  // -1: did not exit normally
  std::string out;
  std::string err;
};

// Runs the built qcli in folder with args and input on its standard input (then end of input).
// The QCLI_ variables of the test's environment are removed so that only args and the folder's
// configuration file count.
QcliRun runQcli(const fs::path& folder, const std::vector<std::string>& args, const std::string& input) {
  QcliRun run;
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return run;
  std::vector<std::string> text{builtProgram("qcli").string()};
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (chdir(folder.c_str()) != 0) _exit(127);
    for (const char* name :
         {"QCLI_DEV_NUM", "QCLI_DEV_NAME", "QCLI_DEV_WWN", "QCLI_SERVER_IP", "QCLI_SERVER_PORT",
          "QCLI_SERVER_USER", "QCLI_SERVER_PASSWORD", "QCLI_DEV_WIDTH", "QCLI_DEV_TYPE", "QCLI_DEV_METHOD",
          "QCLI_RCV_FILE", "QCLI_SND_FILE", "QCLI_CONFIG_FILE"})
      unsetenv(name);
    alarm(60);  // a hang fails the test instead of blocking it
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (pid > 0 && !input.empty()) {
    const ssize_t written = write(in[1], input.data(), input.size());
    (void)written;  // a client that never reads its input is judged by its output
  }
  close(in[1]);
  std::string errText;
  std::thread errReader([&] { errText = drain(err[0]); });
  run.out = drain(out[0]);
  errReader.join();
  run.err = errText;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

// The pair's configuration block as the controller on the given target returns it (READ BUFFER
// 0x01); empty when the simulator does not answer with a whole block.
std::string readConfiguration(const std::string& socket, int target) {
  SimScsiTransport transport({socket});
  const std::string device = simDeviceName(socket, 0, 0, target, 0);
  const uint32_t length = brivo::kConfigurationLength;
  const uint8_t cdb[10] = {0x3C,
                           brivo::kModeData,
                           brivo::kOpReadConfiguration,
                           0,
                           0,
                           0,
                           static_cast<uint8_t>(length >> 16),
                           static_cast<uint8_t>(length >> 8),
                           static_cast<uint8_t>(length),
                           0};
  std::string data(length, '\0');
  uint8_t sense[32];
  ScsiCommand command;
  command.device = device;
  command.cdb = cdb;
  command.cdbLength = sizeof cdb;
  command.direction = ScsiDirection::kIn;
  command.data = reinterpret_cast<uint8_t*>(data.data());
  command.dataLength = length;
  command.timeoutMs = 30000;
  command.sense = sense;
  command.senseCapacity = sizeof sense;
  const ScsiResult result = transport.execute(command);
  if (result.outcome != ScsiOutcome::kGood || result.transferred != length) return std::string();
  return data;
}

// The valid arrays of a configuration block.
std::vector<brivo::ArrayRecord> arraysOf(const std::string& block) {
  std::vector<brivo::ArrayRecord> arrays;
  for (int n = 0; block.size() == brivo::kConfigurationLength && n < brivo::kMaxArrays; ++n) {
    brivo::ArrayRecord record;
    std::memcpy(&record, block.data() + offsetof(brivo::ConfigurationBlock, arrays) + n * sizeof(record),
                sizeof(record));
    if (record.valid == brivo::kOn) arrays.push_back(record);
  }
  return arrays;
}

brivo::ConfigurationHeader headerOf(const std::string& block) {
  brivo::ConfigurationHeader header{};
  if (block.size() >= sizeof(header)) std::memcpy(&header, block.data(), sizeof(header));
  return header;
}

std::string nameOf(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// The configuration's tables (arrays, logical drives, spares, mapping): what a restore must bring
// back byte for byte, unlike the header's change count and time.
std::string tablesOf(const std::string& block) {
  const size_t from = offsetof(brivo::ConfigurationBlock, arrays);
  const size_t to = offsetof(brivo::ConfigurationBlock, reserved);
  return block.size() == brivo::kConfigurationLength ? block.substr(from, to - from) : std::string();
}

// Events in the simulator's log of one controller of a pair, from "raidsim ctl status" ("events A
// 3 B 1" on the pair's model line); -1 when the status does not say.
int simEventCount(const std::string& status, const std::string& pair, char controller) {
  const size_t line = status.find("pair " + pair + " ");
  const size_t at = line == std::string::npos ? line : status.find("events A ", line);
  if (at == std::string::npos) return -1;
  const size_t value = controller == 'A' ? at + 9 : status.find(" B ", at + 9);
  return value == std::string::npos ? -1 : std::atoi(status.c_str() + value + (controller == 'A' ? 0 : 3));
}

class QcliEndToEnd : public ::testing::Test {
 protected:
  // raidsim, the server and cgiloader in one installed tree; the client's folder inside it.
  struct Stack {
    WebInstance instance;
    std::unique_ptr<ChildProgram> simulator;
    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<ChildProgram> loader;
    std::string socket;
    fs::path client;
    std::string port;
    // The same front end over HTTPS with a self-signed certificate (client/frontend.pem), with
    // --verbose so that every request it receives is in its output.
    std::unique_ptr<ChildProgram> secureLoader;
    std::string securePort;
  };

  static void SetUpTestSuite() {
    const char* source = std::getenv("KESTROVA_SOURCE_DIR");
    const char* build = std::getenv("KESTROVA_BUILD_DIR");
    if (source == nullptr || build == nullptr) return;
    stack_ = new Stack();
    Stack& s = *stack_;
    if (!s.instance.ready() || !fs::exists(builtProgram("qcli")) || !fs::exists(builtProgram("raidsim")))
      return;
    const fs::path root = s.instance.root();
    std::error_code error;
    fs::create_directories(root / "mods");
    fs::copy(fs::path(build) / "mods/Brivo", root / "mods/Brivo", fs::copy_options::recursive, error);
    fs::copy_file(fs::path(source) / "sim/examples/demo.conf", root / "raidsim.conf", error);
    if (error) return;
    s.socket = (root / "sim.sock").string();
    s.simulator = std::make_unique<ChildProgram>(
        builtProgram("raidsim"),
        std::vector<std::string>{"--socket", s.socket, "--config", (root / "raidsim.conf").string()},
        std::vector<std::pair<std::string, std::string>>{});
    if (!waitForSimulator()) return;
    // No pause before the ready check that follows a configuration change. TZ names the host's own
    // zone file: without TZ, glibc frees and re-reads its zone name on every mktime, under a lock
    // ThreadSanitizer cannot see, and a thread formatting a time at once is reported as a race.
    s.server =
        std::make_unique<ServerProcess>(std::vector<std::string>{"-debug"}, root,
                                        ServerProcess::Environment{{"KESTROVA_SCSI_SIM", s.socket},
                                                                   {"KESTROVA_BRIVO_READY_POLL_SECONDS", "0"},
                                                                   {"TZ", ":/etc/localtime"}});
    if (!s.server->waitForText("Scan System thread terminated\n", 60s)) return;
    s.loader = std::make_unique<ChildProgram>(
        s.instance.loaderPath(), std::vector<std::string>{"--listen", "127.0.0.1:0"},
        std::vector<std::pair<std::string, std::string>>{{"KESTROVA_SHM_PREFIX", s.server->shmPrefix()}});
    if (!s.loader->waitForText("/\n")) return;
    const std::string announced = s.loader->output();
    s.port = std::to_string(std::atoi(announced.c_str() + announced.rfind(':') + 1));
    writeClientFolder();
    if (!startSecureLoader()) return;
    ready_ = waitForPairs();
  }

  static void TearDownTestSuite() {
    if (stack_ == nullptr) return;
    // The web side first, then the server with SIGINT (so that it removes its shared memory), then
    // the simulator it talks to while it shuts down.
    for (ChildProgram* loader : {stack_->loader.get(), stack_->secureLoader.get()}) {
      if (loader == nullptr) continue;
      loader->stop();
      EXPECT_FALSE(has(loader->output(), "Sanitizer")) << loader->output();
    }
    if (stack_->server) {
      stack_->server->signal(SIGINT);
      EXPECT_EQ(stack_->server->finish(), 0) << stack_->server->output();
      EXPECT_FALSE(has(stack_->server->output(), "Sanitizer")) << stack_->server->output();
    }
    if (stack_->simulator) {
      stack_->simulator->stop();
      EXPECT_FALSE(has(stack_->simulator->output(), "Sanitizer")) << stack_->simulator->output();
    }
    delete stack_;
    stack_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(ready_) << "needs KESTROVA_BUILD_DIR with qcli, cgiloader, the server, raidsim and the Brivo "
                           "module, and KESTROVA_SOURCE_DIR"
                        << (stack_ != nullptr && stack_->server ? "\nserver:\n" + stack_->server->output()
                                                                : "")
                        << (stack_ != nullptr && stack_->loader ? "\ncgiloader:\n" + stack_->loader->output()
                                                                : "")
                        << (stack_ != nullptr && stack_->secureLoader
                                ? "\nHTTPS cgiloader:\n" + stack_->secureLoader->output()
                                : "");
  }

  // The client's folder: qcliConfig.db names the server and both pairs (Device 1 by default);
  // devices.db names only the pairs, so that a run with it gets its server from the command line.
  static void writeClientFolder() {
    Stack& s = *stack_;
    s.client = s.instance.root() / "client";
    fs::create_directories(s.client);
    const std::string devices = std::string("Device1Name = alpha\nDevice1Wwn = ") + kAlphaWwn +
                                "\nDevice2Name = beta\nDevice2Wwn = " + kBetaWwn + "\n";
    std::ofstream(s.client / "devices.db") << "# the demo's pairs, no server\n" << devices;
    std::ofstream(s.client / "qcliConfig.db") << "# the end-to-end test's client settings\n"
                                              << "DefaultIp = 127.0.0.1\nDefaultPort = " << s.port
                                              << "\nDefaultUser = admin\nDefaultPassword = \"pinecone\"\n"
                                              << "DefaultType = Brivo\nDefaultNum = 1\n"
                                              << devices;
  }

  static bool startSecureLoader() {
    Stack& s = *stack_;
    const qcli::testing::TestCertificate made = qcli::testing::makeTestCertificate(s.instance.root());
    std::error_code error;
    fs::copy_file(made.certificate, s.client / "frontend.pem", error);
    if (!made.error.empty() || error) return false;
    s.secureLoader = std::make_unique<ChildProgram>(
        s.instance.loaderPath(),
        std::vector<std::string>{"--listen", "127.0.0.1:0", "--tls-cert", made.certificate, "--tls-key", made.key,
                                 "--verbose"},
        std::vector<std::pair<std::string, std::string>>{{"KESTROVA_SHM_PREFIX", s.server->shmPrefix()}});
    if (!s.secureLoader->waitForText("/\n")) return false;
    const std::string announced = s.secureLoader->output();
    s.securePort = std::to_string(std::atoi(announced.c_str() + announced.rfind(':') + 1));
    return true;
  }

  static bool waitForSimulator() {
    const auto answers = [] {
      std::string reply;
      return simControl(stack_->socket, "status", &reply, 1000) == 0;
    };
    return test_support::waitUntil(answers, test_support::kWaitLimit, 50ms);
  }

  // The whole chain answers for both pairs once the server's module has found them.
  static bool waitForPairs() {
    const auto bothAnswer = [] {
      return has(qcli({"array", "display"}).out, "--- Array Total=") &&
             has(qcli({"--num", "2", "array", "display"}).out, "--- Array Total=");
    };
    return test_support::waitUntil(bothAnswer, 30s, 200ms);
  }

  static QcliRun qcli(const std::vector<std::string>& args, const std::string& input = "") {
    QcliRun run = runQcli(stack_->client, args, input);
    EXPECT_EQ(run.err, "") << "qcli writes every message to standard output";
    return run;
  }
  // Every server setting on the command line, the pair by its WWN; devices.db supplies only the
  // Device line that --wwn must find.
  static std::vector<std::string> explicitOptions(const char* wwn) {
    return {"--cfgfile", "devices.db", "--ip",     "127.0.0.1", "--port", stack_->port, "--user",
            "admin",     "--pass",     "pinecone", "--type",    "Brivo",  "--wwn",      wwn};
  }
  static std::vector<std::string> with(std::vector<std::string> first, const std::vector<std::string>& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
  }
  static std::string configuration(int target) { return readConfiguration(stack_->socket, target); }
  static std::string simStatus() {
    std::string reply;
    return simControl(stack_->socket, "status", &reply) == 0 ? reply : std::string();
  }

  static void checkConfigurationRoundTrip() {
    const std::string original = configuration(kAlphaTarget);
    ASSERT_EQ(original.size(), brivo::kConfigurationLength);
    QcliRun run = qcli({"config", "save", "--rfile", "saved.cfg"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Operation complete in receive file, <saved.cfg>.\n");
    const std::string saved = readFile(stack_->client / "saved.cfg");
    ASSERT_EQ(saved.size(), brivo::kConfigurationLength);
    EXPECT_TRUE(saved == original) << "the received file is the controller's block, byte for byte";

    // A change in between: a new name and drive 10 as a global hot spare.
    run = qcli({"config", "set", "-n", "changed", "-q"});
    ASSERT_TRUE(has(run.out, "Name is changed.\n")) << run.out;
    run = qcli({"drive", "set", "-di", "10", "-state", "hotspare", "-q"});
    ASSERT_TRUE(has(run.out, "Disk 10 is a global hot spare.\n")) << run.out;
    const std::string changed = configuration(kAlphaTarget);
    ASSERT_EQ(nameOf(headerOf(changed).name, sizeof headerOf(changed).name), "changed");
    ASSERT_NE(tablesOf(changed), tablesOf(original));

    // Sent without -q: the POST asks first, and "n" sends nothing more.
    run = qcli({"config", "restore", "--sfile", "saved.cfg"}, "n\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, std::string(kPostStart) + kPrompt);
    EXPECT_TRUE(configuration(kAlphaTarget) == changed) << "a declined restore changes nothing";

    run = qcli({"config", "restore", "--sfile", "saved.cfg", "-q"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind(std::string(kPostStart) + "=== Command ===", 0), 0u) << run.out;
    EXPECT_TRUE(has(run.out, "\nconfig restore\n") && has(run.out, "Configuration is restored.\n"))
        << run.out;
    const std::string restored = configuration(kAlphaTarget);
    EXPECT_EQ(nameOf(headerOf(restored).name, sizeof headerOf(restored).name),
              nameOf(headerOf(original).name, sizeof headerOf(original).name));
    EXPECT_TRUE(tablesOf(restored) == tablesOf(original))
        << "arrays, logical drives, spares and mapping as saved";
    EXPECT_TRUE(stack_->instance.uploadsLeft().empty()) << "the front end removes the uploaded copy";
  }
  static void checkEventsExport() {
    // Two events of its own on each controller, so that the file has rows whatever ran before.
    for (const char* c : {"A", "B"}) {
      for (int i = 0; i < 2; ++i) {
        std::string reply;
        ASSERT_EQ(
            simControl(stack_->socket,
                       std::string("event alpha ") + c + " 0x6B @1704164645 data=0102 fan stopped", &reply),
            0)
            << reply;
      }
    }
    const std::string status = simStatus();
    const int a = simEventCount(status, "alpha", 'A');
    const int b = simEventCount(status, "alpha", 'B');
    ASSERT_TRUE(a >= 2 && b >= 2) << status;

    const QcliRun run = qcli({"events", "save", "--rfile", "events.csv"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Operation complete in receive file, <events.csv>.\n");
    const std::string csv = readFile(stack_->client / "events.csv");
    EXPECT_EQ(csv.rfind("\"Log Number\",\"Concern Level\",\"Date\",\"Time\",\"Device\",\"Message\",\n", 0),
              0u)
        << csv.substr(0, 200);
    EXPECT_EQ(csv.find('\r'), std::string::npos) << "a text answer is stored with this platform's line ends";
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + a + b) << csv;
    const std::string lastNumber = "\"" + std::to_string(a + b) + "\",";
    const size_t lastLine = csv.rfind('\n', csv.size() - 2) + 1;
    EXPECT_EQ(csv.compare(lastLine, lastNumber.size(), lastNumber), 0)
        << "rows numbered up to " << a + b << ":\n"
        << csv;
  }

  static Stack* stack_;
  static bool ready_;
};

QcliEndToEnd::Stack* QcliEndToEnd::stack_ = nullptr;
bool QcliEndToEnd::ready_ = false;

TEST_F(QcliEndToEnd, DisplaysAndTransportErrors) {
  const QcliRun run = qcli(with(explicitOptions(kAlphaWwn), {"array", "display"}));
  EXPECT_EQ(run.exitCode, 0);
  const std::string& out = run.out;
  EXPECT_EQ(out.rfind("=== Command ===", 0), 0u) << out;
  EXPECT_TRUE(has(out, "\narray display\n") && has(out, "\n=== Results ===")) << out;
  ASSERT_GE(out.size(), 80u) << out;
  EXPECT_EQ(out.substr(out.size() - 80), std::string(79, '=') + "\n") << out;
  const std::vector<brivo::ArrayRecord> arrays = arraysOf(configuration(kAlphaTarget));
  ASSERT_FALSE(arrays.empty()) << "the demo's pair alpha has arrays";
  EXPECT_TRUE(has(out, "--- Array Total=" + std::to_string(arrays.size()) + " ---\n")) << out;
  for (const brivo::ArrayRecord& a : arrays)
    EXPECT_TRUE(has(out, "Name* : " + nameOf(a.name, sizeof a.name) + "\n")) << out;

  // The same pair from the configuration file's default Device line, by the command's aliases in
  // capitals: the same text.
  const QcliRun fromFile = qcli({"ARR", "D"});
  EXPECT_EQ(fromFile.exitCode, 0);
  EXPECT_EQ(fromFile.out, out);

  const QcliRun drives = qcli({"--num", "2", "drive", "display"});
  EXPECT_EQ(drives.exitCode, 0);
  EXPECT_TRUE(has(drives.out, "\ndrive display\n")) << drives.out;
  EXPECT_TRUE(has(drives.out, "--- Drive Total=" + std::to_string(kBetaDrives) + " ---\n")) << drives.out;

  const QcliRun help = qcli({"help", "-obj"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(has(help.out, "OBJECT NAMES:\n") && has(help.out, "    array      | arr\n")) << help.out;

  // Characters that are special in a URL and in HTML travel both ways unchanged: the client
  // encodes them in the query, and the interpreter's echo comes back as the same bytes, not as
  // entities.
  const std::string word = "-x<b>&\"q\" 50%/+";
  const QcliRun echo = qcli({"array", "display", word});
  EXPECT_EQ(echo.exitCode, 2) << "an error block is the server's error";
  EXPECT_TRUE(has(echo.out, "Error: Unknown Command Argument.\n")) << echo.out;
  EXPECT_TRUE(has(echo.out, "\nqcli array display " + word + "\n")) << "echoed command line:\n" << echo.out;

  // A wrong password is the front end's refusal, reported as such; a closed port a connect
  // failure with its hints. Both leave the client without an answer: the transport code 3.
  QcliRun refused = qcli({"--pass", "wrong", "array", "display"});
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_EQ(refused.out, "Error: HTTP Server error: 401 Unauthorized.\nhttp request returned no data.\n");

  const std::string closed = std::to_string(freeLoopbackPort());
  refused = qcli({"--port", closed, "array", "display"});
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_EQ(refused.out.rfind("Error: connect() returned an error. ", 0), 0u) << refused.out;
  EXPECT_TRUE(has(refused.out,
                  "       Check that server, 127.0.0.1, is accessible.\n"
                  "       Check that port number, " +
                      closed +
                      "., is valid for that server.\n"
                      "http request returned no data.\n"))
      << refused.out;
}

TEST_F(QcliEndToEnd, DataAlteringCommandWaitsForTheUsersYes) {
  const std::vector<std::string> create = {"--num", "2",  "array", "create", "-n", "e2e",
                                           "-di",   "13", "14",    "15",     "-r", "5"};
  const size_t before = arraysOf(configuration(kBetaTarget)).size();
  const size_t alphaBefore = arraysOf(configuration(kAlphaTarget)).size();
  ASSERT_GT(before, 0u);

  for (const std::string& answer : {std::string("n\n"), std::string("no thanks\n"), std::string()}) {
    const QcliRun run = qcli(create, answer);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, kPrompt) << "answer \"" << answer << "\"";
    EXPECT_EQ(arraysOf(configuration(kBetaTarget)).size(), before) << "answer \"" << answer << "\"";
  }

  const QcliRun run = qcli(create, "y\n");
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.out.rfind(std::string(kPrompt) + "Resending\n=== Command ===", 0), 0u) << run.out;
  EXPECT_TRUE(has(run.out, "\narray create\n")) << run.out;
  EXPECT_TRUE(has(run.out, "created: \"e2e\"")) << run.out;
  const std::vector<brivo::ArrayRecord> after = arraysOf(configuration(kBetaTarget));
  ASSERT_EQ(after.size(), before + 1) << run.out;
  const auto made = std::find_if(after.begin(), after.end(), [](const brivo::ArrayRecord& a) {
    return nameOf(a.name, sizeof a.name) == "e2e";
  });
  ASSERT_NE(made, after.end());
  EXPECT_EQ(made->raidLevel, brivo::kRaid5);
  EXPECT_EQ(made->driveCount, 3);
  EXPECT_TRUE(has(qcli({"--num", "2", "array", "display", "-sum"}).out,
                  "--- Array Total=" + std::to_string(before + 1) + " ---\n"));
  // Pair alpha, the default Device line, is not touched.
  EXPECT_EQ(arraysOf(configuration(kAlphaTarget)).size(), alphaBefore);
}

// The configuration block received into a file and sent back from it, then the event logs as a
// CSV file (which also holds the events of the configuration changes).
TEST_F(QcliEndToEnd, ConfigurationAndEventsTravelAsFiles) {
  checkConfigurationRoundTrip();
  checkEventsExport();
}

// Over HTTPS with the front end's own self-signed certificate as the CA file: the same display
// as over plain HTTP, a change confirmed on standard input, and the configuration block
// downloaded and uploaded again.
TEST_F(QcliEndToEnd, OverHttpsWithTheFrontEndsCertificate) {
  const std::vector<std::string> https = {"--port", stack_->securePort, "--tls", "--cafile", "frontend.pem"};
  const QcliRun plain = qcli({"array", "display"});
  const QcliRun secure = qcli(with(https, {"array", "display"}));
  EXPECT_EQ(secure.exitCode, 0);
  EXPECT_TRUE(has(secure.out, "--- Array Total=")) << secure.out;
  EXPECT_EQ(secure.out, plain.out);

  QcliRun run = qcli(with(https, {"config", "set", "-n", "overtls"}), "y\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out.rfind(std::string(kPrompt) + "Resending\n", 0), 0u) << run.out;
  EXPECT_TRUE(has(run.out, "Name is changed.\n")) << run.out;
  const std::string renamed = configuration(kAlphaTarget);
  ASSERT_EQ(nameOf(headerOf(renamed).name, sizeof headerOf(renamed).name), "overtls");

  run = qcli(with(https, {"config", "save", "--rfile", "overtls.cfg"}));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "Operation complete in receive file, <overtls.cfg>.\n");
  const std::string saved = readFile(stack_->client / "overtls.cfg");
  EXPECT_TRUE(saved == renamed) << "the received file is the controller's block, byte for byte";

  ASSERT_TRUE(has(qcli({"config", "set", "-n", "plain", "-q"}).out, "Name is changed.\n"));
  run = qcli(with(https, {"config", "restore", "--sfile", "overtls.cfg", "-q"}));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(has(run.out, "Configuration is restored.\n")) << run.out;
  const std::string restored = configuration(kAlphaTarget);
  EXPECT_EQ(nameOf(headerOf(restored).name, sizeof headerOf(restored).name), "overtls");
  EXPECT_TRUE(tablesOf(restored) == tablesOf(renamed));
}

// What the client must not talk to: the HTTPS front end without its certificate trusted or under
// a name its certificate does not list (the front end then sees no request at all), and the
// plain-HTTP front end's port. (That no credentials reach a plain-HTTP listener, byte by byte, is
// the client's own TLS test.)
TEST_F(QcliEndToEnd, HttpsRefusesServersItCannotTrust) {
  ChildProgram& front = *stack_->secureLoader;
  const auto requestsSeen = [&front] {
    const std::string output = front.output();
    size_t count = 0;
    for (size_t at = 0; (at = output.find(" /cgi-bin/cgiloader.cgi ", at)) != std::string::npos; ++at) ++count;
    return count;
  };
  const size_t before = requestsSeen();
  QcliRun run = qcli({"--port", stack_->securePort, "--tls", "array", "display"});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.out.rfind("Error: TLS: the certificate of server, 127.0.0.1, is not trusted: self-signed certificate.\n",
                          0),
            0u)
      << run.out;
  run = qcli({"--ip", "localhost", "--port", stack_->securePort, "--tls", "--cafile", "frontend.pem", "array",
              "display"});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.out.rfind("Error: TLS: the server's certificate does not name localhost.\n", 0), 0u) << run.out;
  EXPECT_EQ(requestsSeen(), before) << front.output();
  // The working request counts, so the count above could have seen one.
  ASSERT_EQ(qcli({"--port", stack_->securePort, "--tls", "--cafile", "frontend.pem", "array", "display"}).exitCode, 0);
  EXPECT_TRUE(front.waitForText(" /cgi-bin/cgiloader.cgi 200\n", 5s)) << front.output();
  EXPECT_EQ(requestsSeen(), before + 1) << front.output();

  // The plain front end's port (the configuration file's): refused, whatever it answers.
  run = qcli({"--tls", "--cafile", "frontend.pem", "--timeout", "10", "array", "display"});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.out, "Error: TLS: server 127.0.0.1 port " + stack_->port +
                       " answered in plain HTTP, not TLS.\n"
                       "       Check that the port is the front end's HTTPS port (--tls-cert, --tls-key).\n"
                       "http request returned no data.\n");
}

}  // namespace
