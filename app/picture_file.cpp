#include "app/picture_file.h"

#include <stb/stb_image_write.h>

#include <cctype>

#include "app/app_state.h"
#include "platform/files/file_replace.h"
#include "render/renderer.h"
#include "ui/tab.h"
#include "volume/volume.h"

bool CaptureVolumePicture(ScreenPicture* picture) {
    if (InputHandlerTable.Frame != &RenderVolumeFrame || Renderer.renderTargetView == nullptr ||
        Renderer.swapChain == nullptr)
        return false;
    // A layer left at a drag's quality (its refinement perhaps still under
    // way) is drawn whole first. The back buffer then holds the volume alone
    // until the next frame draws the interface over it again.
    if (!Renderer.layerQuality.Full())
        InvalidateVolumeLayer();
    DrawVolumePass(Volume.volumeView, EditorTab.transferView, false);
    DrawBoundaries();
    DrawPlaneOutlines();
    return gpu::ReadSwapChainPixels(Renderer.swapChain, &picture->rgba, &picture->width, &picture->height) &&
           picture->width > 0 && picture->height > 0;
}

bool WritePicturePng(const std::string& path, const ScreenPicture& picture, std::string* why,
                     bool withAlpha) {
    if (picture.width == 0 || picture.height == 0 ||
        picture.rgba.size() != size_t{picture.width} * picture.height * 4) {
        *why = "there is no picture";
        return false;
    }
    const int channels = withAlpha ? 4 : 3;
    std::vector<uint8_t> rgb;
    if (withAlpha) {
        rgb = picture.rgba;
    } else {
        rgb.reserve(picture.rgba.size() / 4 * 3);
        for (size_t i = 0; i < picture.rgba.size(); i += 4)
            rgb.insert(rgb.end(), {picture.rgba[i], picture.rgba[i + 1], picture.rgba[i + 2]});
    }
    std::vector<uint8_t> png;
    auto append = [](void* context, void* data, int size) {
        auto* bytes = static_cast<const uint8_t*>(data);
        auto* out = static_cast<std::vector<uint8_t>*>(context);
        out->insert(out->end(), bytes, bytes + size);
    };
    if (stbi_write_png_to_func(append, &png, static_cast<int>(picture.width),
                               static_cast<int>(picture.height), channels, rgb.data(),
                               static_cast<int>(picture.width) * channels) == 0) {
        *why = "the picture could not be encoded";
        return false;
    }
    return ReplaceFileAtomically(path, png, why);
}

std::string TurntableFrameName(const std::string& output, int index) {
    std::string stem = output;
    if (stem.size() >= 4) {
        std::string end = stem.substr(stem.size() - 4);
        for (char& c : end)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (end == ".png")
            stem.resize(stem.size() - 4);
    }
    std::string number = std::to_string(index + 1);
    number.insert(0, number.size() < 4 ? 4 - number.size() : 0, '0');
    return stem + "-" + number + ".png";
}

float TurntableFrameYaw(float startYaw, int index, int count) {
    constexpr double kTurn = 6.283185307179586;
    return static_cast<float>(startYaw + kTurn * index / count);
}
