// The entry function: window class, main window, device, the volume frame
// and the frame loop.
#include <algorithm>

#include "app/app_state.h"
#include "render/renderer.h"
#include "slicing/camera.h"
#include "ui/tab.h"
#include "volume/volume.h"

namespace {

constexpr const char* kWindowClassName = "TamMainWnd";
constexpr uint32_t kRestMilliseconds = 50;

// Whether the next frame would show something the last one did not, with no
// message in between: a drag turns the view, the panel slides, a series'
// next point is due, or the volume layer has to be drawn again.
bool FrameWouldChange() {
    if (RotationDrag.active || (EditorTab.state & (UI::kTabOpening | UI::kTabClosing)) || TimePointDue())
        return true;
    return InputHandlerTable.Frame == &RenderVolumeFrame && Renderer.volumeLayerStale;
}

// A series that plays wakes the loop when its next point is due; a
// window at rest sleeps longer.
uint32_t RestMilliseconds() {
    if (!TimePlaying())
        return kRestMilliseconds;
    const double ms = SecondsToNextPoint(TimePlay()) * 1000.0;
    return static_cast<uint32_t>(std::clamp(ms, 1.0, static_cast<double>(kRestMilliseconds)));
}

}  // namespace

bool CoarseFramesFirst = false;

bool InitDevice() {
    if (!CreateDeviceObjects())
        return false;
    if (!EditorTab.Create(kEditorHandleX, kEditorHandleWidth, kEditorHandleU0, kEditorHandleU1))
        return false;
    SetInputMode(0);
    ResizeToClientArea();
    return true;
}

void ResizeToClientArea() {
    if (D3DResize())
        EditorTab.Create(kEditorHandleX, kEditorHandleWidth, kEditorHandleU0, kEditorHandleU1);
}

bool ChangingContinuously() {
    return RotationDrag.active || PanDrag.active || GreyDrag.active || EditorTab.DraggingPoint() ||
           ContinuousInputRecent() || TimePlaying();
}

void RenderVolumeFrame() {
    if (Renderer.renderTargetView == nullptr)
        return;
    const VolumePass pass = DrawVolumePass(Volume.volumeView, EditorTab.transferView,
                                           CoarseFramesFirst || ChangingContinuously());
    DrawBoundaries();
    DrawPlaneOutlines();
    BeginInterfacePass(Volume.volumeView);
    if (RotationDrag.active) {
        UpdateCamera();  // shows from the next frame on
        DrawRotationIndicator(RotationDrag.anchorX, RotationDrag.anchorY);
    }
    EditorTab.Render();
    PresentVolumeFrame(pass);
}

void ReleaseDevice() {
    RendererRecord& r = Renderer;
    ReleaseVolumeLayer();
    ReleaseAndNull(r.uiAtlasView);
    ReleaseAndNull(r.cbChangeFrameVolume);
    ReleaseAndNull(r.cbChangeFrameUI);
    ReleaseAndNull(r.cbChangeOnResize);
    ReleaseAndNull(r.cbChangeOnVolume);
    ReleaseAndNull(r.rotIndexBuffer);
    ReleaseAndNull(r.rotVertexBuffer);
    ReleaseAndNull(r.boundaryVertexBuffer);
    ReleaseAndNull(r.psPlane);
    ReleaseAndNull(r.planeVertexBuffer);
    ReleaseAndNull(r.planeIndexBuffer);
    ReleaseAndNull(r.boundaryIndexBuffer);
    ReleaseAndNull(r.centreQuadVertexBuffer);
    ReleaseAndNull(r.centreQuadIndexBuffer);
    ReleaseAndNull(r.proxyVertexBuffer);
    ReleaseAndNull(r.proxyIndexBuffer);
    ReleaseAndNull(r.layoutTex);
    ReleaseAndNull(r.psTex);
    ReleaseAndNull(r.vsTex);
    ReleaseAndNull(r.layoutColor);
    ReleaseAndNull(r.psColor);
    ReleaseAndNull(r.vsColor);
    ReleaseAndNull(r.layoutVolume);
    ReleaseAndNull(r.psVolume);
    ReleaseAndNull(r.psVolumeFlat);
    ReleaseAndNull(r.psVolumeExtreme);
    ReleaseAndNull(r.psExtremeLookup);
    ReleaseAndNull(r.psChannels);
    ReleaseAndNull(r.psChannelsFlat);
    ReleaseAndNull(r.psChannelsMaximum);
    ReleaseAndNull(r.psChannelsMinimum);
    ReleaseAndNull(r.psChannelsMaximumLookup);
    ReleaseAndNull(r.psChannelsMinimumLookup);
    ReleaseAndNull(r.blendStateChannelsMinimum);
    ReleaseAndNull(r.blendStateMaximum);
    ReleaseAndNull(r.blendStateMinimum);
    ReleaseAndNull(r.vsVolume);
    ReleaseAndNull(r.blendStateVolume);
    ReleaseAndNull(r.blendStateUI);
    ReleaseAndNull(r.transferSampler);
    ReleaseAndNull(r.simpleTexSampler);
    ReleaseAndNull(r.volumeSampler);
    ReleaseAndNull(r.rasterizerState);
    ReleaseAndNull(r.rasterizerStateScissor);
    ReleaseAndNull(r.renderTargetView);
    ReleaseAndNull(r.swapChain);
    ReleaseAndNull(r.context);
    ReleaseAndNull(r.device);
    // The next device's speed is its own (unless a test fixed it).
    if (r.timeLayers)
        r.layerSeconds = 0;
    r.layerQuality = DragQuality{};
}

