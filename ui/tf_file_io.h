// The ".tf" file on disk, without the dialogs or the editor: reading and
// checking one, and replacing one only once its successor is complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files/file_replace.h"  // ReplaceFileAtomically, for the save
#include "ui/transfer_function.h"

// Reads and parses the file; touches nothing else. False with the viewer's
// message ("Unable to read transfer function (path): why" or "Not a
// transfer function (path): why") otherwise.
bool ReadTransferFunctionFile(const char* path, std::vector<ControlPoint>* points, std::string* message);
