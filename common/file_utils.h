// File utilities: copy a file, remove a folder with everything in it, create a folder. Used by the
// server's start-up (emptying the working folders "Information" and "temp") and by the
// tech-support archive. Done with the file-system library, never through a shell, so no path is
// ever interpreted as a command.
//
// Status codes: 0 on success, 1 on failure. Nothing is printed; callers decide what to report.
// Thread safety: the functions keep no state; concurrent calls on the same paths race only as the
// file system itself does.
#pragma once

// Copies the regular file source to destination, replacing an existing destination file.
// Returns 1 when source is missing or not a regular file, or the copy fails.
int copyFile(const char* source, const char* destination);

// Removes the folder path and everything below it (symbolic links are removed, never followed).
// Returns 0 when the folder is gone afterwards, also when it never existed; 1 when path names
// something that is not a folder (it is left alone) or the removal fails.
int removeFolder(const char* path);

// Creates the folder path, with any missing parent folders. Returns 0 when path is a folder
// afterwards (also when it already was), 1 otherwise.
int makeFolder(const char* path);
