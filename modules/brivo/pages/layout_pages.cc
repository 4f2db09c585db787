// Configuration export and apply: SlmGetData writes the pair's storage layout (arrays, host
// logical drives and hot spares by drive WWN, layout_file.h) as a text file the browser saves;
// SlmApply builds an uploaded layout file on a pair that holds those drives unused
// (layout_plan.h).
//
// SlmGetData: "ExportText" = "../../temp/BrivoLayout-<ModDeviceName>.txt"; when the configuration
// cannot be read or the file written, the pop-up with the command result of "SlmGetData".
// SlmApply ("ModDeviceName", "UploadedFile"): the pop-up with the command result of "SlmApply".
// A file that is not a layout, or a layout that does not fit the pair (a drive it names is
// missing, failed or in use, a host LUN is taken, no room), sends nothing: result 251 with the
// reason in "MessageDetails". After building: "ArraysMade", "LogicalDrivesMade", "SparesMade".
//
// Thread safety: request threads under the admission gate (SlmGetData as a reader, SlmApply as a
// writer); export files are per pair and replaced whole.
#include "modules/brivo/pages/layout_pages.h"

#include <memory>
#include <string>

#include "modules/brivo/firmware_image.h"
#include "modules/brivo/module_files.h"
#include "modules/brivo/pages/layout_file.h"
#include "modules/brivo/pages/layout_plan.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_files.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr int kResultFileNotWritten = 252;

// The reason's text of CommandStrings.db with what in place of its %s.
std::string reasonText(const std::string& key, const std::string& what) {
  std::string text = ModuleFiles::text(StringTable::kCommand, key.c_str());
  const size_t mark = text.find("%s");
  if (mark != std::string::npos) text.replace(mark, 2, what);
  return text;
}

}  // namespace

VariableTable refusedLayout(VariableTable request, const char* methodKey, const std::string& key,
                            const std::string& what) {
  ControllerCommand none{};
  VariableTable reply = commandPopupReply(request, methodKey, kResultBadValue, none);
  replaceVariable(&reply, "MessageDetails", reasonText(key, what).c_str());
  return reply;
}

VariableTable buildLayout(VariableTable request, const char* methodKey, const PairTarget& pair,
                          const LayoutPlan& plan) {
  ControllerCommand failed{};
  DriveList drives{};
  std::unique_ptr<ConfigurationBlock> config = newConfigurationBlock();
  int result = config != nullptr ? readDriveList(pair, &drives, &failed) : kResultBadArguments;
  if (result == kResultGood) result = readConfiguration(pair, config.get(), &failed);
  if (result != kResultGood) return commandPopupReply(request, methodKey, result, failed);
  std::string what;
  const std::string problem = checkLayout(plan, drives, *config, &what);
  if (!problem.empty()) return refusedLayout(request, methodKey, problem, what);
  const LayoutOutcome outcome = applyLayout(pair, plan);
  VariableTable reply = commandPopupReply(request, methodKey, outcome.result, outcome.failed);
  addNumber(&reply, "ArraysMade", outcome.arraysMade);
  addNumber(&reply, "LogicalDrivesMade", outcome.drivesMade);
  addNumber(&reply, "SparesMade", outcome.sparesMade);
  if (outcome.result != kResultGood && (outcome.arraysMade > 0 || outcome.drivesMade > 0)) {
    const std::string details = std::string(getVariableOrMissing(reply, "MessageDetails")) + " " +
                                reasonText("LayoutPartlyBuilt", std::to_string(outcome.arraysMade) + "/" +
                                                                    std::to_string(outcome.drivesMade));
    replaceVariable(&reply, "MessageDetails", details.c_str());
  }
  return reply;
}

VariableTable slmGetDataMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  std::string exported;
  if (pair.found()) {
    std::unique_ptr<ConfigurationBlock> config = newConfigurationBlock();
    if (config != nullptr) result = readConfiguration(pair, config.get(), &failed);
    if (result == kResultGood) {
      const std::string name = std::string("BrivoLayout-") + pair.item->name + ".txt";
      const std::string text = layoutText(layoutOfConfiguration(*config), pair.item->name);
      ReplacingFile out("temp/" + name, false);
      if (out.write(text.data(), text.size()) && out.commit()) {
        exported = "../../temp/" + name;
      } else {
        result = kResultFileNotWritten;
      }
    }
  }
  if (exported.empty()) return commandPopupReply(request, "SlmGetData", result, failed, false);
  VariableTable reply = nullptr;
  addVariable(&reply, "ExportText", exported.c_str());
  return reply;
}

VariableTable slmApplyMethod(VariableTable request) {
  constexpr char kKey[] = "SlmApply";
  const PairTarget pair = pairOfRequest(request);
  if (!pair.found()) return commandPopupReply(request, kKey, kResultBadArguments, ControllerCommand{});
  std::vector<uint8_t> bytes;
  if (readWholeFile(getVariable(request, "UploadedFile"), kMaxLayoutFile, &bytes) != FileRead::kOk)
    return refusedLayout(request, kKey, "LayoutNotAFile", "");
  LayoutPlan plan;
  std::string error;
  if (!parseLayout(std::string(bytes.begin(), bytes.end()), &plan, &error))
    return refusedLayout(request, kKey, "LayoutMalformed", error);
  return buildLayout(request, kKey, pair, plan);
}

}  // namespace brivo
