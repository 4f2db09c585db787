// TEMPORARY while the handlers are written in parallel: weak fallbacks so the interpreter links
// before every object file exists. A real definition replaces each one. Deleted once all exist.
#include "modules/brivo/cli/cli_handlers.h"

namespace brivo::cli {

__attribute__((weak)) int arrayCheck(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int arrayCreate(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int arrayDelete(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int arrayDisplay(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int arrayExpand(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int arrayIdentify(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int arrayInitialize(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int arrayRebuild(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int arraySet(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int clockDisplay(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int clockSet(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int configDelete(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int configDisplay(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int configRestore(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int configSave(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int configSet(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int controllerDisplay(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int controllerReset(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int controllerShutdown(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int controllerUpgrade(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int driveDisplay(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int driveIdentify(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int driveSet(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int driveUpgrade(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int enclosureDisplay(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int enclosureIdentify(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int eventsDelete(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int eventsDisplay(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int eventsSave(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int jobsDelete(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int jobsDisplay(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int logicalCreate(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int logicalDelete(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int logicalDisplay(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int logicalExpand(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int logicalIdentify(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int logicalSet(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int mappingCreate(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int mappingDelete(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int mappingDisplay(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int mappingSet(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int serverDisplay(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int serverRescan(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int serverSet(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int statisticsDelete(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}
__attribute__((weak)) int statisticsDisplay(CliContext& ctx) {
  writeText(ctx, "Error: Command not available.\n");
  return 1;
}

}  // namespace brivo::cli
