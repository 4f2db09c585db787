// Configuration archives on the server; see config_archive.h.
#include "modules/brivo/pages/config_archive.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_files.h"

namespace brivo {

namespace {

constexpr char kArchiveSuffix[] = ".cfg";

// The configuration time in an archive name of pairName, or false when name is not one.
bool archiveTime(const std::string& pairName, const std::string& name, uint32_t* time) {
  const std::string prefix = pairName + "-";
  const size_t suffix = sizeof(kArchiveSuffix) - 1;
  if (name.size() <= prefix.size() + suffix || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix, suffix, kArchiveSuffix) != 0) {
    return false;
  }
  const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix);
  if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long long value = std::strtoull(digits.c_str(), nullptr, 10);
  if (value > UINT32_MAX) return false;
  *time = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

std::vector<ArchiveFile> listArchives(const std::string& pairName) {
  std::vector<ArchiveFile> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(kConfigArchiveFolder, error)) {
    ArchiveFile file;
    file.name = entry.path().filename().string();
    if (!entry.is_regular_file(error) || !archiveTime(pairName, file.name, &file.configurationTime)) continue;
    file.bytes = entry.file_size(error);
    files.push_back(file);
  }
  std::sort(files.begin(), files.end(), [](const ArchiveFile& a, const ArchiveFile& b) {
    return a.configurationTime > b.configurationTime;
  });
  return files;
}

bool writeArchive(const std::string& pairName, const ConfigurationBlock& block, std::string* name) {
  const std::string file = pairName + "-" + std::to_string(block.header.configurationTime) + kArchiveSuffix;
  ReplacingFile out(std::string(kConfigArchiveFolder) + "/" + file, true);
  if (!out.write(&block, sizeof(block)) || !out.commit()) return false;
  *name = file;
  const std::vector<ArchiveFile> files = listArchives(pairName);
  for (size_t i = kArchivesPerPair; i < files.size(); ++i) {
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::path(kConfigArchiveFolder) / files[i].name, ignored);
  }
  return true;
}

bool isArchiveOf(const std::string& pairName, const std::string& name) {
  uint32_t time = 0;
  if (!archiveTime(pairName, name, &time)) return false;
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::path(kConfigArchiveFolder) / name, error);
}

void addArchiveRows(VariableTable* reply, const std::string& pairName) {
  const std::vector<ArchiveFile> files = listArchives(pairName);
  for (size_t i = 0; i < files.size(); ++i) {
    const int row = static_cast<int>(i);
    addRowText(reply, "ArchiveLoop", row, "Name", files[i].name);
    addRowNumber(reply, "ArchiveLoop", row, "ConfigurationTime", files[i].configurationTime);
    addRowText(reply, "ArchiveLoop", row, "Time", localTimeText(files[i].configurationTime));
    addRowNumber(reply, "ArchiveLoop", row, "Bytes", static_cast<long long>(files[i].bytes));
  }
  setCount(reply, "ArchiveLoop", static_cast<int>(files.size()));
}

std::string localTimeText(uint32_t seconds) {
  const time_t when = static_cast<time_t>(seconds);
  std::tm parts{};
  char text[32] = "";
  if (localtime_r(&when, &parts) != nullptr) std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

}  // namespace brivo
