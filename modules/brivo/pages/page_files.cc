// Files replaced whole; see page_files.h.
#include "modules/brivo/pages/page_files.h"

#include <filesystem>
#include <system_error>

#include "common/atomic_file.h"
#include "common/private_file.h"

namespace brivo {

ReplacingFile::ReplacingFile(const std::string& path, bool) {
  std::error_code ignored;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
  file_ = std::make_unique<AtomicFile>(path, FileAccess::exact(kSharedFileMode));
}

ReplacingFile::~ReplacingFile() = default;

bool ReplacingFile::ok() const { return file_->ok(); }

bool ReplacingFile::write(const void* data, size_t size) { return file_->write(data, size); }

bool ReplacingFile::commit() { return file_->commit(); }

}  // namespace brivo
