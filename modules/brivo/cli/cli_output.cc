// The interpreter's writers: every output line becomes the next "textloop%dtext" entry of the
// reply; see cli_context.h for the forms.
//
// Thread safety: writes the caller's context and reply only.
#include <algorithm>
#include <cstdio>
#include <string>

#include "modules/brivo/cli/cli_context.h"

namespace brivo::cli {

namespace {

// How far back from the edge a long line looks for a blank to break at.
constexpr int kWrapLookBack = 15;

// The fewest text columns a wrapped line keeps whatever the indent, so that a deep indent on a
// narrow screen still makes progress.
constexpr int kMinWrapColumns = 16;

void appendLine(CliContext& ctx, const std::string& text) {
  if (ctx.reply == nullptr) return;
  char key[32];
  std::snprintf(key, sizeof(key), "textloop%dtext", ctx.lineCount);
  addVariable(ctx.reply, key, text.c_str());
  ++ctx.lineCount;
}

std::string formatted(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  const int needed = std::vsnprintf(small, sizeof(small), format, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  if (static_cast<size_t>(needed) < sizeof(small)) return std::string(small, static_cast<size_t>(needed));
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(needed));
  return text;
}

// Writes one paragraph (no "\n" inside) in pieces of at most columns characters.
void wrapParagraph(CliContext& ctx, const std::string& paragraph, int indent, int columns) {
  const std::string margin(static_cast<size_t>(indent), ' ');
  size_t start = 0;
  const size_t limit = static_cast<size_t>(columns);
  do {
    size_t length = paragraph.size() - start;
    size_t next = paragraph.size();
    if (length > limit) {
      // The last blank that lies within the look-back distance of the edge, else a hard cut.
      length = limit;
      next = start + limit;
      const size_t earliest = start + limit - std::min<size_t>(limit - 1, kWrapLookBack);
      for (size_t at = start + limit; at >= earliest; --at) {
        if (paragraph[at] == ' ') {
          length = at - start;
          next = at + 1;
          break;
        }
      }
    }
    appendLine(ctx, margin + paragraph.substr(start, length) + "\n");
    start = next;
  } while (start < paragraph.size());
}

}  // namespace

void writeText(CliContext& ctx, const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeTextV(ctx, format, args);
  va_end(args);
}

void writeTextV(CliContext& ctx, const char* format, va_list args) {
  if (format == nullptr) return;
  appendLine(ctx, formatted(format, args));
}

int labelColumnOf(CliContext& ctx) {
  if (ctx.labelColumn == 0) ctx.labelColumn = ctx.width / 2 + ((ctx.width & 2) != 0 ? 1 : 0);
  return ctx.labelColumn;
}

void writeField(CliContext& ctx, const char* label, const std::string& value, char separator) {
  const std::string name = label != nullptr ? label : "";
  const int pad = std::max(0, labelColumnOf(ctx) - static_cast<int>(name.size()) - 2);
  std::string line(static_cast<size_t>(pad), ' ');
  line += name;
  line += separator == ':' ? " : " : "   ";
  line += value;
  line += "\n";
  appendLine(ctx, line);
}

void writeRuler(CliContext& ctx, char fill, const char* title) {
  const size_t width = static_cast<size_t>(std::max(ctx.width, 1));
  std::string line(width, fill);
  if (title != nullptr && width > 3) {
    const std::string framed = std::string(" ") + title + " ";
    line.replace(3, std::min(framed.size(), width - 3), framed, 0, std::min(framed.size(), width - 3));
  }
  appendLine(ctx, line + "\n");
}

void writeWrapped(CliContext& ctx, const char* text, int indent) {
  if (text == nullptr) return;
  indent = std::max(indent, 0);
  const int columns = std::max(ctx.width - 1 - indent, kMinWrapColumns);
  const std::string all = text;
  size_t start = 0;
  while (start < all.size()) {
    const size_t newline = all.find('\n', start);
    const size_t end = newline == std::string::npos ? all.size() : newline;
    if (end == start) {
      appendLine(ctx, "\n");
    } else {
      wrapParagraph(ctx, all.substr(start, end - start), indent, columns);
    }
    if (newline == std::string::npos) break;
    start = newline + 1;
  }
}

void writeCommandFailure(CliContext& ctx, const std::string& operation, int result,
                         const ControllerCommand& failed) {
  const SenseCodes sense = senseCodes(failed);
  writeText(ctx, "Error: Cannot %s. Status: %d Sense: %d/%02x/%02x\n", operation.c_str(), result, sense.key,
            sense.asc, sense.ascq);
}

}  // namespace brivo::cli
