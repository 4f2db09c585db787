// Base name, pre-scan, configuration-file name, environment pass and argument pass.
#include "qcli/command_line.h"

#include <cstring>

namespace qcli {

std::string baseNameOf(const std::string& programPath) {
  size_t cut = programPath.rfind('\\');
  if (cut == std::string::npos) cut = programPath.rfind('/');
  std::string base = cut == std::string::npos ? programPath : programPath.substr(cut + 1);
  size_t exe = base.find(".exe");
  if (exe != std::string::npos) base.resize(exe);
  return base;
}

void preScan(ClientState* state) {
  for (size_t i = 1; i < state->args.size(); ++i) {
    const std::string& a = state->args[i];
    if (a == "--h" || a == "--help") state->helpRequested = true;
    if (a == "--infoc") state->exampleRequested = true;
  }
}

bool settleConfigFileName(ClientState* state, const EnvironmentReader& env, FILE* out) {
  state->configFileName = kDefaultConfigFile;
  if (const char* fromEnv = env(option(kCfgFile).environment); fromEnv != nullptr) {
    if (std::strlen(fromEnv) >= kConfigNameLimit) {
      std::fprintf(out, "Error: Environment Config File Name too long: %s\n", fromEnv);
      return false;
    }
    state->configFileName = fromEnv;
  }
  const std::vector<std::string>& args = state->args;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] != option(kCfgFile).option) continue;
    if (i + 1 >= args.size()) {
      std::fprintf(out, "Error: Argument '%s' requires a data component.\n", option(kCfgFile).option);
      return false;
    }
    if (args[i + 1].size() >= kConfigNameLimit) {
      std::fprintf(out, "Error: Command Line Config File Name too long: %s\n", args[i + 1].c_str());
      return false;
    }
    state->configFileName = args[i + 1];
    break;
  }
  return true;
}

bool environmentPass(ClientState* state, const EnvironmentReader& env, FILE* out) {
  for (size_t i = 0; i < kSettingCount; ++i) {
    const char* value = env(option(i).environment);
    if (value == nullptr) continue;
    if (std::strlen(value) > kSlotCapacity) {
      std::fprintf(out, "Error: Environment variable '%s' is longer than %zu characters.\n",
                   option(i).environment, kSlotCapacity);
      return false;
    }
    state->environment[i] = value;
  }
  return true;
}

namespace {

// Takes the value after the option of table entry `index` at args[i]: it must exist, be unconsumed and not
// begin with
// "-". On success both are consumed and the value is returned in *value.
bool takeValue(ClientState* state, size_t index, size_t i, std::string* value, FILE* out) {
  const char* name = state->args[i].c_str();
  size_t next = i + 1;
  if (next >= state->args.size() || state->consumed[next] || state->args[next].starts_with('-')) {
    std::fprintf(out, "Error: Argument '%s' requires data component.\n", name);
    return false;
  }
  // The configuration-file name was checked against its own, longer limit in an earlier step.
  if (option(index).kind == OptionKind::kSetting && state->args[next].size() > kSlotCapacity) {
    std::fprintf(out, "Error: Argument '%s' value is longer than %zu characters.\n", name, kSlotCapacity);
    return false;
  }
  *value = state->args[next];
  state->consumed[i] = true;
  state->consumed[next] = true;
  return true;
}

bool passOneEntry(ClientState* state, size_t index, FILE* out) {
  const OptionEntry& entry = option(index);
  for (size_t i = 1; i < state->args.size(); ++i) {
    if (state->consumed[i] || state->args[i] != entry.option) continue;
    if (entry.kind == OptionKind::kDisplay) {
      state->consumed[i] = true;
      state->displayCodes.push_back(entry.defaultValue[0]);
      continue;
    }
    std::string value;
    if (!takeValue(state, index, i, &value, out)) return false;
    if (entry.kind == OptionKind::kSetting) state->arguments[index] = value;
  }
  return true;
}

}  // namespace

bool argumentPass(ClientState* state, FILE* out) {
  for (size_t index = 0; index < kOptionCount; ++index) {
    if (!passOneEntry(state, index, out)) return false;
  }
  return true;
}

}  // namespace qcli
