// Reading the debug options and the server's help text; see debug_options.h for the contract.
#include "common/debug_options.h"

#include <cstdio>
#include <cstring>

#include "common/debug.h"
#include "common/variable_table.h"

namespace {

// The option help. The subsystem rows follow the tag table of debug.cc; the last Server row is
// shown as reserved.
constexpr const char* kHelpLines[] = {
    "Kestrova Server\n",
    "Usage:  server [options] > output\n",
    " \n",
    "  No options is the normal mode of operation.\n",
    " \n",
    "  Options:\n",
    "   -h         : Help message. You're looking at it. The server continues.\n",
    "   -time      : If debug prints are enabled they are prefixed with a timestamp.\n",
    "   -tag       : If debug prints are enabled they are prefixed with a tag name.\n",
    "                I.E.: net: ses:\n",
    "   -x         : Exit after processing the command line arguments.\n",
    "   -f file    : File file is created and written to with debug output.\n",
    "   code       : Enables debug prints for the indicated areas.\n",
    "                Format is [0-9a-fA-F]* defining 32 bits as sssssmml where\n",
    "                s is subsystem, m is module, l is level.\n",
    "                Levels:     0x1 commonest, 0x2, 0x4, 0x8 rarest\n",
    "                Modules:    0x10 Server, 0x20 RAID, 0x40 Jbod\n",
    "                Subsystems:\n",
    "                Code        Server  RAID    Jbod\n",
    "                0x00001000  net     array   other\n",
    "                0x00002000  thread  lun     dmon\n",
    "                0x00004000  main    drv     emon\n",
    "                0x00008000  email   ses     ddis\n",
    "                0x00010000  htable  ctl     edis\n",
    "                0x00020000  hcode   mon     scsi\n",
    "                0x00040000  smem            ht\n",
    "                0x00080000  scsi\n",
    "                0x00100000  dll\n",
    "                0x00200000  cgi\n",
    "                0x00400000  snmp\n",
    "                0x00800000  rsvd\n",
    "                Multiple bits may be entered in each field. \n",
    "\n",
};

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void requestTime(DebugOptions* options) {
  options->timeRequested = true;
  std::printf("Timestamp printing enabled\n");
}

void requestTag(DebugOptions* options) {
  options->tagRequested = true;
  std::printf("Tag printing enabled\n");
}

void takeCodeArgument(const char* text, DebugOptions* options) {
  uint32_t code = 0;
  if (parseDebugCode(text, &code) && isLegalDebugCode(code)) {
    options->code = code;
    std::printf("debug code = %s\n", text);
  } else {
    std::printf("ERROR: debug code %s is illegal.\n", text);
  }
}

}  // namespace

void printServerHelp() {
  for (const char* line : kHelpLines) std::fputs(line, stdout);
}

bool parseDebugCode(const char* text, uint32_t* code) {
  if (text == nullptr) return false;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  if (*text == '\0') return false;
  uint64_t value = 0;
  for (; *text != '\0'; ++text) {
    int digit = hexDigitValue(*text);
    if (digit < 0) return false;
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > UINT32_MAX) return false;
  }
  *code = static_cast<uint32_t>(value);
  return true;
}

DebugOptions parseDebugArguments(int argc, const char* const* argv) {
  DebugOptions options;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (std::strcmp(argument, "-h") == 0) {
      printServerHelp();
    } else if (std::strcmp(argument, "-x") == 0) {
      options.exitRequested = true;
    } else if (std::strcmp(argument, "-time") == 0) {
      requestTime(&options);
    } else if (std::strcmp(argument, "-tag") == 0) {
      requestTag(&options);
    } else if (std::strcmp(argument, "-f") == 0) {
      if (i + 1 < argc) {
        options.haveFileName = true;
        options.fileName = argv[++i];
      }
    } else {
      takeCodeArgument(argument, &options);
    }
  }
  return options;
}

DebugOptions readDebugSettingsFile(const char* path) {
  DebugOptions options;
  FILE* file = std::fopen(path, "r");
  if (file == nullptr) return options;
  TableOwner settings(readVariableTableText(file));
  std::fclose(file);

  const char* codeText = getVariableOrMissing(settings.get(), "Code");
  uint32_t code = 0;
  if (parseDebugCode(codeText, &code) && isLegalDebugCode(code)) {
    options.code = code;
    std::printf("debug code = 0x%08X\n", code);
  } else {
    std::printf("ERROR: debug code %s is illegal.\n", codeText);
  }
  const char* timeFlag = getVariable(settings.get(), "TimeFlag");
  if (timeFlag != nullptr && std::strcmp(timeFlag, "true") == 0) requestTime(&options);
  const char* tagFlag = getVariable(settings.get(), "TagFlag");
  if (tagFlag != nullptr && std::strcmp(tagFlag, "true") == 0) requestTag(&options);
  const char* fileName = getVariable(settings.get(), "File");
  if (fileName != nullptr) {
    options.haveFileName = true;
    options.fileName = fileName;
    std::printf("Got the file name: '%s'\n", fileName);
  }
  return options;
}
