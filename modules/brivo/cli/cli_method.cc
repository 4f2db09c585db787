// The module's "qcli" method: the request's words "p0", "p1", ... become the interpreter's command
// line, and the printed result comes back as numbered "textloop%dtext" lines for the qcli page.
//
// Thread safety: called by dispatchRequest under the admission gate as a writer, so one command
// runs at a time; the context belongs to this call.
#include <cstdio>
#include <memory>
#include <new>

#include "modules/brivo/cli/cli_parser.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/pages/page_methods.h"

namespace brivo {

namespace {

constexpr char kQcliPage[] = "../../html/Brivo/main/qcli.htm";

// The words of the request, stopping at the first missing number.
void readWords(VariableTable request, std::vector<std::string>* words) {
  for (int i = 0;; ++i) {
    char key[24];
    std::snprintf(key, sizeof(key), "p%d", i);
    const char* word = getVariable(request, key);
    if (word == nullptr) return;
    words->emplace_back(word);
  }
}

// The reply when not even the context could be made: the short error block alone.
void writeAllocationFailure(VariableTable* reply) {
  const char* const lines[] = {"\n", "qcli 1.00 -- Kestrova Command Line Interface Tool\n",
                               "Error: Allocation Failure.\n", "\n"};
  int n = 0;
  for (const char* line : lines) {
    char key[32];
    std::snprintf(key, sizeof(key), "textloop%dtext", n++);
    addVariable(reply, key, line);
  }
  addIntVariable(reply, "textloop", static_cast<uint32_t>(n), false);
}

}  // namespace

VariableTable qcliMethod(VariableTable request) {
  consolePrint("--- Qcli START ---------------------------------\n");
  VariableTable reply = nullptr;
  std::unique_ptr<cli::CliContext> ctx(new (std::nothrow) cli::CliContext());
  if (ctx == nullptr) {
    writeAllocationFailure(&reply);
  } else {
    ctx->request = request;
    ctx->reply = &reply;
    ctx->words.emplace_back(cli::kToolName);
    readWords(request, &ctx->words);
    if (cli::splitGlobalOptions(*ctx)) cli::parseAndRun(*ctx);
    addIntVariable(&reply, "textloop", static_cast<uint32_t>(ctx->lineCount), false);
  }
  addVariable(&reply, "HTMLPath", kQcliPage);
  ctx.reset();
  consolePrint("--- Qcli DONE ---------------------------------\n");
  return reply;
}

}  // namespace brivo
