// The "-netkey" command; see netkey_command.h.
#include "server/netkey_command.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

#include <cstring>
#include <string>

#include "server/net/network_key.h"

namespace {

// Messages for the refusals of network_key.h.
const char* refusalText(const char* details) {
  static constexpr std::pair<const char*, const char*> kTexts[] = {
      {"NetworkKeyTooShort", "the key must have at least 16 characters"},
      {"NetworkKeyTooLong", "the key must have at most 256 characters"},
      {"NetworkKeyInvalid", "the key must not hold control characters"},
      {"NetworkKeyMismatch", "the two keys typed differ"},
      {"NoNetworkKey", "no network key is set; use \"set\" first"},
      {"NoSecondKey", "there is no second key; use \"add\" first"},
      {"SameNetworkKey", "that key is already the sending key"},
      {"MissingParams", "no key was given on standard input"},
  };
  for (const auto& [key, text] : kTexts) {
    if (std::strcmp(key, details) == 0) return text;
  }
  return details;
}

// Turns the terminal's echo off for its lifetime when in is a terminal (a console on Windows).
class EchoOff {
 public:
#ifdef _WIN32
  explicit EchoOff(FILE* in) {
    if (!_isatty(_fileno(in))) return;
    console_ = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(in)));
    if (console_ == INVALID_HANDLE_VALUE || !GetConsoleMode(console_, &saved_)) return;
    active_ = SetConsoleMode(console_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
  }
  ~EchoOff() {
    if (active_) SetConsoleMode(console_, saved_);
  }
#else
  explicit EchoOff(FILE* in) : fd_(fileno(in)) {
    if (fd_ < 0 || !isatty(fd_) || tcgetattr(fd_, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    active_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (active_) tcsetattr(fd_, TCSAFLUSH, &saved_);
  }
#endif
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
#ifdef _WIN32
  HANDLE console_ = INVALID_HANDLE_VALUE;
  DWORD saved_ = 0;
#else
  int fd_;
  termios saved_{};
#endif
  bool active_ = false;
};

// One line of in without its line end; false at end of input.
bool readLine(FILE* in, std::string* line) {
  line->clear();
  for (int c; (c = std::fgetc(in)) != EOF;) {
    if (c == '\n') break;
    line->push_back(static_cast<char>(c));
    if (line->size() > kMaxKeyTextLength + 1) {  // long enough to be refused; the rest is not read
      while ((c = std::fgetc(in)) != EOF && c != '\n') {
      }
      break;
    }
  }
  if (line->empty() && std::feof(in)) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

// The key text from in: asked twice on a terminal. Null on success, else the refusal.
const char* readKeyText(FILE* in, FILE* out, std::string* text) {
  #ifdef _WIN32
  const bool terminal = _isatty(_fileno(in)) != 0;
#else
  const bool terminal = isatty(fileno(in)) != 0;
#endif
  EchoOff quiet(in);
  if (terminal) {
    std::fputs("Network key: ", out);
    std::fflush(out);
  }
  if (!readLine(in, text)) return "MissingParams";
  if (terminal) {
    std::string again;
    std::fputs("\nThe same key again: ", out);
    std::fflush(out);
    if (!readLine(in, &again) || again != *text) return "NetworkKeyMismatch";
    std::fputs("\n", out);
  }
  return checkKeyText(*text);
}

std::string describe(const NetworkKeySet& keys) {
  if (!keys.send) return "no network key: coordination with the other servers is unauthenticated";
  std::string text = "packets are signed with key " + keyIdText(keys.send->id);
  if (keys.second) text += "; key " + keyIdText(keys.second->id) + " is also accepted";
  return text;
}

int show(FILE* out) {
  NetworkKeySet keys;
  switch (readNetworkKeyFile(kNetworkKeyPath, &keys)) {
    case KeyFileStatus::kUnreadable:
      std::fprintf(out, "The network key file %s cannot be read.\n", kNetworkKeyPath);
      return 1;
    case KeyFileStatus::kMalformed:
      std::fprintf(out, "The network key file %s does not hold a network key; set a key again or clear it.\n",
                   kNetworkKeyPath);
      return 1;
    case KeyFileStatus::kAbsent:
    case KeyFileStatus::kOk:
      break;
  }
  std::fprintf(out, "Network key: %s.\n", describe(keys).c_str());
  return 0;
}

}  // namespace

int runNetworkKeyCommand(const std::vector<const char*>& args, FILE* in, FILE* out) {
  KeyAction action;
  const bool showing = args.size() == 1 && std::strcmp(args[0], "show") == 0;
  if (args.size() != 1 || (!showing && !parseKeyAction(args[0], &action))) {
    std::fputs(
        "Usage: server -netkey set|add|switch|drop|clear|show   (the key is read from standard input)\n",
        out);
    return 2;
  }
  struct stat folder {};
  if (stat("db", &folder) != 0 || !S_ISDIR(folder.st_mode)) {
    std::fputs("No db folder here: run the command in the server's folder.\n", out);
    return 1;
  }
  if (showing) return show(out);
  NetworkKey typed;
  if (keyActionNeedsKey(action)) {
    std::string text;
    if (const char* refusal = readKeyText(in, out, &text)) {
      std::fprintf(out, "Network key not changed: %s.\n", refusalText(refusal));
      return 1;
    }
    if (!deriveNetworkKey(text, &typed)) {
      std::fputs("Network key not changed: the key could not be derived.\n", out);
      return 1;
    }
  }
  NetworkKeySet keys;
  readNetworkKeyFile(kNetworkKeyPath, &keys);  // a damaged file reads as no keys, which "set" replaces
  if (const char* refusal = applyKeyAction(&keys, action, keyActionNeedsKey(action) ? &typed : nullptr)) {
    std::fprintf(out, "Network key not changed: %s.\n", refusalText(refusal));
    return 1;
  }
  if (!writeNetworkKeyFile(kNetworkKeyPath, keys)) {
    std::fprintf(out, "Network key not changed: %s could not be written.\n", kNetworkKeyPath);
    return 1;
  }
  std::fprintf(out, "Network key changed: %s. A running server uses it within 10 seconds.\n",
               describe(keys).c_str());
  return 0;
}
