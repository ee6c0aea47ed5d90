// SPDX-License-Identifier: GPL-3.0-or-later
// corvex: the synth as an instrument of its own, played through JACK or ALSA.
#include "standalone/app.h"

int main(int argc, char** argv) { return corvex_standalone::run(argc, argv); }
