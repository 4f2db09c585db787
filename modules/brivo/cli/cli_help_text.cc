// The static usage texts of help; see cli_help_text.h. The client options described here are the
// client's own (qcli/option_table.cc); keep the two in step.
#include "modules/brivo/cli/cli_help_text.h"

namespace brivo::cli {

namespace {

constexpr const char* kBasicHelp[] = {
    "qcli 1.00 -- Kestrova Command Line Interface Tool\n",
    "\n",
    "USAGE:\n",
    "    qcli object command {modifiers} {--options}\n",
    "\n",
    "    object    : what the command works on, such as array, drive or logical.\n",
    "    command   : what to do with it, such as display, create or delete.\n",
    "    modifiers : the arguments of the command. Each begins with one minus\n",
    "                sign; most take the following word as their value.\n",
    "    --options : client options, which begin with two minus signs.\n",
    "\n",
    "    Objects and commands may be written in any letter case and may be\n",
    "    shortened to their aliases; modifiers are written exactly as shown.\n",
    "    Commands other than help and server act on one controller pair, chosen\n",
    "    with --type and --wwn. A command that alters data asks for confirmation\n",
    "    first; -q gives it in advance.\n",
    "\n",
    "HELP:\n",
    "    qcli help                  >> Displays this basic help.\n",
    "    qcli help -basic           >> Explains the client options and settings.\n",
    "    qcli help -obj             >> Lists the object names.\n",
    "    qcli help -sum             >> Shows which commands each object has.\n",
    "    qcli help -all             >> Displays the help of everything.\n",
    "    qcli help object           >> Describes an object and its commands.\n",
    "    qcli help object -all      >> Describes every command of an object.\n",
    "    qcli help object command   >> Describes a command and its modifiers.\n",
    "\n",
    "EXAMPLES:\n",
    "    qcli array display -sum\n",
    "    qcli drive identify -di 3 4 -t 30\n",
    "    qcli logical create -ai 0 -sz 100 -n data -p all\n",
    "\n",
};

constexpr const char* kClientHelp[] = {
    "CLIENT OPERATION:\n",
    "    qcli sends each command over HTTP to the web front end of a Kestrova\n",
    "    server and prints the answer. Options that begin with two minus signs\n",
    "    belong to the client; every other word goes to the server.\n",
    "\n",
    "SERVER OPTIONS:\n",
    "    --ip address      Server host name or IP address. Required.\n",
    "    --port port       Port of the web front end. Default is 9292.\n",
    "    --user name       User of the web interface. Default is admin.\n",
    "    --pass password   Password of that user.\n",
    "    --type type       Module that answers the commands. Default is Brivo.\n",
    "    --method method   Method of that module. Default is qcli.\n",
    "\n",
    "CONTROLLER SELECTION:\n",
    "    --wwn wwn         WWN of the controller pair, 16 hexadecimal digits.\n",
    "    --num number      Takes the settings of that Device line of the\n",
    "                      configuration file.\n",
    "    --name name       Takes the settings of the Device line of that name.\n",
    "\n",
    "OUTPUT AND FILES:\n",
    "    --width columns   Output width, 60 to 512 columns. Default is 79.\n",
    "    --sfile file      File sent with the command: config restore,\n",
    "                      controller upgrade and drive upgrade need one.\n",
    "    --rfile file      File that receives the answer: config save and\n",
    "                      events save need one.\n",
    "    --cfgfile file    Configuration file. Default is qcliConfig.db.\n",
    "\n",
    "CONFIGURATION FILE:\n",
    "    One setting a line, written key=value. Keys made of Default and a\n",
    "    label (DefaultIp, DefaultPort, DefaultUser, DefaultPassword, DefaultType,\n",
    "    DefaultWidth) hold the usual settings; keys made of Device, a number\n",
    "    and a label (Device1Name, Device1Wwn, Device1Ip) describe one controller\n",
    "    pair each, numbered from 1. Lines without an equals sign are ignored.\n",
    "    qcli --infoc writes an example file; qcli --info shows what is used.\n",
    "\n",
    "ORDER OF STRENGTH, WEAKEST FIRST:\n",
    "    built-in defaults, Default lines, the Device line of DefaultNum,\n",
    "    environment variables (QCLI_SERVER_IP, QCLI_DEV_WWN, ...) with the\n",
    "    Device line they select, command-line options with the Device line\n",
    "    they select.\n",
    "\n",
};

}  // namespace

std::span<const char* const> basicHelpLines() { return kBasicHelp; }
std::span<const char* const> clientHelpLines() { return kClientHelp; }

}  // namespace brivo::cli
