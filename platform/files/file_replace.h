// Replacing a file only once its successor is complete: every file the
// programs write (the ".tf" save, tamlo-convert's volume file, tamlo-render's
// pictures) goes through here, so a full disk, a crash or a bad name never
// leaves half a file or turns a device into a plain one.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// One stretch of the new file's bytes; a file is written from several
// without copying them together (a volume file's header and its samples).
struct FilePiece {
    const void* data;
    uint64_t size;
};

// Empty when a complete file may be written at `path`: nothing is there,
// or a regular file that may be written (through a link, the file it
// names). Otherwise the reason: "a folder of that name exists", "it is not
// a regular file" (a device, pipe or socket), "the file is read-only", or
// the system's for a link that leads nowhere.
std::string CheckReplaceable(const std::string& path);

// Writes beside the target, flushes, then renames over it: the old file stays
// whole until the new one is complete. New files get the usual permissions
// (0666 less the umask); an existing file keeps its own. Through a link, the
// file it names is replaced and the link stays. What CheckReplaceable
// refuses is refused. False with the reason in *why.
bool ReplaceFileAtomically(const std::string& path, std::initializer_list<FilePiece> pieces,
                           std::string* why);
inline bool ReplaceFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                                  std::string* why) {
    return ReplaceFileAtomically(path, {FilePiece{bytes.data(), bytes.size()}}, why);
}

// True when both names lead to one file (the same device and inode, however
// each is spelt or linked); false when either does not exist.
bool IsSameFile(const std::string& a, const std::string& b);
