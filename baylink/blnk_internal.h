// The library's internal functions that the Linux build also exports (debug file, dumps, byte
// order, delays, text helpers, and the SCSI layer). Callers outside the library rely only on
// baylink.h; these stay visible for the tools that have always used them.
//
// Thread safety: none; like every Baylink call, callers serialise them.
#pragma once

#include <cstdint>

extern "C" {
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

// 0 off, 1 messages, 2 messages and hex dumps. 0 at load; the scan sets 1.
extern int iDebugMode;

// ---- Debug file ----
// Appends message to "blnkDebug.txt" in 75-character pieces, each "D: <time> : <piece>". Writes
// whatever iDebugMode says; callers gate their own lines. Returns 0.
int ShowDebug(const char* message);
// Truncates the debug file and writes the reset header with the version text.
void ResetDebug(void);
// Size of the debug file in bytes, 0 when it cannot be opened.
long getDebugFileSize(void);
// Local time as "%Y-%m-%d %H:%M:%S" in a library buffer.
char* timeStamp(void);

// ---- Hex dumps: lines of 16 bytes, "%04x: ", 16 x "%02X ", three blanks, the characters ----
// Standard output; returns the number of lines.
int ASCIIHexDump(const unsigned char* data, int length);
// Standard output, only when iDebugMode is 2; returns the number of lines (0 when silent).
int ASCIIHexDebugDump(const unsigned char* data, int length);
// The debug file, preceded by an empty line; returns the number of lines.
int ASCIIHexDebugDumpToPrintF(const unsigned char* data, int length);

// ---- Byte order (unaligned reads) ----
uint16_t BytesToU16(const unsigned char* bytes);
uint16_t BytesToU16LM(const unsigned char* bytes);
uint32_t BytesToU32(const unsigned char* bytes);
uint32_t BytesToU32LM(const unsigned char* bytes);
uint64_t BytesToU64(const unsigned char* bytes);
uint64_t BytesToU64LM(const unsigned char* bytes);

// ---- Text ----
char* uppercase(char* text);
char* lowercase(char* text);
// Hexadecimal text (optional "0x") to an integer; stops at the first other character.
int axtoi(const char* text);
// Name of a peripheral device type (low 5 bits), followed by two blanks.
const char* DecodeDevType(int type);

// ---- Delays ----
void CMD_Sleep(int seconds);
void CMD_Sleep_mSecs(int milliseconds);

// ---- SCSI layer ----
// 1 opened, 0 failed. "\\MR..." names are only remembered.
int SCSI_OpenDevice(const char* name);
void SCSI_CloseDevice(void);
// direction 1 data in (buffer cleared first), 2 data out, 3 none. 0 success, 1-15 sense key,
// -1 the transport failed. sense (may be null) receives 16 bytes.
int SCSI_ExecuteCommand(int direction, unsigned char* cdb, int cdbLength, unsigned char* buffer,
                        int bufferLength, unsigned char* sense);
// Finds name in the device list file and opens it; with sesOnly only an SES device counts.
// 0 success, 1 failure.
int OpenDevForCommunication(const char* name, int sesOnly);
int ScsiInquiry(unsigned char* buffer);  // 255 bytes
int ScsiVPDSense(int page, unsigned char* buffer, int length, unsigned char* sense);
// Capacity in bytes into *result; untouched on failure.
int SCSIReadCap(unsigned long long* result);
// 1 when (bus, target, lun) was seen before or the type is not tracked; else records it, 0.
int WeHaveFoundITLAlready(int bus, int target, int lun, int type);
int iReadSESFromDrive(unsigned char page, unsigned char* buffer, int length);
int iWriteSESToDrive(unsigned char* page, int length);

// ---- MegaRAID ----
int initMegaRaidCard(void);
void getMegaRaidDriveListing(const char* listFile);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif
}
