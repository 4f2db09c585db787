// The device list file on POSIX: trusted only when it is this user's own private plain file,
// replaced beside itself; the host's devices from /dev and the partition table.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

#include "baylink/blnk_debug.h"
#include "baylink/blnk_device_list.h"
#include "baylink/blnk_host.h"
#include "baylink/linux/blnk_safe_file.h"

namespace {

// Opens the list for reading or appending; -1 unless it is our own plain file that no one else
// may write (a planted file could name any node for us to open).
int openTrusted(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
    blnkTrace("Device list %s is not a private file of this user - ignored", path.c_str());
    ::close(fd);
    return -1;
  }
  return fd;
}

void addGenericNodes(std::vector<std::string>* names) {
  std::vector<std::string> nodes;
  std::string dev = blnkHostPath("/dev");
  if (DIR* dir = ::opendir(dev.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      const char* n = entry->d_name;
      if (std::strncmp(n, "sg", 2) == 0 && std::isdigit(static_cast<unsigned char>(n[2])) != 0)
        nodes.push_back(std::string("/dev/") + n);
    }
    ::closedir(dir);
  }
  std::sort(nodes.begin(), nodes.end());  // the order "ls -1" gives
  names->insert(names->end(), nodes.begin(), nodes.end());
}

// Every partition-table entry whose line holds "sd" and a letter (whole disks and partitions).
void addPartitionDisks(std::vector<std::string>* names) {
  std::ifstream in(blnkHostPath("/proc/partitions"));
  std::string line;
  while (std::getline(in, line)) {
    bool match = false;
    for (size_t i = 0; i + 2 < line.size() && !match; ++i)
      match = line[i] == 's' && line[i + 1] == 'd' && line[i + 2] >= 'a' && line[i + 2] <= 'z';
    if (!match) continue;
    std::istringstream fields(line);
    std::string major, minor, blocks, name;
    if (fields >> major >> minor >> blocks >> name) names->push_back("/dev/" + name);
  }
}

}  // namespace

std::string blnkDefaultDeviceListPath() { return kBlnkDeviceListDefault; }

bool blnkReadDeviceList(std::vector<std::string>* lines) {
  lines->clear();
  int fd = openTrusted(blnkDeviceListPath(), O_RDONLY);
  if (fd < 0) return false;
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof(buffer))) > 0;) text.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines->push_back(line.substr(0, kBlnkListLineMax));
  return true;
}

bool blnkWriteDeviceList(const std::vector<std::string>& lines) {
  std::string path = blnkDeviceListPath();
  std::string why;
  if (blnkReplaceFile(path, blnkJoinListLines(lines), 0600, &why) == 0) return true;
  blnkTrace("Cannot write the device list %s: %s", path.c_str(), why.c_str());
  return false;
}

bool blnkAppendDeviceList(const std::string& path, const std::vector<std::string>& lines) {
  int fd = openTrusted(path, O_WRONLY | O_APPEND);
  if (fd < 0) return false;
  std::string text = blnkJoinListLines(lines);
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

std::vector<std::string> blnkListNativeDevices() {
  std::vector<std::string> names;
  addGenericNodes(&names);
  addPartitionDisks(&names);
  return names;
}
