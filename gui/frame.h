// CFrame: the root of the view tree, bound to a window of its own inside the host's window.
#pragma once

#include "geometry.h"

#include "platform/window.h"

namespace gui {

// What the frame asks of the editor that owns it.
class CFrameOwner {
public:
    virtual ~CFrameOwner() = default;
    virtual void doIdleStuff() = 0;
};

class CFrame {
public:
    CFrame(const CRect& size, platform::Window* window, CFrameOwner* owner)
        : size(size), systemWindow(window), owner(owner) {}
    CRect& getViewSize(CRect& r) const {
        r = size;
        return r;
    }
    platform::Window* getSystemWindow() const { return systemWindow; }
    void doIdleStuff() {
        if (owner) owner->doIdleStuff();
    }

private:
    CRect size;
    platform::Window* systemWindow;
    CFrameOwner* owner;
};

}  // namespace gui
