// SPDX-License-Identifier: GPL-3.0-or-later
// What the Corvex window needs of whoever shows it: each face (a plug-in format, the standalone)
// implements this for its synth and host. The window calls it on its user-interface thread only.
#pragma once

#include <cstdint>

class EditController {
public:
    virtual ~EditController() = default;
    // The value of parameter index (0-13) as the synth holds it now.
    virtual float getParameter(int32_t index) = 0;
    // The user set parameter index to value in the window (a knob turned, a value typed). The
    // face passes it to the synth and reports it back through CorvexWindow::setParameter.
    virtual void setParameterFromUser(int32_t index, float value) = 0;
    // A drag of parameter index starts and ends: what a host records as touching a control.
    virtual void beginGesture(int32_t index) = 0;
    virtual void endGesture(int32_t index) = 0;
    // The window has just been built: send it every value it must show, each through
    // CorvexWindow::setParameter, changing nothing in the synth.
    virtual void resendValues() = 0;
};
