// The volume and the editor are defined together so that their order at exit
// is fixed: the editor is destroyed first, then the volume is released. Both
// go after the window and the device, which is safe for their GPU objects.
#include "ui/tab.h"
#include "volume/volume.h"

CVolume Volume;
UI::CTab EditorTab;
