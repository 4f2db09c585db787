// The Windows network settings through netsh and ipconfig; see blnk_win_net.h.
#include "baylink/blnk_win_net.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "baylink/linux/blnk_text_check.h"

namespace blnkwin {

namespace {

bool isAllowedNameChar(unsigned char c) {
  return std::isalnum(c) != 0 || c == ' ' || c == '-' || c == '_' || c == '.' || c == '(' || c == ')' ||
         c == '#';
}

// Checks the connection name; the reason in *why.
bool checkName(const std::string& connection, std::string* why) {
  if (validConnectionName(connection)) return true;
  if (why != nullptr) {
    *why = connection.size() > kConnectionNameMax
               ? "interface name longer than " + std::to_string(kConnectionNameMax) + " characters"
               : "interface name with a character netsh must not receive";
  }
  return false;
}

bool checkAddress(const std::string& address, bool noneAllowed, const char* what, std::string* why) {
  if (noneAllowed ? blnkValidAddressOrNone(address.c_str()) : blnkValidAddress(address.c_str())) return true;
  if (why != nullptr) *why = std::string(what) + " is not a dotted address";
  return false;
}

// The argument as netsh receives it; the command line puts the quotes around a name with blanks
// (commandLine), which is the form netsh documents: name="Local Area Connection".
std::string nameArgument(const std::string& connection) { return "name=" + connection; }

bool needsQuotes(std::string_view argument) {
  return argument.empty() || argument.find_first_of(" \t\n\v\"") != std::string_view::npos;
}

// One argument in the quoting the C runtime's and CommandLineToArgvW's parse undo: inside quotes
// a run of backslashes is doubled when a quote follows it (and at the end, before the closing
// quote), and a quote is escaped with a backslash.
void appendQuoted(std::string_view text, std::string* line) {
  *line += '"';
  size_t backslashes = 0;
  for (char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    line->append(backslashes, '\\');
    backslashes = 0;
    *line += c;
  }
  line->append(backslashes * 2, '\\');
  *line += '"';
}

std::string trim(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start])) != 0) ++start;
  size_t end = text.size();
  while (end > start && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) --end;
  return std::string(text.substr(start, end - start));
}

// The dotted address at the start of a value ("192.0.2.7(Preferred)"), or empty.
std::string leadingAddress(const std::string& value) {
  size_t end = 0;
  while (end < value.size() &&
         (std::isdigit(static_cast<unsigned char>(value[end])) != 0 || value[end] == '.'))
    ++end;
  std::string address = value.substr(0, end);
  return blnkValidAddress(address.c_str()) ? address : std::string();
}

// "00-0C-29-3A-4B-5C" as "00:0c:29:3a:4b:5c"; empty for any other shape.
std::string hardwareAddress(const std::string& value) {
  if (value.size() != 17) return std::string();
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    if (i % 3 == 2) {
      if (c != '-' && c != ':') return std::string();
      out += ':';
    } else {
      if (std::isxdigit(c) == 0) return std::string();
      out += static_cast<char>(std::tolower(c));
    }
  }
  return out;
}

// Splits "   Key . . . . . : value" into key and value; false for a line without that shape
// (a continuation line holds only a value).
bool splitProperty(const std::string& line, std::string* key, std::string* value) {
  const size_t colon = line.find(" : ");
  if (colon == std::string::npos) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, " :") == 0) {
      *value = std::string();
    } else {
      return false;
    }
  } else {
    *value = trim(std::string_view(line).substr(colon + 3));
  }
  std::string head = line.substr(0, colon == std::string::npos ? line.size() - 2 : colon);
  while (!head.empty() && (head.back() == '.' || head.back() == ' ')) head.pop_back();
  *key = trim(head);
  return !key->empty();
}

void takeProperty(Adapter* adapter, const std::string& key, const std::string& value) {
  if (key == "Description") {
    if (!value.empty()) adapter->description = value;
  } else if (key == "Physical Address") {
    const std::string mac = hardwareAddress(value);
    if (!mac.empty()) adapter->mac = mac;
  } else if (key == "DHCP Enabled") {
    adapter->dhcp = value == "Yes";
  } else if (key == "IP Address" || key == "IPv4 Address" || key == "Autoconfiguration IPv4 Address") {
    const std::string address = leadingAddress(value);
    if (!address.empty() && adapter->address == kBlnkNoAddress) adapter->address = address;
  } else if (key == "Subnet Mask") {
    const std::string mask = leadingAddress(value);
    if (!mask.empty() && adapter->netmask == kBlnkNoAddress) adapter->netmask = mask;
  } else if (key == "Default Gateway") {
    const std::string gateway = leadingAddress(value);
    if (!gateway.empty() && adapter->gateway == kBlnkNoAddress) adapter->gateway = gateway;
  } else if (key == "DNS Servers") {
    const std::string server = leadingAddress(value);
    if (!server.empty()) adapter->nameServers.push_back(server);
  } else if (key == "Media State") {
    adapter->mediaConnected = value != "Media disconnected";
  }
}

