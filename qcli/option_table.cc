// The option table's rows. Their order is part of the command-line behaviour: the argument pass
// works through the table in this order, so displays always come out in this order too.
#include "qcli/option_table.h"

namespace qcli {

namespace {

constexpr unsigned kBoth = kExampleDefault | kExampleDevice;

constexpr std::array<OptionEntry, kOptionCount> kTable{{
    {OptionKind::kSetting, false, kExampleDefault, "--num", "QCLI_DEV_NUM", "1", "Num", "Device Number"},
    {OptionKind::kSetting, false, kBoth, "--name", "QCLI_DEV_NAME", "", "Name", "Device Name"},
    {OptionKind::kSetting, true, kBoth, "--wwn", "QCLI_DEV_WWN", "", "Wwn", "Device WWN"},
    {OptionKind::kSetting, false, kBoth, "--ip", "QCLI_SERVER_IP", "", "Ip", "Server IP"},
    {OptionKind::kSetting, false, kBoth, "--port", "QCLI_SERVER_PORT", "9292", "Port", "Server Port"},
    {OptionKind::kSetting, false, kBoth, "--user", "QCLI_SERVER_USER", "admin", "User", "Server User"},
    {OptionKind::kSetting, false, kBoth, "--pass", "QCLI_SERVER_PASSWORD", "pinecone", "Password",
     "Server Password"},
    {OptionKind::kSetting, true, kBoth, "--width", "QCLI_DEV_WIDTH", "79", "Width", "Screen Width"},
    {OptionKind::kSetting, true, kBoth, "--type", "QCLI_DEV_TYPE", "Brivo", "Type", "Device Type"},
    {OptionKind::kSetting, false, kBoth, "--method", "QCLI_DEV_METHOD", "qcli", "Method", "Device Method"},
    {OptionKind::kSetting, true, 0, "--rfile", "QCLI_RCV_FILE", "", "Rfile", "Receive File"},
    {OptionKind::kSetting, true, 0, "--sfile", "QCLI_SND_FILE", "", "Sfile", "Send File"},
    {OptionKind::kConfigFileName, false, 0, "--cfgfile", "QCLI_CONFIG_FILE", kDefaultConfigFile, nullptr,
     "Config File Name"},
    {OptionKind::kDisplay, false, 0, "--info", nullptr, "I", nullptr, "Settings to use"},
    {OptionKind::kDisplay, false, 0, "--infodef", nullptr, "D", nullptr, "Settings defaults"},
    {OptionKind::kDisplay, false, 0, "--infodb", nullptr, "X", nullptr, "Settings from file"},
    {OptionKind::kDisplay, false, 0, "--infoenv", nullptr, "E", nullptr, "Settings from env"},
    {OptionKind::kDisplay, false, 0, "--infoarg", nullptr, "A", nullptr, "Settings fromm args"},
    {OptionKind::kDisplay, false, 0, "--info+", nullptr, "P", nullptr, "Args vs env info"},
    {OptionKind::kDisplay, false, 0, "--infoc", nullptr, "C", nullptr, "Args vs env info"},
    {OptionKind::kDisplay, false, 0, "--req", nullptr, "Q", nullptr, "Shows http request"},
}};

}  // namespace

const std::array<OptionEntry, kOptionCount>& optionTable() { return kTable; }

SettingSet builtInDefaults() {
  SettingSet set;
  for (size_t i = 0; i <= kCfgFile; ++i) set[i] = kTable[i].defaultValue;
  return set;
}

void overlay(SettingSet& target, const SettingSet& source) {
  for (size_t i = 0; i < kOptionCount; ++i) {
    if (!source[i].empty()) target[i] = source[i];
  }
}

}  // namespace qcli
