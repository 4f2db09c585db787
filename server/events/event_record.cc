// Copying and freeing of EventRecords. Records and their texts are malloc'ed because modules
// build and free them across the module boundary.
//
// Thread safety: no shared state.
#include "server/events/event_record.h"

#include <cstdlib>
#include <cstring>

EventRecord* copyEventRecord(const EventRecord* source) {
  if (source == nullptr) return nullptr;
  auto* copy = static_cast<EventRecord*>(std::calloc(1, sizeof(EventRecord)));
  if (copy == nullptr) return nullptr;
  *copy = *source;
  copy->message = source->message ? strdup(source->message) : nullptr;
  copy->device = source->device ? strdup(source->device) : nullptr;
  if ((source->message && !copy->message) || (source->device && !copy->device)) {
    freeEventRecord(copy);
    return nullptr;
  }
  return copy;
}

void freeEventRecord(EventRecord* record) {
  if (record == nullptr) return;
  std::free(record->message);
  std::free(record->device);
  std::free(record);
}
