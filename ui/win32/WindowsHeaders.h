#pragma once
// The Windows headers for code that also includes our windowing layer
// (ui/Window.h). Several of the system's names (MessageBox, IDOK, RGB ...)
// are macros that would rewrite that layer's own names; they are dropped
// here, and the system's calls are made by their wide-character names.

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#undef RGB
#undef IDOK
#undef IDCANCEL
#undef EDGE_SUNKEN
#undef BF_RECT
#undef SC_CLOSE
#undef MessageBox
#undef SetWindowText
#undef SetDlgItemText
#undef LoadIcon
#undef LoadString
