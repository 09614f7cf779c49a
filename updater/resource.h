#pragma once
// Resource identifiers of the program, shared by the code and the resource scripts.

#define IDR_APPLICATION_MANIFEST 1
