// The server as a systemd service: where its unit file lives, what the file says, and the checks
// on the names and paths that go into it.
//
// The unit folder is env KESTROVA_SYSTEMD_UNIT_DIR or /etc/systemd/system. Only with the default
// folder is the service manager itself asked to act (daemon-reload, enable, start, stop); with
// another folder (tests, staging trees) the commands work on the unit files alone.
//
// Thread safety: plain functions without state.
#pragma once

#include <string>
#include <vector>

inline constexpr const char kDefaultUnitFolder[] = "/etc/systemd/system";
inline constexpr const char kUnitFolderVariable[] = "KESTROVA_SYSTEMD_UNIT_DIR";
// Set in the unit so that the service knows its name when systemd starts it without arguments.
inline constexpr const char kServiceNameVariable[] = "KESTROVA_SERVICE_NAME";
// Parameters of one "-start", passed through the service manager's environment: each parameter
// encoded (encodeServiceParam) and the encoded words joined by single blanks, so that a parameter
// with blanks (a debug file path) arrives as one.
inline constexpr const char kServiceArgsVariable[] = "KESTROVA_SERVICE_ARGS";

// Backslash escapes for a blank ("\s"), a tab ("\t"), a line end ("\n") and the backslash
// itself ("\\"); every other character stays.
std::string encodeServiceParams(const std::vector<const char*>& params);
// The parameters of an encoded text (words of older plain texts without escapes come back as
// they were). An unknown escape keeps its character.
std::vector<std::string> decodeServiceParams(const std::string& text);

struct ServiceSetup {
  std::string unitFolder;
  bool systemManaged = false;  // the unit folder is the service manager's own
};

ServiceSetup serviceSetupFromEnvironment();

// True for 1 to 99 characters of letters, digits, '_', '-', '.' and ':' that begin with a letter,
// a digit or '_': the name becomes a file name, so nothing else may pass.
bool isValidServiceName(const char* name);

std::string unitFileName(const char* name);  // "<name>.service"
std::string unitFilePath(const ServiceSetup& setup, const char* name);

// The unit file text for the program at programPath (absolute). False when the path cannot be
// written into a unit file (it holds a line break or is not absolute).
bool buildUnitText(const char* name, const char* displayName, const std::string& programPath,
                   std::string* text);

// The absolute path of the running program, or empty (errno set) when it cannot be read.
std::string programPath();
// The folder part of path (up to its last slash), or empty when it has none.
std::string folderOf(const std::string& path);

// The system's text for an error number followed by " (0x%x)", or empty when it does not fit in
// 256 characters.
std::string errorText(int error);
