// SPDX-License-Identifier: GPL-3.0-or-later
// CFrame: the root of the view tree and the toolkit's only contact with the window system. It
// creates its own child window inside the window the host hands over, repaints on paint events
// and idle calls, routes mouse, key, wheel and drop events to the views, tracks the modal view
// and the view being edited, and forwards edit gestures to the effect through its editor.
#pragma once

#include "gui/view.h"

#include "platform/window.h"

namespace gui {

// Asked of the edit view through notify: non-zero while it wants the host's key requests (an edit
// box is open). Compared by address.
extern const char* const kMsgKeysRequired;

// The window record of a frame that asks the host for a window of its own.
struct CWindowRecord {
    char title[128] = {};
    int16_t x = 0, y = 0, width = 0, height = 0;
    int32_t style = 0;
};

// What the frame asks of the editor that owns it (AEffGUIEditor implements it).
class CFrameOwner {
public:
    virtual ~CFrameOwner() = default;
    virtual void doIdleStuff() = 0;
    virtual uint32_t getTicks() = 0;
    virtual int32_t getKnobMode() const { return 0; }
    // True: a control's drag must not hold the thread in a loop of its own but go on one step
    // per idle() (a host that runs other windows on the same thread and calls idle often).
    virtual bool tracksInIdle() const { return false; }
    virtual void beginEdit(int32_t /*index*/) {}
    virtual void endEdit(int32_t /*index*/) {}
    // True when the host can size the window and did (device pixels: the frame's size times its
    // scale).
    virtual bool sizeWindow(int32_t /*width*/, int32_t /*height*/) { return false; }
    // The host's window for the record, or 0.
    virtual platform::NativeWindow openWindow(CWindowRecord& /*record*/) { return 0; }
    virtual bool closeWindow(CWindowRecord& /*record*/) { return false; }

    // A frame in a top-level window of its own (CTopLevel) reports these; a frame in a host's
    // window never does (the host owns the keyboard and the window's life).
    // The user asked to close the window; it stays until the frame ends.
    virtual void onCloseRequest() {}
    // A key pressed or released while no edit box is open over the window: true when taken.
    virtual bool onKey(const CKeyCode& /*key*/, bool /*down*/) { return false; }
    // The window lost the keyboard (after the releases of the keys that were down).
    virtual void onFocusOut() {}
};

// A top-level window of the frame's own: its title (UTF-8) and the smallest size the user may
// make it (0: the frame's size). An application's own window names its class (null: the module's
// window class, as every editor window has it) and may bring icons (platform::TopLevelOptions).
struct CTopLevel {
    const char* title = "";
    int32_t minWidth = 0, minHeight = 0;
    const char* className = nullptr;
    platform::Bitmap* const* icons = nullptr;
    int32_t iconCount = 0;
};

class CFrame : public CView, private platform::WindowEvents {
public:
    // parentWindow: the host's window (on X11 its id, as hosts pass it). Creates the frame's
    // window at once; without a usable parent there is no window and nothing is drawn.
    CFrame(const CRect& size, void* parentWindow, CFrameOwner* editor);
    // Asks the host for a window of its own when opened (open/close).
    CFrame(const CRect& size, const char* title, CFrameOwner* editor, int32_t style);
    // In a top-level window of its own on the desktop, made at once; without a window system
    // there is no window and nothing is drawn.
    CFrame(const CRect& size, const CTopLevel& window, CFrameOwner* editor);
    // A top-level frame's title; false for any other frame.
    bool setTitle(const char* utf8);
    ~CFrame() override;

    // How an owner ends the frame (instead of delete): a text being edited is committed, then
    // the frame is deleted. Called from inside one of the frame's own event handlers or tracking
    // loops (a host closing the editor from its idle answer mid-drag), the window disappears and
    // the owner is let go at once (a gesture in progress is ended towards it first), every
    // tracking loop sees its button released, and the frame and its views are deleted when the
    // outermost handler returns.
    void dispose();
    bool isDisposed() const { return disposed; }

    void draw(CDrawContext* context) override;
    void drawRect(CDrawContext* context, CRect& updateRect) override;
    void mouse(CDrawContext* context, CPoint& where) override;
    void update(CDrawContext* context) override;
    int32_t onKeyDown(CKeyCode& key) override;
    int32_t onKeyUp(CKeyCode& key) override;
    bool onDrop(void** items, int32_t nbItems, int32_t type, CPoint& where) override;
    bool onWheel(CDrawContext* context, const CPoint& where, float distance) override;
    CFrameOwner* getEditor() override { return editor; }

    virtual bool addView(CView* view);
    virtual bool removeView(CView* view, const bool& withForget = true);
    virtual bool removeAll(const bool& withForget = true);
    virtual bool isChild(CView* view);
    virtual int32_t getNbViews() { return nbViews; }
    virtual CView* getView(int32_t index);

