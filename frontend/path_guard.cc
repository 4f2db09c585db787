// Path resolution inside the installed tree; see path_guard.h.
#include "frontend/path_guard.h"

#include <system_error>

#include "common/thread_annotations.h"
#include "frontend/file_version.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxPathText = 1024;
constexpr size_t kMaxResolutions = 1024;

// True when path (lexically normal) is base or lies below it, comparing whole names.
bool startsWithPath(const fs::path& path, const fs::path& base) {
  auto p = path.begin();
  for (auto b = base.begin(); b != base.end(); ++b, ++p) {
    if (b->empty()) continue;  // the trailing empty name of "dir/"
    if (p == path.end() || *p != *b) return false;
  }
  return true;
}

}  // namespace

bool isPlainPathText(std::string_view text) {
  if (text.empty() || text.size() > kMaxPathText) return false;
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7f || c == '%' || c == '\\') return false;
  }
  return true;
}

PathGuard::PathGuard(const fs::path& root) {
  std::error_code error;
  fs::path canonical = fs::canonical(root, error);
  if (!error && fs::is_directory(canonical, error)) root_ = canonical;
}

bool PathGuard::inside(const fs::path& canonical) const {
  return valid() && startsWithPath(canonical, root_);
}

bool PathGuard::inArea(const fs::path& canonical, PathArea area) const {
  if (area == PathArea::kTemplates) {
    return startsWithPath(canonical, root_ / "www") || startsWithPath(canonical, root_ / "html");
  }
  return inside(canonical) && canonical != root_ / "db" / "password.web";
}

// Lexical check first (no climbing out by names), then the real path (no link leading out). A
// path that reaches the very file it reached when its real path was last worked out has that real
// path still: whatever links lie on the way, they end at a file already found inside the tree.
bool PathGuard::resolveFile(const fs::path& joined, fs::path* out) const {
  const fs::path normal = joined.lexically_normal();
  if (!startsWithPath(normal, root_)) return false;
  FileVersion reached;
  if (!regularFileVersion(normal, &reached)) return false;
  {
    MutexLock lock(resolutions_->mu);
    auto found = resolutions_->byPath.find(normal.string());
    if (found != resolutions_->byPath.end() && found->second.device == reached.device &&
        found->second.file == reached.file) {
      *out = found->second.canonical;
      return true;
    }
  }
  std::error_code error;
  const fs::path canonical = fs::canonical(normal, error);
  if (error || !inside(canonical)) return false;
  FileVersion real;
  if (!regularFileVersion(canonical, &real)) return false;
  *out = canonical;
  // Remembered only when the path still reaches the file just checked (not one swapped in
  // between the two looks).
  if (real.device == reached.device && real.file == reached.file) {
    MutexLock lock(resolutions_->mu);
    if (resolutions_->byPath.size() >= kMaxResolutions) resolutions_->byPath.clear();
    resolutions_->byPath[normal.string()] = Resolved{canonical, real.device, real.file};
  }
  return true;
}

bool PathGuard::resolveReplyPath(std::string_view relative, PathArea area, fs::path* out) const {
  if (!valid() || !isPlainPathText(relative) || relative.front() == '/') return false;
  fs::path candidate;
  if (!resolveFile(root_ / "www" / "cgi-bin" / fs::path(relative), &candidate)) return false;
  if (!inArea(candidate, area)) return false;
  *out = candidate;
  return true;
}

bool PathGuard::resolveBeside(const fs::path& templatePath, std::string_view relative, fs::path* out) const {
  if (!valid() || !isPlainPathText(relative) || relative.front() == '/') return false;
  fs::path candidate;
  if (!resolveFile(templatePath.parent_path() / fs::path(relative), &candidate)) return false;
  if (!inArea(candidate, PathArea::kTemplates)) return false;
  *out = candidate;
  return true;
}

bool PathGuard::resolveStatic(std::string_view urlPath, fs::path* out) const {
  if (!valid() || !isPlainPathText(urlPath) || urlPath.front() != '/') return false;
  fs::path relative;
  size_t start = 1;
  while (start <= urlPath.size()) {
    size_t end = urlPath.find('/', start);
    if (end == std::string_view::npos) end = urlPath.size();
    const std::string_view name = urlPath.substr(start, end - start);
    // Every name must be a plain one: no empty names, no "." or ".." and no hidden files.
    if (name.empty() || name.front() == '.') return false;
    for (char c : name) {
      if (static_cast<unsigned char>(c) > 0x7e) return false;
    }
    relative /= fs::path(name);
    start = end + 1;
  }
  if (relative.empty() || *relative.begin() == "cgi-bin") return false;
  for (const char* area : {"www", "html"}) {
    fs::path candidate;
    if (resolveFile(root_ / area / relative, &candidate) && inArea(candidate, PathArea::kTemplates) &&
        !startsWithPath(candidate, root_ / "www" / "cgi-bin")) {
      *out = candidate;
      return true;
    }
  }
  return false;
}

bool PathGuard::uploadFolder(fs::path* out) const {
  if (!valid()) return false;
  const fs::path folder = root_ / "temp";
  std::error_code error;
  fs::create_directory(folder, error);
  // The folder itself must not be a link, wherever it points.
  const fs::file_status status = fs::symlink_status(folder, error);
  if (error || !fs::is_directory(status)) return false;
  const fs::path canonical = fs::canonical(folder, error);
  if (error || canonical != folder) return false;
  *out = canonical;
  return true;
}
