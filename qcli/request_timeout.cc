// The exchange time limit's settings; see request_timeout.h.
#include "qcli/request_timeout.h"

#include <string>

namespace qcli {

namespace {

// Whole seconds from 1 to the maximum; false for anything else.
bool parseSeconds(const std::string& text, int* seconds) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kMaxTimeoutSeconds) return false;
  *seconds = value;
  return true;
}

bool take(const std::string& text, const char* source, int* seconds, FILE* out) {
  if (parseSeconds(text, seconds)) return true;
  std::fprintf(out, "Error: Time limit '%s' from %s is not a number of seconds from 1 to %d.\n", text.c_str(),
               source, kMaxTimeoutSeconds);
  return false;
}

}  // namespace

bool settleRequestTimeout(ClientState* state, const EnvironmentReader& env, FILE* out) {
  int seconds = state->timeoutSeconds;
  if (!state->config.timeout.empty() && !take(state->config.timeout, kTimeoutConfigKey, &seconds, out))
    return false;
  if (const char* value = env(kTimeoutEnvironment); value != nullptr && value[0] != '\0') {
    if (!take(value, kTimeoutEnvironment, &seconds, out)) return false;
  }
  for (size_t i = 1; i < state->args.size(); ++i) {
    if (state->consumed[i] || state->args[i] != kTimeoutOption) continue;
    const size_t next = i + 1;
    if (next >= state->args.size() || state->consumed[next] || state->args[next].starts_with('-')) {
      std::fprintf(out, "Error: Argument '%s' requires data component.\n", kTimeoutOption);
      return false;
    }
    if (!take(state->args[next], kTimeoutOption, &seconds, out)) return false;
    state->consumed[i] = true;
    state->consumed[next] = true;
  }
  state->timeoutSeconds = seconds;
  return true;
}

}  // namespace qcli
