// The Windows half of upload_store.h. Windows has no descriptor of a folder to create files
// relative to; an exclusive creation never opens through an existing name (a link included), and
// the folder (<prefix>\temp) is the installation's, writable by administrators and the service.
#include <system_error>

#include "common/file_platform.h"
#include "frontend/upload_store.h"

int UploadStore::openFolderHandle() {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::symlink_status(folder_, error);
  return !error && std::filesystem::is_directory(status) ? 0 : -1;
}

UploadStore::~UploadStore() {
  for (const std::string& name : names_) removeFromFolder(name);
}

int UploadStore::createInFolder(const std::string& name) {
  return createExclusiveFile((folder_ / name).string().c_str());
}

void UploadStore::removeFromFolder(const std::string& name) {
  std::error_code error;
  std::filesystem::remove(folder_ / name, error);
}
