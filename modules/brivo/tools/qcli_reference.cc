// Writes the qcli command reference (docs/qcli-reference.md) from the interpreter's own tables, so
// the manual never drifts from what the server accepts: every object with its description and
// every command's help exactly as `qcli help OBJECT COMMAND` prints it.
//
// Usage: qcli_reference [OUTPUT]   (standard output without OUTPUT). Exit 1 when OUTPUT cannot be
// written.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "common/variable_table.h"
#include "modules/brivo/cli/cli_context.h"
#include "modules/brivo/cli/cli_help.h"
#include "modules/brivo/cli/cli_tables.h"
#include "qcli/exit_codes.h"

namespace {

using brivo::cli::CliContext;

// Runs write on a fresh context and returns the text lines it produced, joined.
template <typename Write>
std::string captured(Write write) {
  TableOwner reply;
  CliContext ctx;
  ctx.reply = reply.address();
  write(ctx);
  std::string text;
  for (int i = 0; i < ctx.lineCount; ++i) {
    const std::string key = "textloop" + std::to_string(i) + "text";
    if (const char* line = getVariable(reply.get(), key.c_str())) text += line;
  }
  return text;
}

// The client's exit codes (qcli --help lists them too).
std::string exitCodes() {
  std::ostringstream out;
  out << "## Exit codes\n\n"
      << "Scripts can tell the outcomes apart by the exit code; the text on standard output says more.\n\n"
      << "| Code | Meaning |\n|---|---|\n"
      << "| " << qcli::kExitOk
      << " | The server answered the command, or help, a banner or a display was shown, or the user answered "
         "no to a confirmation question. |\n"
      << "| " << qcli::kExitError
      << " | The client did not run the command: a missing option value, a bad setting or controller "
         "selection, no object, or a send or receive file (`--sfile`, `--rfile`) it could not use. |\n"
      << "| " << qcli::kExitServerError
      << " | The server answered with an error: a command it could not parse (the error block with a caret "
         "under the word) or a command that failed (a line beginning with `Error:`). |\n"
      << "| " << qcli::kExitTransportFailure
      << " | No usable answer: the name did not resolve, the connection, sending or receiving failed, the web "
         "server answered with an HTTP error (401 for a wrong user or password), or its page was not the "
         "command's answer. |\n\n"
      << "For example, `qcli drive display -failed || echo \"qcli failed: $?\"`.\n\n";
  return out.str();
}

std::string reference() {
  std::ostringstream out;
  out << "# qcli command reference\n\n"
      << "Generated from the command interpreter's tables by `build/bin/qcli_reference`; do not edit by\n"
      << "hand. Every block below is what `qcli help OBJECT COMMAND` prints. Global options (`--ip`,\n"
      << "`--port`, `--user`, `--pass`, `--type`, `--wwn`, `--num`, `--name`, `--width`, `--cfgfile`,\n"
      << "`--rfile`, `--sfile`, `--echo`) may appear anywhere on the line; see `qcli help -basic`. The\n"
      << "client's own options are listed by `qcli --help`.\n"
      << "`--timeout SECONDS` (also `QCLI_TIMEOUT`, `DefaultTimeout`; default 300) is how long one\n"
      << "request may take in all before qcli gives up; it is not sent to the server.\n"
      << "`--tls` (also `QCLI_SERVER_TLS=yes`, `DefaultTls = yes`) sends the request over HTTPS, checking the\n"
      << "front end's certificate and that it names `--ip`; `--cafile FILE` (also `QCLI_CA_FILE`,\n"
      << "`DefaultCaFile`) trusts the PEM certificates in FILE instead of the system's, for a front end\n"
      << "with a self-signed certificate. A certificate that is not trusted or does not name the host, or a\n"
      << "port that answers in plain HTTP, ends with exit code 3 before the password is sent. See the\n"
      << "administrator's guide, section 3, for the set-up end to end.\n\n"
      << exitCodes() << "## Objects\n\n```\n"
      << captured([](CliContext& ctx) { brivo::cli::writeObjectNames(ctx); }) << "```\n";
  for (const brivo::cli::ObjectEntry& object : brivo::cli::objectTable()) {
    if (object.commands.empty()) continue;
    out << "\n## " << object.name << " (" << object.alias << ")\n\n" << object.description << "\n";
    for (const brivo::cli::CommandEntry& command : object.commands) {
      out << "\n### " << object.name << " " << command.name << "\n\n```\n"
          << captured([&](CliContext& ctx) { brivo::cli::writeCommandHelp(ctx, object, command); })
          << "```\n";
    }
  }
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string text = reference();
  if (argc < 2) {
    std::cout << text;
    return 0;
  }
  std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) {
    std::fprintf(stderr, "qcli_reference: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
