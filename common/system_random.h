// Bytes from the operating system's random source (getrandom on Linux, the system's
// cryptographic generator on Windows), for salts and other values that must not be guessed.
//
// Thread safety: any thread.
#pragma once

#include <cstddef>

// Fills size bytes of buffer. False when the source cannot give them now (very early boot); the
// buffer's content is then unspecified.
bool systemRandomBytes(void* buffer, size_t size);
