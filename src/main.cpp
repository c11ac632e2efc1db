// SPDX-License-Identifier: GPL-3.0-or-later
// Kelvano: a two-channel thermometer on the two analogue axes of a game port.

#include "program.h"

int main(int argc, char* argv[]) {
    return kelvanoMain(argc, argv);
}
