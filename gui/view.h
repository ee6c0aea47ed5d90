// SPDX-License-Identifier: GPL-3.0-or-later
// The view tree: CView, a reference-counted rectangle that draws itself and answers events, and
// CViewContainer, a view holding an ordered list of children composed off-screen. Coordinates of
// a view are relative to its parent. User-interface thread only.
#pragma once

#include "gui/geometry.h"

namespace gui {

class CFrame;
class CFrameOwner;
class CBitmap;
class CDrawContext;
class COffscreenContext;

// Keys as the toolkit sees them, whichever host or window system they came from (each face
// translates its own codes): a named key, or none and the character the key types.
enum class CKey : int32_t {
    none = 0,
    unknown,  // a key with a name the toolkit has no use for
    backspace,
    returnKey,
    enter,  // the keypad's
    escape,
    space,
    end,
    home,
    left,
    up,
    right,
    down,
    del,
    keypad0,  // keypad0 + n is the keypad's digit n
    keypad9 = keypad0 + 9,
    keypadMultiply,
    keypadAdd,
    keypadSubtract,
    keypadDecimal,
    keypadDivide,
    tab,
    insert,
    pageUp,
    pageDown,
    f1,  // f1 + n - 1 is the function key n, up to f12
    f12 = f1 + 11,
};
struct CKeyCode {
    int32_t character = 0;  // Unicode
    CKey key = CKey::none;
    int32_t modifiers = 0;  // kKeyShift, kKeyControl, kKeyAlt
    // From a window of our own only (0 and false from a host): the physical key, the same on
    // every layout and system (the PC scan code, 0xE000 added for extended keys), and whether the
    // press is an auto-repeat of a key still held.
    uint32_t scancode = 0;
    bool repeat = false;
};

// Drop types: kDropFiles: items are nbItems zero-terminated paths; kDropText: items[0] is the
// text and nbItems the byte size of the block holding it.
enum : int32_t { kDropFiles = 0, kDropText = 1 };

// Compared by address, not by text.
extern const char* const kMsgCheckIfViewContainer;

class CView {
public:
    explicit CView(const CRect& size);
    virtual ~CView();
    CView(const CView&) = delete;
    CView& operator=(const CView&) = delete;

    virtual void draw(CDrawContext* context);
    virtual void drawRect(CDrawContext* context, CRect& updateRect);
    virtual bool checkUpdate(CRect& updateRect);
    virtual void mouse(CDrawContext* context, CPoint& where);
    virtual void update(CDrawContext* context);
    virtual int32_t notify(CView* sender, const char* message);
    virtual int32_t onKeyDown(CKeyCode& key);
    virtual int32_t onKeyUp(CKeyCode& key);
    virtual bool onDrop(void** items, int32_t nbItems, int32_t type, CPoint& where);
    virtual bool onWheel(CDrawContext* context, const CPoint& where, float distance);
    virtual void looseFocus(CDrawContext* context = nullptr);
    // A drag that follows the idle calls (the frame's owner asks for it): after the press has
    // started it, one step per idle, with the pointer's live state. False once the drag has
    // ended (the button is up); endTracking then closes it, also when the frame goes first.
    virtual bool trackStep(CDrawContext* /*context*/) { return false; }
    virtual void endTracking() {}
    virtual void takeFocus(CDrawContext* context = nullptr);
    virtual bool isDirty() { return dirty; }
    virtual void setDirty(bool state = true) { dirty = state; }
    virtual void setMouseEnabled(bool enable = true) { mouseEnabled = enable; }
    virtual bool getMouseEnabled() { return mouseEnabled; }
    virtual void setMouseableArea(const CRect& rect) { mouseableArea = rect; }
    virtual CRect& getMouseableArea(CRect& rect) {
        rect = mouseableArea;
        return rect;
    }
    virtual bool hitTest(const CPoint& where, int32_t buttons = -1);
    virtual void setTransparency(bool state) { transparent = state; }
    virtual bool getTransparency() { return transparent; }
    virtual void setViewSize(CRect& rect);
    virtual CRect& getViewSize(CRect& rect) const {
        rect = size;
        return rect;
    }
    virtual void setParentView(CView* parent) { parentView = parent; }
    virtual void setParent(CFrame* frame) { parentFrame = frame; }
    virtual CFrameOwner* getEditor();
    virtual bool removed(CView* parent);
    virtual bool attached(CView* parent);
    // Destroys the view when the count reaches 0; nothing when it is already 0 or less.
    virtual void forget();
    virtual void remember() { ++nbReference; }
    virtual int32_t getNbReference() const { return nbReference; }

