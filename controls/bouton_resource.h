#pragma once
// Resource identifiers of the button control BoutonLMX, shared by its code and controls/BoutonLMX.rc.

// The control owns 200 to 299; a program that embeds BoutonLMX.rc gives its own resources other numbers.
#define IDB_BOUTON_BLEU 201
#define IDB_BOUTON_BLEUOO 202
#define IDB_BOUTON_BLEUO 203
#define IDB_BOUTON_ORANGE 204
#define IDB_BOUTON_DEPART 205
#define IDB_BOUTON_GAUCHE 206
#define IDB_BOUTON_DROITE 207
#define IDC_BOUTON_MAIN 208
