// The POSIX half of upload_store.h: every file is created and removed relative to the folder
// opened once without following a link, so a folder swapped for a link later cannot redirect an
// upload.
#include <fcntl.h>
#include <unistd.h>

#include "frontend/upload_store.h"

int UploadStore::openFolderHandle() { return open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }

UploadStore::~UploadStore() {
  for (const std::string& name : names_) removeFromFolder(name);
  if (folderFd_ >= 0) close(folderFd_);
}

int UploadStore::createInFolder(const std::string& name) {
  return openat(folderFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
}

void UploadStore::removeFromFolder(const std::string& name) { unlinkat(folderFd_, name.c_str(), 0); }
