// The HTTPS settings; see tls_settings.h.
#include "qcli/tls_settings.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace qcli {

namespace {

bool parseSwitch(std::string text, bool* on) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (text == "yes" || text == "on" || text == "true" || text == "1") {
    *on = true;
    return true;
  }
  if (text == "no" || text == "off" || text == "false" || text == "0") {
    *on = false;
    return true;
  }
  return false;
}

bool takeSwitch(const std::string& text, const char* source, bool* on, FILE* out) {
  if (parseSwitch(text, on)) return true;
  std::fprintf(out, "Error: TLS setting '%s' from %s is not yes or no.\n", text.c_str(), source);
  return false;
}

// Consumes the CA-file options; the last one counts.
bool caFileFromArguments(ClientState* state, std::string* caFile, FILE* out) {
  for (size_t i = 1; i < state->args.size(); ++i) {
    if (state->consumed[i] || state->args[i] != kCaFileOption) continue;
    const size_t next = i + 1;
    if (next >= state->args.size() || state->consumed[next] || state->args[next].empty() ||
        state->args[next].starts_with('-')) {
      std::fprintf(out, "Error: Argument '%s' requires data component.\n", kCaFileOption);
      return false;
    }
    *caFile = state->args[next];
    state->consumed[i] = true;
    state->consumed[next] = true;
  }
  return true;
}

}  // namespace

bool settleTls(ClientState* state, const EnvironmentReader& env, FILE* out) {
  bool on = false;
  std::string caFile = state->config.caFile;
  if (!state->config.tls.empty() && !takeSwitch(state->config.tls, kTlsConfigKey, &on, out)) return false;
  if (const char* value = env(kTlsEnvironment); value != nullptr && value[0] != '\0') {
    if (!takeSwitch(value, kTlsEnvironment, &on, out)) return false;
  }
  if (const char* value = env(kCaFileEnvironment); value != nullptr && value[0] != '\0') caFile = value;
  for (size_t i = 1; i < state->args.size(); ++i) {
    if (state->consumed[i] || state->args[i] != kTlsOption) continue;
    on = true;
    state->consumed[i] = true;
  }
  if (!caFileFromArguments(state, &caFile, out)) return false;
  if (!on && !caFile.empty()) {
    std::fprintf(out,
                 "Error: A CA file (%s) is set but TLS is off; the request was not sent.\n"
                 "       Add --tls (or %s=yes, or %s=\"yes\" in the config file).\n",
                 caFile.c_str(), kTlsEnvironment, kTlsConfigKey);
    return false;
  }
  state->tls.enabled = on;
  state->tls.caFile = caFile;
  return true;
}

}  // namespace qcli
