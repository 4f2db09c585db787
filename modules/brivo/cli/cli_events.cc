// The interpreter's events object: `events display` (both controllers' logs read, decoded by the
// module's event decoder and listed in time order), `events save` (the module's event export:
// what is new is recorded in the server's log first, then the selected logs are written as the
// CSV file temp/ControllerEvents.log.csv, which the client receives) and `events delete` (0xC1
// with the controller selector).
//
// Displaying reads the logs without moving the monitor's bookmarks, so nothing shown here is
// missed or recorded twice by the monitor.
//
// Thread safety: as cli_handlers.h; the export serialises itself (event_export.h).
#include <memory>
#include <new>
#include <string>

#include "common/property_file.h"
#include "modules/brivo/cli/cli_event_rows.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_selectors.h"
#include "modules/brivo/events/event_texts.h"
#include "modules/brivo/events/event_validate.h"
#include "modules/brivo/events/module_events.h"
#include "modules/brivo/module_state.h"

namespace brivo::cli {

namespace {

// Reads and validates controller c's log; null after writing why it could not be shown.
std::unique_ptr<EventLog> readLog(CliContext& ctx, int c) {
  std::unique_ptr<EventLog> log(new (std::nothrow) EventLog());
  if (log == nullptr) {
    writeText(ctx, "Allocation Failure.\n");
    return nullptr;
  }
  ControllerCommand record;
  const int result = readDataBuffer(ctx.pair, c == 0 ? kOpReadEventLogA : kOpReadEventLogB, log.get(),
                                    kEventLogLength, &record);
  if (result != kResultGood) {
    writeCommandFailure(ctx, "read the events of controller " + std::to_string(c), result, record);
    return nullptr;
  }
  int32_t bookmark = -1;  // a private one: the monitor's stays where it is
  if (!events::validateEventLog(log.get(), &bookmark).ok) {
    writeText(ctx, "Error: The events of controller %d are in an unknown format.\n", c);
    return nullptr;
  }
  return log;
}

}  // namespace

int eventsDisplay(CliContext& ctx) {
  ControllerChoice choice;
  EventFilter filter;
  if (!chooseControllers(ctx, &choice) || !parseEventFilter(ctx, &filter)) return 1;
  std::unique_ptr<EventLog> logs[2];
  for (int c = 0; c < 2; ++c) {
    if (!choice.side[c]) continue;
    if (!controllerOnline(*ctx.info, c)) {
      writeText(ctx, "Controller %d is not available; its events cannot be read.\n", c);
      continue;
    }
    logs[c] = readLog(ctx, c);
  }
  if (logs[0] == nullptr && logs[1] == nullptr) return 1;
  TableOwner severity(moduleState().files.copy(PropertyTable::kEventSeverity));
  TableOwner settings(moduleState().files.copy(PropertyTable::kSettings));
  events::TableEventTexts texts(kEventStringsPath, kStringsDbPath, severity.address(), settings.address());
  events::DecodeOptions options;
  options.driveInterface = ctx.pair.state->interfaceWord[0];
  options.hostInterface = ctx.pair.state->interfaceWord[2] & 0x0F;
  options.exporting = true;  // array names are not read back from the controller per event
  const EventLog* const read[2] = {logs[0].get(), logs[1].get()};
  const std::vector<EventRow> rows = eventRows(texts, options, read, filter);
  writeText(ctx, "--- Event Total=%d ---\n", static_cast<int>(rows.size()));
  if (!rows.empty()) writeEventTable(ctx, rows);
  return 0;
}

int eventsSave(CliContext& ctx) {
  ControllerChoice choice;
  if (!chooseControllers(ctx, &choice)) return 1;
  TableOwner request;
  addVariable(request.address(), "ModDeviceName", ctx.pair.name.c_str());
  addVariable(request.address(), "qcliControllers", std::to_string(choice.selector).c_str());
  TableOwner answer(getAllControllerLogsMethod(request.get()));
  const char* exported = getVariable(answer.get(), "ExportText");
  if (exported == nullptr) {
    const char* details = getVariable(answer.get(), "MessageDetails");
    writeText(ctx, "Error: Cannot save Events.%s%s\n", details != nullptr ? " " : "",
              details != nullptr ? details : "");
    return 1;
  }
  addVariable(ctx.reply, "ExportText", exported);
  writeText(ctx, "Events are saved.\n");
  return 0;
}

int eventsDelete(CliContext& ctx) {
  ControllerChoice choice;
  if (!chooseControllers(ctx, &choice)) return 1;
  ControllerCommand record;
  const int result = sendOperation(ctx.pair, kOpClearEventLog, choice.selector, 0, 0, nullptr, 0, &record);
  if (result != kResultGood) {
    writeCommandFailure(ctx, "delete Events", result, record);
    return 1;
  }
  writeText(ctx, "Events deleted.\n");
  return 0;
}

}  // namespace brivo::cli
