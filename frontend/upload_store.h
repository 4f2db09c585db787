// The files of one request's uploads under <prefix>/temp: each gets a fresh unguessable name
// ("upload-" + 32 hexadecimal digits from the system's random source), is created exclusively
// (O_EXCL, O_NOFOLLOW, relative to the folder opened once, mode 0640; on Windows an exclusive
// creation in the folder) and is removed when the
// store goes out of scope, that is once the answer has been built. The folder is looked for and
// opened at the first file only: most requests upload nothing, and they pay nothing for it.
//
// Thread safety: one store per request; not shared between threads.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class UploadStore {
 public:
  // findFolder: gives the real path of the upload folder (PathGuard::uploadFolder), or an empty
  // path when there is none; called at the first store() only.
  using FolderFinder = std::function<std::filesystem::path()>;
  explicit UploadStore(FolderFinder findFolder);
  // Removes every file stored.
  ~UploadStore();
  UploadStore(const UploadStore&) = delete;
  UploadStore& operator=(const UploadStore&) = delete;

  // Writes data to a new file; *path receives its absolute path. False (and nothing left behind)
  // when the folder cannot be opened or the file cannot be created or written whole.
  [[nodiscard]] bool store(std::string_view data, std::string* path);

  size_t count() const { return names_.size(); }

 private:
  bool openFolder();
  // The platform halves (upload_store_posix.cc, upload_store_win.cc): the folder_ opened (POSIX:
  // its descriptor; Windows: 0 when it is a folder, not a link), or -1; a new file of the folder,
  // exclusively (a descriptor for writeFile, or -1 with errno set; EEXIST when the name is taken);
  // the removal of one.
  int openFolderHandle();
  int createInFolder(const std::string& name);
  void removeFromFolder(const std::string& name);

  FolderFinder findFolder_;
  bool looked_ = false;
  std::filesystem::path folder_;
  int folderFd_ = -1;
  std::vector<std::string> names_;
};
