#include "render/client_area.h"

shell::HWND MainWindow = nullptr;
ClientAreaRecord ClientArea;
float FrameClock = 0.0f;
