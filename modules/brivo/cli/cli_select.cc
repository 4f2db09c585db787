// Pair selection for the interpreter: the pair named by --type and --wwn, its three buffers, and
// the list of pairs this server sees for a user who named none or a wrong one; see cli_parser.h.
//
// Thread safety: request thread under the admission gate; the device list is the server's and is
// not restructured while the module runs.
#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_parser.h"
#include "modules/brivo/device_state.h"
#include "modules/brivo/module_state.h"

namespace brivo::cli {

namespace {

std::vector<std::string> knownPairNames() {
  std::vector<std::string> names;
  for (DeviceRecord* device = moduleState().deviceList.load(); device != nullptr; device = device->next) {
    for (const ModDeviceItem* item = device->units; item != nullptr; item = item->next) {
      if (!isPairItem(item)) continue;
      names.emplace_back(item->name);
    }
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

// The pairs the user can choose from, as the options that select them.
void writeKnownPairs(CliContext& ctx) {
  const std::vector<std::string> names = knownPairNames();
  writeText(ctx, "Controllers seen by this server:\n");
  if (names.empty()) writeText(ctx, "    none\n");
  for (const std::string& name : names) {
    writeText(ctx, "    --type %s --wwn %s\n", std::string(name, 0, kBrivoNamePrefixLength).c_str(),
              name.c_str() + kBrivoNamePrefixLength);
  }
}

bool readBuffers(CliContext& ctx) {
  ctx.config = newConfigurationBlock();
  ctx.drives.reset(new (std::nothrow) DriveList());
  ctx.info.reset(new (std::nothrow) ControllerInformation());
  if (!ctx.config || !ctx.drives || !ctx.info) {
    writeText(ctx, "Allocation Failure.\n");
    return false;
  }
  if (readConfiguration(ctx.pair, ctx.config.get()) != kResultGood) {
    writeText(ctx, "Error: Cannot read configuration info.\n");
    return false;
  }
  if (readDriveList(ctx.pair, ctx.drives.get()) != kResultGood) {
    writeText(ctx, "Error: Cannot read disk info.\n");
    return false;
  }
  if (readControllerInformation(ctx.pair, ctx.info.get()) != kResultGood) {
    writeText(ctx, "Error: Cannot read controller fail info.\n");
    return false;
  }
  return true;
}

}  // namespace

bool selectPair(CliContext& ctx) {
  const char* type = globalOption(ctx, kOptCtlrType);
  const char* wwn = globalOption(ctx, kOptCtlrWwn);
  if (type == nullptr || wwn == nullptr || *type == '\0' || *wwn == '\0') {
    writeText(ctx, "Error: Cannot get controller device without --type and --wwn.\n");
    writeKnownPairs(ctx);
    ++ctx.errors;
    return false;
  }
  ctx.pair = findPair((std::string(type) + wwn).c_str());
  if (!ctx.pair.found()) {
    writeText(ctx, "Error: Cannot get controller device for type %s and WWN %s.\n", type, wwn);
    writeKnownPairs(ctx);
    ++ctx.errors;
    return false;
  }
  if (!readBuffers(ctx)) {
    ++ctx.errors;
    ctx.config.reset();
    ctx.drives.reset();
    ctx.info.reset();
    return false;
  }
  return true;
}

}  // namespace brivo::cli
