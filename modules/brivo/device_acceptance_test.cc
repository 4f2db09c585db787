// Taking devices from the server's list: which devices are taken (settings keys, peripheral
// types, records without a path, unreadable pairs), how items are built and appended, and that a
// second call neither duplicates items nor starts the monitor again.
#include "modules/brivo/device_acceptance.h"

#include <gtest/gtest.h>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/module_hooks.h"

namespace brivo {
namespace {

int g_monitorStarts = 0;
bool countStart(DeviceRecord*) {
  ++g_monitorStarts;
  return true;
}

class AcceptanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.write("mods/Brivo/BrivoSettings.ini",
                  "vendorKESTROVA = TRUE\nproductBRIVO RAID = TRUE\nproductBRIVO LOWER = true\n"
                  "vendorOTHER = TRUE\n");
    moduleState().files.load();
    moduleHooks().startMonitor = countStart;
    g_monitorStarts = 0;
    setAcceptSettleTimeForTesting(0);
  }
  void TearDown() override {
    moduleHooks() = ModuleHooks{};
    moduleState().monitorStarted.store(false);
    moduleState().deviceList.store(nullptr);
    moduleState().files.saveAndUnload();
  }
  DeviceRecord* device(const std::string& name, const std::string& product = "BRIVO RAID", uint8_t type = 0,
                       const std::string& vendor = "KESTROVA") {
    testing::DeviceList::Spec spec;
    spec.name = name;
    spec.product = product;
    spec.type = type;
    spec.vendor = vendor;
    fake_->answer(name, testing::bufferResponder(testing::controllerInformation()));
    return list_.add(spec);
  }

  testing::ModuleFolder folder_;
  testing::FakeTransportScope fake_;
  testing::DeviceList list_;
  testing::RunningModule running_;
};

TEST_F(AcceptanceTest, OnlyDevicesTheSettingsAcceptAreTaken) {
  DeviceRecord* disk = device("taken-disk");
  DeviceRecord* processor = device("taken-processor", "BRIVO RAID", 3);
  DeviceRecord* lowerCase = device("lower", "BRIVO LOWER");
  DeviceRecord* unknownProduct = device("unknown", "BRIVO OTHER");
  DeviceRecord* otherVendor =
      device("vendor", "BRIVO RAID", 0, "OTHER");  // "productBRIVO RAID" yes, vendor yes
  DeviceRecord* wrongVendor = device("wrong-vendor", "BRIVO RAID", 0, "SEAGATE");
  DeviceRecord* enclosure = device("enclosure", "BRIVO RAID", 0x0D);
  DeviceRecord* noPath = device("");
  testing::DeviceList::Spec invalid;
  invalid.name = "invalid";
  invalid.valid = 0;
  DeviceRecord* notValid = list_.add(invalid);
  DeviceRecord* unreadable = device("unreadable");
  fake_->answer("unreadable", [](const ScsiCommand&) { return testing::noAnswer(); });

  EXPECT_EQ(acceptDevices(list_.head()), 0);
  for (DeviceRecord* taken : {disk, processor, otherVendor}) {
    ASSERT_EQ(testing::DeviceList::unitCount(taken), 1) << taken->info->deviceName;
    const ModDeviceItem* item = taken->units;
    EXPECT_STREQ(item->name, "Brivo20000004CF8A1B2C");
    EXPECT_EQ(item->modStatus, UNCLAIMED);
    EXPECT_EQ(item->deviceStatus, 0);
    EXPECT_EQ(item->ownerAddress, 0u);
    ASSERT_NE(stateOf(item), nullptr);
    EXPECT_EQ(stateOf(item)->controllerType, 6);
  }
  for (DeviceRecord* skipped : {lowerCase, unknownProduct, wrongVendor, enclosure, noPath, notValid}) {
    EXPECT_EQ(testing::DeviceList::unitCount(skipped), 0) << skipped->info->deviceName;
  }
  // A path that does not answer is kept for the monitor to identify later, as no pair yet.
  ASSERT_EQ(testing::DeviceList::unitCount(unreadable), 1);
  EXPECT_STREQ(unreadable->units->name, "BrivoNotRead");
  EXPECT_TRUE(isUnreadItem(unreadable->units));
  EXPECT_FALSE(isPairItem(unreadable->units));
  EXPECT_NE(stateOf(unreadable->units), nullptr);
  EXPECT_EQ(g_monitorStarts, 1);
  EXPECT_TRUE(moduleState().monitorStarted.load()) << "shutdown waits for the monitor's cycle";
  EXPECT_TRUE(moduleState().devicesAccepted.load());
  EXPECT_FALSE(moduleState().accepting.load());
  EXPECT_EQ(moduleState().deviceList.load(), list_.head());
}

TEST_F(AcceptanceTest, ItemsGoBehindOtherModulesItemsAndASecondCallChangesNothing) {
  DeviceRecord* shared = device("shared");
  list_.hangItem(shared, "Test0000000000000001");
  device("plain");
  ASSERT_EQ(acceptDevices(list_.head()), 0);
  ASSERT_EQ(testing::DeviceList::unitCount(shared), 2);
  EXPECT_STREQ(shared->units->name, "Test0000000000000001");
  EXPECT_STREQ(shared->units->next->name, "Brivo20000004CF8A1B2C");

  fake_->clearSent();
  ASSERT_EQ(acceptDevices(list_.head()), 0);
  EXPECT_EQ(testing::DeviceList::unitCount(shared), 2);
  EXPECT_TRUE(fake_->sent().empty()) << "devices already taken are not read again";
  EXPECT_EQ(g_monitorStarts, 1);

  // A new device on a list that had been seen is taken, but the monitor is not started again.
  device("late");
  ASSERT_EQ(acceptDevices(list_.head()), 0);
  EXPECT_EQ(testing::DeviceList::unitCount(list_.head()->next->next), 1);
  EXPECT_EQ(g_monitorStarts, 1);
}

TEST_F(AcceptanceTest, NothingTakenStartsNoMonitor) {
  device("unknown", "BRIVO OTHER");
  ASSERT_EQ(acceptDevices(list_.head()), 0);
  EXPECT_EQ(g_monitorStarts, 0);
  EXPECT_FALSE(moduleState().monitorStarted.load());
  EXPECT_TRUE(moduleState().devicesAccepted.load());
}

}  // namespace
}  // namespace brivo
