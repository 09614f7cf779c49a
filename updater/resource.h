#pragma once
// Resource identifiers of the program, shared by the code and the resource scripts.

#define IDR_APPLICATION_MANIFEST 1

// The button control BoutonLMX: its seven face pictures and its hand pointer.
#define IDB_BOUTON_BLEU 201
#define IDB_BOUTON_BLEUOO 202
#define IDB_BOUTON_BLEUO 203
#define IDB_BOUTON_ORANGE 204
#define IDB_BOUTON_DEPART 205
#define IDB_BOUTON_GAUCHE 206
#define IDB_BOUTON_DROITE 207
#define IDC_BOUTON_MAIN 208

// The main window's two pictures.
#define IDB_PACKAGE 101
#define IDB_INACTIVE_BUTTON 102
