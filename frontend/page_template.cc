// Page rendering with partials from files; see page_template.h.
#include "frontend/page_template.h"

#include <sys/stat.h>

#include <cstdio>
#include <kainjow/mustache.hpp>
#include <map>
#include <memory>
#include <unordered_map>

#include "common/thread_annotations.h"
#include "frontend/file_version.h"
#include "frontend/reply_context.h"

namespace mustache = kainjow::mustache;

namespace {

constexpr size_t kMaxCachedTemplates = 512;

// Template texts (comments removed) by real path, kept while the file is the same one: same
// device, inode, size and change time. Every page request renders a template, and most render
// the same few; reading and stripping them each time cost more than the rendering.
class TemplateTexts {
 public:
  bool get(const std::filesystem::path& path, std::string* text) {
    FileVersion identity;
    if (!regularFileVersion(path, &identity)) return false;
    {
      MutexLock lock(mu_);
      auto found = texts_.find(path.string());
      if (found != texts_.end() && found->second.identity == identity) {
        *text = found->second.text;
        return true;
      }
    }
    std::string raw;
    if (!readWholeFile(path, kMaxTemplateBytes, &raw)) return false;
    *text = withoutTemplateComments(raw);
    MutexLock lock(mu_);
    if (texts_.size() >= kMaxCachedTemplates) texts_.clear();
    texts_[path.string()] = Entry{identity, *text};
    return true;
  }

 private:
  struct Entry {
    FileVersion identity;
    std::string text;
  };
  Mutex mu_;
  std::unordered_map<std::string, Entry> texts_ GUARDED_BY(mu_);
};

TemplateTexts& templateTexts() {
  static TemplateTexts* const texts = new TemplateTexts;
  return *texts;
}

// The standard context, except that partials come from files beside the page.
class PageContext : public mustache::basic_context<std::string> {
 public:
  PageContext(const mustache::data* data, const PathGuard& guard, std::filesystem::path page)
      : inner_(data), guard_(guard), page_(std::move(page)) {}

  void push(const mustache::data* data) override { inner_.push(data); }
  void pop() override { inner_.pop(); }
  const mustache::data* get(const std::string& name) const override { return inner_.get(name); }

  const mustache::data* get_partial(const std::string& name) const override {
    // Counting every inclusion also ends a partial that includes itself.
    if (++inclusions_ > kMaxPartials) {
      failure_ = "too many partials";
      return nullptr;
    }
    auto found = partials_.find(name);
    if (found != partials_.end()) return found->second.get();
    std::filesystem::path path;
    std::string text;
    if (!guard_.resolveBeside(page_, name, &path) || !templateTexts().get(path, &text)) {
      failure_ = "partial \"" + name + "\" not found";
      return nullptr;
    }
    auto data = std::make_unique<mustache::data>(mustache::partial{[text = std::move(text)] { return text; }});
    return partials_.emplace(name, std::move(data)).first->second.get();
  }

  const std::string& failure() const { return failure_; }

 private:
  mustache::context<std::string> inner_;
  const PathGuard& guard_;
  const std::filesystem::path page_;
  mutable std::map<std::string, std::unique_ptr<mustache::data>> partials_;
  mutable int inclusions_ = 0;
  mutable std::string failure_;
};

}  // namespace

std::string withoutTemplateComments(std::string_view text) {
  static constexpr std::string_view kOpen = "<!--";
  static constexpr std::string_view kClose = "-->";
  static constexpr std::string_view kKept = "<!-- qcli script -->";
  std::string out;
  out.reserve(text.size());
  size_t at = 0;
  for (;;) {
    const size_t open = text.find(kOpen, at);
    if (open == std::string_view::npos) break;
    const size_t close = text.find(kClose, open + kOpen.size());
    if (close == std::string_view::npos) break;
    size_t end = close + kClose.size();
    const std::string_view comment = text.substr(open, end - open);
    out.append(text.substr(at, open - at));
    if (comment == kKept) {
      out.append(comment);
    } else if (end < text.size() && text[end] == '\n' && (open == 0 || text[open - 1] == '\n')) {
      ++end;  // a comment on lines of its own leaves no empty line behind
    }
    at = end;
  }
  out.append(text.substr(at));
  return out;
}

bool readWholeFile(const std::filesystem::path& path, size_t limit, std::string* out) {
#ifdef _WIN32
  FILE* file = _wfopen(path.c_str(), L"rb");
#else
  FILE* file = std::fopen(path.c_str(), "rbe");
#endif
  if (file == nullptr) return false;
  struct stat st {};
  bool ok = fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) && static_cast<size_t>(st.st_size) <= limit;
  if (ok) {
    out->assign(static_cast<size_t>(st.st_size), '\0');
    const size_t got = out->empty() ? 0 : std::fread(out->data(), 1, out->size(), file);
    out->resize(got);
    ok = std::ferror(file) == 0;
  }
  std::fclose(file);
  return ok;
}

bool renderPage(const PathGuard& guard, const std::filesystem::path& templatePath, const ReplyNode& tree,
                std::string* html, std::string* error) {
  std::string text;
  if (!templateTexts().get(templatePath, &text)) {
    *error = "the template cannot be read";
    return false;
  }
  mustache::mustache page(text);
  if (!page.is_valid()) {
    *error = page.error_message();
    return false;
  }
  const mustache::data data = mustacheContextOf(tree);
  PageContext context(&data, guard, templatePath);
  *html = page.render(context);
  if (!page.is_valid() || !context.failure().empty()) {
    *error = !context.failure().empty() ? context.failure() : page.error_message();
    return false;
  }
  return true;
}
