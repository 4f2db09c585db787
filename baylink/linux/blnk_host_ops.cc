// The real host operations: programs started without a shell, the host name, the clock, uname
// and the interface queries.
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "baylink/blnk_host.h"

extern char** environ;

namespace {

class SystemHostOps : public BlnkHostOps {
 public:
  int run(const std::vector<std::string>& argv, std::string* output) override {
    if (argv.empty()) return -1;
    int pipeFds[2] = {-1, -1};
    if (output != nullptr && ::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output != nullptr) {
      posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (output != nullptr) {
      ::close(pipeFds[1]);
      if (spawned == 0) readAll(pipeFds[0], output);
      ::close(pipeFds[0]);
    }
    if (spawned != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int setHostName(const std::string& name) override {
    return ::sethostname(name.c_str(), name.size()) == 0 ? 0 : -1;
  }

  int setClock(std::time_t when) override {
    timespec ts{when, 0};
    return ::clock_settime(CLOCK_REALTIME, &ts) == 0 ? 0 : -1;
  }

  bool systemNames(std::string* node, std::string* release, std::string* version) override {
    utsname names{};
    if (::uname(&names) != 0) return false;
    *node = names.nodename;
    *release = names.release;
    *version = names.version;
    return true;
  }

  int interfaceAddresses(const std::string& name, BlnkInterfaceAddresses* out) override {
    if (name.size() >= IFNAMSIZ) return 102;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 100;
    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size());
    if (::ioctl(fd, SIOCGIFHWADDR, &request) != 0) {
      ::close(fd);
      return 102;
    }
    std::memcpy(out->mac, request.ifr_hwaddr.sa_data, 6);
    out->macKnown = true;
    out->address = queryAddress(fd, name, SIOCGIFADDR);
    out->netmask = queryAddress(fd, name, SIOCGIFNETMASK);
    ::close(fd);
    return 0;
  }

 private:
  static void readAll(int fd, std::string* output) {
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof(buffer))) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      output->append(buffer, static_cast<size_t>(n));
    }
  }

  // Dotted address of one query; empty when the interface has none.
  static std::string queryAddress(int fd, const std::string& name, unsigned long request) {
    ifreq query{};
    std::memcpy(query.ifr_name, name.c_str(), name.size());
    if (::ioctl(fd, request, &query) != 0) return "";
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(&query.ifr_addr);
    return ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text)) != nullptr ? text : "";
  }
};

}  // namespace

std::unique_ptr<BlnkHostOps> blnkMakeSystemHostOps() { return std::make_unique<SystemHostOps>(); }
