// Test helper of the network tests: a device list of their own (records with named units,
// malloc'ed like a module's), freed at the end of the test.
//
// Thread safety: built and freed by the test's thread; the network code reads and changes the
// units under the device-claim lock, and the test reads them under the same lock (status()).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "common/device_list.h"

class ClaimTestList {
 public:
  // One record per group of unit names; every unit starts UNCLAIMED.
  ClaimTestList(std::initializer_list<std::vector<std::string>> records) {
    DeviceRecord** tail = &head_;
    for (const auto& names : records) {
      DeviceRecord* record = static_cast<DeviceRecord*>(std::calloc(1, sizeof(DeviceRecord)));
      record->valid = DEVICE_RECORD_VALID;
      ModDeviceItem** unitTail = &record->units;
      for (const std::string& name : names) {
        ModDeviceItem* unit = static_cast<ModDeviceItem*>(std::calloc(1, sizeof(ModDeviceItem)));
        unit->modStatus = UNCLAIMED;
        std::snprintf(unit->name, sizeof(unit->name), "%s", name.c_str());
        *unitTail = unit;
        unitTail = &unit->next;
      }
      *tail = record;
      tail = &record->next;
    }
  }
  ~ClaimTestList() {
    while (head_ != nullptr) {
      DeviceRecord* next = head_->next;
      for (ModDeviceItem* unit = head_->units; unit != nullptr;) {
        ModDeviceItem* following = unit->next;
        std::free(unit);
        unit = following;
      }
      std::free(head_);
      head_ = next;
    }
  }
  ClaimTestList(const ClaimTestList&) = delete;
  ClaimTestList& operator=(const ClaimTestList&) = delete;

  DeviceRecord* head() { return head_; }

  // The unit called name. REQUIRES: the unit exists (a failure is added otherwise).
  ModDeviceItem& unit(const std::string& name) {
    for (DeviceRecord* r = head_; r != nullptr; r = r->next) {
      for (ModDeviceItem* u = r->units; u != nullptr; u = u->next) {
        if (name == u->name) return *u;
      }
    }
    ADD_FAILURE() << "no unit " << name;
    static ModDeviceItem none{};
    return none;
  }
  void set(const std::string& name, int32_t status, uint32_t owner = 0) {
    unit(name).modStatus = status;
    unit(name).ownerAddress = owner;
  }

 private:
  DeviceRecord* head_ = nullptr;
};
