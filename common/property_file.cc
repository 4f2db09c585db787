// Property files: read whole into a VariableTable, written back whole by replacing the file.
//
// A settings file must never be left half-written: the page that saves it reports failure and the
// server keeps running on the old file. So the new text is composed in memory, written to a
// temporary file beside the old one, flushed to disk and renamed over it; the folder is flushed
// too so that the rename itself survives a power loss.
//
// Thread safety: no state of its own apart from the test seam (property_file_io.h).
#include "common/property_file.h"

#include <libgen.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "common/debug.h"
#include "common/file_platform.h"
#include "common/private_file.h"
#include "common/property_file_io.h"

namespace {

// htable subsystem, Server module, level 4: file faults worth a line when asked for.
constexpr uint32_t kPropertyDebugCode = 0x10014;

const PropertyFileIo kSystemIo = {writeFile, syncFile};
std::atomic<const PropertyFileIo*> g_io{&kSystemIo};
std::atomic<unsigned> g_tempCounter{0};

bool hasLineBreak(const char* text) { return strpbrk(text, "\r\n") != nullptr; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool tableIsWritable(const char* path, VariableTable table) {
  for (VariableEntry* entry = table; entry != nullptr; entry = entry->next) {
    if (!isWritableProperty(entry->key, entry->value)) {
      debugPrint(kPropertyDebugCode, "htable: writePropertyFile %s: refused key <%.64s>\n", path, entry->key);
      return false;
    }
  }
  return true;
}

// Header and table text, exactly as they go to disk.
bool composeText(const char* header, VariableTable table, std::string* text) {
  text->clear();
  if (header != nullptr) {
    text->push_back('\0');
    text->append("\n'").append(header).append("\n");
  }
  return formatVariableTableText(table, text);
}

bool writeAll(int fd, const std::string& text) {
  const PropertyFileIo* io = g_io.load();
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = io->write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string folderOf(const char* path) {
  std::string copy(path);
  return dirname(copy.data());
}

std::string baseNameOf(const char* path) {
  std::string copy(path);
  return basename(copy.data());
}

// Creates a new, empty temporary file in folder; *name receives its path. Returns the descriptor
// or -1.
int createTempFile(const std::string& folder, const std::string& base, std::string* name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = folder + "/." + base + "." + std::to_string(currentProcessId()) + "." +
            std::to_string(g_tempCounter.fetch_add(1)) + ".tmp";
    int fd = createExclusiveFile(name->c_str());
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Replaces path with text. On any failure the old file is untouched and the temporary removed.
bool replaceFile(const char* path, const std::string& text) {
  std::string folder = folderOf(path);
  std::string temp;
  int fd = createTempFile(folder, baseNameOf(path), &temp);
  if (fd < 0) {
    debugPrint(kPropertyDebugCode, "htable: writePropertyFile %s: create temp: %s\n", path, strerror(errno));
    return false;
  }
  const char* step = nullptr;
  // The new file has the old one's mode without what the policy does not allow (private_file.h),
  // or the policy's mode when there was none, whatever the umask.
  if (!givePolicyMode(path, fd)) {
    step = "chmod";
  } else if (!writeAll(fd, text)) {
    step = "write";
  } else if (g_io.load()->fsync(fd) != 0) {
    step = "fsync";
  }
  int savedErrno = errno;
  if (closeFile(fd) != 0 && step == nullptr) {
    step = "close";
    savedErrno = errno;
  }
  if (step == nullptr && !moveFileOver(temp.c_str(), path)) {
    step = "rename";
    savedErrno = errno;
  }
  if (step != nullptr) {
    remove(temp.c_str());
    debugPrint(kPropertyDebugCode, "htable: writePropertyFile %s: %s: %s\n", path, step,
               strerror(savedErrno));
    return false;
  }
  syncFolder(folder);
  return true;
}

}  // namespace

// True when the pair, written as "key = value", reads back as the same key and value (or, for
// the value, at most loses blanks or quotes around it, which the reader trims by design).
bool isWritableProperty(const char* key, const char* value) {
  size_t keyLength = strlen(key);
  if (keyLength == 0 || strchr(key, '=') != nullptr || hasLineBreak(key) || hasLineBreak(value)) {
    return false;
  }
  if (key[0] == ' ' || key[0] == '\'' || key[0] == '\\' || isBlank(key[keyLength - 1])) {
    return false;
  }
  if (keyLength >= 2 && key[0] == '"' && key[keyLength - 1] == '"') return false;
  return strstr(key, kEndOfHashtableMarker) == nullptr && strstr(value, kEndOfHashtableMarker) == nullptr;
}

void setPropertyFileIo(const PropertyFileIo* io) { g_io.store(io != nullptr ? io : &kSystemIo); }

VariableTable readPropertyFile(const char* path) {
  if (path == nullptr) return nullptr;
  FILE* stream = fopen(path, "re");
  if (stream == nullptr) return nullptr;
  VariableTable table = readVariableTableText(stream);
  fclose(stream);
  return table;
}

int writePropertyFile(const char* path, const char* header, VariableTable table) {
  if (path == nullptr || path[0] == '\0' || !tableIsWritable(path, table)) return -1;
  std::string text;
  if (!composeText(header, table, &text)) {
    debugPrint(kPropertyDebugCode, "htable: writePropertyFile %s: out of memory\n", path);
    return -1;
  }
  return replaceFile(path, text) ? 0 : -1;
}

int replaceFileContents(const char* path, const char* data, size_t size) {
  if (path == nullptr || path[0] == '\0' || (data == nullptr && size != 0)) return -1;
  return replaceFile(path, std::string(data != nullptr ? data : "", size)) ? 0 : -1;
}

bool acquireFileInUse(std::atomic<int>* word, int timeoutMs, int value, int pollMs) {
  if (word == nullptr || value == 0) return false;  // 0 would mark the word free
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const auto poll = std::chrono::milliseconds(pollMs > 0 ? pollMs : 1);
  for (;;) {
    int expected = 0;
    if (word->compare_exchange_strong(expected, value)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(poll);
  }
}

void releaseFileInUse(std::atomic<int>* word) {
  if (word != nullptr) word->store(0);
}
