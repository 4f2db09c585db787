// Module-wide state and printing; see module_state.h.
#include "modules/brivo/module_state.h"

#include <cstdarg>
#include <cstdio>

namespace brivo {

ModuleState& moduleState() {
  static ModuleState state;
  return state;
}

int raiseModuleEvent(const char* source, const char* text, uint32_t severity, uint32_t eventTime,
                     uint32_t eventId, uint8_t syncFlag) {
  const ModuleServices* services = moduleState().services.load(std::memory_order_acquire);
  if (services == nullptr || services->raiseEvent == nullptr) return 1;
  return services->raiseEvent(source, text, severity, eventTime, eventId, syncFlag);
}

void modulePrint(uint32_t code, const char* format, ...) {
  const ModuleServices* services = moduleState().services.load(std::memory_order_acquire);
  if (services == nullptr || services->debugPrint == nullptr) return;
  char line[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  services->debugPrint(code, "%s", line);
}

void consolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

}  // namespace brivo
