// Start-up order and the hand-over to the request.
#include "qcli/client.h"

#include <new>

#include "qcli/config_file.h"
#include "qcli/displays.h"
#include "qcli/help_text.h"
#include "qcli/http_client.h"
#include "qcli/request_builder.h"
#include "qcli/request_timeout.h"
#include "qcli/settings_merge.h"
#include "qcli/tls_settings.h"

namespace qcli {

int failWithHelpStep(const ClientState& state, FILE* out) {
  if (!state.helpRequested) return kExitError;
  printHelpPage(out);
  return kExitOk;
}

namespace {

StartupResult failed(const ClientState& state, FILE* out) { return {false, failWithHelpStep(state, out)}; }

void loadConfigFile(ClientState* state, FILE* out) {
  if (readConfigFile(state->configFileName, &state->config)) return;
  if (!state->exampleRequested) {
    std::fprintf(out, "Warning: Config File read failed: %s\n\n", state->configFileName.c_str());
  }
}

}  // namespace

StartupResult runStartup(ClientState* state, const ClientIo& io) {
  FILE* out = io.out;
  state->baseName = baseNameOf(state->args.empty() ? std::string(kProgramName) : state->args[0]);
  if (state->args.size() <= 1) {
    printShortBanner(out);
    return {false, kExitOk};
  }
  preScan(state);
  state->effective = builtInDefaults();
  if (!settleConfigFileName(state, io.env, out)) return failed(*state, out);
  loadConfigFile(state, out);
  if (!environmentPass(state, io.env, out)) return failed(*state, out);
  if (!argumentPass(state, out)) return failed(*state, out);
  if (!settleRequestTimeout(state, io.env, out)) return failed(*state, out);
  if (!settleTls(state, io.env, out)) return failed(*state, out);
  if (!mergeSettings(state, out)) return failed(*state, out);
  if (!checkRequiredSettings(*state, out)) return failed(*state, out);
  for (char code : state->displayCodes) {
    if (runDisplay(code, state, out)) return {false, kExitOk};
  }
  if (state->helpRequested) {
    printHelpPage(out);
    return {false, kExitOk};
  }
  return {true, kExitOk};
}

int runClient(const std::vector<std::string>& args, const ClientIo& io) {
  ClientState state = makeClientState(args);
  try {
    StartupResult startup = runStartup(&state, io);
    if (!startup.proceed) return startup.exitCode;
    RequestContext context;
    context.settings = requestSettingsOf(state);
    context.args = buildRequestArguments(state);
    context.showRequest = state.showRequest;
    context.timeoutSeconds = state.timeoutSeconds;
    context.out = io.out;
    context.in = io.in;
    context.connect = state.tls.enabled ? io.connectTls(state.tls) : io.connect;
    switch (runRequest(context)) {
      case RequestOutcome::kNoObject:
        return failWithHelpStep(state, io.out);
      case RequestOutcome::kServerError:
        return kExitServerError;
      case RequestOutcome::kTransportFailure:
        return kExitTransportFailure;
      case RequestOutcome::kLocalFailure:
        return kExitError;
      case RequestOutcome::kAnswered:
        break;
    }
    return kExitOk;
  } catch (const std::bad_alloc&) {
    std::fputs("Error: Allocation failure\n", io.out);
    return failWithHelpStep(state, io.out);
  }
}

}  // namespace qcli
