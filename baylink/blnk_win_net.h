// The Windows half of the host's network settings: the ports as "ipconfig /all" and
// "netsh interface ip show interface" describe them, and every change as one netsh command line.
// The command lines are built here from checked tokens only and run through the host operations'
// command runner (blnk_host.h), never through a shell: an interface name or address that could
// end a quoted value, start another argument or mean something to cmd.exe is refused before any
// command line exists. Plain logic, so it is built and tested on every platform; the Windows
// library calls it from its exported port functions.
//
// Thread safety: none; the library's callers serialise every call.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "baylink/blnk_host.h"

namespace blnkwin {

// The longest interface (connection) name passed to netsh. Windows names its connections
// "Local Area Connection 12" or "Ethernet 3"; a longer name is refused rather than cut.
inline constexpr size_t kConnectionNameMax = 64;
// The most adapters taken from one ipconfig listing.
inline constexpr size_t kAdaptersMax = 64;

// One "Ethernet adapter" section of ipconfig /all, with its state from the interface list.
struct Adapter {
  std::string connection;                 // the name netsh knows it by
  std::string description = "Unknown";    // the adapter's product text
  std::string mac = "xx:xx:xx:xx:xx:xx";  // "%02x:%02x:..." or the placeholder
  bool dhcp = false;
  bool mediaConnected = true;  // false with "Media State ... Media disconnected"
  bool connected = false;      // from the interface list (or the media state without one)
  std::string address = "x.x.x.x";
  std::string netmask = "x.x.x.x";
  std::string gateway = "x.x.x.x";
  std::vector<std::string> nameServers;  // dotted addresses in ipconfig's order
};

// Letters, digits, blanks inside the name, and - _ . ( ) #; 1 to kConnectionNameMax characters,
// not beginning or ending with a blank.
bool validConnectionName(std::string_view name);

// The command line Windows receives for argv (CreateProcess takes one text, and the program
// parses it back into arguments): arguments separated by blanks, an argument that is empty or
// holds a blank, tab or quote in quotes by the rules of the C runtime and CommandLineToArgvW, so
// that the program gets back exactly argv. For "key=value" the quotes surround the value
// (name="Local Area Connection"). Nothing here is a shell's: & | > < ^ % pass as they are.
// REQUIRES: passableArguments(argv).
std::string commandLine(const std::vector<std::string>& argv);
// False for what no command line can carry: no program, a program name with a quote, or an
// argument with a NUL.
bool passableArguments(const std::vector<std::string>& argv);

// The commands, as the arguments netsh receives (name=Local Area Connection: the quotes are the
// command line's, see commandLine). Each returns 0 with *argv set, or -1 with the reason in *why
// (argv untouched). "x.x.x.x" as a gateway means none ("gateway=none").
int adminCommand(const std::string& connection, bool enable, std::vector<std::string>* argv,
                 std::string* why);
int staticAddressCommand(const std::string& connection, const std::string& address,
                         const std::string& netmask, const std::string& gateway,
                         std::vector<std::string>* argv, std::string* why);
int dhcpCommand(const std::string& connection, std::vector<std::string>* argv, std::string* why);
int primaryDnsCommand(const std::string& connection, const std::string& address,
                      std::vector<std::string>* argv, std::string* why);
// index 2 (secondary) or 3 (tertiary).
int addDnsCommand(const std::string& connection, const std::string& address, int index,
                  std::vector<std::string>* argv, std::string* why);
int deleteDnsCommand(const std::string& connection, const std::string& address,
                     std::vector<std::string>* argv, std::string* why);
std::vector<std::string> ipconfigCommand();
std::vector<std::string> interfaceListCommand();

// The "Ethernet adapter" sections of an ipconfig /all listing (English), at most kAdaptersMax.
// Values that are not what their line should hold (an address that is not dotted, a hardware
// address of another shape) keep their placeholder.
std::vector<Adapter> parseIpconfig(std::string_view text);
// Sets each adapter's connected flag from a "netsh interface ip show interface" listing
// (columns Idx, Met, MTU, State, Name); an adapter the listing does not name keeps its media state.
void applyInterfaceStates(std::string_view text, std::vector<Adapter>* adapters);

// ---- the operations, through the host's command runner ----
// Result codes as the library's: 0 done, -1 refused or the command failed, 103 the command could
// not be started.

// Runs both listings and parses them. The adapter count, or 103.
int discoverAdapters(BlnkHostOps& ops, std::vector<Adapter>* adapters);
int setAdmin(BlnkHostOps& ops, const Adapter& adapter, bool enable);
int setStaticAddress(BlnkHostOps& ops, const Adapter& adapter, const std::string& address,
                     const std::string& netmask, const std::string& gateway);
int setDhcp(BlnkHostOps& ops, const Adapter& adapter);
// which: 1 primary, 2 secondary, 3 tertiary. The old server of that place (if any) is deleted
// first for places 2 and 3; "x.x.x.x" as the new one only deletes. The adapter's list follows.
int setNameServer(BlnkHostOps& ops, Adapter* adapter, int which, const std::string& address);

}  // namespace blnkwin
