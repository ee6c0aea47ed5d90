// SPDX-License-Identifier: GPL-3.0-or-later
// The standalone application: the command line, the remembered sound, the JACK client, the window
// (or none, headless) and the main loop that ties them together until the user quits or the JACK
// server goes away.
//
// Threads: run is the main thread's; it starts no threads of its own (JACK starts its own).
#pragma once

namespace corvex_standalone {

// The whole program: 0 after a clean quit, 1 when it could not start or the server went away,
// 2 for a mistake in the command line.
int run(int argc, char** argv);

}  // namespace corvex_standalone
