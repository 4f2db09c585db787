// Test helpers for the web templates: where a reply's "HTMLPath" lies in the source tree, and a
// rendering through the front end's own reply context (frontend/reply_context.h, the template
// contract of frontend/README.md) that records which names the template looked up and found.
//
// Thread safety: plain functions over their arguments.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <kainjow/mustache.hpp>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/variable_table.h"
#include "frontend/reply_context.h"
#include "frontend/reply_tree.h"

namespace templates {

namespace fs = std::filesystem;
namespace mustache = kainjow::mustache;

using Fields = FlatReply;

inline std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// File of an "HTMLPath" under the source tree: "../Server/..." and "../Common/..." lie in www/,
// "../../html/..." in html/. Empty for any other form.
inline fs::path templateFile(const fs::path& root, const std::string& htmlPath) {
  if (htmlPath.rfind("../../html/", 0) == 0) return root / "html" / htmlPath.substr(11);
  if (htmlPath.rfind("../Server/", 0) == 0 || htmlPath.rfind("../Common/", 0) == 0)
    return root / "www" / htmlPath.substr(3);
  return fs::path();
}

// Names of the template's tags (variables and sections).
inline std::set<std::string> tagNames(const std::string& text) {
  static const std::regex tag(R"(\{\{\s*([#^/&!{>=]?)\s*([^}\s]+)\s*\}?\}\})");
  std::set<std::string> names;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), tag); it != std::sregex_iterator(); ++it) {
    const std::string kind = (*it)[1];
    if (kind == "!" || kind == "/" || kind == ">" || kind == "=") continue;
    names.insert((*it)[2]);
  }
  return names;
}

// A context that remembers every name it found; partials come from the files beside the page, as
// the front end reads them, and their paths go to *partials.
class RecordingContext : public mustache::basic_context<std::string> {
 public:
  RecordingContext(const mustache::data* data, std::set<std::string>* found, fs::path folder = {},
                   std::set<fs::path>* partials = nullptr)
      : inner_(data), found_(found), folder_(std::move(folder)), partials_(partials) {}
  void push(const mustache::data* data) override { inner_.push(data); }
  void pop() override { inner_.pop(); }
  const mustache::data* get(const std::string& name) const override {
    const mustache::data* value = inner_.get(name);
    if (value != nullptr) found_->insert(name);
    return value;
  }
  const mustache::data* get_partial(const std::string& name) const override {
    if (folder_.empty()) return inner_.get_partial(name);
    auto known = loaded_.find(name);
    if (known != loaded_.end()) return known->second.get();
    const fs::path file = (folder_ / name).lexically_normal();
    if (!fs::is_regular_file(file)) return nullptr;
    if (partials_ != nullptr) partials_->insert(file);
    auto data = std::make_unique<mustache::data>(mustache::partial{[text = readText(file)] { return text; }});
    return loaded_.emplace(name, std::move(data)).first->second.get();
  }

 private:
  mustache::context<std::string> inner_;
  std::set<std::string>* found_;
  fs::path folder_;
  std::set<fs::path>* partials_;
  mutable std::map<std::string, std::unique_ptr<mustache::data>> loaded_;
};

struct Rendering {
  bool valid = false;
  std::string error;
  std::string page;
};

// Renders text with the reply's context as the front end builds it; adds the names found to
// *found. With the page's folder, its partials are rendered too and their files added to *partials.
inline Rendering render(const std::string& text, const Fields& fields, std::set<std::string>* found,
                        const fs::path& folder = {}, std::set<fs::path>* partials = nullptr) {
  Rendering result;
  mustache::mustache tmpl(text);
  if (!tmpl.is_valid()) {
    result.error = tmpl.error_message();
    return result;
  }
  const mustache::data data = mustacheContextOf(buildReplyTree(fields));
  RecordingContext context(&data, found, folder, partials);
  result.page = tmpl.render(context);
  result.valid = tmpl.is_valid();
  if (!result.valid) result.error = tmpl.error_message();
  return result;
}

}  // namespace templates
