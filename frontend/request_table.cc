// The request table; see request_table.h.
#include "frontend/request_table.h"

#include <set>

namespace {

const std::set<std::string>& reservedNames() {
  static const std::set<std::string> names = {
      "RemoteAddress",  "RemoteUser",     "RemoteHost",   "UploadedFile", "UploadedFileName",
      "BrowserRequest", "FrontEndReport", "ReportTarget", "ReportDetail", "ReportCount"};
  return names;
}

}  // namespace

TableOwner buildRequestTable(const FieldList& fields, const std::vector<StoredUpload>& uploads,
                             const RequestIdentity& identity) {
  std::set<std::string> dropped = reservedNames();
  for (const StoredUpload& upload : uploads) dropped.insert(upload.field);
  TableOwner table;
  for (const auto& [name, value] : fields) {
    if (dropped.count(name) == 0) addVariable(table.address(), name.c_str(), value.c_str());
  }
  for (const StoredUpload& upload : uploads) {
    addVariable(table.address(), upload.field.c_str(), upload.path.c_str());
    if (!upload.fileName.empty()) addVariable(table.address(), "UploadedFileName", upload.fileName.c_str());
  }
  addVariable(table.address(), "RemoteAddress", identity.remoteAddress.c_str());
  addVariable(table.address(), "RemoteUser", identity.remoteUser.c_str());
  if (!identity.remoteHost.empty()) addVariable(table.address(), "RemoteHost", identity.remoteHost.c_str());
  if (!identity.browserMethod.empty())
    addVariable(table.address(), "BrowserRequest", identity.browserMethod.c_str());
  return table;
}

TableOwner buildReportTable(const FieldList& fields, const RequestIdentity& identity) {
  TableOwner table;
  for (const auto& [name, value] : fields) addVariable(table.address(), name.c_str(), value.c_str());
  addVariable(table.address(), "RemoteAddress", identity.remoteAddress.c_str());
  return table;
}

std::string plainAddress(const std::string& address) {
  static const std::string kMapped = "::ffff:";
  if (address.size() > kMapped.size() && address.compare(0, kMapped.size(), kMapped) == 0 &&
      address.find('.') != std::string::npos) {
    return address.substr(kMapped.size());
  }
  return address;
}
