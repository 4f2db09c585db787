// The RAID module's monitor, controller and array templates rendered through the front end's own
// reply context with replies of the real page methods (a pair kept in memory): each template
// renders, every name it asks for comes with some reply, values are escaped, and the polling and
// progress markers the pages' script reads are there.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "modules/brivo/method_table.h"
#include "modules/brivo/pages/monitor_test_support.h"
#include "modules/brivo/pages/page_methods.h"
#include "tests/template_render.h"

namespace brivo {
namespace {

namespace fs = std::filesystem;
using testing::kOtherPair;
using testing::requestFor;

constexpr char kHostile[] = "<script>x</script>";

fs::path sourceRoot() {
  const char* root = std::getenv("KESTROVA_SOURCE_DIR");
  return root != nullptr ? fs::path(root) : fs::path();
}

// The partials ({{> name}}) a template names, beside it.
std::vector<fs::path> partialsOf(const fs::path& file) {
  static const std::regex partial(R"(\{\{>\s*([^}\s]+)\s*\}\})");
  const std::string text = templates::readText(file);
  std::vector<fs::path> files;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), partial); it != std::sregex_iterator();
       ++it) {
    files.push_back(file.parent_path() / (*it)[1].str());
  }
  return files;
}

// The template text with its partials put in.
std::string withPartials(const fs::path& file) {
  std::string text = templates::readText(file);
  static const std::regex partial(R"(\{\{>\s*([^}\s]+)\s*\}\})");
  std::smatch m;
  while (std::regex_search(text, m, partial)) {
    text = m.prefix().str() + templates::readText(file.parent_path() / m[1].str()) + m.suffix().str();
  }
  return text;
}

class BrivoTemplates : public testing::MonitorPageTest {
 protected:
  BrivoTemplates() {
    addArray(0, kRaid5, 0, 3);
    ArrayRecord& rebuilding = addArray(1, kRaid1, 3, 2);
    rebuilding.faultStatus = kFaultRebuilding;
    rebuilding.jobKind = kJobRebuild;
    pair_.info.rebuildValid = kOn;
    pair_.info.rebuildArray = 1;
    pair_.info.rebuildPercent = 30;
    for (int n = 5; n < 8; ++n) addDiskDrive(n);
    pair_.drives.entries[6].flags = kDriveFlagPredicted;
    pair_.drives.entries[7].loop1Id = kNotOnLoop;
    LogicalDriveRecord& drive = pair_.addDrive(0, 4);
    drive.segmentCount = 1;
    std::memcpy(drive.name, kHostile, sizeof(kHostile) - 1);
    pair_.addDrive(1, kLunNone).segmentCount = 1;
    pair_.info.controllers[0].snapshotGeneration = 2;
    pair_.areas.areas[1] =
        SnapshotArea{kOn, kSnapSnapback | kSnapPresent, 1, 2, 1, 10, 40, 80, 55, 0, 0, 7, {}};
    pair_.topology.count = 2;
    pair_.topology.entries[0] = HostTopologyEntry{kTopologyHostPort, 0, 0, kOn, 3, 4, 1, 0, {1}, {2}, {}};
    pair_.topology.entries[1] = HostTopologyEntry{kTopologyInitiator, 0, 0, kOn, 5, 4, 1, 0, {3}, {4}, {}};
    std::memcpy(pair_.config->arrays[0].name, kHostile, sizeof(kHostile) - 1);
    pair_.config->arrays[0].cacheFlags |= kCacheFlushEnabled;
  }

  // Renders the reply's template and notes the names found.
  void render(const std::map<std::string, std::string>& reply, bool withTabs = false) {
    templates::Fields fields(reply.begin(), reply.end());
    if (withTabs) {  // the tab rows the router adds to the monitor page
      fields["Module"] = "1";
      fields["Module0ModuleName"] = "Brivo";
      fields["Module0ModuleImage"] = "/Brivo/images/tabActive.gif";
    }
    const fs::path file = templates::templateFile(sourceRoot(), fields["HTMLPath"]);
    ASSERT_TRUE(fs::is_regular_file(file)) << fields["HTMLPath"];
    const templates::Rendering page = templates::render(withPartials(file), fields, &found_[file]);
    ASSERT_TRUE(page.valid) << file << ": " << page.error;
    EXPECT_EQ(page.page.find("{{"), std::string::npos) << file;
    EXPECT_EQ(page.page.find(kHostile), std::string::npos) << file << " shows a value unescaped";
    pages_[file.filename().string()] += page.page;
  }

