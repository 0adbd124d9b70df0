// Transfer Function > Open and > Save: the ".tf" file through the file
// dialogs. A bad file changes nothing; a save replaces the old file only once
// the new one is completely on disk.
#include <string>
#include <vector>

#include "platform/shell/shell.h"
#include "render/client_area.h"
#include "ui/tab.h"
#include "ui/tf_file_io.h"

namespace {

constexpr const char* kTfFilter = "Transfer Function Files (*.tf)\0*.tf\0";
constexpr const char* kTfCaption = "CTab";

void ShowTfError(const std::string& text) {
    shell::MessageBox(nullptr, text.c_str(), kTfCaption, shell::MB_OK);
}

}  // namespace

void InstallTransferFunction(const std::vector<ControlPoint>& points) {
    EditorTab.history.Record(EditorTab.Points(), points);
    EditorTab.ReplacePoints(points.data(), static_cast<uint32_t>(points.size()));
    EditorTab.GenerateColorGeometry();
    EditorTab.GenerateTransfer();
}

void LoadTransferFunction() {
    char path[4096] = {};
    shell::OPENFILENAME ofn;
    ofn.hwndOwner = MainWindow;
    ofn.lpstrFilter = kTfFilter;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof(path);
    ofn.Flags = shell::OFN_EXPLORER | shell::OFN_FILEMUSTEXIST;
    if (!shell::GetOpenFileName(&ofn))
        return;
    OpenTransferFunctionFile(path);
}

bool OpenTransferFunctionFile(const char* path) {
    std::vector<ControlPoint> loaded;
    std::string message;
    if (!ReadTransferFunctionFile(path, &loaded, &message)) {
        ShowTfError(message);
        return false;
    }
    InstallTransferFunction(loaded);
    return true;
}

void SaveTransferFunction() {
    char path[4096] = ".tf";
    shell::OPENFILENAME ofn;
    ofn.hwndOwner = MainWindow;
    ofn.lpstrFilter = kTfFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof(path);
    ofn.Flags = shell::OFN_EXPLORER;
    if (!shell::GetSaveFileName(&ofn))
        return;

    const std::vector<uint8_t> bytes =
        SerializeTransferFunction(EditorTab.points.get(), EditorTab.pointCount);
    std::string why;
    if (!ReplaceFileAtomically(path, bytes, &why)) {
        ShowTfError(std::string("Unable to save transfer function (") + path + "): " + why);
    }
}