int TamloMain(shell::HINSTANCE instance, int showCommand, const char* file) {
    RegisterMainMenu();

    shell::WNDCLASSEX wc;
    wc.cbSize = sizeof(shell::WNDCLASSEX);
    wc.style = shell::CS_VREDRAW | shell::CS_HREDRAW | shell::CS_DBLCLKS;
    wc.lpfnWndProc = &WndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = shell::LoadStockApplicationIcon();
    wc.hCursor = shell::LoadStockArrowCursor();
    wc.hbrBackground = shell::GetStockBlackBrush();
    wc.menuResourceId = kMainMenuResource;
    wc.lpszClassName = kWindowClassName;
    wc.hIconSm = shell::LoadStockApplicationIcon();
    if (!shell::RegisterClassEx(&wc)) {
        shell::MessageBox(nullptr, "Unable to register window class", "Error", shell::MB_OK);
        return 0;
    }

    shell::HMENU menu = shell::LoadMenu(instance, kMainMenuResource);
    MainWindow = shell::CreateWindowEx(0, kWindowClassName, kMainWindowTitle, shell::WS_OVERLAPPEDWINDOW, 0,
                                       0, 1280, 1024, nullptr, menu, instance, nullptr);
    if (MainWindow == nullptr) {
        shell::MessageBox(nullptr, "Unable to create window", "error", shell::MB_OK);
        shell::UnregisterClass(kWindowClassName, instance);
        return 0;
    }
    ShowViewChecks();
    shell::ShowWindow(MainWindow, showCommand);

    shell::DragAcceptFiles(MainWindow, true);

    if (!InitDevice())
        return 0;
    // Someone is waiting at this window: a change shows at once, coarse on a
    // slow device, and is refined between inputs.
    CoarseFramesFirst = true;
    if (file != nullptr)
        OpenVolumeFile(file);

    int64_t frequency = 0;
    shell::QueryPerformanceFrequency(&frequency);
    const float secondsPerCount = 1.0f / static_cast<float>(frequency);
    int64_t previous = 0;
    shell::QueryPerformanceCounter(&previous);
    shell::MSG msg{};

    bool messageSinceFrame = true;
    for (;;) {
        int64_t now = 0;
        shell::QueryPerformanceCounter(&now);
        FrameClock = static_cast<float>(now - previous) * secondsPerCount;
        previous = now;
        AdvanceTimeClock(FrameClock);
        if (FinishFinerLevelRead())
            messageSinceFrame = true;
        if (shell::PeekMessage(&msg, nullptr, 0, 0, shell::PM_REMOVE)) {
            shell::TranslateMessage(&msg);
            shell::DispatchMessage(&msg);
            messageSinceFrame = true;
        } else if (messageSinceFrame || FrameWouldChange()) {
            IntegrateRotation();
            ShowDueTimePoint();
            InputHandlerTable.Frame();
            messageSinceFrame = false;
        } else if (InputHandlerTable.Frame == &RenderVolumeFrame && !ChangingContinuously() &&
                   RefinementPending()) {
            // One band of the whole picture between inputs; the frame that
            // shows it comes once it is complete.
            messageSinceFrame = RefineVolumeLayer(Volume.volumeView, EditorTab.transferView);
        } else if (shell::WaitForInput(RestMilliseconds())) {
            // A window at rest sleeps until the user does something; drags and
            // slides run at full rate. The sleep is short, so that FrameClock
            // stays a frame's length when the next frame comes.
            IntegrateRotation();
            ShowDueTimePoint();
            InputHandlerTable.Frame();
            messageSinceFrame = false;
        }
        if (msg.message == shell::WM_QUIT)
            break;
        UpdateStatusLine();
    }

    ReleaseDevice();
    CoarseFramesFirst = false;
    return 0;
}