    void setBackground(CBitmap* background);
    CBitmap* getBackground() const { return background; }
    bool setModalView(CView* view);
    CView* getModalView() const { return modalView; }
    void setEditView(CView* view);
    CView* getEditView() const { return editView; }
    // Whether the edit view wants the host's keys now (the editor's keysRequired).
    bool keysRequired();
    // The edit-colour request of an edit box: the text and back colours of the edit view when it
    // is a parameter display; false (colours untouched) otherwise.
    bool getEditColors(CColor& fontColor, CColor& backColor);

    // Repaints v now (the whole frame when v is not a top-level view).
    void draw(CView* view);
    bool isSomethingDirty();
    // Dispatches the window's pending events, then redraws dirty views (after the first paint).
    void idle();
    // Dispatches waiting paint events only: what a control's tracking loop may do.
    void dispatchPaint();
    void invalidate(const CRect& rect);
    void doIdleStuff();
    uint32_t getTicks();
    int32_t getKnobMode();
    bool tracksInIdle() const { return editor && editor->tracksInIdle(); }
    // Hands the drag view started in press over to idle(): its trackStep runs with a context
    // that maps the pointer as press did, until it answers false. Presses and wheel turns are
    // the drag's own meanwhile.
    void beginTracking(CView* view, const CDrawContext& press);
    CView* getTrackingView() const { return trackingView; }

    bool getCurrentLocation(CPoint& where);
    CView* getCurrentView();
    void setCursor(CCursorType type);

    void beginEdit(int32_t index);
    void endEdit(int32_t index);

    bool open(CPoint* where = nullptr);
    bool close();
    bool getOpenFlag() const { return openFlag; }
    void setOpenFlag(bool flag) { openFlag = flag; }
    platform::Window* getSystemWindow() const { return systemWindow; }
    // Device pixels per design unit of the frame's window (1, 2 or 3), fixed when it opened.
    int32_t getScale() const { return scale; }
    void setParentSystemWindow(void* window) { parentWindow = window; }
    void* getParentSystemWindow() const { return parentWindow; }
    bool setDropActive(bool active);
    bool initFrame(void* parentWindow);
    bool setSize(int32_t width, int32_t height);
    bool getSize(CRect* rect);
    bool getPosition(int32_t& x, int32_t& y);
    platform::NativeWindow getOuterWindow();

    // Process-wide window-class state, for tests.
    static int32_t windowClassUseCount();
    static const char* windowClassName();

private:
    // platform::WindowEvents
    void onPaint(platform::Context* context, const platform::Rect& damaged) override;
    void onButtonDown(platform::Context* context, platform::Point where, int button,
                      uint32_t state) override;
    void onDestroyed() override;
    void onWheel(platform::Context* context, platform::Point where, float distance) override;
    bool canDrop() override;
    bool onDrop(platform::DropKind kind, const char* const* items, int32_t count, std::size_t size,
                platform::Point where) override;
    bool onKey(const platform::KeyEvent& key, bool down) override;
    void onCloseRequest() override;
    void onFocusOut() override;

    template <typename Fn> void withWindowContext(Fn&& fn);
    void stepTracking();
    // Ends the drag idle() follows, if any: the view closes its gesture and is let go.
    void finishTracking();
    static void release(CView* view, bool withForget);

    // Keeps the frame alive for the length of one entry from the window system or the owner, so
    // that a dispose() from inside it deletes nothing still in use.
    class Hold {
    public:
        // Nothing to hold while the last reference is already gone (inside the destructor).
        explicit Hold(CFrame* frame) : frame(frame), held(frame->getNbReference() > 0) {
            if (held) frame->remember();
        }
        ~Hold() {
            if (held) frame->forget();
        }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        CFrame* frame;
        bool held;
    };

    CFrameOwner* editor = nullptr;
    void* parentWindow = nullptr;
    CBitmap* background = nullptr;
    int32_t nbViews = 0;
    int32_t maxViews = 0;
    CView** views = nullptr;
    CView* modalView = nullptr;
    CView* editView = nullptr;
    bool firstDraw = true;
    bool openFlag = true;
    bool dropActive = false;
    platform::Window* systemWindow = nullptr;
    bool addedWindow = false;
    CWindowRecord* vstWindow = nullptr;
    bool cursorTouched = false;
    bool classRegistered = false;
    platform::OptionalBlits blits;
    bool disposed = false;
    bool topLevel = false;
    int32_t scale = 1;
    int32_t gesture = -1;                   // the parameter between beginEdit and endEdit
    CDrawContext* pressContext = nullptr;   // while a press is delivered
    CView* trackingView = nullptr;          // a drag going on in idle(), holding a reference
    CPoint trackingOffset, trackingOrigin;  // the press context's mapping, for its steps
};

}  // namespace gui
