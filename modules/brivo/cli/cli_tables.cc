// The command tables: objects, commands, modifiers and their help texts; see cli_tables.h.
//
// The help texts are what users read in "qcli help <object> <command>": each says what the
// value means, its range or values and the default.
//
// Thread safety: constant data.
#include "modules/brivo/cli/cli_tables.h"

#include "modules/brivo/cli/cli_handlers.h"

namespace brivo::cli {

namespace {

constexpr ModifierEntry value(const char* name, ModifierId id, int group, const char* argument,
                              const char* help) {
  return ModifierEntry{name, nullptr, argument, help, group, kKindValue, id};
}
constexpr ModifierEntry list(const char* name, ModifierId id, int group, const char* argument,
                             const char* help) {
  return ModifierEntry{name, nullptr, argument, help, group, kKindList, id};
}
constexpr ModifierEntry flag(const char* name, ModifierId id, int group, const char* help) {
  return ModifierEntry{name, nullptr, nullptr, help, group, kKindFlag, id};
}

constexpr int O = kGroupOptional;
constexpr int O1 = kGroupOptionalSet;
constexpr int R = kGroupRequired;
constexpr int R1 = kGroupRequiredSet;

// ---- texts shared by several commands ----

constexpr const char kArrayIdHelp[] = "Name or index of an Array.";
constexpr const char kControllerIdHelp[] = "The Controller ID, either 0, 1 or all. Default is all.";
constexpr const char kBlinkHelp[] = "Length of time to blink the LEDs. Range is 1-255.";
constexpr const char kReadCacheHelp[] =
    "Read Ahead Cache reservation tuning. Values are auto, disabled, 256, 512, 1024, 2048. All numbers are "
    "KB. Default is auto.";
constexpr const char kWriteCacheHelp[] =
    "Write Back Cache reservation tuning. Values are disabled, 1,2,4,...,256 and max. All numbers are MB. "
    "Default is 16.";
constexpr const char kMirrorHelp[] =
    "Write Back Cache mirroring: cached writes are copied to the partner controller, so that they survive "
    "the failure of one controller. Values are on and off. Default is on.";
constexpr const char kUpsHelp[] =
    "Write Back Cache stays enabled while the host power is protected by a UPS only. Values are on and "
    "off. Default is off.";
constexpr const char kBatteryHelp[] =
    "Write Back Cache stays enabled while the cache battery is charging or low. Values are on and off. "
    "Default is off.";
constexpr const char kPortsHelp[] =
    "Host ports on which hosts see the Logical Drive, separated by blanks. Values are all, c0p0, c0p1, "
    "c1p0, c1p1, none.";
constexpr const char kLunHelp[] =
    "Host LUN number under which hosts see the Logical Drive. Range is 0-511. Default is the lowest free "
    "number.";
constexpr const char kNewLunHelp[] =
    "New host LUN number of the Logical Drive. Range is 0-511, or none to take the number away.";
constexpr const char kLogicalIdHelp[] = "Index of a Logical Drive, as logical display shows it.";
constexpr const char kLogicalIdsHelp[] =
    "Indexes of Logical Drives, separated by blanks. Default is every Logical Drive.";
constexpr const char kHbaHelp[] =
    "Index of a detected HBA (host port of a host), as mapping display lists it.";
constexpr const char kMapIndexHelp[] =
    "Index of an existing mapping as mapping display lists it, or the host port's WWNN-WWPN.";

constexpr ModifierEntry kConfirm =
    flag("-q", kModConfirm, kGroupConfirm, "Suppresses the confirmation question.");
constexpr ModifierEntry kSendFile = value("--sfile", kModSendFile, kGroupRequiredGlobal, "sndfile",
                                          "Name of the file on the client computer that is sent with the "
                                          "command. A client option: qcli uploads the file.");
constexpr ModifierEntry kReceiveFile = value("--rfile", kModReceiveFile, kGroupRequiredGlobal, "rcvfile",
                                             "Name of the file on the client computer that receives the "
                                             "result. A client option: qcli writes the file.");
constexpr ModifierEntry kControllerId = value("-ci", kModControllerId, O, "controllerId", kControllerIdHelp);
constexpr ModifierEntry kRequiredArrayId = value("-ai", kModArrayId, R, "arrayId", kArrayIdHelp);
constexpr ModifierEntry kBlinkTime = value("-t", kModTime, R, "secs", kBlinkHelp);
constexpr ModifierEntry kReadCache = value("-rc", kModReadCache, O, "size", kReadCacheHelp);
constexpr ModifierEntry kWriteCache = value("-wc", kModWriteCache, O, "size", kWriteCacheHelp);
constexpr ModifierEntry kWriteCache1 = value("-wc1", kModWriteCache1, O, "state", kMirrorHelp);
constexpr ModifierEntry kWriteCache2 = value("-wc2", kModWriteCache2, O, "state", kUpsHelp);
constexpr ModifierEntry kWriteCache3 = value("-wc3", kModWriteCache3, O, "state", kBatteryHelp);
constexpr ModifierEntry kSummary = flag("-sum", kModSummary, O, "Summary display: one line per item.");

// ---- array ----

constexpr ModifierEntry kArrayCheck[] = {
    kRequiredArrayId,
    value(
        "-m", kModMode, R, "mode",
        "Mode, 1=Verify Parity Only, 2=Rewrite Parity Only, 3=Verify and Rewrite Parity. Default is mode 1."),
    kConfirm,
};
constexpr ModifierEntry kArrayCreate[] = {
    value("-n", kModName, R, "name", "Name of the new Array, up to 32 characters."),
    list("-di", kModDiskId, R, "diskIds",
         "Indexes of the unused disks that make up the Array, separated by blanks, as drive display shows "
         "them. At most 16 disks."),
    value("-r", kModRaidLevel, R, "raidLevel", "RAID level: 0, 1, 3, 5, 10, 50."),
    value("-sub", kModSubArrays, O, "subArrays",
          "Number of sub-arrays of a RAID 50 Array; each holds one parity disk and the disks are divided "
          "evenly among them. Default is 2."),
    value("-ss", kModStripeSize, O, "stripeSize",
          "Stripe Size (Chunk Size), 64, 128, 256. All numbers are KB. Default is 64."),
    flag("-tr", kModTransferRate, O,
         "Trusted creation: the Array is not initialized and is ready at once. Use only with new disks; "
         "the parity is not valid until a parity check rewrites it."),
    value("-b", kModBackoff, O, "percent",
          "Backoff percent. Truncates disk space to facilitate sparing. Range is 0-99. Default is 1."),
    kReadCache,
    kWriteCache,
    kWriteCache1,
    kWriteCache2,
    kWriteCache3,
    kConfirm,
};
constexpr ModifierEntry kArrayDelete[] = {kRequiredArrayId, kConfirm};
constexpr ModifierEntry kArrayDisplay[] = {
    value("-ai", kModArrayId, O, "arrayId", "Name or index of an Array. Default is every Array."),
    flag("-exp", kModExpanded, O, "Expanded display: adds the member disks and the free and used regions."),
    kSummary,
};
constexpr ModifierEntry kArrayExpand[] = {
    kRequiredArrayId,
    list("-di", kModDiskId, R, "diskIds", "Indexes of the unused disks to add, separated by blanks."),
    value("-sub", kModSubArrays, O, "subArrays",
          "Number of sub-arrays of a RAID 50 Array after the expansion."),
    kConfirm,
};
constexpr ModifierEntry kArrayIdentify[] = {
    list("-ai", kModArrayId, O, "arrayIds",
         "Names or indexes of Arrays, separated by blanks. Default is every Array."),
    kBlinkTime,
};
constexpr ModifierEntry kArrayInitialize[] = {
    kRequiredArrayId,
    flag("-pause", kModPause, O, "Pauses the initialization that runs on the Array."),
    flag("-unpause", kModUnpause, O, "Continues the paused initialization of the Array."),
    kConfirm,
};
constexpr ModifierEntry kArrayRebuild[] = {
    kRequiredArrayId,
    value("-di", kModDiskId, R, "diskId", "Index of the disk that takes the place of the failed disk."),
    value("-fdi", kModFailedDiskId, O, "failedDiskId",
          "Index of the failed disk to rebuild. Default is the first failed disk of the Array."),
};
constexpr ModifierEntry kArraySet[] = {
    kRequiredArrayId, value("-n", kModName, O, "name", "New name of the Array, up to 32 characters."),
    kReadCache,       kWriteCache,
    kWriteCache1,     kWriteCache2,
    kWriteCache3,     kConfirm,
};

constexpr CommandEntry kArrayCommands[] = {
    {"check", "chk", arrayCheck, kArrayCheck,
     "Checks the parity of a redundant Array and, as the mode asks, rewrites it. The check runs in the "
     "background as a job (see jobs display)."},
    {"create", "cre", arrayCreate, kArrayCreate,
     "Creates an Array of unused disks at a RAID level. The Array is initialized in the background (see "
     "jobs display) unless -tr is given; Logical Drives can be created on it at once."},
    {"delete", "del", arrayDelete, kArrayDelete,
     "Deletes an Array. Its Logical Drives must be deleted first. The data on the Array is lost."},
    {"display", "d", arrayDisplay, kArrayDisplay,
     "Displays the Arrays: one block per Array, or one line per Array with -sum. Labels that end in an "
     "asterisk can be changed with array set."},
    {"expand", "exp", arrayExpand, kArrayExpand,
     "Adds unused disks to an Array. The expansion runs in the background as a job; the new space becomes "
     "free space of the Array."},
    {"identify", "id", arrayIdentify, kArrayIdentify,
     "Blinks the LEDs of the disks of Arrays so that they can be found in the enclosures."},
    {"initialize", "init", arrayInitialize, kArrayInitialize,
     "Initializes an Array: its parity is written anew and the data on it is lost. With -pause or -unpause "
     "it holds or continues an initialization that runs."},
    {"rebuild", "reb", arrayRebuild, kArrayRebuild,
     "Rebuilds the data of a failed disk of an Array onto another disk. The rebuild runs in the background "
     "as a job."},
    {"set", "s", arraySet, kArraySet, "Changes the name and the cache settings of an Array."},
};

// ---- clock ----

constexpr ModifierEntry kClockDisplay[] = {kControllerId};
constexpr ModifierEntry kClockSet[] = {
    kControllerId,
    value("-t", kModTime, R, "datetime",
          "Date and time in the form yyyymmddHHMMSS (year, month, day, hours 00-23, minutes, seconds), for "
          "example 20240131235900."),
};
constexpr CommandEntry kClockCommands[] = {
    {"display", "d", clockDisplay, kClockDisplay, "Displays the date and time of the controllers' clocks."},
    {"set", "s", clockSet, kClockSet,
     "Sets the controllers' clocks. Controller events carry the time of these clocks."},
};

// ---- config ----

constexpr ModifierEntry kConfirmOnly[] = {kConfirm};
constexpr ModifierEntry kConfigRestore[] = {kSendFile, kConfirm};
constexpr ModifierEntry kConfigSave[] = {kReceiveFile};
constexpr ModifierEntry kConfigSet[] = {
    value("-n", kModName, O, "name", "Name of the configuration (the controller pair), up to 63 characters."),
    value("-cwwn", kModControllerWwn, O, "index",
          "Which of the controllers' WWNs the pair presents to the hosts as its node name. Range is 0-3."),
    value("-diffnn", kModDiffNodeName, O, "state",
          "Different node names: every host port presents a node name of its own. Values are enabled and "
          "disabled."),
    value("-clun", kModControllerLun, O, "lun",
          "Controller LUN, under which hosts see the controllers themselves. Range is 0-511/disable/enable."),
    value("-as", kModAutoSpare, O, "state",
          "Auto Spare: a new disk becomes a global hotspare by itself. Values are enabled and disabled."),
    value(
        "-ar", kModAutoRebuild, O, "state",
        "Auto Rebuild: an Array with a failed disk is rebuilt onto a replacement disk by itself. Values are "
        "enabled and disabled."),
    value("-sc", kModSingleCtlr, O, "state",
          "Single Controller mode: the pair runs with one controller. Values are enabled and disabled."),
    value("-bgverify", kModBgVerify, O, "state",
          "Background verification of the parity of the Arrays. Values are enabled and disabled."),
    value("-adfw", kModAutoDriveFw, O, "state",
          "Automatic disk firmware update: new disks get the firmware revision of their kind. Values are "
          "enabled and disabled."),
    value("-es", kModEnclosureSup, O, "state",
          "Enclosure support: the controllers watch the enclosures through SES. Values are enabled and "
          "disabled."),
    value("-ip", kModInitPriority, O, "percent",
          "Initialization priority: the share of the controllers' work given to initializations. Range is "
          "10 to 90."),
    value("-rp", kModRebuildPriority, O, "percent",
          "Rebuild priority: the share of the controllers' work given to rebuilds. Range is 10 to 90."),
    list("-hpid", kModHostPortId, O, "portIds",
         "Loop ID of host ports, one value per port, separated by blanks: c{0-1}p{0-1}:soft/0-127"),
    list("-hprate", kModHostPortRate, O, "portRates",
         "Link rate of host ports in Gbit/s, one value per port: c{0-1}p{0-1}:auto/1/2/4"),
    list("-hpconn", kModHostPortConn, O, "portConnections",
         "Connection type of host ports, point to point or loop, one value per port: "
         "c{0-1}p{0-1}:auto/ptp/loop"),
    list("-hppack", kModHostPortPack, O, "portPacking",
         "Frame packing of host ports, one value per port: c{0-1}p{0-1}:true/false. Controllers that "
         "cannot change it refuse the setting and nothing is sent."),
    kConfirm,
};
constexpr CommandEntry kConfigCommands[] = {
    {"delete", "del", configDelete, kConfirmOnly,
     "Deletes the whole configuration of the controller pair: every Array, Logical Drive and mapping. The "
     "data on the disks can no longer be reached."},
    {"display",
     "d",
     configDisplay,
     {},
     "Displays the configuration settings of the controller pair. Labels that end in an asterisk can be "
     "changed with config set."},
    {"restore", "rest", configRestore, kConfigRestore,
     "Restores a configuration that config save stored: qcli sends the file named with --sfile and the "
     "controllers take its Arrays, Logical Drives and settings."},
    {"save", "sav", configSave, kConfigSave,
     "Saves the configuration of the controller pair into the file named with --rfile on the client "
     "computer, for a later config restore."},
    {"set", "s", configSet, kConfigSet,
     "Changes configuration settings of the controller pair. Some settings take effect only after a "
     "controller reset."},
};

// ---- controller ----

constexpr ModifierEntry kControllerDisplay[] = {
    kControllerId,
    flag("-diag", kModDiagnostics, O, "Adds the controllers' diagnostic information."),
};
constexpr ModifierEntry kControllerAction[] = {kControllerId, kConfirm};
constexpr ModifierEntry kControllerUpgrade[] = {kSendFile, kConfirm};
constexpr CommandEntry kControllerCommands[] = {
    {"display", "d", controllerDisplay, kControllerDisplay,
     "Displays the controllers: state, firmware, memory, battery, temperatures and host ports."},
    {"reset", "rst", controllerReset, kControllerAction,
     "Resets controllers. Hosts cannot reach the Logical Drives until the controllers are up again, which "
     "takes a few minutes."},
    {"shutdown", "shut", controllerShutdown, kControllerAction,
     "Shuts controllers down after writing their caches to the disks. Recovery requires a power cycle."},
    {"upgrade", "upg", controllerUpgrade, kControllerUpgrade,
     "Upgrades the firmware of both controllers with the file named with --sfile. The controllers restart "
     "with the new firmware."},
};

// ---- drive ----

constexpr ModifierEntry kDriveDisplay[] = {
    list("-di", kModDiskId, O, "diskIds", "Indexes of disks, separated by blanks. Default is every disk."),
    flag("-spares", kModSpares, O, "Shows only the hotspare disks."),
    flag("-failed", kModFailed, O, "Shows only the failed disks."),
    flag("-unused", kModUnused, O, "Shows only the disks that belong to no Array and are no hotspares."),
    kSummary,
};
constexpr ModifierEntry kDriveIdentify[] = {
    list("-di", kModDiskId, O, "diskIds", "Indexes of disks, separated by blanks. Default is every disk."),
    kBlinkTime,
};
constexpr ModifierEntry kDriveSet[] = {
    list("-di", kModDiskId, R, "diskIds", "Indexes of the disks to change, separated by blanks."),
    value("-state", kModState, R, "state",
          "Make each disk a 1) Global Hotspare, 2) Free disk or 3) Dedicated Hotspare if state is an Array "
          "ID. Valid state values are hotspare, free and a number from 0 to 63."),
    kConfirm,
};
constexpr ModifierEntry kDriveUpgrade[] = {
    value("-di", kModDiskId, R1, "diskId", "Index of the one disk to upgrade."),
    flag("-all", kModAll, R1, "Upgrades every disk of the model that the file is for."),
    flag("-inactive", kModInactive, R1,
         "Upgrades the inactive disks (unused disks and hotspares) of the model that the file is for."),
    flag("-oldrev", kModOldRevision, R1,
         "Upgrades the disks of the model that the file is for whose firmware revision is older than the "
         "file's."),
    flag("-inactold", kModInactiveOld, R1,
         "Upgrades the inactive disks whose firmware revision is older than the file's."),
    kSendFile,
    kConfirm,
};
constexpr CommandEntry kDriveCommands[] = {
    {"display", "d", driveDisplay, kDriveDisplay,
     "Displays the physical disks: one block per disk, or one line per disk with -sum. -spares, -failed and "
     "-unused show only the disks in that state."},
    {"identify", "id", driveIdentify, kDriveIdentify,
     "Blinks the LEDs of disks so that they can be found in the enclosures."},
    {"set", "s", driveSet, kDriveSet,
     "Makes disks global hotspares, hotspares dedicated to one Array, or free disks."},
    {"upgrade", "upg", driveUpgrade, kDriveUpgrade,
     "Upgrades the firmware of disks with the file named with --sfile. Exactly one of -di, -all, -inactive, "
     "-oldrev and -inactold chooses the disks. The file names the disk model it is for; disks of another "
     "model are never upgraded, and a file that names no model is refused."},
};

// ---- enclosure ----

constexpr ModifierEntry kEnclosureDisplay[] = {
    list("-ei", kModEnclosureId, O, "enclosureIds",
         "Indexes of enclosures, separated by blanks. Default is every enclosure."),
};
constexpr ModifierEntry kEnclosureIdentify[] = {kEnclosureDisplay[0], kBlinkTime};
constexpr CommandEntry kEnclosureCommands[] = {
    {"display", "d", enclosureDisplay, kEnclosureDisplay,
     "Displays the enclosures with their disk slots, power supplies, fans and temperatures."},
    {"identify", "id", enclosureIdentify, kEnclosureIdentify,
     "Blinks the LEDs of enclosures so that they can be found."},
};

// ---- events ----

constexpr ModifierEntry kEventsDelete[] = {kControllerId, kConfirm};
constexpr ModifierEntry kEventsDisplay[] = {
    kControllerId,
    value("-last", kModLast, O, "count", "Number of newest events to show. Default is every event."),
    value("-status", kModStatus, O, "level",
          "Shows only the events of one level. Values are info, error and warning."),
};
constexpr ModifierEntry kEventsSave[] = {kReceiveFile, kControllerId};
constexpr CommandEntry kEventsCommands[] = {
    {"delete", "del", eventsDelete, kEventsDelete, "Deletes the event logs of the controllers."},
    {"display", "d", eventsDisplay, kEventsDisplay,
     "Displays the event logs of the controllers, newest first."},
    {"save", "sav", eventsSave, kEventsSave,
     "Saves the event logs of the controllers as comma separated values into the file named with --rfile "
     "on the client computer."},
};

// ---- jobs ----

constexpr ModifierEntry kJobsDelete[] = {
    value("-ji", kModJobId, R, "jobId", "ID of the job, as jobs display shows it."),
    kConfirm,
};
constexpr CommandEntry kJobsCommands[] = {
    {"delete", "del", jobsDelete, kJobsDelete,
     "Stops a long term operation. An Array whose initialization or rebuild is stopped is not redundant."},
    {"display",
     "d",
     jobsDisplay,
     {},
     "Displays the long term operations that run. Job IDs are 1xx for initializations, 2xx for rebuilds, "
     "3xx for parity checks and 4xx for expansions, xx being the array index."},
};

// ---- logical ----

constexpr ModifierEntry kLogicalCreate[] = {
    value("-ai", kModArrayId, R, "arrayId", "Name or index of the Array whose free space is used."),
    value("-sz", kModSize, R, "size",
          "Size of the Logical Drive in GB, or all for the whole free space of the Array."),
    value("-n", kModName, O, "name", "Name of the Logical Drive, up to 32 characters."),
    value("-lun", kModLun, O, "lun", kLunHelp),
    list("-p", kModPorts, O, "ports", kPortsHelp),
    kConfirm,
};
constexpr ModifierEntry kLogicalDelete[] = {
    list("-li", kModLogicalId, R, "logicalIds",
         "Indexes of the Logical Drives to delete, separated by blanks."),
    kConfirm,
};
constexpr ModifierEntry kLogicalDisplay[] = {
    list("-li", kModLogicalId, O, "logicalIds", kLogicalIdsHelp),
    flag("-exp", kModExpanded, O, "Expanded display: adds the regions and the host port mapping."),
    kSummary,
};
constexpr ModifierEntry kLogicalExpand[] = {
    value("-ai", kModArrayId, R, "arrayId", "Name or index of the Array whose free space is added."),
    value("-li", kModLogicalId, R, "logicalId", kLogicalIdHelp),
    value("-sz", kModSize, R, "size", "Space to add in GB, or all for the whole free space of the Array."),
    kConfirm,
};
constexpr ModifierEntry kLogicalIdentify[] = {
    list("-li", kModLogicalId, O, "logicalIds", kLogicalIdsHelp),
    kBlinkTime,
};
constexpr ModifierEntry kLogicalSet[] = {
    value("-li", kModLogicalId, R, "logicalId", kLogicalIdHelp),
    value("-n", kModName, O, "name", "New name of the Logical Drive, up to 32 characters."),
    list("-p", kModPorts, O, "ports", kPortsHelp),
    value("-lun", kModLun, O, "lun", kNewLunHelp),
    kConfirm,
};
constexpr CommandEntry kLogicalCommands[] = {
    {"create", "cre", logicalCreate, kLogicalCreate,
     "Creates a Logical Drive on the free space of an Array and offers it to the hosts on host ports."},
    {"delete", "del", logicalDelete, kLogicalDelete,
     "Deletes Logical Drives. The data on them is lost and hosts can no longer reach them."},
    {"display", "d", logicalDisplay, kLogicalDisplay,
     "Displays the Logical Drives: one block per drive, or one line per drive with -sum. Labels that end in "
     "an asterisk can be changed with logical set."},
    {"expand", "exp", logicalExpand, kLogicalExpand,
     "Adds free space of an Array to a Logical Drive. Hosts see the new size after they rescan the drive."},
    {"identify", "id", logicalIdentify, kLogicalIdentify,
     "Blinks the LEDs of the disks that hold Logical Drives so that they can be found."},
    {"set", "s", logicalSet, kLogicalSet,
     "Changes the name, the host ports or the host LUN number of a Logical Drive."},
};

// ---- mapping ----

constexpr ModifierEntry kMappingCreate[] = {
    value("-hba", kModHba, R1, "hbaIndex", kHbaHelp),
    value("-mi", kModMapIndex, R1, "mapIndex", kMapIndexHelp),
    value("-li", kModLogicalId, R, "logicalId", kLogicalIdHelp),
    value("-n", kModName, O, "name", "Name of the host port in the mapping, up to 32 characters."),
    value("-lun", kModLun, O, "lun",
          "LUN number under which this host sees the Logical Drive. Range is 0-511. Default is the drive's "
          "host LUN number."),
    list("-p", kModPorts, O, "ports",
         "Controller host ports through which this host sees the Logical Drive, separated by blanks. Values "
         "are all, c0p0, c0p1, c1p0, c1p1, none."),
    value("-pm", kModPermission, O, "permission", "Access permission. Values are rw or ro. Default is rw."),
    kConfirm,
};
constexpr ModifierEntry kMappingDelete[] = {
    value("-hba", kModHba, O1, "hbaIndex", kHbaHelp),
    value("-mi", kModMapIndex, O1, "mapIndex", kMapIndexHelp),
    value("-li", kModLogicalId, O, "logicalId",
          "Index of a Logical Drive: only its mappings are deleted. Default is every Logical Drive."),
    kConfirm,
};
constexpr ModifierEntry kMappingDisplay[] = {
    value("-hba", kModHba, O, "hbaIndex", kHbaHelp),
    value("-li", kModLogicalId, O, "logicalId", kLogicalIdHelp),
    value("-mi", kModMapIndex, O, "mapIndex", kMapIndexHelp),
    kSummary,
};
constexpr ModifierEntry kMappingSet[] = {
    value("-hba", kModHba, R1, "hbaIndex", kHbaHelp),
    value("-mi", kModMapIndex, R1, "mapIndex", kMapIndexHelp),
    value("-n", kModName, O, "name", "New name of the host port in the mapping, up to 32 characters."),
    value("-cl", kModClearLun, O, "lun", "LUN number whose mapping is removed from this host."),
    kConfirm,
};
constexpr CommandEntry kMappingCommands[] = {
    {"create", "cre", mappingCreate, kMappingCreate,
     "Maps a Logical Drive to one host port (an HBA): only the mapped hosts see the Logical Drive. Exactly "
     "one of -hba and -mi names the host port."},
    {"delete", "del", mappingDelete, kMappingDelete,
     "Deletes mappings: those of one host port (-hba or -mi), of one Logical Drive (-li), or every mapping "
     "when neither is given."},
    {"display", "d", mappingDisplay, kMappingDisplay,
     "Displays the host ports the controllers detect and the mappings of Logical Drives to them."},
    {"set", "s", mappingSet, kMappingSet, "Renames a host port of the mappings or removes one of its LUNs."},
};

// ---- server ----

constexpr ModifierEntry kServerSet[] = {
    value("-npw", kModNewPassword, R, "newPassword", "The new password of the server's web interface."),
    value("-opw", kModOldPassword, R, "oldPassword", "The current password of the server's web interface."),
    kConfirm,
};
constexpr CommandEntry kServerCommands[] = {
    {"display",
     "d",
     serverDisplay,
     {},
     "Displays the server that answers qcli: its host name, the Kestrova version and the operating system "
     "version."},
    {"rescan", "resc", serverRescan, kConfirmOnly,
     "Rescans the host's SCSI buses for controllers and disks. The server restarts to do so; wait at least "
     "one whole minute before the next command."},
    {"set", "s", serverSet, kServerSet,
     "Changes the password of the server's web interface, which qcli also uses. Change the password in the "
     "client's settings (--pass or the configuration file) too."},
};

// ---- statistics ----

constexpr ModifierEntry kStatisticsDisplay[] = {
    kControllerId,
    value("-pi", kModPortIndex, O, "portId", "Host port index, 0 or 1. Default is every port."),
    value("-li", kModLogicalId, O, "logicalId", "Index of a Logical Drive. Default is every Logical Drive."),
};
constexpr CommandEntry kStatisticsCommands[] = {
    {"delete", "del", statisticsDelete, kConfirmOnly,
     "Clears the performance statistics of the controllers."},
    {"display", "d", statisticsDisplay, kStatisticsDisplay,
     "Displays the performance statistics of the controllers, by host port and by Logical Drive."},
};

constexpr ObjectEntry kObjects[] = {
    {"array", "arr", "Provides access to arrays of physical disks.", kArrayCommands},
    {"clock", "clk", "Allows a controller's clock to be seen and adjusted.", kClockCommands},
    {"config", "cfig", "Provides controller configuration level access.", kConfigCommands},
    {"controller", "ctlr", "Provides controller level access.", kControllerCommands},
    {"drive", "disk", "Provides physical disk access.", kDriveCommands},
    {"enclosure", "enc", "Provides enclosure or solution level access.", kEnclosureCommands},
    {"events", "event", "Provides access to event logs.", kEventsCommands},
    {"help", "h", "Displays help for objects and their commands. Type help for basic help information.", {}},
    {"jobs", "job", "Provides access to long term operations.", kJobsCommands},
    {"logical", "log", "Provides access to logical drives. Pools must be created before Volumes.",
     kLogicalCommands},
    {"mapping", "map", "Provides access to host-port-lun mapping.", kMappingCommands},
    {"server", "svr", "Provides access to the Kestrova server that answers the commands.", kServerCommands},
    {"statistics", "stats", "Provides access to controller performance statistics.", kStatisticsCommands},
};

bool sameWord(const char* entry, const std::string& word) { return entry != nullptr && word == entry; }

}  // namespace

std::span<const ObjectEntry> objectTable() { return kObjects; }

const ObjectEntry* findObject(const std::string& word) {
  for (const ObjectEntry& object : kObjects) {
    if (sameWord(object.name, word) || sameWord(object.alias, word)) return &object;
  }
  return nullptr;
}

const CommandEntry* findCommand(const ObjectEntry& object, const std::string& word) {
  for (const CommandEntry& command : object.commands) {
    if (sameWord(command.name, word) || sameWord(command.alias, word)) return &command;
  }
  return nullptr;
}

const ModifierEntry* findModifier(const CommandEntry& command, const std::string& word) {
  for (const ModifierEntry& modifier : command.modifiers) {
    if (modifier.group == kGroupRequiredGlobal) continue;
    if (sameWord(modifier.name, word) || sameWord(modifier.alias, word)) return &modifier;
  }
  return nullptr;
}

const ModifierEntry* confirmationOf(const CommandEntry& command) {
  for (const ModifierEntry& modifier : command.modifiers) {
    if (modifier.group == kGroupConfirm) return &modifier;
  }
  return nullptr;
}

}  // namespace brivo::cli
