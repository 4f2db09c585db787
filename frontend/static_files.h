// Static files of the web pages (images, style sheets, scripts, fonts, plain pages) from
// <prefix>/www and <prefix>/html. They need no login; only the listed kinds are served.
//
// Thread safety: pure functions over the file system.
#pragma once

#include <filesystem>
#include <string_view>

#include "frontend/front_request.h"
#include "frontend/path_guard.h"

inline constexpr size_t kMaxStaticFileBytes = 32 * 1024 * 1024;

// The media type served for a file name, or null when such files are not served.
const char* staticMediaType(const std::filesystem::path& path);

// The answer for a GET or HEAD of urlPath: the file, 404 when there is none (or it may not be
// served), 405 for other methods.
FrontResponse staticFileAnswer(const PathGuard& guard, std::string_view method, std::string_view urlPath);
