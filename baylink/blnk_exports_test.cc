// Tests of the shared library's export table: every function of the interface and of the
// visible internal set is there under its C name, and the library's own C++ code and its copy of
// the common code are not.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "baylink/blnk_test_support.h"

namespace {

const char* const kExports[] = {"getSESDevices",
                                "getSESPage",
                                "setSESPage",
                                "sendCLICommand",
                                "getCLIResponse",
                                "getScsiVPDSense",
                                "ReadBuffer",
                                "WriteBuffer",
                                "upgradeESIFirmware",
                                "getMegaRaidSystemDriveListing",
                                "addDebugToFile",
                                "getVersion",
                                "getSystemInfo",
                                "getSysDrives",
                                "getEncFirmware",
                                "getPMCFirmware",
                                "fwdlPMC",
                                "setDate",
                                "setTime",
                                "getServerNameMaxLength",
                                "getServerName",
                                "setServerName",
                                "getPortCount",
                                "releasePortCount",
                                "getIfName",
                                "getID",
                                "getType",
                                "getMac",
                                "getIP",
                                "getNetmask",
                                "getGateway",
                                "getPrimaryDNS",
                                "getSecondaryDNS",
                                "getTertiaryDNS",
                                "getSpeed",
                                "getStatus",
                                "getConnected",
                                "getEnabled",
                                "isDHCP",
                                "getDHCP",
                                "getEthVersion",
                                "setIP",
                                "setNetmask",
                                "setGateway",
                                "setPrimaryDNS",
                                "setSecondaryDNS",
                                "setTertiaryDNS",
                                "setDHCP",
                                "enablePort",
                                "disablePort"};

const char* const kVisibleInternals[] = {
    "iDebugMode",        "ShowDebug",        "ResetDebug",          "getDebugFileSize",
    "timeStamp",         "ASCIIHexDump",     "ASCIIHexDebugDump",   "ASCIIHexDebugDumpToPrintF",
    "BytesToU16",        "BytesToU16LM",     "BytesToU32",          "BytesToU32LM",
    "BytesToU64",        "BytesToU64LM",     "CMD_Sleep",           "CMD_Sleep_mSecs",
    "DecodeDevType",     "uppercase",        "lowercase",           "axtoi",
    "SCSI_OpenDevice",   "SCSI_CloseDevice", "SCSI_ExecuteCommand", "OpenDevForCommunication",
    "ScsiInquiry",       "ScsiVPDSense",     "SCSIReadCap",         "WeHaveFoundITLAlready",
    "iReadSESFromDrive", "iWriteSESToDrive", "initMegaRaidCard",    "getMegaRaidDriveListing"};

const char* const kHidden[] = {"_Z9blnkTracePKcz",                // blnkTrace
                               "_Z11scsiExecuteRK11ScsiCommand",  // common/scsi
                               "_Z16blnkOpenSgDeviceRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"};

TEST(BaylinkExports, ExactlyTheInterfaceIsVisible) {
  std::string path = (blnktest::buildDir() / "lib/libbaylink.so").string();
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_EQ(std::size(kExports), 50u);
  for (const char* name : kExports) EXPECT_NE(dlsym(library, name), nullptr) << name;
  for (const char* name : kVisibleInternals) EXPECT_NE(dlsym(library, name), nullptr) << name;
  for (const char* name : kHidden) EXPECT_EQ(dlsym(library, name), nullptr) << name;
  using TextFn = char* (*)();
  auto version = reinterpret_cast<TextFn>(dlsym(library, "getVersion"));
  ASSERT_NE(version, nullptr);
  EXPECT_STREQ(version(), "Baylink - v0.90 (1st September 2008)");
  auto enclosureFirmware = reinterpret_cast<TextFn>(dlsym(library, "getEncFirmware"));
  EXPECT_STREQ(enclosureFirmware(), "EncFirmware: 0.1");
  dlclose(library);
}

}  // namespace