int run(BlnkHostOps& ops, const std::vector<std::string>& argv, std::string* output) {
  const int status = ops.run(argv, output);
  if (status < 0) return 103;
  return status == 0 ? 0 : -1;
}

}  // namespace

bool validConnectionName(std::string_view name) {
  if (name.empty() || name.size() > kConnectionNameMax || name.front() == ' ' || name.back() == ' ')
    return false;
  for (char c : name) {
    if (!isAllowedNameChar(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string commandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& argument = argv[i];
    if (i != 0) line += ' ';
    if (!needsQuotes(argument)) {
      line += argument;
    } else if (i == 0) {
      // The program name is parsed without escapes: quotes around it, and none inside.
      line += '"' + argument + '"';
    } else {
      // key=value with a plain key: the quotes go around the value, as netsh's own syntax has
      // them; the parse gives the same argument as quotes around the whole.
      const size_t equals = argument.find('=');
      const bool plainKey =
          equals != std::string::npos && equals > 0 &&
          std::all_of(argument.begin(), argument.begin() + static_cast<long>(equals),
                      [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
      if (plainKey) {
        line.append(argument, 0, equals + 1);
        appendQuoted(std::string_view(argument).substr(equals + 1), &line);
      } else {
        appendQuoted(argument, &line);
      }
    }
  }
  return line;
}

bool passableArguments(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty() || argv[0].find('"') != std::string::npos) return false;
  for (const std::string& argument : argv) {
    if (argument.find('\0') != std::string::npos) return false;
  }
  return true;
}

int adminCommand(const std::string& connection, bool enable, std::vector<std::string>* argv,
                 std::string* why) {
  if (!checkName(connection, why)) return -1;
  *argv = {"netsh",
           "interface",
           "set",
           "interface",
           nameArgument(connection),
           enable ? "admin=ENABLED" : "admin=DISABLED"};
  return 0;
}

int staticAddressCommand(const std::string& connection, const std::string& address,
                         const std::string& netmask, const std::string& gateway,
                         std::vector<std::string>* argv, std::string* why) {
  if (!checkName(connection, why) || !checkAddress(address, false, "the address", why) ||
      !checkAddress(netmask, false, "the netmask", why) || !checkAddress(gateway, true, "the gateway", why)) {
    return -1;
  }
  std::vector<std::string> words = {"netsh",         "interface",       "ip",
                                    "set",           "address",         nameArgument(connection),
                                    "source=static", "addr=" + address, "mask=" + netmask};
  if (gateway == kBlnkNoAddress) {
    words.push_back("gateway=none");
  } else {
    words.push_back("gateway=" + gateway);
    words.push_back("gwmetric=1");
  }
  *argv = std::move(words);
  return 0;
}

int dhcpCommand(const std::string& connection, std::vector<std::string>* argv, std::string* why) {
  if (!checkName(connection, why)) return -1;
  *argv = {"netsh", "interface", "ip", "set", "address", nameArgument(connection), "source=dhcp"};
  return 0;
}

int primaryDnsCommand(const std::string& connection, const std::string& address,
                      std::vector<std::string>* argv, std::string* why) {
  if (!checkName(connection, why) || !checkAddress(address, true, "the name server", why)) return -1;
  // "x.x.x.x" removes the static name servers: netsh's own word for that is "none".
  const std::string value = address == kBlnkNoAddress ? "none" : address;
  *argv = {"netsh",         "interface",       "ip", "set", "dns", nameArgument(connection), "source=static",
           "addr=" + value, "register=PRIMARY"};
  return 0;
}

int addDnsCommand(const std::string& connection, const std::string& address, int index,
                  std::vector<std::string>* argv, std::string* why) {
  if (!checkName(connection, why) || !checkAddress(address, false, "the name server", why)) return -1;
  if (index != 2 && index != 3) {
    if (why != nullptr) *why = "name server place " + std::to_string(index) + " (2 or 3 only)";
    return -1;
  }
  *argv = {"netsh",
           "interface",
           "ip",
           "add",
           "dns",
           nameArgument(connection),
           "addr=" + address,
           "index=" + std::to_string(index)};
  return 0;
}

int deleteDnsCommand(const std::string& connection, const std::string& address,
                     std::vector<std::string>* argv, std::string* why) {
  if (!checkName(connection, why) || !checkAddress(address, false, "the name server", why)) return -1;
  *argv = {"netsh", "interface", "ip", "delete", "dns", nameArgument(connection), "addr=" + address};
  return 0;
}

std::vector<std::string> ipconfigCommand() { return {"ipconfig", "/all"}; }

std::vector<std::string> interfaceListCommand() { return {"netsh", "interface", "ip", "show", "interface"}; }

std::vector<Adapter> parseIpconfig(std::string_view text) {
  static constexpr std::string_view kHeader = "Ethernet adapter ";
  std::vector<Adapter> adapters;
  Adapter* current = nullptr;
  std::string lastKey;
  std::istringstream lines{std::string(text)};
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.front() != ' ' && line.front() != '\t') {
      // A section header: "Ethernet adapter <name>:" or another kind of adapter or the host part.
      current = nullptr;
      lastKey.clear();
      if (line.compare(0, kHeader.size(), kHeader) != 0 || line.back() != ':') continue;
      if (adapters.size() >= kAdaptersMax) continue;
      adapters.emplace_back();
      current = &adapters.back();
      current->connection = line.substr(kHeader.size(), line.size() - kHeader.size() - 1);
      continue;
    }
    if (current == nullptr) continue;
    std::string key, value;
    if (splitProperty(line, &key, &value)) {
      lastKey = key;
      takeProperty(current, key, value);
    } else if (lastKey == "DNS Servers" || lastKey == "Default Gateway") {
      takeProperty(current, lastKey, trim(line));  // a further value of the line above
    }
  }
  for (Adapter& adapter : adapters) {
    adapter.connected = adapter.mediaConnected;
    if (!adapter.mediaConnected) adapter.address = adapter.netmask = adapter.gateway = kBlnkNoAddress;
  }
  return adapters;
}

void applyInterfaceStates(std::string_view text, std::vector<Adapter>* adapters) {
  std::istringstream lines{std::string(text)};
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream fields(line);
    std::string idx, metric, mtu, state;
    if (!(fields >> idx >> metric >> mtu >> state)) continue;
    if (idx.find_first_not_of("0123456789") != std::string::npos) continue;  // the header and rule lines
    std::string name;
    std::getline(fields, name);
    name = trim(name);
    for (Adapter& adapter : *adapters) {
      if (adapter.connection == name) adapter.connected = state == "connected";
    }
  }
}

