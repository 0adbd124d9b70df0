// Draws the interface atlas and writes it as a 32-bit DDS file; with a second
// name, also the program's desktop icon cut from the atlas (a PNG).
// Usage: make_atlas OUTPUT.dds [ICON.png]
#include <stb/stb_image_write.h>

#include <cstdio>

#include "platform/d3dx/d3dx.h"
#include "tools/atlas/atlas_image.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make_atlas OUTPUT.dds [ICON.png]\n");
        return 2;
    }
    d3dx::DdsImage image;
    image.width = atlas::kSize;
    image.height = atlas::kSize;
    image.format = gpu::Format::R8G8B8A8_UNORM;
    image.pixels = atlas::DrawInterfaceAtlas();
    const std::vector<uint8_t> bytes = d3dx::WriteDds(image);
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "make_atlas: could not write %s\n", argv[1]);
        return 1;
    }
    if (argc == 3) {
        const std::vector<uint8_t> icon = atlas::DrawDesktopIcon(image.pixels);
        if (stbi_write_png(argv[2], atlas::kIconSize, atlas::kIconSize, 4, icon.data(),
                           atlas::kIconSize * 4) == 0) {
            std::fprintf(stderr, "make_atlas: could not write %s\n", argv[2]);
            return 1;
        }
    }
    return 0;
}
