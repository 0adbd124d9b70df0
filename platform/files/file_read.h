// Reading files safely: one read may deliver less than asked or be cut short
// by a signal, opening a FIFO would wait for a writer, and a device or a
// huge file is no document. Used for volume files and ".tf" files alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads exactly `size` bytes from `fd` unless the file ends or fails first
// (false; errno then says why, or is left alone at the end of the file).
bool ReadFully(int fd, void* buffer, uint64_t size);

// Writes all `size` bytes to `fd`, however many writes it takes; false when
// one fails (errno says why).
bool WriteFully(int fd, const void* data, uint64_t size);

// The whole of the regular file at `path`, at most `maxBytes` long. False
// with the reason in *why: the system's for a file that cannot be opened,
// "it is not a regular file" for a folder, pipe or device, `tooLarge` for a
// longer file. A file that shrinks while it is read gives what it still held.
bool ReadWholeFile(const char* path, uint64_t maxBytes, const char* tooLarge, std::vector<uint8_t>* bytes,
                   std::string* why);