int discoverAdapters(BlnkHostOps& ops, std::vector<Adapter>* adapters) {
  std::string listing, states;
  if (ops.run(ipconfigCommand(), &listing) < 0) return 103;
  *adapters = parseIpconfig(listing);
  if (ops.run(interfaceListCommand(), &states) < 0) return 103;
  applyInterfaceStates(states, adapters);
  return static_cast<int>(adapters->size());
}

int setAdmin(BlnkHostOps& ops, const Adapter& adapter, bool enable) {
  std::vector<std::string> argv;
  if (adminCommand(adapter.connection, enable, &argv, nullptr) != 0) return -1;
  return run(ops, argv, nullptr);
}

int setStaticAddress(BlnkHostOps& ops, const Adapter& adapter, const std::string& address,
                     const std::string& netmask, const std::string& gateway) {
  std::vector<std::string> argv;
  if (staticAddressCommand(adapter.connection, address, netmask, gateway, &argv, nullptr) != 0) return -1;
  return run(ops, argv, nullptr);
}

int setDhcp(BlnkHostOps& ops, const Adapter& adapter) {
  std::vector<std::string> argv;
  if (dhcpCommand(adapter.connection, &argv, nullptr) != 0) return -1;
  return run(ops, argv, nullptr);
}

int setNameServer(BlnkHostOps& ops, Adapter* adapter, int which, const std::string& address) {
  if (which < 1 || which > 3 || !blnkValidAddressOrNone(address.c_str()) ||
      !validConnectionName(adapter->connection)) {
    return -1;
  }
  std::vector<std::string>& servers = adapter->nameServers;
  const size_t place = static_cast<size_t>(which - 1);
  std::vector<std::string> argv;
  if (which == 1) {
    if (primaryDnsCommand(adapter->connection, address, &argv, nullptr) != 0) return -1;
    const int rc = run(ops, argv, nullptr);
    if (rc != 0) return rc;
    // Setting the primary server replaces the whole static list.
    servers.clear();
    if (address != kBlnkNoAddress) servers.push_back(address);
    return 0;
  }
  if (place < servers.size()) {
    if (deleteDnsCommand(adapter->connection, servers[place], &argv, nullptr) != 0) return -1;
    const int rc = run(ops, argv, nullptr);
    if (rc != 0) return rc;
    servers.erase(servers.begin() + static_cast<long>(place));
  }
  if (address == kBlnkNoAddress) return 0;
  if (addDnsCommand(adapter->connection, address, which, &argv, nullptr) != 0) return -1;
  const int rc = run(ops, argv, nullptr);
  if (rc != 0) return rc;
  servers.insert(servers.begin() + static_cast<long>(std::min(place, servers.size())), address);
  return 0;
}

}  // namespace blnkwin
