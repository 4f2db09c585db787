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

// Templates by real path, kept while the file is the same one: same device, inode, size and
// change time. Every page request renders a template, and most render the same few; reading,
// stripping and parsing them each time cost more than the rendering. A page keeps its parsed
// form too (parsing was most of a small page's cost); a partial keeps its text, which the
// library parses at each inclusion.
class TemplateTexts {
 public:
  struct Template {
    std::string text;  // comments removed
    std::shared_ptr<const mustache::mustache> parsed;
  };

  // The template at path, read when it is new or changed. withParsed: parsed as well.
  bool get(const std::filesystem::path& path, bool withParsed, Template* out) {
    FileVersion identity;
    if (!regularFileVersion(path, &identity)) return false;
    {
      MutexLock lock(mu_);
      auto found = texts_.find(path.string());
      if (found != texts_.end() && found->second.identity == identity &&
          (!withParsed || found->second.entry.parsed)) {
        // A page needs only its parsed form; the text is copied for a partial alone.
        out->parsed = found->second.entry.parsed;
        if (!withParsed) out->text = found->second.entry.text;
        return true;
      }
    }
    std::string raw;
    if (!readWholeFile(path, kMaxTemplateBytes, &raw)) return false;
    out->text = withoutTemplateComments(raw);
    out->parsed = withParsed ? std::make_shared<const mustache::mustache>(out->text) : nullptr;
    MutexLock lock(mu_);
    if (texts_.size() >= kMaxCachedTemplates) texts_.clear();
    texts_[path.string()] = Entry{identity, *out};
    return true;
  }

 private:
  struct Entry {
    FileVersion identity;
    Template entry;
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
    TemplateTexts::Template partial;
    if (!guard_.resolveBeside(page_, name, &path) || !templateTexts().get(path, false, &partial)) {
      failure_ = "partial \"" + name + "\" not found";
      return nullptr;
    }
    auto data = std::make_unique<mustache::data>(
        mustache::partial{[text = std::move(partial.text)] { return text; }});
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
  TemplateTexts::Template cached;
  if (!templateTexts().get(templatePath, true, &cached)) {
    *error = "the template cannot be read";
    return false;
  }
  // Rendering writes into the template object (its error message), so each page renders its own
  // copy of the parsed form; the copy shares the section texts and costs a fraction of a parse.
  mustache::mustache page(*cached.parsed);
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
