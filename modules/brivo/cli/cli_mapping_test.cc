// The mapping handlers against a fake pair: the table written back whole (entries kept, added and
// dropped), host ports named by detected HBA, by mapping index and by WWNN-WWPN, the default LUN,
// host port names kept in NodePortNameList.db, and the display of detected and absent host ports.
#include <gtest/gtest.h>

#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_storage_test_support.h"

namespace brivo::cli {
namespace {

constexpr uint64_t kNodeA = 0x200000E08B000001ULL, kPortA = 0x210000E08B000001ULL;
constexpr uint64_t kNodeB = 0x200000E08B000002ULL, kPortB = 0x210000E08B000002ULL;
constexpr char kHostB[] = "200000E08B000002-210000E08B000002";

class MappingCommands : public testing::StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    moduleState().files.load();
    addDisks(3);
    addArray(0, kRaid5, {0, 1, 2});
    addLogical(0, 0, 100, 4, "alpha");
    addLogical(1, 0, 100, kLunNone, "beta");
    addInitiator(0, 0, kNodeA, kPortA);
    addInitiator(1, 0, kNodeA, kPortA);  // the same host port through the other controller
    addInitiator(0, 1, kNodeB, kPortB);
  }
  void TearDown() override {
    (void)moduleState().files.saveAndUnload();
    StorageTest::TearDown();
  }
  void addEntry(uint64_t node, uint64_t port, uint16_t drive, uint16_t lun) {
    MappingTable& map = ctx().config->mapping;
    MappingEntry& e = map.entries[map.count++];
    e = MappingEntry{};
    ::brivo::testing::putWwn(node, e.hostWwnn);
    ::brivo::testing::putWwn(port, e.hostWwpn);
    e.logicalDrive = drive;
    e.lun = lun;
    e.portMask = 0x0F;
    e.valid = kOn;
  }
  MappingTable written() {
    const auto ops = operations();
    EXPECT_EQ(operationIds(), (std::vector<uint8_t>{kOpConfigStart, kOpWriteMapping, kOpConfigSave}));
    if (ops.size() < 2) return MappingTable{};
    EXPECT_EQ(ops[1].block.size(), sizeof(MappingTable));
    return ops[1].as<MappingTable>();
  }

  ::brivo::testing::ModuleFolder folder_;
};

TEST_F(MappingCommands, CreateForADetectedHbaAppendsToTheTable) {
  addEntry(kNodeB, kPortB, 0, 0);
  modifiers({{kModHba, "0"}, {kModLogicalId, "0"}, {kModPorts, "c0p0"}, {kModPermission, "ro"}});
  ASSERT_EQ(mappingCreate(ctx()), 0) << text();
  const MappingTable table = written();
  EXPECT_EQ(table.count, 2);
  EXPECT_EQ(table.layout, 2);
  const MappingEntry& e = table.entries[1];
  uint8_t wwn[8];
  ::brivo::testing::putWwn(kPortA, wwn);
  EXPECT_EQ(0, memcmp(e.hostWwpn, wwn, 8));
  ::brivo::testing::putWwn(kNodeA, wwn);
  EXPECT_EQ(0, memcmp(e.hostWwnn, wwn, 8));
  EXPECT_EQ(e.logicalDrive, 0);
  EXPECT_EQ(e.lun, 4) << "the drive's host LUN";
  EXPECT_EQ(e.portMask, 0x01);
  EXPECT_EQ(e.permission, kMappingReadOnly);
  EXPECT_EQ(e.valid, kOn);
  EXPECT_EQ(table.entries[0].logicalDrive, 0) << "the old entry stays first";
  EXPECT_EQ(text(),
            "Mapping 1 created: host port 200000E08B000001-210000E08B000001 sees Logical Drive 0 as LUN 4 "
            "(ro, ports C0P0).\n");
}

TEST_F(MappingCommands, CreateByWwnTextPicksAFreeLunAndRefusesConflicts) {
  addEntry(kNodeB, kPortB, 0, 0);
  modifiers({{kModMapIndex, kHostB}, {kModLogicalId, "1"}});
  ASSERT_EQ(mappingCreate(ctx()), 0) << text();
  EXPECT_EQ(written().entries[1].lun, 1) << "beta has no host LUN; LUN 0 is taken for this host";

  clearSent();
  clearOutput();
  modifiers({{kModMapIndex, "0"}, {kModLogicalId, "0"}});
  EXPECT_EQ(mappingCreate(ctx()), 1);
  modifiers({{kModMapIndex, kHostB}, {kModLogicalId, "1"}, {kModLun, "0"}});
  EXPECT_EQ(mappingCreate(ctx()), 1);
  modifiers({{kModMapIndex, "200000E08B000002:210000E08B000002"}, {kModLogicalId, "1"}});
  EXPECT_EQ(mappingCreate(ctx()), 1);
  modifiers({{kModHba, "2"}, {kModLogicalId, "1"}});
  EXPECT_EQ(mappingCreate(ctx()), 1);
  modifiers({{kModMapIndex, "1"}, {kModLogicalId, "1"}});
  EXPECT_EQ(mappingCreate(ctx()), 1);
  EXPECT_EQ(text(),
            "Error: Logical Drive 0 is already mapped to this host port (map 0).\n"
            "Error: LUN 0 is already mapped for this host port (map 0).\n"
            "Error: Parsing Map Index. Not a number or WWNN-WWPN not found.\n"
            "Error: Parsing HBA index. Out of range.\n"
            "Error: Parsing Map Index. Out of range.\n");
  EXPECT_TRUE(operations().empty());
}

