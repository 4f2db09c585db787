// Firmware images sent from a client (qcli's --sfile) or a browser (an upload through the front
// end): the checks made before anything reaches a controller, and the drive firmware load, which
// selects the drives (0xC6), sends the image (WRITE BUFFER mode 5, buffer kFirmwareDrive) and
// deselects them again when anything fails. Shared by `controller upgrade` / `drive upgrade` and
// the FlashController, FlashDiskIo and UploadDriveFirmware pages, so that both refuse the same
// files and choose the same drives.
//
// Which drives a drive image may go to: only good drives of the model the image names (product
// identification equal, vendor equal unless the image leaves it blank); an image that names no
// model goes to no drive.
//
// Thread safety: pure functions, except loadDriveFirmware, which talks to the pair (a request
// thread holding the admission gate as a writer).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modules/brivo/pair_access.h"
#include "modules/brivo/protocol.h"

namespace brivo {

inline constexpr size_t kMaxFirmwareImage = 16u * 1024 * 1024;

enum class FileRead { kOk, kMissing, kTooLong };
// Reads a whole file of at most limit bytes.
FileRead readWholeFile(const char* path, size_t limit, std::vector<uint8_t>* out);

// True when image is a firmware image: the magic, a length equal to the file's, a known part.
// *header receives its header.
bool checkFirmwareImage(const std::vector<uint8_t>& image, FirmwareImageHeader* header);

// The model a drive image names; false when it names none (too short or a blank product).
bool driveImageModel(const std::vector<uint8_t>& image, DriveFirmwareModel* model);
// Whether drive d is of the model.
bool driveOfModel(const DriveListEntry& d, const DriveFirmwareModel& model);

// How the drives for a drive image are chosen (qcli's -di, -all, -inactive, -oldrev, -inactold).
enum class DriveChoice { kOne, kAll, kInactive, kOldRevision, kInactiveOld };
enum class DriveChoiceError { kNone, kNamedUnusable, kNamedOtherModel, kNoModel, kNoMatch };
// The drive-list indexes the image goes to: with kOne only `named` (REQUIRES: a valid index).
// Inactive drives are those that belong to no array; "old" ones carry another revision than the
// image's (the low 16 bits of its level, as four hexadecimal digits).
DriveChoiceError chooseFirmwareDrives(const DriveList& drives, const FirmwareImageHeader& header,
                                      const std::vector<uint8_t>& image, DriveChoice choice, int named,
                                      std::vector<int>* out);

// Selects the drives, sends the image and returns the result; on a failure the drives already
// selected are deselected again (else they would take the next image anyone sends). failed
// receives the failing command.
int loadDriveFirmware(const PairTarget& pair, const DriveList& drives, const std::vector<int>& targets,
                      const std::vector<uint8_t>& image, ControllerCommand* failed);

}  // namespace brivo