  // The method's reply as the module hands it out: decorated with the pair's capability and
  // identity keys (as dispatch does), which the module's menu shows.
  std::map<std::string, std::string> ask(VariableTable (*method)(VariableTable),
                                         std::initializer_list<std::pair<const char*, const char*>> keys = {},
                                         const char* pair = testing::kTestPair) {
    return run(
        [method](VariableTable request) {
          VariableTable reply = method(request);
          if (reply != nullptr) decorateReply(&reply);
          return reply;
        },
        requestFor(keys, pair));
  }

  std::map<fs::path, std::set<std::string>> found_;
  std::map<std::string, std::string> pages_;
};

TEST_F(BrivoTemplates, EveryPageRendersAndEveryNameComesWithAReply) {
  render(ask(getMainPageMethod));
  render(ask(getMonitorMethod, {}, nullptr), true);
  render(ask(getMonitorMethod, {{"StorageSolution", "2"}}, nullptr), true);  // past the end, shown in full
  addOtherPair(0x0A000005);
  render(ask(getMonitorMethod, {{"StorageSolution", "3"}}, nullptr), true);
  render(ask(getOverviewMethod, {}, nullptr), true);  // a pair another server monitors
  devices_.head()->next->units->modStatus = UNCLAIMED;
  render(ask(getMonitorMethod, {{"StorageSolution", "2"}}, nullptr), true);
  pair_.refusedReads.insert(kOpReadDriveList);
  render(ask(getMonitorMethod, {}, nullptr), true);
  pair_.refusedReads.clear();
  storeField(state_->failureCount, 3);
  render(ask(getMonitorMethod, {}, nullptr), true);
  storeField(state_->failureCount, 0);
  moduleState().devicesAccepted.store(false);
  render(ask(getMonitorMethod, {}, nullptr));
  moduleState().devicesAccepted.store(true);
  moduleState().deviceList.store(nullptr);
  render(ask(getMonitorMethod, {}, nullptr), true);
  moduleState().deviceList.store(devices_.head());
  const std::string percent = std::string("Percent_") + testing::kTestPair;
  render(ask(pingPageMethod, {{percent.c_str(), "1"}, {"SolutionNumber", "1"}}, nullptr));

  render(ask(getOverviewMethod, {}, nullptr), true);
  EnclosureEntry& enclosure = pair_.info.enclosures[0];
  std::memcpy(enclosure.wwn, testing::kEnclosureWwn, 8);
  testing::SesImage ses;
  ses.element(1, 0)[0] = 2;
  ses.element(3, 0)[2] = 60;
  testing::cacheEnclosurePages(state_, ses, 0);
  render(ask(getEnclosureInformationMethod, {{"EnclosureNumber", "0"}}));
  render(ask(getEnclosureInformationMethod, {{"EnclosureNumber", "9"}}));
  render(ask(getEnclosureInformationMethod, {}, "Brivo0000000000000099"));  // no such pair

  render(ask(getControllerInformationMethod));
  pair_.refusedReads.insert(kOpReadConfigHeader);
  render(ask(getControllerInformationMethod));
  pair_.refusedReads.insert(kOpReadControllerInfo);
  render(ask(getControllerInformationMethod));
  pair_.refusedReads.clear();

  // The snapshot page: a drive without area (with an internal drive free for one), a drive whose
  // snapshot snaps back, and the page of a failed read; the disk wizard with free drives and the
  // free space of an array.
  pair_.addDrive(3, kLunNone).availability = kAvailabilityInternal;
  render(ask(getSnapProgressInfoMethod));
  pair_.refusedReads.insert(kOpReadSnapshotAreasV2);
  render(ask(getSnapProgressInfoMethod));
  pair_.refusedReads.clear();
  pair_.config->logicalDrives[3].valid = 0;
  pair_.addFreeRegion(0, 0, 50);
  pair_.drives.entries[7].blocks *= 2;  // a lone drive of its size: a spare
  render(ask(diskConfigWizardMethod));

  render(ask(getCreateNewRankInformationMethod));
  const std::string wwn = testing::driveWwnText(5);
  render(ask(createNewRankMethod, {{"RaidLevel", "5"}, {"Drive0", wwn.c_str()}}));
  for (int n = 0; n < 10; ++n) pair_.drives.entries[n].usage = kUsageMember;
  render(ask(getCreateNewRankInformationMethod));  // nothing left to create from
  pair_.drives.entries[5].usage = kUsageFree;
  render(ask(getRankInformationMethod, {{"RankNumber", "0"}}));
  pair_.config->logicalDrives[0].valid = 0;
  pair_.config->logicalDrives[1].valid = 0;
  pair_.config->arrays[1].jobKind = kJobNone;
  render(ask(getRankInformationMethod, {{"RankNumber", "1"}}));

  // A page's own names must come with its replies; a shared part's with the replies of some page
  // that shows it.
  std::map<fs::path, std::set<std::string>> partFound;
  for (const auto& [file, names] : found_) {
    for (const std::string& name : templates::tagNames(templates::readText(file))) {
      EXPECT_TRUE(names.count(name) != 0) << file.filename() << ": no reply gives \"" << name << "\"";
    }
    for (const fs::path& part : partialsOf(file)) partFound[part].insert(names.begin(), names.end());
  }
  for (const auto& [part, names] : partFound) {
    for (const std::string& name : templates::tagNames(templates::readText(part))) {
      EXPECT_TRUE(names.count(name) != 0) << part.filename() << ": no reply gives \"" << name << "\"";
    }
  }
  for (const char* name : {"main.htm", "main_cont_fail.htm", "main_no_solution.htm",
                           "waiting_for_devices.htm", "mainframe.htm", "mainping.htm", "controller_info.html",
                           "create_array.htm", "rank_info.htm", "snapshots.htm", "disk_wizard.htm", "overview.htm",
                           "enclosure.htm"}) {
    EXPECT_EQ(pages_.count(name), 1u) << name << " was never rendered";
  }
  const std::string& main = pages_["main.htm"];
  EXPECT_NE(main.find("name=\"Percent_" + std::string(testing::kTestPair) + "\" value=\"1\""),
            std::string::npos);
  EXPECT_NE(main.find("data-array=\"1\" data-percent=\"30\""), std::string::npos);
  EXPECT_NE(main.find("&lt;script&gt;"), std::string::npos);
  const std::string& ping = pages_["mainping.htm"];
  EXPECT_NE(ping.find("data-percent-array=\"1\" data-percent=\"30\""), std::string::npos) << ping;
  EXPECT_NE(ping.find("data-snapback-lun=\"7\" data-percent=\"55\""), std::string::npos) << ping;
  EXPECT_NE(pages_["main_cont_fail.htm"].find("The server at 10.0.0.5 monitors this controller pair."),
            std::string::npos);
  EXPECT_NE(pages_["main_cont_fail.htm"].find("Solution 3 does not exist."), std::string::npos);
  EXPECT_NE(pages_["rank_info.htm"].find("name=\"Drive0\" value=\"" + wwn + "\""), std::string::npos);
  const std::string& snapshots = pages_["snapshots.htm"];
  EXPECT_NE(snapshots.find("data-refresh=\"5\""), std::string::npos) << "a snapback runs";
  EXPECT_NE(snapshots.find("<span class=\"progress\" data-percent=\"55\">"), std::string::npos) << snapshots;
  EXPECT_NE(snapshots.find("name=\"OdaLogicalDriveIndex\"><option value=\"3\">"), std::string::npos)
      << snapshots;
  EXPECT_NE(pages_["disk_wizard.htm"].find("name=\"Array0Drives\""), std::string::npos);
  EXPECT_NE(pages_["disk_wizard.htm"].find("name=\"Region0Array\" value=\"0\""), std::string::npos);
  // Every page of the module carries the module's menu with its pair's name beside the WWN.
  for (const char* name : {"main.htm", "controller_info.html", "create_array.htm", "rank_info.htm", "enclosure.htm"}) {
    const std::string& text = pages_[name];
    EXPECT_NE(text.find("class=\"module-menu\""), std::string::npos) << name;
    EXPECT_NE(text.find("method=GetControllerParams&amp;ModDeviceName="), std::string::npos) << name;
    EXPECT_NE(text.find("method=GetHostPortTopologies&amp;ModDeviceName="), std::string::npos) << name;
    EXPECT_NE(text.find("alpha <span class=\"mono\">20000004CF8A1B2C</span>"), std::string::npos) << name;
  }
  EXPECT_NE(pages_["overview.htm"].find("id=\"global-status\""), std::string::npos);
  EXPECT_NE(pages_["enclosure.htm"].find("data-element=\"power-supply-1\""), std::string::npos);
  EXPECT_NE(pages_["enclosure.htm"].find("data-element=\"esi-2\""), std::string::npos);
}

}  // namespace
}  // namespace brivo
