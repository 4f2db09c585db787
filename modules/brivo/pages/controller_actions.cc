// The methods that act on the controllers themselves: ResetController (with the page's polls
// until the controllers are back), ShutdownController and SetControllerTime. Each sends one WRITE
// BUFFER command without a configuration bracket and without waiting for the controller.
//
// Controller selector: 1 A, 2 B, 3 both; 255 when the request names none. A reset accepts "Both"
// in any letter case for 3; a shutdown only "Both" exactly (any other text counts as its number,
// so "both" is 0, which the controller refuses). A shutdown is graceful unless the module setting
// "GracefulControllerShutdown" is present with another value than "true" or "1".
//
// Reset page keys: "ModDeviceName", "ControllerId" (as requested), "ControllerString" (text of
// "ControllerId%.2X" in the status strings, else "Controller(s)"), "DoneWaiting" on a poll
// ("Waiting" = "true"), the command result of "RebootController" otherwise (254 when the pair is
// unknown or no controller was named, so the page never shows an empty outcome).
//
// SetControllerTime takes the numeric fields Year to Second, or "TimeSource" = "host" (the server host's
// clock) or "chosen" with "ChosenDate" and "ChosenTime" from the controller page.
//
// Thread safety: request threads under the writer side of the admission gate.
#include <strings.h>

#include <cstdlib>
#include <string>

#include "modules/brivo/command_result.h"
#include "modules/brivo/controller_clock.h"
#include "modules/brivo/module_files.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr char kResetTemplate[] = "../../html/Brivo/controller/controller_reset.html";
constexpr char kGracefulShutdownKey[] = "GracefulControllerShutdown";
constexpr uint8_t kNoSelector = 255;

// The selector of "ControllerId": 3 for the text "Both" (letter case ignored when asked), else
// the text's leading number (0 for a text without one); kNoSelector when the key is absent.
uint8_t requestSelector(VariableTable request, bool ignoreCase) {
  const char* text = getVariable(request, "ControllerId");
  if (text == nullptr) return kNoSelector;
  if (ignoreCase ? strcasecmp(text, "Both") == 0 : std::string(text) == "Both") return kSelectBoth;
  return static_cast<uint8_t>(std::atoi(text));
}

bool gracefulShutdown() {
  const ModuleFiles& files = moduleState().files;
  if (!files.has(PropertyTable::kSettings, kGracefulShutdownKey)) return true;
  const std::string value = files.value(PropertyTable::kSettings, kGracefulShutdownKey);
  return value == "true" || value == "1";
}

// A poll after a reset: true once the selected controllers answer again.
bool resetIsOver(const PairTarget& pair, uint8_t selector) {
  ControllerInformation info{};
  // Polls run while the controller is down on purpose: they do not count as lost contact.
  const int result = readControllerInformation(pair, &info, nullptr, Counting::kDoNotCount);
  consolePrint("iReturnStatus = %d\n", result);
  if (result != kResultGood) return false;
  consolePrint("...controllerID = %d\n", selector);
  consolePrint("...a valid = %.2X\n", info.stateA);
  consolePrint("...b valid = %.2X\n", info.stateB);
  return (selector == kSelectA && info.stateA == kOn) || (selector == kSelectB && info.stateB == kOn) ||
         selector == kSelectBoth;
}

std::string controllerString(uint8_t selector) {
  return statusTextByte("ControllerId", selector, "Controller(s)");
}

}  // namespace

VariableTable resetControllerMethod(VariableTable request) {
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  const char* id = getVariable(request, "ControllerId");
  if (id != nullptr) addVariable(&reply, "ControllerId", id);
  const uint8_t selector = requestSelector(request, true);
  addText(&reply, "ControllerString", controllerString(selector));
  const PairTarget pair = pairOfRequest(request);
  const bool waiting = requestFlag(request, "Waiting");
  if (waiting) {
    addFlag(&reply, "DoneWaiting", pair.found() && selector != kNoSelector && resetIsOver(pair, selector));
  } else if (pair.found() && selector != kNoSelector) {
    ControllerCommand failed{};
    const int result = sendOperation(pair, kOpResetController, selector, 0, 0, nullptr, 0, &failed);
    consolePrint("iReturnStatus from reset :::::::::: %d\n", result);
    addControllerCommandResult(&reply, "RebootController", result, failed);
  } else {
    addControllerCommandResult(&reply, "RebootController", kResultBadArguments, nullptr);
  }
  addVariable(&reply, kHtmlPathKey, kResetTemplate);
  return reply;
}

VariableTable shutdownControllerMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  const uint8_t selector = requestSelector(request, false);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found() && selector != kNoSelector) {
    result = sendOperation(pair, kOpShutdownController, selector, gracefulShutdown() ? 1 : 0, 0, nullptr, 0,
                           &failed);
    consolePrint("iReturnStatus from shutdown :::::::::: %d\n", result);
  }
  return commandPopupReply(request, "ShutdownController", result, failed);
}

namespace {

// The time the request asks for. Besides the numeric fields, the page may send "TimeSource" =
// "host" (the server host's clock now) or "chosen" with "ChosenDate" (YYYY-MM-DD) and
// "ChosenTime" (HH:MM or HH:MM:SS); a chosen time that is no real date and time is refused
// (false) before anything is sent.
bool requestedTime(VariableTable request, EventTime* time) {
  const char* source = getVariable(request, "TimeSource");
  if (source != nullptr && strcasecmp(source, "host") == 0) {
    *time = hostClock();
    return true;
  }
  if (source != nullptr && strcasecmp(source, "chosen") == 0) {
    return parseChosenClock(getVariable(request, "ChosenDate"), getVariable(request, "ChosenTime"), time);
  }
  *time = EventTime{};
  time->year = static_cast<uint16_t>(requestNumber(request, "Year", 0));
  time->month = static_cast<uint8_t>(requestNumber(request, "Month", 0));
  time->day = static_cast<uint8_t>(requestNumber(request, "Day", 0));
  time->weekday = static_cast<uint8_t>(requestNumber(request, "WeekDay", 0));
  time->hour = static_cast<uint8_t>(requestNumber(request, "Hour", 0));
  time->minute = static_cast<uint8_t>(requestNumber(request, "Minute", 0));
  time->second = static_cast<uint8_t>(requestNumber(request, "Second", 0));
  return true;
}

}  // namespace

VariableTable setControllerTimeMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  EventTime time{};
  if (!requestedTime(request, &time)) {
    result = kResultBadValue;
  } else if (pair.found()) {
    const long which = requestNumber(request, "which", kSelectBoth);
    const uint8_t selector =
        which >= kSelectA && which <= kSelectBoth ? static_cast<uint8_t>(which) : kSelectBoth;
    result = sendOperation(pair, kOpSetTime, selector, 0, 0, &time, sizeof(time), &failed);
  }
  VariableTable reply = getControllerInformationMethod(request);
  if (reply == nullptr) {
    // Without the controller page the outcome still reaches the user.
    return commandPopupReply(request, "SetControllerTime", result, failed);
  }
  addControllerCommandResult(&reply, "SetControllerTime", result, failed);
  return reply;
}

}  // namespace brivo
