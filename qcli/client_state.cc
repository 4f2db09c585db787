// Creation of the client's start-up state.
#include "qcli/client_state.h"

namespace qcli {

ClientState makeClientState(const std::vector<std::string>& args) {
  ClientState state;
  state.args = args;
  state.consumed.assign(args.size(), false);
  return state;
}

}  // namespace qcli
