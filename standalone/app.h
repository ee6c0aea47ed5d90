// SPDX-License-Identifier: GPL-3.0-or-later
// The standalone application: the command line, the remembered sound, the sound system (a JACK
// client when a server runs, else ALSA's device and sequencer), the window (or none, headless)
// and the main loop that ties them together until the user quits or the sound goes away.
//
// Threads: run is the main thread's; JACK starts its own threads, and without JACK the ALSA
// backend starts an audio thread and a MIDI thread (standalone/alsa_engine.h, alsa_midi.h).
#pragma once

namespace corvex_standalone {

// The whole program: 0 after a clean quit, 1 when it could not start or the sound went away,
// 2 for a mistake in the command line.
int run(int argc, char** argv);

}  // namespace corvex_standalone