    // Asks the frame to draw this view now.
    void redraw();
    int32_t getWidth() const { return size.width(); }
    int32_t getHeight() const { return size.height(); }
    CFrame* getParent() const { return parentFrame; }
    CView* getParentView() const { return parentView; }

protected:
    int32_t nbReference = 1;
    CRect size;
    CRect mouseableArea;
    CFrame* parentFrame = nullptr;
    CView* parentView = nullptr;
    bool dirty = false;
    bool mouseEnabled = true;
    bool transparent = false;
};

// The container's list node: holds one reference to its view.
struct CCView {
    explicit CCView(CView* view);
    ~CCView();
    CCView(const CCView&) = delete;
    CCView& operator=(const CCView&) = delete;
    CView* view;
    CCView* next = nullptr;
    CCView* previous = nullptr;
};

class CViewContainer : public CView {
public:
    CViewContainer(const CRect& size, CFrame* parent, CBitmap* background = nullptr);
    ~CViewContainer() override;

    void draw(CDrawContext* context) override;
    void drawRect(CDrawContext* context, CRect& updateRect) override;
    void mouse(CDrawContext* context, CPoint& where) override;
    void update(CDrawContext* context) override;
    int32_t notify(CView* sender, const char* message) override;
    int32_t onKeyDown(CKeyCode& key) override;
    int32_t onKeyUp(CKeyCode& key) override;
    bool onDrop(void** items, int32_t nbItems, int32_t type, CPoint& where) override;
    bool onWheel(CDrawContext* context, const CPoint& where, float distance) override;
    void looseFocus(CDrawContext* context = nullptr) override;
    void takeFocus(CDrawContext* context = nullptr) override;
    bool isDirty() override;
    bool hitTest(const CPoint& where, int32_t buttons = -1) override;
    void setViewSize(CRect& rect) override;
    bool removed(CView* parent) override;
    bool attached(CView* parent) override;

    virtual void addView(CView* view);
    virtual void addView(CView* view, CRect& mouseableArea, bool mouseEnabled = true);
    virtual void removeView(CView* view, const bool& withForget = true);
    virtual void removeAll(const bool& withForget = true);
    virtual bool isChild(CView* view);
    virtual int32_t getNbViews();
    virtual CView* getView(int32_t index);
    virtual void setBackgroundColor(CColor color) { backgroundColor = color; }
    virtual CColor getBackgroundColor() const { return backgroundColor; }
    virtual void setBackground(CBitmap* background);
    virtual CBitmap* getBackground() const { return background; }
    virtual void setBackgroundOffset(const CPoint& p) { backgroundOffset = p; }
    virtual const CPoint& getBackgroundOffset() const { return backgroundOffset; }
    virtual void setMode(int32_t value) { mode = value; }
    virtual int32_t getMode() const { return mode; }
    virtual void useOffscreen(bool b);

    bool hitTestSubViews(const CPoint& where, int32_t buttons = -1);
    // The child under the mouse, by mouseable area; null when none.
    CView* getCurrentView();
    void drawBackgroundRect(CDrawContext* context, CRect& rect);
    COffscreenContext* getOffscreen() const { return offscreen; }

    // Move a context into this container's coordinates and back; save holds four values.
    void modifyDrawContext(int32_t save[4], CDrawContext* context);
    void restoreDrawContext(CDrawContext* context, int32_t save[4]);

protected:
    void makeOffscreen();
    void paintBackground(CDrawContext* target, const CRect& local);
    CPoint local(const CPoint& where) const {
        return CPoint(where.x - size.left, where.y - size.top);
    }

    CCView* firstView = nullptr;
    CCView* lastView = nullptr;
    CBitmap* background = nullptr;
    int32_t mode = 0;
    COffscreenContext* offscreen = nullptr;
    CColor backgroundColor = kBlackCColor;
    CPoint backgroundOffset;
    bool drawInOffscreen = true;
};

}  // namespace gui
