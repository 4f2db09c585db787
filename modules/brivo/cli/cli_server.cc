// The "server" object: the server that answers qcli, its rescan and its password; see
// cli_server.h. Everything goes through the server's request service (ModuleServices entry 9).
//
// Thread safety: request thread under the admission gate; the services table stays valid while
// the module is loaded.
#include "modules/brivo/cli/cli_server.h"

#include <cstring>
#include <fstream>

#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/host_system.h"
#include "modules/brivo/module_state.h"

namespace brivo::cli {

namespace {

// Asks the server; the reply (possibly null) belongs to the caller.
VariableTable askServer(ServerRequestCode code, VariableTable values = nullptr) {
  const ModuleServices* services = moduleState().services.load(std::memory_order_acquire);
  if (services == nullptr || services->serverRequest == nullptr) return nullptr;
  return services->serverRequest(code, values);
}

bool canAskServer() {
  const ModuleServices* services = moduleState().services.load(std::memory_order_acquire);
  return services != nullptr && services->serverRequest != nullptr;
}

std::string serverValue(ServerRequestCode code, const char* key) {
  TableOwner reply(askServer(code));
  return getVariableOrMissing(reply.get(), key);
}

// The value of key in an os-release file, without its quotes.
std::string osReleaseValue(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return std::string();
}

void writeReminder(CliContext& ctx) {
  writeText(ctx, "    +---------------------------------------------+\n");
  writeText(ctx, "    + Remember to modify the client side settings +\n");
  writeText(ctx, "    +---------------------------------------------+\n");
}

}  // namespace

std::string osVersionText(const std::string& osReleasePath) {
  std::string text = hostSystemText();
  if (!hostHasOsRelease()) return text.empty() ? std::string(kMissing) : text;
  std::string distribution = osReleaseValue(osReleasePath, "PRETTY_NAME");
  if (distribution.empty()) distribution = osReleaseValue(osReleasePath, "NAME");
  if (!distribution.empty()) text += text.empty() ? distribution : " (" + distribution + ")";
  return text.empty() ? std::string(kMissing) : text;
}

int serverDisplay(CliContext& ctx) {
  writeText(ctx, "Server Information\n");
  writeField(ctx, "Hostname", serverValue(kServerRequestHostName, "OsHostName"));
  writeField(ctx, "Kestrova Version", serverValue(kServerRequestVersion, "KvVersion"));
  writeField(ctx, "OS Version", osVersionText());
  return 0;
}

int serverRescan(CliContext& ctx) {
  if (!canAskServer()) {
    writeText(ctx, "Error: Cannot request a rescan from the server.\n");
    return 1;
  }
  TableOwner ignored(askServer(kServerRequestRescan));
  writeText(ctx, "Rescan Initiated. Please wait at least 1 whole minute.\n");
  return 0;
}

int serverSet(CliContext& ctx) {
  TableOwner values;
  const char* newPassword = modifierValue(ctx, kModNewPassword);
  const char* oldPassword = modifierValue(ctx, kModOldPassword);
  addVariable(values.address(), "NewPassword", newPassword != nullptr ? newPassword : "");
  addVariable(values.address(), "OldPassword", oldPassword != nullptr ? oldPassword : "");
  TableOwner reply(askServer(kServerRequestChangePassword, values.get()));
  const char* summary = getVariable(reply.get(), "MessageSummary");
  if (summary == nullptr) {
    writeText(ctx, "Error: Cannot change the server password.\n");
    return 1;
  }
  writeText(ctx, "%s\n", summary);
  const char* details = getVariable(reply.get(), "MessageDetails");
  if (details != nullptr && std::strspn(details, " ") != std::strlen(details))
    writeText(ctx, "%s\n", details);
  if (std::strstr(summary, "successfully") == nullptr) return 1;
  writeReminder(ctx);
  return 0;
}

}  // namespace brivo::cli
