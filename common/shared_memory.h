// Named shared memory: the sections through which the server and its web front ends exchange
// slot states, requests and replies. A section is named by a number; the platform turns it into
// its own object name ("/<prefix><number>" under POSIX, the prefix taken from the environment
// variable KESTROVA_SHM_PREFIX, default "kestrova.", so that tests and several servers on one
// host never meet). Sections are mode 0660, never world-writable; KESTROVA_SHM_GROUP names the
// group that may use them (default: the creator's group).
//
// Another local user can create an object under a name before the server or a front end does.
// Such an object is never used: opening refuses an object that grants others any access or
// belongs to another user outside the shared groups (the platform's trust rule), and whoever
// finds a name taken goes on under a private name instead, "<number>.<24 hexadecimal digits>"
// drawn at random, which it tells the other side through the status area (cgi_protocol.h).
//
// Used by the server's CGI communicator and by the front end's side library (cgi_client.h).
//
// Thread safety: the functions keep no shared state; one record belongs to one owner at a time.
// The bytes of a mapped view are shared with other processes: callers synchronise on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// One mapped section.
struct SharedMemoryRecord {
  int handle;     // the section's descriptor
  void* view;     // mapped view address; null for a section of size 0
  size_t size;    // size of the section (and of the view)
  uint32_t name;  // numeric name
  int owner;      // 1 when created here: closing it removes the name
};

// Creates section `name` with `size` bytes (zero-filled) and maps it for reading and writing.
// A name that exists already is a failure. Returns 0 and a new record in *record, or 1 (and
// *record null). Caller closes the record with closeSharedMemory.
[[nodiscard]] int createSharedMemory(size_t size, SharedMemoryRecord** record, uint32_t name);
// Maps the existing section `name` with its real size, for reading and writing. Returns 0 and a
// new record in *record, or 1 (and *record null; also for an object that is not trusted). Caller
// closes the record.
[[nodiscard]] int openSharedMemory(SharedMemoryRecord** record, uint32_t name);

// The same by the text of a section name: "<number>" or a private name (isSectionNameOf).
[[nodiscard]] int createSharedMemoryNamed(size_t size, SharedMemoryRecord** record, const std::string& name);
[[nodiscard]] int openSharedMemoryNamed(SharedMemoryRecord** record, const std::string& name);

// For areas written once and read once, as the request and reply areas are: creates section
// `name` holding a copy of size bytes of data (the same failures as createSharedMemoryNamed); the
// record keeps the section until it is closed but may have no view (POSIX writes the bytes
// through the descriptor instead of mapping them).
[[nodiscard]] int createSharedMemoryFilled(const void* data, size_t size, SharedMemoryRecord** record,
                                           const std::string& name);
// Copies the whole existing section `name` into *bytes and keeps nothing open (the same failures
// and trust rule as openSharedMemoryNamed). Returns 0, or 1.
[[nodiscard]] int readSharedMemoryNamed(const std::string& name, std::string* bytes);

inline constexpr size_t kPrivateSectionNameDigits = 24;
// A fresh private name for the sections of number base: "<base>.<24 random hex digits>".
std::string privateSectionName(uint32_t base);
// True for "<base>" and for a private name of base; false for any other text.
bool isSectionNameOf(std::string_view name, uint32_t base);
// True when an object of that section name exists that this process must not use (another
// user's); *ownerUid then holds its owner's user ID.
bool foreignSharedMemory(const std::string& name, unsigned* ownerUid);
// Unmaps, closes and frees the record; the owner also removes the name (mappings held by other
// processes stay valid until they close theirs). A null record is ignored.
void closeSharedMemory(SharedMemoryRecord* record);
// Copy `size` bytes into / out of the start of the view. Return 0, or 1 when the record is null
// or the section is smaller than size (nothing copied).
int writeSharedMemory(const void* buffer, size_t size, SharedMemoryRecord* record);
int readSharedMemory(void* buffer, size_t size, const SharedMemoryRecord* record);

// False when the section's name has been removed since the record was opened (the mapping then
// belongs to no one else any more); true while the name still leads to it.
bool sharedMemoryStillNamed(const SharedMemoryRecord* record);

// Takes this process's exclusive claim on the section, held until the record is closed: tells
// whether another live process already holds it. Returns 0 when taken, 1 when another holds it.
int claimSharedMemory(SharedMemoryRecord* record);
// Removes the name of a section left behind by a process that ended without closing it.
// Returns 0 when removed, 1 when there was none or it could not be removed.
int removeSharedMemory(uint32_t name);

// Why this thread's latest failed create or open failed: the step, the object name and the
// system's reason ("create /kestrova.9190: File exists", "/kestrova.9190 belongs to user 65534
// (mode 666): not used"), so that the message that reports the failure can name its cause.
// Kept until the thread's next failure; empty when none failed yet.
std::string sharedMemoryError();
// For the platform back ends: records text as this thread's latest failure.
void setSharedMemoryError(std::string text);

// The platform object name of section `name` ("/<prefix><number>"), for messages and tests.
// Empty when the prefix from the environment is unusable (then every call above fails).
std::string sharedMemoryObjectName(uint32_t name);
// The prefix in use: this thread's ScopedSharedObjectPrefix, else KESTROVA_SHM_PREFIX, else
// "kestrova.".
std::string sharedObjectPrefix();

// While it lives, the calling thread names its shared objects (sections, semaphores, the status
// area) with `prefix` instead of the environment's. For a program that talks to several servers
// from several threads at once: the environment is one per process, and a prefix changed by one
// thread between two opens of another thread's round trip would split that round trip between
// two servers. Nests; the previous prefix comes back at the end of the scope.
class ScopedSharedObjectPrefix {
 public:
  explicit ScopedSharedObjectPrefix(std::string prefix);
  ~ScopedSharedObjectPrefix();
  ScopedSharedObjectPrefix(const ScopedSharedObjectPrefix&) = delete;
  ScopedSharedObjectPrefix& operator=(const ScopedSharedObjectPrefix&) = delete;

 private:
  std::string previous_;
  bool hadPrevious_;
};

// Owner for C++ code: closes the record when it goes out of scope.
class SharedMemoryOwner {
 public:
  SharedMemoryOwner() = default;
  explicit SharedMemoryOwner(SharedMemoryRecord* record) : record_(record) {}
  ~SharedMemoryOwner() { closeSharedMemory(record_); }
  SharedMemoryOwner(const SharedMemoryOwner&) = delete;
  SharedMemoryOwner& operator=(const SharedMemoryOwner&) = delete;

  SharedMemoryRecord* get() const { return record_; }
  SharedMemoryRecord** address() { return &record_; }
  void reset(SharedMemoryRecord* record = nullptr) {
    closeSharedMemory(record_);
    record_ = record;
  }
  SharedMemoryRecord* release() {
    SharedMemoryRecord* r = record_;
    record_ = nullptr;
    return r;
  }

 private:
  SharedMemoryRecord* record_ = nullptr;
};
