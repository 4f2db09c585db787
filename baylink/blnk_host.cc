// The host root and operations; see blnk_host.h.
#include "baylink/blnk_host.h"

namespace {

struct HostState {
  std::string root;  // empty: the real root
  std::unique_ptr<BlnkHostOps> ops;
};

HostState& state() {
  static HostState* instance = new HostState();  // used until the process ends
  return *instance;
}

}  // namespace


std::string blnkHostPath(std::string_view absolute) {
  std::string path = state().root;
  if (!absolute.empty() && absolute.front() != '/') path += '/';
  path += absolute;
  return path;
}

BlnkHostOps& blnkHostOps() {
  HostState& s = state();
  if (!s.ops) s.ops = blnkMakeSystemHostOps();
  return *s.ops;
}

void blnkSetHostForTesting(std::string root, std::unique_ptr<BlnkHostOps> ops) {
  HostState& s = state();
  while (!root.empty() && root.back() == '/') root.pop_back();
  s.root = std::move(root);
  s.ops = std::move(ops);
}
