// The site keys in use; see network_key_store.h.
#include "server/net/network_key_store.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "common/debug.h"
#include "common/thread_annotations.h"
#include "server/net/network_events.h"

namespace {

constexpr uint32_t kKeyDebugCode = 0x1012;

struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  bool operator==(const FileStamp& o) const {
    return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
  }
};

Mutex gLock;
std::shared_ptr<const NetworkKeySet> gKeys GUARDED_BY(gLock) = std::make_shared<NetworkKeySet>();
FileStamp gStamp GUARDED_BY(gLock);
std::string gPath GUARDED_BY(gLock) = kNetworkKeyPath;

FileStamp stampOf(const std::string& path) {
  FileStamp stamp;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return stamp;
  stamp.exists = true;
  stamp.device = info.st_dev;
  stamp.inode = info.st_ino;
  stamp.size = info.st_size;
#ifdef _WIN32
  // The Windows C runtime gives whole seconds only; the size and the number of changes still
  // tell a rewrite within the same second in most cases.
  stamp.modified.tv_sec = info.st_mtime;
#else
  stamp.modified = info.st_mtim;
#endif
  return stamp;
}

bool sameKeys(const NetworkKeySet& a, const NetworkKeySet& b) {
  return a.required == b.required && a.send == b.send && a.second == b.second;
}

void announceUnauthenticated() {
  const std::string text = networkText(
      "KestrovaEvent_NetworkUnauthenticated",
      "No network key is set: the check-ins and unit claims of the servers on this network are not "
      "authenticated, and any host on the network can make this server give up monitoring a unit. Set a "
      "network key on every server (Preferences, Network key).");
  raiseNetworkEvent(text.c_str(), 1, kUnauthenticatedCode);
}

void announceUnusableFile(const std::string& path, KeyFileStatus status) {
  const std::string why = status == KeyFileStatus::kUnreadable
                              ? networkText("NetworkKeyFileUnreadable", "it cannot be read")
                              : networkText("NetworkKeyFileMalformed", "it does not hold a network key");
  const std::string message = networkMessage(
      "KestrovaEvent_NetworkKeyFileUnusable",
      "The network key file %s cannot be used (%s). This server neither sends nor accepts packets "
      "of the other servers until the file is set again or removed.",
      {path.c_str(), why.c_str()});
  raiseNetworkEvent(message.c_str(), 2, kNetworkKeyFileCode);
}

// REQUIRES: keys.send.
void announceKeys(const NetworkKeySet& keys) {
  const std::string sending = keyIdText(keys.send->id);
  const std::string message =
      keys.second
          ? networkMessage("KestrovaEvent_NetworkKeysChanged",
                           "The network keys of this server changed: packets are signed with key %s; key %s "
                           "is also accepted.",
                           {sending.c_str(), keyIdText(keys.second->id).c_str()})
          : networkMessage("KestrovaEvent_NetworkKeyChanged",
                           "The network key of this server changed: packets are signed with key %s.",
                           {sending.c_str()});
  raiseNetworkEvent(message.c_str(), 0, kNetworkKeyChangedCode);
}

}  // namespace

std::shared_ptr<const NetworkKeySet> activeNetworkKeys() {
  MutexLock lock(gLock);
  return gKeys;
}

KeyFileStatus loadNetworkKeys(bool atStart) {
  std::string path;
  {
    MutexLock lock(gLock);
    path = gPath;
  }
  const FileStamp stamp = stampOf(path);
  auto keys = std::make_shared<NetworkKeySet>();
  const KeyFileStatus status = readNetworkKeyFile(path.c_str(), keys.get());
  std::shared_ptr<const NetworkKeySet> previous;
  {
    MutexLock lock(gLock);
    previous = gKeys;
    gKeys = keys;
    gStamp = stamp;
  }
  debugPrint(kKeyDebugCode, "net: network keys from %s: status %d, sending key %s\n", path.c_str(),
             static_cast<int>(status), keys->send ? keyIdText(keys->send->id).c_str() : "none");
  if (status == KeyFileStatus::kUnreadable || status == KeyFileStatus::kMalformed) {
    std::printf("net: the network key file %s cannot be used; no packets are sent or accepted\n",
                path.c_str());
    std::fflush(stdout);
    announceUnusableFile(path, status);
  } else if (!keys->required) {
    if (atStart || previous->required) announceUnauthenticated();
  } else if (keys->send && (atStart || !sameKeys(*previous, *keys))) {
    announceKeys(*keys);
  }
  return status;
}

bool reloadNetworkKeysIfChanged() {
  std::string path;
  FileStamp known;
  {
    MutexLock lock(gLock);
    path = gPath;
    known = gStamp;
  }
  if (stampOf(path) == known) return false;
  loadNetworkKeys(false);
  return true;
}

void unloadNetworkKeys() {
  MutexLock lock(gLock);
  gKeys = std::make_shared<NetworkKeySet>();
  gStamp = FileStamp();
}

void setNetworkKeyPath(const char* path) {
  MutexLock lock(gLock);
  gPath = path != nullptr ? path : kNetworkKeyPath;
}

std::string networkKeyPath() {
  MutexLock lock(gLock);
  return gPath;
}
