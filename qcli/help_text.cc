// The short banner and the help page, line by line as users know them.
#include "qcli/help_text.h"

#include <iterator>

#include "qcli/exit_codes.h"
#include "qcli/option_table.h"

namespace qcli {

namespace {

void printLines(FILE* out, const char* const* lines, size_t count) {
  for (size_t i = 0; i < count; ++i) std::fputs(lines[i], out);
}

const char* const kManagementOptions[] = {
    "Client side 'management' options:\n",
    "    --help          : Displays this information page. \n",
    "                      This causes the program to exit.\n",
    "                      Alternate form is --h.\n",
    "    --info          : Displays internal information used by the client.\n",
    "    --info+         : Displays options vs environment variables.\n",
    "    --infodef       : Displays the default settings.\n",
    "    --infodb        : Displays the config data file settings.\n",
    "    --infoenv       : Displays the environmental settings.\n",
    "    --infoarg       : Displays the command line (argument) settings.\n",
    "    --infoc         : Generates an example configuration file from internal\n",
    "                      default settings onto stdout.\n",
    "                      This causes the program to exit.\n",
};

const char* const kFileOptions[] = {
    "    --sfile name    : Sets the send file name to name. This triggers\n",
    "                      sending data from that file as part of the command.\n",
    "                      This is server command specific.\n",
    "    --rfile name    : Sets the receive file name to name. This triggers\n",
    "                      receiving data into that file as part of the command.\n",
    "                      This is server command specific.\n",
    "\n",
};

const char* const kControlOptions[] = {
    "Client side 'control' options:\n",
    "    --num num       : Selects config file Device line number num.\n",
    "    --name name     : Selects a config file Device line by name.\n",
    "    --wwn wwn       : Selects a config file Device line by wwn\n",
    "    --ip ip         : Connects to a server host using IP ip.\n",
    "    --port port     : Connects to a server host using port port.\n",
    "    --user user     : Connects to a server host using username user.\n",
    "    --pass pass     : Connects to a server host using password pass.\n",
    "    --width width   : Use width for the output screen width.\n",
    "    --type type     : Use type as the module for CGI requests.\n",
    "    --method method : Use method as the method for CGI requests.\n",
    "    --timeout secs  : Gives up on a request after secs seconds (default 300;\n",
    "                      QCLI_TIMEOUT, DefaultTimeout in the config file).\n",
    "    --tls           : Connects over HTTPS, checking the server's certificate\n",
    "                      (QCLI_SERVER_TLS, DefaultTls in the config file).\n",
    "    --cafile file   : Trusts the certificates in PEM file file instead of the\n",
    "                      system's (QCLI_CA_FILE, DefaultCaFile in the config file).\n",
    "\n",
};

}  // namespace

void printShortBanner(FILE* out) {
  std::fprintf(out, "%s :: Quorvex Command Line Tool - %s\n", kProgramName, kVersion);
  std::fputs("\nCommand line syntax:\n", out);
  std::fprintf(out, "    %s object {command {arguments}}\n", kProgramName);
  std::fputs("\nFor additional help type:\n", out);
  std::fprintf(out, "    %s --help\n", kProgramName);
  std::fputs("\n\n\n", out);
}

void printHelpPage(FILE* out) {
  std::fprintf(out, "\n%s :: Quorvex Command Line Tool - %s\n\n", kProgramName, kVersion);
  std::fprintf(out, "Command line syntax:\n    %s object {command {arguments}}\n\n", kProgramName);
  std::fputs("This program is a Client - Server process.\n", out);
  std::fputs("    Client side arguments begin with --.\n", out);
  std::fputs("    Server side arguments begin with -.\n\n", out);
  std::fprintf(out, "For additional Server side help type:\n    %s help\n\n", kProgramName);
  printLines(out, kManagementOptions, std::size(kManagementOptions));
  std::fprintf(out, "    --cfgfile name  : Changes the %s configuration file name to name.\n", kProgramName);
  std::fprintf(out, "                      The default name is %s. The environment \n", kDefaultConfigFile);
  std::fprintf(out, "                      variable %s will also change this.\n",
               option(kCfgFile).environment);
  printLines(out, kFileOptions, std::size(kFileOptions));
  printLines(out, kControlOptions, std::size(kControlOptions));
  std::fputs("Note:\n", out);
  std::fputs("    The program may be renamed using an object name and that will \n", out);
  std::fprintf(out, "    replace the '%s object' pair.\n\n", kProgramName);
  printExitCodes(out);
}

void printExitCodes(FILE* out) {
  std::fputs("Exit codes:\n", out);
  std::fprintf(out, "    %d : The command was answered, or help or a display was shown.\n", kExitOk);
  std::fprintf(out, "    %d : The client could not run the command: an option, a setting, or the\n", kExitError);
  std::fputs("        send or receive file.\n", out);
  std::fprintf(out, "    %d : The server answered with an error.\n", kExitServerError);
  std::fprintf(out, "    %d : No usable answer: the connection, the web server (HTTP status, login)\n",
               kExitTransportFailure);
  std::fputs("        or the format of its page failed.\n\n", out);
}

}  // namespace qcli
