// String tables: the user-visible texts looked up by key. Five in-RAM slots (slot 0
// db/strings.db, slot 1 db/scsiErrors.db, slots 2-4 given by the caller) each hold a whole file
// in one buffer with a pair index; a path that is not loaded is read from disk on each lookup.
//
// Thread safety: loadStringTables and clearStringTables run only at start-up and shutdown while
// nothing else looks texts up; lookupString may then be called from any thread without a lock.
#pragma once

// Fills the five slots; null or empty extra paths leave their slots empty.
void loadStringTables(const char* path2, const char* path3, const char* path4);
void clearStringTables();

// Newly malloc'ed copy of the value of key in the file at path, or of "(missing)". Caller frees.
// Null only when memory runs out.
char* lookupString(const char* path, const char* key);
