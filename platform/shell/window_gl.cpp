// A window's SDL window, GL 4.5 core context and menu bar: presenting the GPU
// layer's image flipped into the client area, and drawing the bar with Dear
// ImGui over it.
//
// Sections: creation · presenting · the menu bar.
#include <epoxy/gl.h>
// epoxy first: the ImGui GL backend is built with a custom loader (epoxy).
#include <imgui.h>
#include <imgui/backends/imgui_impl_opengl3.h>
#include <imgui/backends/imgui_impl_sdl.h>

#include <algorithm>
#include <cfloat>
#include <cstdio>

#include "platform/shell/window_internal.h"

namespace shell::detail {

namespace {

// Keeps whatever context the caller had current (another window's, say).
class ContextScope {
  public:
    ContextScope() : window_(SDL_GL_GetCurrentWindow()), context_(SDL_GL_GetCurrentContext()) {}
    ~ContextScope() {
        if (context_) {
            SDL_GL_MakeCurrent(window_, context_);
        }
    }

  private:
    SDL_Window* window_;
    SDL_GLContext context_;
};

// Debug builds name the GL call that failed; release builds never stall on glGetError.
void CheckGl([[maybe_unused]] const char* call) {
#ifndef NDEBUG
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError()) {
        char line[128];
        std::snprintf(line, sizeof line, "GL error 0x%04X after %s", e, call);
        Diagnose(line);
    }
#endif
}

float DefaultFontWidth(ImFont* font, std::string_view text) {
    return font->CalcTextSizeA(font->FontSize, FLT_MAX, 0.0f, text.data(), text.data() + text.size()).x;
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation

std::shared_ptr<Surface> Surface::Create(const char* title, int x, int y, int width, int height,
                                         const MenuResource* menu) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 5);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    // The window is created hidden, as Win32 does without WS_VISIBLE.
    SDL_Window* window = SDL_CreateWindow(title ? title : "", x, y, width, height,
                                          SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (!window) {
        Diagnose((std::string("CreateWindowEx: SDL_CreateWindow failed: ") + SDL_GetError()).c_str());
        return nullptr;
    }
    auto s = std::make_shared<Surface>();
    s->window_ = window;
    s->windowId_ = SDL_GetWindowID(window);
    ContextScope keep;
    s->gl_ = SDL_GL_CreateContext(window);
    if (!s->gl_) {
        Diagnose((std::string("CreateWindowEx: no OpenGL 4.5 core context for the window: ") + SDL_GetError())
                     .c_str());
    } else {
        SDL_GL_SetSwapInterval(0);
    }

    IMGUI_CHECKVERSION();
    ImGuiContext* previous = ImGui::GetCurrentContext();
    s->imgui_ = ImGui::CreateContext();
    ImGui::SetCurrentContext(s->imgui_);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    io.ConfigFlags |= ImGuiConfigFlags_NoMouseCursorChange;
    ImGui::StyleColorsDark();
    io.Fonts->AddFontDefault();
    io.Fonts->Build();
    ImGui_ImplSDL2_InitForOpenGL(window, s->gl_);
    if (s->gl_) {
        s->imguiGl_ = ImGui_ImplOpenGL3_Init("#version 410 core");
    }
    if (menu && !menu->popups.empty()) {
        ImFont* font = io.Fonts->Fonts[0];
        s->layout_ = LayoutMenu(
            *menu, [font](std::string_view t) { return DefaultFontWidth(font, t); },
            static_cast<float>(height));
        s->layoutHeight_ = static_cast<float>(height);
        s->barHeight_ = static_cast<int>(s->layout_.barHeight);
    }
    s->tracker_.SetLayout(&s->layout_);
    ImGui::SetCurrentContext(previous);
    return s;
}

void Surface::Destroy() {
    if (!window_) {
        return;
    }
    ContextScope keep;
    const bool current = gl_ && SDL_GL_MakeCurrent(window_, gl_) == 0;
    if (current && snapshot_) {
        glDeleteFramebuffers(1, &snapshotFbo_);
        glDeleteTextures(1, &snapshot_);
    }
    snapshot_ = snapshotFbo_ = 0;
    for (auto& [slot, image] : images_)
        if (current)
            glDeleteTextures(1, &image.texture);
    images_.clear();
    if (imgui_) {
        ImGuiContext* previous = ImGui::GetCurrentContext();
        ImGui::SetCurrentContext(imgui_);
        if (imguiGl_ && current) {
            ImGui_ImplOpenGL3_Shutdown();
        }
        ImGui_ImplSDL2_Shutdown();
        ImGui::DestroyContext(imgui_);
        ImGui::SetCurrentContext(previous == imgui_ ? nullptr : previous);
        imgui_ = nullptr;
    }
    if (gl_) {
        if (SDL_GL_GetCurrentContext() == gl_) {
            SDL_GL_MakeCurrent(nullptr, nullptr);
        }
        SDL_GL_DeleteContext(gl_);
        gl_ = nullptr;
    }
    SDL_DestroyWindow(window_);
    window_ = nullptr;
}

bool Surface::MakeCurrent() {
    return window_ && gl_ && SDL_GL_MakeCurrent(window_, gl_) == 0;
}

// ---------------------------------------------------------------------------
// Presenting

void Surface::Present(uint32_t texture, uint32_t width, uint32_t height) {
    if (!window_ || !gl_ || SDL_GL_GetCurrentContext() != gl_) {
        return;
    }
    if (texture && width > 0 && height > 0) {
        if (!snapshot_ || snapshotWidth_ != width || snapshotHeight_ != height) {
            if (snapshot_) {
                glDeleteFramebuffers(1, &snapshotFbo_);
                glDeleteTextures(1, &snapshot_);
            }
            glCreateTextures(GL_TEXTURE_2D, 1, &snapshot_);
            glTextureStorage2D(snapshot_, 1, GL_RGBA8, static_cast<GLsizei>(width),
                               static_cast<GLsizei>(height));
            glCreateFramebuffers(1, &snapshotFbo_);
            glNamedFramebufferTexture(snapshotFbo_, GL_COLOR_ATTACHMENT0, snapshot_, 0);
            snapshotWidth_ = width;
            snapshotHeight_ = height;
        }
        // A copy of our own, so the bar can be redrawn over the last frame while
        // the next one is still being rendered into the swap chain's texture.
        glCopyImageSubData(texture, GL_TEXTURE_2D, 0, 0, 0, 0, snapshot_, GL_TEXTURE_2D, 0, 0, 0, 0,
                           static_cast<GLsizei>(width), static_cast<GLsizei>(height), 1);
        CheckGl("glCopyImageSubData (the presented texture must be RGBA8)");
    }
    DrawFrame();
}

void* Surface::SetImage(int slot, const uint8_t* rgba, uint32_t width, uint32_t height) {
    if (!window_ || !gl_ || SDL_GL_GetCurrentContext() != gl_)
        return nullptr;
    auto found = images_.find(slot);
    const bool fits =
        found != images_.end() && found->second.width == width && found->second.height == height;
    if (found != images_.end() && (!fits || rgba == nullptr)) {
        glDeleteTextures(1, &found->second.texture);
        images_.erase(found);
        found = images_.end();
    }
    if (rgba == nullptr || width == 0 || height == 0)
        return nullptr;
    if (found == images_.end()) {
        Image image{0, width, height};
        glCreateTextures(GL_TEXTURE_2D, 1, &image.texture);
        if (image.texture == 0)
            return nullptr;
        glTextureStorage2D(image.texture, 1, GL_RGBA8, static_cast<GLsizei>(width),
                           static_cast<GLsizei>(height));
        // Made at the size it is shown: each texel one pixel.
        glTextureParameteri(image.texture, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTextureParameteri(image.texture, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTextureParameteri(image.texture, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTextureParameteri(image.texture, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        CheckGl("glTextureStorage2D (an overlay picture)");
        found = images_.emplace(slot, image).first;
    }
    // The GPU layer leaves its own unpacking state; the picture is tightly packed.
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTextureSubImage2D(found->second.texture, 0, 0, 0, static_cast<GLsizei>(width),
                        static_cast<GLsizei>(height), GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return reinterpret_cast<void*>(static_cast<uintptr_t>(found->second.texture));
}

void Surface::Redraw() {
    if (!window_ || !gl_) {
        return;
    }
    ContextScope keep;
    if (SDL_GL_MakeCurrent(window_, gl_) != 0) {
        return;
    }
    DrawFrame();
}

void Surface::DrawFrame() {
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window_, &w, &h);
    int ww = 0, wh = 0;
    SDL_GetWindowSize(window_, &ww, &wh);
    const int bar = wh > 0 ? barHeight_ * h / wh : barHeight_;
    const int clientHeight = std::max(0, h - bar);

    // The GPU layer re-applies its own state at every draw; these are only the
    // bits that would spoil a clear or a blit into the default framebuffer.
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_FRAMEBUFFER_SRGB);
    glDisable(GL_RASTERIZER_DISCARD);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glViewport(0, 0, w, h);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (snapshot_ && clientHeight > 0 && w > 0) {
        // Row 0 of the image is its top row; the default framebuffer counts rows
        // from the bottom, so the blit turns it over.
        const bool same =
            static_cast<int>(snapshotWidth_) == w && static_cast<int>(snapshotHeight_) == clientHeight;
        glBlitNamedFramebuffer(snapshotFbo_, 0, 0, 0, static_cast<GLint>(snapshotWidth_),
                               static_cast<GLint>(snapshotHeight_), 0, clientHeight, w, 0,
                               GL_COLOR_BUFFER_BIT, same ? GL_NEAREST : GL_LINEAR);
        CheckGl("glBlitNamedFramebuffer");
    }
    if (barHeight_ > 0 && imguiGl_) {
        DrawMenu();
    }
    SDL_GL_SwapWindow(window_);
}

// ---------------------------------------------------------------------------
// The menu bar

void Surface::DrawMenu() {
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(imgui_);
    ImGuiIO& io = ImGui::GetIO();
    int ww = 0, wh = 0, dw = 0, dh = 0;
    SDL_GetWindowSize(window_, &ww, &wh);
    SDL_GL_GetDrawableSize(window_, &dw, &dh);
    io.DisplaySize = ImVec2(static_cast<float>(ww), static_cast<float>(wh));
    if (ww > 0 && wh > 0) {
        io.DisplayFramebufferScale = ImVec2(static_cast<float>(dw) / ww, static_cast<float>(dh) / wh);
    }
    io.DeltaTime = 1.0f / 60.0f;
    if (layout_.source && static_cast<float>(wh) != layoutHeight_ && wh > 0) {
        // Same items, so the tracker's indices stay good; only the fit changes.
        ImFont* layoutFont = io.Fonts->Fonts[0];
        layout_ = LayoutMenu(
            *layout_.source, [layoutFont](std::string_view t) { return DefaultFontWidth(layoutFont, t); },
            static_cast<float>(wh));
        layoutHeight_ = static_cast<float>(wh);
    }
    // The GPU layer draws with an upper-left clip origin; ImGui copes with
    // either, but the default keeps its scissor maths simple.
    glClipControl(GL_LOWER_LEFT, GL_NEGATIVE_ONE_TO_ONE);
    ImGui_ImplOpenGL3_NewFrame();
    // Not ImGui_ImplSDL2_NewFrame: it polls the mouse and calls SDL_CaptureMouse
    // whenever a button is held, which would fight the program's own drags. The
    // bar takes its input from our MenuTracker instead.
    ImGui::NewFrame();

    const ImGuiStyle& style = ImGui::GetStyle();
    ImDrawList* dl = ImGui::GetForegroundDrawList();
    ImFont* font = ImGui::GetFont();
    const float fontSize = ImGui::GetFontSize();
    const ImU32 text = ImGui::GetColorU32(ImGuiCol_Text);
    auto drawLabel = [&](const MnemonicText& label, float x, float y) {
        dl->AddText(font, fontSize, ImVec2(x, y), text, label.display.c_str());
        if (label.mnemonicIndex >= 0) {
            const std::string_view d = label.display;
            const float x0 = x + DefaultFontWidth(font, d.substr(0, label.mnemonicIndex));
            const float x1 = x0 + DefaultFontWidth(font, d.substr(label.mnemonicIndex, 1));
            dl->AddLine(ImVec2(x0, y + fontSize), ImVec2(x1, y + fontSize), text, 1.0f);
        }
    };

    const float bar = layout_.barHeight;
    dl->AddRectFilled(ImVec2(0, 0), ImVec2(io.DisplaySize.x, bar), ImGui::GetColorU32(ImGuiCol_MenuBarBg));
    dl->AddLine(ImVec2(0, bar - 1), ImVec2(io.DisplaySize.x, bar - 1), ImGui::GetColorU32(ImGuiCol_Border));
    const int open = tracker_.OpenPopup();
    for (int i = 0; i < static_cast<int>(layout_.popups.size()); ++i) {
        const MenuLayoutPopup& p = layout_.popups[i];
        if (i == open || i == tracker_.HotTitle()) {
            dl->AddRectFilled(ImVec2(p.title.x0, p.title.y0), ImVec2(p.title.x1, p.title.y1),
                              ImGui::GetColorU32(i == open ? ImGuiCol_HeaderActive : ImGuiCol_HeaderHovered));
        }
        drawLabel(p.label, p.title.x0 + kMenuTitlePadding, (bar - fontSize) * 0.5f);
    }
    const ImU32 greyText = ImGui::GetColorU32(ImGuiCol_TextDisabled);
    auto drawBox = [&](const MenuRect& box) {
        ImVec4 bg = style.Colors[ImGuiCol_PopupBg];
        bg.w = 1.0f;
        dl->AddRectFilled(ImVec2(box.x0, box.y0), ImVec2(box.x1, box.y1), ImGui::GetColorU32(bg));
        dl->AddRect(ImVec2(box.x0, box.y0), ImVec2(box.x1, box.y1), ImGui::GetColorU32(ImGuiCol_Border));
    };
    auto drawItems = [&](const std::vector<MenuLayoutItem>& items, int hot, int openSub) {
        for (int i = 0; i < static_cast<int>(items.size()); ++i) {
            const MenuLayoutItem& it = items[i];
            if (it.separator) {
                const float y = (it.rect.y0 + it.rect.y1) * 0.5f;
                dl->AddLine(ImVec2(it.rect.x0 + 1, y), ImVec2(it.rect.x1 - 1, y),
                            ImGui::GetColorU32(ImGuiCol_Separator));
                continue;
            }
            const bool greyed = !it.HasSubmenu() && layout_.Greyed(it.id);
            if ((i == hot || i == openSub) && !greyed) {
                dl->AddRectFilled(ImVec2(it.rect.x0 + 1, it.rect.y0), ImVec2(it.rect.x1 - 1, it.rect.y1),
                                  ImGui::GetColorU32(ImGuiCol_HeaderHovered));
            }
            const float textY = it.rect.y0 + (kMenuItemHeight - fontSize) * 0.5f;
            const ImU32 colour = greyed ? greyText : text;
            if (!it.HasSubmenu() && layout_.Checked(it.id)) {
                const float cx = it.rect.x0 + kMenuTitlePadding, cy = textY + fontSize * 0.55f;
                dl->AddLine(ImVec2(cx, cy), ImVec2(cx + 3, cy + 3), colour, 1.5f);
                dl->AddLine(ImVec2(cx + 3, cy + 3), ImVec2(cx + 9, cy - 4), colour, 1.5f);
            }
            if (it.HasSubmenu()) {
                const float ax = it.rect.x1 - kMenuTitlePadding - 5, ay = (it.rect.y0 + it.rect.y1) * 0.5f;
                dl->AddTriangleFilled(ImVec2(ax, ay - 4), ImVec2(ax, ay + 4), ImVec2(ax + 5, ay), colour);
            }
            const float textX = it.rect.x0 + kMenuTitlePadding + kMenuCheckGutter;
            if (greyed) {
                dl->AddText(font, fontSize, ImVec2(textX, textY), greyText, it.label.display.c_str());
            } else {
                drawLabel(it.label, textX, textY);
            }
        }
    };
    if (open >= 0) {
        const MenuLayoutPopup& p = layout_.popups[open];
        drawBox(p.box);
        const int openSub = tracker_.OpenSubmenu();
        drawItems(p.items, tracker_.HotItem(), openSub);
        if (openSub >= 0) {
            const MenuLayoutItem& parent = p.items[openSub];
            drawBox(parent.subBox);
            if (!parent.Scrolls()) {
                drawItems(parent.subItems, tracker_.HotSubItem(), -1);
            } else {
                // The items as scrolled, clipped to the view between the arrows.
                const float scroll = tracker_.SubScroll();
                const MenuRect& view = parent.subView;
                std::vector<MenuLayoutItem> shown = parent.subItems;
                for (MenuLayoutItem& it : shown) {
                    it.rect.y0 -= scroll;
                    it.rect.y1 -= scroll;
                }
                dl->PushClipRect(ImVec2(view.x0, view.y0), ImVec2(view.x1, view.y1), true);
                drawItems(shown, tracker_.HotSubItem(), -1);
                dl->PopClipRect();
                const float cx = (view.x0 + view.x1) * 0.5f;
                const ImU32 up = scroll > 0 ? text : greyText;
                const ImU32 down = scroll < parent.subScrollMax ? text : greyText;
                const float upY = (parent.subBox.y0 + view.y0) * 0.5f,
                            downY = (view.y1 + parent.subBox.y1) * 0.5f;
                dl->AddTriangleFilled(ImVec2(cx - 5, upY + 3), ImVec2(cx + 5, upY + 3), ImVec2(cx, upY - 3),
                                      up);
                dl->AddTriangleFilled(ImVec2(cx - 5, downY - 3), ImVec2(cx + 5, downY - 3),
                                      ImVec2(cx, downY + 3), down);
            }
        }
    }
    if (!status_.empty()) {
        // At the client's bottom right, on a box that keeps it legible over
        // any picture.
        const ImVec2 size = ImGui::CalcTextSize(status_.c_str());
        const float pad = 3;
        const float x = std::max(0.0f, io.DisplaySize.x - size.x - 2 * pad - 4);
        const float y = std::max(bar, io.DisplaySize.y - size.y - 2 * pad - 4);
        dl->AddRectFilled(ImVec2(x, y), ImVec2(x + size.x + 2 * pad, y + size.y + 2 * pad),
                          IM_COL32(0, 0, 0, 150));
        dl->AddText(font, fontSize, ImVec2(x + pad, y + pad), IM_COL32(230, 230, 230, 255), status_.c_str());
    }
    if (!toolTip_.empty()) {
        // Beside the cursor, kept inside the window.
        const ImVec2 size = ImGui::CalcTextSize(toolTip_.c_str());
        const float pad = 4;
        float x = static_cast<float>(toolTipX_) + 16, y = static_cast<float>(toolTipY_) + bar + 16;
        x = std::min(x, io.DisplaySize.x - size.x - 2 * pad - 1);
        y = std::min(y, io.DisplaySize.y - size.y - 2 * pad - 1);
        x = std::max(x, 0.0f);
        y = std::max(y, bar);
        drawBox({x, y, x + size.x + 2 * pad, y + size.y + 2 * pad});
        dl->AddText(font, fontSize, ImVec2(x + pad, y + pad), text, toolTip_.c_str());
    }
    if (overlay_) {
        overlay_(barHeight_);
    }
    if (const ProgressShown* progress = CurrentProgress()) {
        // Above everything: while it shows, nothing else of the window answers.
        const ProgressLayout box = LayoutProgress(io.DisplaySize.x, io.DisplaySize.y, bar);
        drawBox(box.box);
        const ImVec4 clip(box.text.x0, box.text.y0, box.text.x1, box.text.y1);
        dl->AddText(font, fontSize, ImVec2(box.text.x0, (box.text.y0 + box.text.y1 - fontSize) * 0.5f), text,
                    progress->text.c_str(), nullptr, 0.0f, &clip);
        dl->AddRectFilled(ImVec2(box.bar.x0, box.bar.y0), ImVec2(box.bar.x1, box.bar.y1),
                          ImGui::GetColorU32(ImGuiCol_FrameBg));
        // Unknown progress sweeps a third of the bar across, so that a long
        // read still shows the program is alive.
        const float width = box.bar.x1 - box.bar.x0;
        float from = 0, to = static_cast<float>(std::clamp(progress->fraction, 0.0, 1.0));
        if (progress->fraction < 0) {
            const float phase = static_cast<float>(SDL_GetTicks64() % 1500) / 1500.0f * 1.33f - 0.33f;
            from = std::max(0.0f, phase);
            to = std::min(1.0f, phase + 0.33f);
        }
        dl->AddRectFilled(ImVec2(box.bar.x0 + from * width, box.bar.y0),
                          ImVec2(box.bar.x0 + to * width, box.bar.y1),
                          ImGui::GetColorU32(ImGuiCol_PlotHistogram));
        dl->AddRectFilled(ImVec2(box.cancel.x0, box.cancel.y0), ImVec2(box.cancel.x1, box.cancel.y1),
                          ImGui::GetColorU32(progress->cancelled ? ImGuiCol_ButtonActive : ImGuiCol_Button));
        const char* label = "Cancel";
        const ImVec2 size = ImGui::CalcTextSize(label);
        dl->AddText(font, fontSize,
                    ImVec2((box.cancel.x0 + box.cancel.x1 - size.x) * 0.5f,
                           (box.cancel.y0 + box.cancel.y1 - size.y) * 0.5f),
                    text, label);
    }
    ImGui::Render();
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    ImGui::SetCurrentContext(previous);
}

// ImGui learns where its windows are only in a frame, so the pointer's move
// and each button change are shown to it in a frame of their own (a quick
// redraw of the last image) before it is asked whether it wants the mouse:
// a press and release that arrive together are still a click.
bool Surface::OverlayTakes(const SDL_Event& event, bool clientCapture) {
    if (!overlay_ || !imgui_ || barHeight_ <= 0 || tracker_.Active()) {
        return false;
    }
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(imgui_);
    ImGuiIO& io = ImGui::GetIO();
    auto button = [](uint8_t sdlButton) {
        return sdlButton == SDL_BUTTON_LEFT ? 0 : sdlButton == SDL_BUTTON_RIGHT ? 1 : -1;
    };
    bool taken = false;
    switch (event.type) {
        case SDL_MOUSEMOTION:
            io.MousePos = ImVec2(static_cast<float>(event.motion.x), static_cast<float>(event.motion.y));
            taken = io.WantCaptureMouse && !clientCapture;
            break;
        case SDL_MOUSEBUTTONDOWN: {
            const int b = button(event.button.button);
            io.MousePos = ImVec2(static_cast<float>(event.button.x), static_cast<float>(event.button.y));
            Redraw();
            if (b >= 0 && io.WantCaptureMouse && !clientCapture) {
                io.MouseDown[b] = true;
                Redraw();
                taken = true;
            }
            break;
        }
        case SDL_MOUSEBUTTONUP: {
            const int b = button(event.button.button);
            if (b >= 0 && io.MouseDown[b]) {
                io.MousePos = ImVec2(static_cast<float>(event.button.x), static_cast<float>(event.button.y));
                io.MouseDown[b] = false;
                Redraw();
                taken = true;
            }
            break;
        }
        case SDL_MOUSEWHEEL:
            taken = io.WantCaptureMouse && !clientCapture;
            break;
        default:
            break;
    }
    ImGui::SetCurrentContext(previous);
    return taken;
}

}  // namespace shell::detail
