// The module's hooks; see module_hooks.h. installModuleParts is the one place that names the
// optional parts: add a part's hook here when it joins the module.
#include "modules/brivo/module_hooks.h"

#include "modules/brivo/events/module_events.h"
#include "modules/brivo/monitor/monitor.h"

namespace brivo {

ModuleHooks& moduleHooks() {
  static ModuleHooks hooks;
  return hooks;
}

void installModuleParts() {
  ModuleHooks& hooks = moduleHooks();
  hooks = ModuleHooks{};
  hooks.startupReplay = replayStartupEvents;
  hooks.startMonitor = monitor::startMonitor;
  hooks.stopMonitor = monitor::stopMonitor;
}

}  // namespace brivo
