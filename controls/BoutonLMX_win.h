#pragma once
// The styled push button BoutonLMX as a Win32 child window of the class "BoutonLMX".
//
// What the host sees:
// - Caption, the property Libelle: WM_SETTEXT / WM_GETTEXT (SetWindowTextW, GetWindowTextW). Writing
//   it changes the caption text only; the icon and the layout stay until the next restore or resize.
//   A window name given at creation is written the same way; without one the caption is "Label1".
// - Visibility: the generic ShowWindow. Each time the control is shown the fade clock starts.
// - Events: Click and Mousemouve are sent to the parent as WM_COMMAND with LOWORD(wParam) the
//   control's id, HIWORD(wParam) kBoutonClick or kBoutonMousemouve and lParam the control's window.
//   They are sent, not posted: the host's handler runs to its end inside the mouse step that raised
//   the event. The host may destroy the control from its handler.
// - Persistence: ReadBoutonProperties restores the caption and chooses the icon (to be followed by a
//   sizing, as CreateBoutonLMX does); WriteBoutonProperties saves it.
// - Painting: WM_PAINT and WM_PRINTCLIENT, so a test can render the control into a memory DC.
// - The hand pointer shows over the whole control, the hourglass over the caption while the host
//   handles Click. There is no keyboard or focus activation.

#include <windows.h>

#include "controls/property_set.h"

namespace lumoradex {

constexpr wchar_t kBoutonClassName[] = L"BoutonLMX";
constexpr WORD kBoutonClick = 1;
constexpr WORD kBoutonMousemouve = 2;

// Registers the class; `module` holds the face pictures and the hand pointer. Throws Win32Error.
void RegisterBoutonLMX(HINSTANCE module);

// Creates a visible instance restored from its saved property set, then sized at `place` (the height
// is the control's own). Throws Win32Error.
HWND CreateBoutonLMX(HWND parent, int id, const RECT& place, const PropertySet& saved);

void ReadBoutonProperties(HWND bouton, const PropertySet& saved);
void WriteBoutonProperties(HWND bouton, PropertySet& saved);

} // namespace lumoradex
