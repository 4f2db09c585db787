// raidsim: the simulator of RAID controller pairs, SES enclosures and disks that the SCSI layer's
// simulator back end talks to.
//
//   raidsim --socket PATH --config FILE [--state FILE] [--iscsi ADDRESS:PORT]
//                                                         run the daemon until SIGTERM or SIGINT
//   raidsim --tcp A.B.C.D:PORT ...                        listen on TCP as well (or instead of a
//                                                         socket): for a Windows server
//   raidsim ctl SOCKET COMMAND...                         send one control command, print the reply
//                                                         (SOCKET may be tcp:A.B.C.D:PORT)
//
// The daemon prints "raidsim: listening on PATH" (and "raidsim: listening on tcp:A.B.C.D:PORT"
// with the port actually bound, so --tcp 127.0.0.1:0 takes any free port) once it accepts
// connections. The TCP listener has no authentication: keep it on the loopback or a test network. With --state it
// loads the file at start, rewrites it after every state-changing control command and saves it
// at a clean shutdown. Exit codes: 0 done, 1 a control command was refused or failed, 2 bad usage
// or configuration, 3 the socket could not be set up. With --iscsi the devices are also served as
// iSCSI targets (sim/iscsi_server.h); the daemon then prints "raidsim: iscsi portal ADDRESS:PORT"
// and one "raidsim: iscsi lun TARGET LUN H:B:T:L" line per LUN before the listening line.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/scsi/scsi_sim.h"
#include "sim/iscsi_server.h"
#include "sim/iscsi_sim_luns.h"
#include "sim/sim_server.h"

namespace {

const char kUsage[] =
    "usage: raidsim [--socket PATH] [--tcp A.B.C.D:PORT] --config FILE [--state FILE]\n"
    "               [--iscsi ADDRESS:PORT]\n"
    "       raidsim ctl SOCKET COMMAND...   (raidsim ctl SOCKET help lists the commands)\n";

int runControl(int argc, char** argv) {
  if (argc < 4) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string command;
  for (int i = 3; i < argc; ++i) command += (i > 3 ? " " : "") + std::string(argv[i]);
  std::string reply;
  int code = simControl(argv[2], command, &reply);
  std::fputs(reply.c_str(), code == 0 ? stdout : stderr);
  if (!reply.empty() && reply.back() != '\n') std::fputc('\n', code == 0 ? stdout : stderr);
  return code == 0 ? 0 : (code < 0 ? 3 : 1);
}

struct Options {
  std::string socket;
  std::string tcp;
  std::string config;
  std::string state;
  std::string iscsi;
};

bool parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    if (arg == "--socket") {
      options->socket = argv[++i];
    } else if (arg == "--tcp") {
      options->tcp = argv[++i];
    } else if (arg == "--config") {
      options->config = argv[++i];
    } else if (arg == "--state") {
      options->state = argv[++i];
    } else if (arg == "--iscsi") {
      options->iscsi = argv[++i];
    } else {
      return false;
    }
  }
  return (!options->socket.empty() || !options->tcp.empty()) && !options->config.empty();
}

int runDaemon(const Options& options) {
  sim::SimConfig config;
  std::string error;
  if (!sim::loadSimConfig(options.config, &config, &error)) {
    std::fprintf(stderr, "raidsim: %s\n", error.c_str());
    return 2;
  }
  std::vector<sim::HostConfig> hosts = config.hosts;
  sim::SimWorld world(std::move(config));
  if (!options.state.empty()) {
    world.setStateFile(options.state);
    sim::ControlResult loaded = world.loadStateFile();
    if (loaded.code != 0) {
      std::fprintf(stderr, "raidsim: %s\n", loaded.text.c_str());
      return 2;
    }
  }
  // Block the stop signals in every thread; the main thread waits for them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  sim::SimServer server(world, options.socket);
  if (!options.tcp.empty()) server.listenTcp(options.tcp);
  if (!server.start(&error)) {
    std::fprintf(stderr, "raidsim: %s\n", error.c_str());
    return 3;
  }
  sim::SimLunBackend luns(world, hosts, options.config);
  iscsi::Server portal(luns, options.iscsi);
  if (!options.iscsi.empty()) {
    if (!portal.start(&error)) {
      std::fprintf(stderr, "raidsim: %s\n", error.c_str());
      server.stop();
      return 3;
    }
    std::printf("raidsim: iscsi portal %s\n", portal.boundAddress().c_str());
    std::string lines = luns.describe();
    for (size_t at = 0; at < lines.size();) {
      size_t end = lines.find('\n', at);
      std::printf("raidsim: iscsi lun %s\n", lines.substr(at, end - at).c_str());
      at = end + 1;
    }
  }
  if (!options.socket.empty()) std::printf("raidsim: listening on %s\n", options.socket.c_str());
  if (!options.tcp.empty()) std::printf("raidsim: listening on %s\n", server.tcpAddress().c_str());
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  world.stop();  // wakes commands sleeping on injected latency first
  portal.stop();
  server.stop();
  sim::ControlResult saved = world.saveStateFile();
  if (saved.code != 0) std::fprintf(stderr, "raidsim: %s\n", saved.text.c_str());
  std::printf("raidsim: stopped (%s)\n", received == SIGINT ? "SIGINT" : "SIGTERM");
  return saved.code == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "ctl") == 0) return runControl(argc, argv);
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return runDaemon(options);
}
