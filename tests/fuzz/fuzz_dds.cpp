// The DDS reader (the atlas loader's parser) on hostile bytes: it must refuse
// with a reason or return an image whose pixels are exactly the size it says.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/d3dx/d3dx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    d3dx::DdsImage image;
    std::string error;
    if (!d3dx::ParseDds(data, size, &image, &error)) {
        if (error.empty())
            abort();
        return 0;
    }
    if (image.width == 0 || image.height == 0 ||
        image.pixels.size() != size_t{image.width} * image.height * 4)
        abort();
    if (image.format != gpu::Format::R8G8B8A8_UNORM && image.format != gpu::Format::B8G8R8A8_UNORM)
        abort();
    // What the parser accepts, the writer can write again.
    if (d3dx::WriteDds(image).empty())
        abort();
    return 0;
}
