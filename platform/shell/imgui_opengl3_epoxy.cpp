// ImGui's OpenGL3 backend with epoxy as its loader: the GL declarations must
// come before the backend source, which then skips its own loader.
#include <epoxy/gl.h>

#include "imgui_impl_opengl3.cpp"
