// SPDX-License-Identifier: GPL-3.0-or-later
// A loadable library that is not a plug-in: it exports neither VSTPluginMain nor main.
extern "C" __attribute__((visibility("default"))) int notAPlugin() { return 42; }
