/* Baylink: the enclosure interface library (libbaylink.so). An enclosure-management module loads
 * it to reach SES enclosures and the drives behind them, MegaRAID drives (through storelib) and
 * the host's own network, name and clock settings.
 *
 * Devices are named as the device list file names them (see getSESDevices): "/dev/sgN" or
 * "/dev/sdX" nodes, "sim:<socket>:<h>:<b>:<t>:<l>" simulator devices and "\\MR<dev>-<ctrl>"
 * MegaRAID drives. A scan must have written that file before any other device call can find a
 * device (the file persists across processes).
 *
 * Results: integers are 0 on success, -1 for a bad argument or a failed system call, 1 when the
 * device is not found or does not open, otherwise the SCSI sense key (2-15) of the failing
 * command. Host-setting calls also return the codes 100-108 of BLNK_ERR_* below.
 *
 * Memory: every pointer returned points into a buffer owned by the library that the next call of
 * the same function overwrites. Copy what you keep; never free it. Port-indexed text getters
 * return BLNK_BAD_PORT (the pointer value -1) for a port index outside 0..getPortCount()-1.
 *
 * Thread safety: none. The library keeps process-wide state (the open device, the result
 * buffers, the debug counter, the port table) without locks; callers serialise every call. */
#ifndef BAYLINK_BAYLINK_H_
#define BAYLINK_BAYLINK_H_

#ifdef __cplusplus
extern "C" {
#endif
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

#define BLNK_BAD_PORT ((char*)-1)

/* Host-setting error codes. */
#define BLNK_ERR_SOCKET 100
#define BLNK_ERR_FILE_OPEN 101
#define BLNK_ERR_INTERFACE 102
#define BLNK_ERR_PIPE 103
#define BLNK_ERR_RENAME 104
#define BLNK_ERR_DISTRIBUTION 108

#define BLNK_PAGE_BYTES 5120
#define BLNK_VPD_BYTES 255
#define BLNK_DEVICE_LINE_BYTES 256
#define BLNK_DEVICE_LINES 320
#define BLNK_SYSTEM_DRIVE_BYTES 512
#define BLNK_SYSTEM_DRIVES 24

/* ---- Enclosures and drives ---- */

/* Scans every reachable device and returns BLNK_DEVICE_LINES entries of BLNK_DEVICE_LINE_BYTES,
 * each a NUL-terminated line "NAME^Serial:..^Part:..^Enc:..^Slot:..^SES:..^FWVer:..^size:..
 * ^vendor:..^SCSIID:0"; the first empty entry ends the table. Turns debugging on. */
char* getSESDevices(void);
/* BLNK_PAGE_BYTES bytes of the diagnostic page; all zero on failure. */
unsigned char* getSESPage(const char* device, unsigned char page);
/* Sends a whole page (its length field decides the length). Pages other than 4 get the
 * enclosure's current generation code in bytes 4-7. */
int setSESPage(const char* device, unsigned char* page);
/* Sends a command text to the enclosure's command-line interface (pages 0x84, 0x85; other
 * pages send nothing and return 0). */
int sendCLICommand(const char* device, unsigned char page, const char* command);
/* BLNK_PAGE_BYTES bytes of the CLI answer page; first byte 0 on failure. */
unsigned char* getCLIResponse(const char* device, unsigned char page);
/* BLNK_VPD_BYTES bytes of a vital product data page; zero on failure. */
unsigned char* getScsiVPDSense(const char* device, unsigned char page);
/* Sends a caller's CDB (at most 12 bytes) with BLNK_PAGE_BYTES of data in; returns that data. */
unsigned char* ReadBuffer(const char* device, unsigned char* cdb, int cdbLength);
/* Sends a caller's CDB (at most 12 bytes) with dataLength bytes of data out. */
int WriteBuffer(const char* device, unsigned char* cdb, int cdbLength, unsigned char* data, int dataLength);
/* Loads a firmware image into the enclosure services controllers; runs for minutes. */
int upgradeESIFirmware(const char* device, const char* firmwarePath);
/* BLNK_SYSTEM_DRIVES entries of BLNK_SYSTEM_DRIVE_BYTES: "Handle ..^Vendor ..^Product ..^Size ..
 * ^Serial ..^FW ..#" for MegaRAID disks outside any enclosure. */
char* getMegaRaidSystemDriveListing(void);

/* ---- Library ---- */

/* Appends a message to the debug file "blnkDebug.txt" (as ShowDebug). Returns 0. */
int addDebugToFile(const char* message);
/* "Baylink - v0.90 (1st September 2008)". */
char* getVersion(void);

/* ---- Host system ---- */

char* getSystemInfo(void);
char* getSysDrives(void);
char* getEncFirmware(void);
char* getPMCFirmware(void);
void fwdlPMC(void);
/* "MM-DD-YY"; keeps the time of day. 0, or -1. */
int setDate(const char* date);
/* "HH:MM:SS"; keeps the date. 0, or -1. */
int setTime(const char* time);
int getServerNameMaxLength(void);
char* getServerName(void);
int setServerName(const char* name);

/* ---- Network ports ---- */

int getPortCount(void);
int releasePortCount(void);
char* getIfName(int port);
char* getID(int port);
char* getType(int port);
char* getMac(int port);
char* getIP(int port);
char* getNetmask(int port);
char* getGateway(int port);
char* getPrimaryDNS(int port);
char* getSecondaryDNS(int port);
char* getTertiaryDNS(void);
/* Link speed in Mb/s (0 when unknown), -1 for a bad port. */
int getSpeed(int port);
char* getStatus(int port);
int getConnected(int port);
int getEnabled(int port);
int isDHCP(int port);
char* getDHCP(void);
char* getEthVersion(void);
int setIP(int port, const char* address);
int setNetmask(int port, const char* netmask);
/* "x.x.x.x" removes the gateway. */
int setGateway(int port, const char* gateway);
int setPrimaryDNS(int port, const char* address);
int setSecondaryDNS(int port, const char* address);
int setTertiaryDNS(void);
int setDHCP(int port);
int enablePort(int port);
int disablePort(int port);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif
#ifdef __cplusplus
}
#endif

#endif /* BAYLINK_BAYLINK_H_ */
