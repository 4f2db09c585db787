// Row writers of the server pages; see page_rows.h.
#include "server/request/page_rows.h"

#include <atomic>

namespace {

std::atomic<PageRowsWriter> gWriters[kPageRowsKinds] = {};

constexpr const char* kListNames[kPageRowsKinds] = {"UsersLoggedInLoop", "UserLoop", "ServerLoop"};

int indexOf(PageRows rows) {
  const int index = static_cast<int>(rows);
  return index >= 0 && index < kPageRowsKinds ? index : -1;
}

}  // namespace

void setPageRowsWriter(PageRows rows, PageRowsWriter writer) {
  const int index = indexOf(rows);
  if (index >= 0) gWriters[index].store(writer);
}

void addPageRows(PageRows rows, VariableTable* reply) {
  const int index = indexOf(rows);
  if (index < 0 || reply == nullptr) return;
  PageRowsWriter writer = gWriters[index].load();
  if (writer != nullptr) {
    writer(reply);
  } else {
    addVariable(reply, kListNames[index], "0");
  }
}
