// Entry of the qcli command-line client: hands the real command line, environment, standard
// streams and TCP connector to runClient.
#include <cstdlib>
#include <string>
#include <vector>

#include "qcli/client.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  qcli::ClientIo io;
  io.env = [](const char* name) -> const char* { return name == nullptr ? nullptr : std::getenv(name); };
  int code = qcli::runClient(args, io);
  std::fflush(stdout);
  return code;
}
