// Rendering of a page template (kainjow mustache) with a reply's context. Partials
// ("{{> name}}") are files beside the page template, resolved through the path guard; reply
// values are never taken as templates.
//
// Thread safety: renderPage may run on any number of threads at once.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "frontend/path_guard.h"
#include "frontend/reply_tree.h"

inline constexpr size_t kMaxTemplateBytes = 4 * 1024 * 1024;
inline constexpr int kMaxPartials = 32;

// The template text without its HTML comments: they explain the template to its developers and
// are no part of the page. The marker comment qcli looks for in its answer ("<!-- qcli script -->")
// stays. An unterminated comment is left as it is (so no text after it is lost).
std::string withoutTemplateComments(std::string_view text);

// Renders the template at templatePath (a real path from the guard) with the tree. False with a
// reason in *error when the file cannot be read, the template does not parse or a partial fails.
bool renderPage(const PathGuard& guard, const std::filesystem::path& templatePath, const ReplyNode& tree,
                std::string* html, std::string* error);

// Reads a whole file of at most limit bytes. False when it cannot be read or is larger.
bool readWholeFile(const std::filesystem::path& path, size_t limit, std::string* out);
