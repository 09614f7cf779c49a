#pragma once
// Resource identifiers of the program, shared by the code and the resource scripts.
// The program's identifiers stay below 200: 200 to 299 are the button control's (controls/bouton_resource.h).

#define IDR_APPLICATION_MANIFEST 1

// The main window's two pictures.
#define IDB_PACKAGE 101
#define IDB_INACTIVE_BUTTON 102
