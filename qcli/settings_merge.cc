// Merge order and controller selection of the client's settings.
#include "qcli/settings_merge.h"

namespace qcli {

namespace {

struct Selector {
  size_t index;      // slot of the selector: Num, Wwn or Name
  const char* kind;  // "numeric", "WWN", "named"
  const char* noun;  // "number", "WWN", "name"
};

// The order in which selectors of one source are applied.
constexpr Selector kSelectors[] = {
    {kNum, "numeric", "number"},
    {kWwn, "WWN", "WWN"},
    {kName, "named", "name"},
};

const DeviceLine* findLine(const ClientState& state, size_t index, const std::string& wanted) {
  for (const DeviceLine& line : state.config.devices) {
    const std::string& have = index == kNum ? line.number : line.settings[index];
    if (have == wanted) return &line;
  }
  return nullptr;
}

void reportNotFound(const char* source, const Selector& s, const std::string& value, FILE* out) {
  std::fprintf(out, "Error: %s specified %s controller selection failed. Controller %s %s not found.\n",
               source, s.kind, s.noun, value.c_str());
}

// Applies the selectors found in `from`, each overlaying the first matching line.
bool applySelectors(ClientState* state, const SettingSet& from, const char* source,
                    const char* multipleMessage, FILE* out) {
  int given = 0;
  for (const Selector& s : kSelectors) {
    const std::string& value = from[s.index];
    if (value.empty()) continue;
    const DeviceLine* line = findLine(*state, s.index, value);
    if (line == nullptr) {
      reportNotFound(source, s, value, out);
      return false;
    }
    overlay(state->effective, line->settings);
    ++given;
  }
  if (given > 1) {
    std::fputs(multipleMessage, out);
    return false;
  }
  return true;
}

}  // namespace

bool mergeSettings(ClientState* state, FILE* out) {
  state->effective = builtInDefaults();
  const SettingSet& defaults = state->config.defaults;
  overlay(state->effective, defaults);
  if (!defaults[kNum].empty()) {
    const DeviceLine* line = findLine(*state, kNum, defaults[kNum]);
    if (line == nullptr) {
      reportNotFound("Defaults", kSelectors[0], defaults[kNum], out);
      return false;
    }
    overlay(state->effective, line->settings);
  }
  if (!applySelectors(state, state->environment, "Environment",
                      "Error: Multiple environment specified controller selectors.\n", out)) {
    return false;
  }
  overlay(state->effective, state->environment);
  if (!applySelectors(state, state->arguments, "Command line",
                      "Error: Multiple command line specified controller selectors.\n", out)) {
    return false;
  }
  overlay(state->effective, state->arguments);
  return true;
}

bool checkRequiredSettings(const ClientState& state, FILE* out) {
  bool complete = true;
  for (size_t index : {kIp, kPort, kUser, kPassword, kType}) {
    if (!state.effective[index].empty()) continue;
    std::fprintf(out, "Error: Required user parameter '%s' has no value.\n\n", option(index).description);
    complete = false;
  }
  return complete;
}

}  // namespace qcli
