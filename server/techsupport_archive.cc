// The archive file and its text rules; see techsupport_archive.h.
#include "server/techsupport_archive.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "common/private_file.h"

namespace fs = std::filesystem;

namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

// Appends one entry for path. Returns false only when writing the archive failed; a file that
// cannot be read is left out and counts as success.
bool appendEntry(FILE* archive, const fs::path& path) {
  FileHandle source(std::fopen(path.string().c_str(), "rb"));
  if (!source) return true;
  const std::string name = path.filename().string();
  if (std::fprintf(archive, "%s\n", name.c_str()) < 0) return false;
  std::vector<char> buffer(64 * 1024);
  int last = '\n';
  size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), source.get())) > 0) {
    if (std::fwrite(buffer.data(), 1, got, archive) != got) return false;
    last = static_cast<unsigned char>(buffer[got - 1]);
  }
  if (last != '\n' && std::fputc('\n', archive) == EOF) return false;
  return std::fprintf(archive, "%s\n", kArchiveEndMarker) >= 0;
}

// Every regular file of folder except the archive and the problem file, in listing order.
std::vector<fs::path> entriesAfterProblemFile(const fs::path& folder, const std::string& archiveName) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name == archiveName || name == kProblemFileName) continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    files.push_back(it->path());
  }
  return files;
}

}  // namespace

int createArchive(const char* folder, const char* archiveName) {
  if (folder == nullptr || archiveName == nullptr || *folder == '\0' || *archiveName == '\0') return 2;
  const fs::path base(folder);
  const fs::path archivePath = base / archiveName;
  std::vector<fs::path> files = entriesAfterProblemFile(base, archiveName);
  FileHandle archive(openPrivateFile(archivePath.string().c_str(), "wb", kSharedFileMode));
  if (!archive) return 1;
  bool written = appendEntry(archive.get(), base / kProblemFileName);
  for (const fs::path& file : files) {
    if (!written) break;
    written = appendEntry(archive.get(), file);
  }
  if (std::fflush(archive.get()) != 0) written = false;
  if (std::fclose(archive.release()) != 0) written = false;
  return written ? 0 : 1;
}

std::string archiveFileName(const char* longDate, const char* time) {
  std::string name = std::string(longDate != nullptr ? longDate : "") + "_" + (time != nullptr ? time : "");
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name + ".archive";
}

std::string escapeToOneLine(const char* text) {
  std::string out;
  if (text == nullptr) return out;
  for (const char* p = text; *p != '\0'; ++p) {
    switch (*p) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        if (p[1] == '\n') {
          out += "\\n";
          ++p;
        }
        break;
      case '\n':
        out += "\\r\\n";
        break;
      default:
        out += *p;
    }
  }
  return out;
}
