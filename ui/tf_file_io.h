// The ".tf" file on disk, without the dialogs or the editor: reading and
// checking one, and replacing one only once its successor is complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/transfer_function.h"

// Reads and parses the file; touches nothing else. False with the viewer's
// message ("Unable to read transfer function (path): why" or "Not a
// transfer function (path): why") otherwise.
bool ReadTransferFunctionFile(const char* path, std::vector<ControlPoint>* points, std::string* message);

// Writes beside the target, flushes, then renames over it: the old file stays
// whole until the new one is complete. New files get the usual permissions
// (0666 less the umask); an existing file keeps its own. Through a link, the
// file it names is replaced. A folder, device, pipe, socket or read-only file
// is refused. False with the reason in *why.
bool ReplaceFileAtomically(const std::string& chosen, const std::vector<uint8_t>& bytes, std::string* why);