TEST_F(MappingCommands, DeleteByIndexHostDriveOrEverything) {
  addEntry(kNodeA, kPortA, 0, 0);
  addEntry(kNodeA, kPortA, 1, 1);
  addEntry(kNodeB, kPortB, 0, 0);
  modifiers({{kModMapIndex, "1"}});
  ASSERT_EQ(mappingDelete(ctx()), 0) << text();
  MappingTable table = written();
  ASSERT_EQ(table.count, 2) << "only the entry named";
  EXPECT_EQ(table.entries[1].logicalDrive, 0);
  EXPECT_EQ(table.entries[2].valid, 0) << "entries past the count are cleared";

  clearSent();
  modifiers({{kModHba, "0"}});
  ASSERT_EQ(mappingDelete(ctx()), 0);
  table = written();
  ASSERT_EQ(table.count, 1);
  uint8_t wwn[8];
  ::brivo::testing::putWwn(kPortB, wwn);
  EXPECT_EQ(0, memcmp(table.entries[0].hostWwpn, wwn, 8));

  clearSent();
  modifiers({{kModLogicalId, "0"}});
  ASSERT_EQ(mappingDelete(ctx()), 0);
  table = written();
  ASSERT_EQ(table.count, 1);
  EXPECT_EQ(table.entries[0].logicalDrive, 1);

  clearSent();
  modifiers({});
  ASSERT_EQ(mappingDelete(ctx()), 0);
  EXPECT_EQ(written().count, 0);
  EXPECT_NE(text().find("3 Mappings deleted.\n"), std::string::npos) << text();

  clearOutput();
  ctx().config->mapping = MappingTable{};
  EXPECT_EQ(mappingDelete(ctx()), 1);
  EXPECT_EQ(text(), "Error: No existing Mappings.\n");
}

TEST_F(MappingCommands, SetRemovesALunAndNamesTheHostPort) {
  addEntry(kNodeB, kPortB, 0, 0);
  addEntry(kNodeB, kPortB, 1, 1);
  refuse(kOpWriteMapping);
  modifiers({{kModMapIndex, kHostB}, {kModClearLun, "1"}});
  EXPECT_EQ(mappingSet(ctx()), 1);
  EXPECT_EQ(text(), "Error: Cannot set mapping. Status: 2 Sense: 5/26/00\n");

  clearSent();
  clearOutput();
  modifiers({{kModMapIndex, kHostB}, {kModClearLun, "1"}, {kModName, "backup server"}});
  ASSERT_EQ(mappingSet(ctx()), 0) << text();
  const MappingTable table = written();
  ASSERT_EQ(table.count, 1);
  EXPECT_EQ(table.entries[0].lun, 0);
  EXPECT_EQ(moduleState().files.value(PropertyTable::kNodePortNames, "210000E08B000002"), "backup server");
  EXPECT_NE(folder_.read("mods/Brivo/NodePortNameList.db").find("backup server"), std::string::npos)
      << "saved at once";

  clearOutput();
  modifiers({{kModMapIndex, kHostB}, {kModClearLun, "9"}});
  EXPECT_EQ(mappingSet(ctx()), 1);
  EXPECT_EQ(
      text(),
      "Error: LUN 9 is not mapped for host port 200000E08B000002-210000E08B000002 \"backup server\".\n");
}

TEST_F(MappingCommands, DisplayShowsDetectedAndAbsentHostPorts) {
  moduleState().files.setValue(PropertyTable::kNodePortNames, "210000E08B000001", "mail");
  addEntry(kNodeA, kPortA, 1, 2);
  addEntry(0x200000E08B0000FFULL, 0x210000E08B0000FFULL, 0, 9);
  ASSERT_EQ(mappingDisplay(ctx()), 0) << text();
  const std::string out = text();
  EXPECT_EQ(out.rfind("--- Detected HBA Total=2 ---\n--- HBA 0 ---", 0), 0u) << out;
  EXPECT_NE(out.find("Name* : mail\n"), std::string::npos);
  EXPECT_NE(out.find("Seen On : C0P0 C1P0\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Map 0 : Logical Drive 1 \"beta\" as LUN 2, rw, ports C0P0 C0P1 C1P0 C1P1\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("--- HBA 1 ---"), std::string::npos);
  EXPECT_NE(out.find("Mappings : none\n"), std::string::npos);
  EXPECT_NE(out.find("--- Host port not detected ---"), std::string::npos);
  EXPECT_NE(out.find("Seen On : not detected\n"), std::string::npos);

  clearOutput();
  modifiers({{kModSummary, "."}, {kModLogicalId, "0"}});
  ASSERT_EQ(mappingDisplay(ctx()), 0);
  EXPECT_EQ(text(),
            "--- Detected HBA Total=2 ---\n"
            "Map HBA WWNN             WWPN               LD  LUN Perm Ports\n"
            "--- --- ---------------- ---------------- ---- ---- ---- -------------------\n"
            "  1   - 200000E08B0000FF 210000E08B0000FF    0    9 rw   C0P0 C0P1 C1P0 C1P1\n");
}

}  // namespace
}  // namespace brivo::cli
