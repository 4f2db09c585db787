// Resolution of every path the front end opens (templates, exports, static files, the upload
// folder) inside the installed tree, and nowhere else.
//
// A path is refused when its text is suspicious (NUL or other control characters, "%" left over
// from an encoding, backslashes, bytes above 127 in URLs, absolute), when it climbs out of the
// tree by its names, or when its real path (every symbolic link resolved) lies outside the real
// path of the tree.
//
// A resolution is remembered with the file it reached (device and inode): the next time the same
// path text reaches the same file, its real path is known without walking every folder again.
//
// Thread safety: any number of threads may resolve at once (the memory has its own lock).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/thread_annotations.h"

enum class PathArea {
  kTemplates,  // www/ and html/
  kExports,    // the whole tree except the password file
};

class PathGuard {
 public:
  // root: the installed tree (<prefix>). valid() is false when it does not exist.
  explicit PathGuard(const std::filesystem::path& root);

  bool valid() const { return !root_.empty(); }
  // The real path of the tree.
  const std::filesystem::path& root() const { return root_; }

  // A path from a server reply, relative to <prefix>/www/cgi-bin/. On success *out is the real
  // path of an existing regular file inside area.
  bool resolveReplyPath(std::string_view relative, PathArea area, std::filesystem::path* out) const;

  // A path relative to the folder of a template (a partial's name). Same rules, templates only.
  bool resolveBeside(const std::filesystem::path& templatePath, std::string_view relative,
                     std::filesystem::path* out) const;

  // A URL path ("/images/tab.gif", already percent-decoded once) of a static file: looked up
  // under www/ and then html/; never in www/cgi-bin/, never a name starting with ".". On success
  // *out is the real path of an existing regular file.
  bool resolveStatic(std::string_view urlPath, std::filesystem::path* out) const;

  // The folder uploads go to (<prefix>/temp), created when missing. False when it is not a real
  // folder inside the tree (for example a symbolic link out of it).
  bool uploadFolder(std::filesystem::path* out) const;

  // True when canonical (a real path) is the tree or inside it.
  bool inside(const std::filesystem::path& canonical) const;

 private:
  bool resolveFile(const std::filesystem::path& joined, std::filesystem::path* out) const;
  bool inArea(const std::filesystem::path& canonical, PathArea area) const;

  struct Resolved {
    std::filesystem::path canonical;
    uint64_t device;
    uint64_t file;
  };
  struct Resolutions {
    Mutex mu;
    std::unordered_map<std::string, Resolved> byPath GUARDED_BY(mu);
  };

  std::filesystem::path root_;
  std::shared_ptr<Resolutions> resolutions_ = std::make_shared<Resolutions>();
};

// True when text may name a file at all: not empty, at most 1024 bytes, no NUL or other control
// character, no "%", no backslash.
bool isPlainPathText(std::string_view text);
