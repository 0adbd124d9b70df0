#include "ui/tf_file_io.h"

#include "platform/files/file_read.h"

bool ReadTransferFunctionFile(const char* path, std::vector<ControlPoint>* points, std::string* message) {
    std::vector<uint8_t> bytes;
    std::string why;
    // Files beyond 64 MB are no transfer function (that is over three million points).
    if (!ReadWholeFile(path, uint64_t{64} << 20, "it is far too large for a transfer function", &bytes,
                       &why)) {
        *message = std::string("Unable to read transfer function (") + path + "): " + why;
        return false;
    }
    if (!ParseTransferFunction(bytes.data(), bytes.size(), points, &why)) {
        *message = std::string("Not a transfer function (") + path + "): " + why;
        return false;
    }
    return true;
}
