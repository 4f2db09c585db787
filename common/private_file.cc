// The mode policy of written files; see private_file.h. The platform part is in
// private_file_posix.cc and private_file_win.cc.
#include "common/private_file.h"

#include <string_view>

mode_t privateModeFor(const char* path) {
  std::string_view name(path != nullptr ? path : "");
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  const bool secret = name == "password.web" || name == "snmp.ini" || name == "email.ini" ||
                      (name.size() > 4 && name.substr(name.size() - 4) == ".key");
  return secret ? kSecretFileMode : kSharedFileMode;
}
