// SPDX-License-Identifier: GPL-3.0-or-later
// CFrame: the view array, drawing and idling, event routing, the window and its class.
#include "gui/frame.h"

#include "gui/bitmap.h"
#include "gui/drawcontext.h"
#include "gui/paramdisplay.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace gui {

namespace {

// Shared by every frame of this module: one registration, released with the last frame.
int32_t gUseCount = 0;
char gClassName[20] = {};

// The equivalent of the system's fixed dialog-frame height used when resizing by hand.
constexpr int32_t kFixedFrameHeight = 3;

void initWindowClass() {
    if (++gUseCount == 1) {
        std::snprintf(gClassName, sizeof gClassName, "Plugin%08x",
                      static_cast<unsigned>(reinterpret_cast<uintptr_t>(platform::thisModule())));
    }
    platform::registerWindowClass();
}

void exitWindowClass() {
    platform::unregisterWindowClass();
    if (gUseCount > 0 && --gUseCount == 0) gClassName[0] = '\0';
}

platform::NativeWindow asNative(void* window) {
    return reinterpret_cast<platform::NativeWindow>(window);
}

}  // namespace

const char* const kMsgKeysRequired = "kMsgKeysRequired";

int32_t CFrame::windowClassUseCount() { return gUseCount; }
const char* CFrame::windowClassName() { return gClassName; }

CFrame::CFrame(const CRect& size, void* parent, CFrameOwner* owner)
    : CView(size), editor(owner), parentWindow(parent) {
    // The platform's optional blits (a system library on some systems), held while the frame
    // lives; without them transparent copies take the mask path.
    blits = platform::bindOptionalBlits();
    pfnAlphaBlend = blits.alphaBlend;
    pfnTransparentBlt = blits.transparentBlt;
    initFrame(parent);
}

CFrame::CFrame(const CRect& size, const char* title, CFrameOwner* owner, int32_t style)
    : CView(size), editor(owner), openFlag(false), addedWindow(true),
      vstWindow(new (std::nothrow) CWindowRecord) {
    if (vstWindow) {
        if (title) std::snprintf(vstWindow->title, sizeof vstWindow->title, "%s", title);
        vstWindow->x = static_cast<int16_t>(size.left);
        vstWindow->y = static_cast<int16_t>(size.top);
        vstWindow->width = static_cast<int16_t>(size.width());
        vstWindow->height = static_cast<int16_t>(size.height());
        vstWindow->style = style;
    }
}

CFrame::CFrame(const CRect& size, const CTopLevel& window, CFrameOwner* owner)
    : CView(size), editor(owner), classRegistered(true), topLevel(true),
      scale(platform::desktopScale(0)) {
    blits = platform::bindOptionalBlits();
    pfnAlphaBlend = blits.alphaBlend;
    pfnTransparentBlt = blits.transparentBlt;
    initWindowClass();
    platform::TopLevelOptions o;
    o.title = window.title ? window.title : "";
    o.width = size.width();
    o.height = size.height();
    o.minWidth = window.minWidth;
    o.minHeight = window.minHeight;
    o.scale = scale;
    o.className = window.className ? window.className : gClassName;
    o.icons = window.icons;
    o.iconCount = window.iconCount;
    o.events = this;
    systemWindow = platform::createTopLevelWindow(o);
    if (!systemWindow) {
        exitWindowClass();
        classRegistered = false;
        openFlag = false;
        return;
    }
    setDropActive(true);
}

bool CFrame::setTitle(const char* utf8) {
    return topLevel && systemWindow && platform::setWindowTitle(systemWindow, utf8);
}

CFrame::~CFrame() {
    finishTracking();
    setCursor(kCursorDefault);
    setDropActive(false);
    // This class's own list, as intended: a subclass's part is already gone here.
    CFrame::removeAll(true);
    if (background) background->forget();
    background = nullptr;
    if (systemWindow) {
        platform::destroyWindow(systemWindow);
        systemWindow = nullptr;
    }
    if (classRegistered) exitWindowClass();
    platform::unbindOptionalBlits(&blits);
    if (addedWindow) close();
    delete vstWindow;
    delete[] views;
}

void CFrame::dispose() {
    if (disposed) return;
    // Committed while the owner still listens, as a close has always done.
    if (editView) {
        CView* view = editView;
        editView = nullptr;
        view->looseFocus(nullptr);
    }
    // The drag's gesture ends towards the owner while it still listens.
    finishTracking();
    disposed = true;
    if (getNbReference() > 1) {
        // Still in use further up the stack: gone from the screen and from the owner now.
        if (gesture >= 0 && editor) editor->endEdit(gesture);
        gesture = -1;
        editor = nullptr;
        openFlag = false;
        setCursor(kCursorDefault);
        setDropActive(false);
        if (systemWindow) {
            platform::destroyWindow(systemWindow);
            systemWindow = nullptr;
        }
    }
    forget();
}

bool CFrame::initFrame(void* parent) {
    if (!parent || systemWindow) return false;
    initWindowClass();
    classRegistered = true;
    platform::WindowOptions o;
    o.parent = asNative(parent);
    o.width = size.width();
    o.height = size.height();
    // Taken when the window opens; the views keep their 1× layout, the platform maps it.
    scale = platform::desktopScale(o.parent);
    o.scale = scale;
    o.className = gClassName;
    o.events = this;
    systemWindow = platform::createChildWindow(o);
    if (!systemWindow) {
        // Nothing to draw on: marked closed so that nobody tries.
        exitWindowClass();
        classRegistered = false;
        openFlag = false;
        return false;
    }
    setDropActive(true);
    return true;
}

// ---- View list -------------------------------------------------------------------------------

// The list's own reference goes; withForget also lets go of the creator's, when it still holds
// one (a creator that already let go leaves the list's reference as the last).
void CFrame::release(CView* view, bool withForget) {
    if (withForget && view->getNbReference() > 1) view->forget();
    view->forget();
}

bool CFrame::addView(CView* view) {
    if (!view) return false;
    if (nbViews == maxViews) {
        const int32_t capacity = maxViews + 20;
        auto* grown = new (std::nothrow) CView*[static_cast<size_t>(capacity)];
        if (!grown) return false;
        for (int32_t i = 0; i < nbViews; ++i) grown[i] = views[i];
        delete[] views;
        views = grown;
        maxViews = capacity;
    }
    // The list holds a reference of its own, as a container's does: a creator may keep or drop
    // its reference, and the view lives while either holds one.
    view->remember();
    views[nbViews++] = view;
    view->setParent(this);
    view->attached(this);
    return true;
}

bool CFrame::removeView(CView* view, const bool& withForget) {
    for (int32_t i = 0; i < nbViews; ++i) {
        if (views[i] != view) continue;
        for (int32_t j = i; j + 1 < nbViews; ++j) views[j] = views[j + 1];
        --nbViews;
        if (editView == view) editView = nullptr;
        if (trackingView == view) finishTracking();
        view->removed(this);
        release(view, withForget);
        break;
    }
    return true;
}

bool CFrame::removeAll(const bool& withForget) {
    if (editView) {
        editView->looseFocus(nullptr);
        editView = nullptr;
    }
    finishTracking();
    for (int32_t i = 0; i < nbViews; ++i) {
        views[i]->removed(this);
        release(views[i], withForget);
    }
    delete[] views;
    views = nullptr;
    nbViews = maxViews = 0;
    return true;
}

bool CFrame::isChild(CView* view) {
    for (int32_t i = 0; i < nbViews; ++i)
        if (views[i] == view) return true;
    return false;
}

CView* CFrame::getView(int32_t index) {
    return index >= 0 && index < nbViews ? views[index] : nullptr;
}

void CFrame::setBackground(CBitmap* bitmap) {
    if (background) background->forget();
    background = bitmap;
    if (background) background->remember();
}

bool CFrame::setModalView(CView* view) {
    if (view && modalView) return false;
    if (modalView) modalView->removed(this);
    modalView = view;
    if (modalView) modalView->attached(this);
    return true;
}

bool CFrame::keysRequired() { return editView && editView->notify(this, kMsgKeysRequired) != 0; }

bool CFrame::getEditColors(CColor& fontColor, CColor& backColor) {
    auto* display = dynamic_cast<CParamDisplay*>(editView);
    if (!display) return false;
    fontColor = display->getFontColor();
    backColor = display->getBackColor();
    return true;
}

void CFrame::setEditView(CView* view) {
    CView* previous = editView;
    editView = view;
    if (previous) previous->looseFocus(nullptr);
}

// ---- Drawing ---------------------------------------------------------------------------------

template <typename Fn> void CFrame::withWindowContext(Fn&& fn) {
    if (!systemWindow) return;
    platform::Context* dc = platform::getWindowContext(systemWindow);
    if (!dc) return;
    {
        CDrawContext context(this, dc, systemWindow);
        fn(&context);
    }
    platform::releaseWindowContext(systemWindow, dc);
}

void CFrame::draw(CDrawContext* context) {
    firstDraw = false;
    if (!context) return;
    if (background) {
        CRect r(0, 0, background->getWidth(), background->getHeight());
        background->draw(context, r, CPoint(0, 0));
    }
    for (int32_t i = 0; i < nbViews; ++i) views[i]->draw(context);
    if (modalView) modalView->draw(context);
}

void CFrame::drawRect(CDrawContext* context, CRect& updateRect) {
    firstDraw = false;
    if (!context) return;
    if (background) background->draw(context, updateRect, CPoint(updateRect.left, updateRect.top));
    for (int32_t i = 0; i < nbViews; ++i)
        if (views[i]->checkUpdate(updateRect)) views[i]->drawRect(context, updateRect);
    if (modalView && modalView->checkUpdate(updateRect)) modalView->draw(context);
}

void CFrame::draw(CView* view) {
    Hold hold(this);
    withWindowContext([&](CDrawContext* context) {
        if (view && isChild(view)) view->draw(context);
        else draw(context);
    });
}

void CFrame::update(CDrawContext* context) {
    if (!openFlag || !context) return;
    if (modalView) {
        modalView->update(context);
    } else if (dirty) {
        draw(context);
        setDirty(false);
    } else {
        for (int32_t i = 0; i < nbViews; ++i) views[i]->update(context);
    }
}

bool CFrame::isSomethingDirty() {
    if (modalView || dirty) return true;
    for (int32_t i = 0; i < nbViews; ++i)
        if (views[i]->isDirty()) return true;
    return false;
}

void CFrame::idle() {
    Hold hold(this);
    // The host's idle call stands in for a message loop: the window's events come first.
    if (systemWindow) platform::pumpEvents(systemWindow, false);
    if (trackingView) stepTracking();
    if (!openFlag || firstDraw || !isSomethingDirty()) return;
    withWindowContext([&](CDrawContext* context) { update(context); });
}

void CFrame::dispatchPaint() {
    Hold hold(this);
    if (systemWindow) platform::pumpEvents(systemWindow, true);
}

void CFrame::invalidate(const CRect& rect) {
    for (int32_t i = 0; i < nbViews; ++i) {
        CRect r;
        views[i]->getViewSize(r);
        if (r.rectOverlap(rect)) views[i]->setDirty(true);
    }
}

void CFrame::doIdleStuff() {
    // A tracking loop's first idle step: from now on it follows the live button state.
    if (pressContext) pressContext->clearEventButtons();
    if (editor) editor->doIdleStuff();
}

void CFrame::beginTracking(CView* view, const CDrawContext& press) {
    if (!view || disposed) return;
    finishTracking();
    view->remember();
    trackingView = view;
    trackingOffset = press.offset;
    trackingOrigin = press.screenOrigin;
}

void CFrame::stepTracking() {
    CView* view = trackingView;
    bool going = false;
    withWindowContext([&](CDrawContext* context) {
        context->offset = trackingOffset;
        context->screenOrigin = trackingOrigin;
        going = view->trackStep(context);
    });
    // No window to ask (it is gone): the button counts as released, as in a drag's own loop.
    if (!going && trackingView == view) finishTracking();
}

void CFrame::finishTracking() {
    CView* view = trackingView;
    if (!view) return;
    trackingView = nullptr;
    view->endTracking();
    view->forget();
}

uint32_t CFrame::getTicks() { return editor ? editor->getTicks() : 0; }
int32_t CFrame::getKnobMode() { return editor ? editor->getKnobMode() : 0; }

// ---- Events ----------------------------------------------------------------------------------

void CFrame::mouse(CDrawContext* context, CPoint& where) {
    // The edit view loses the focus while it still is the edit view (a text field commits only
    // then), and is cleared afterwards.
    if (editView) {
        editView->looseFocus(nullptr);
        editView = nullptr;
    }
    if (!context) return;
    const int32_t buttons = context->getMouseButtons();
    if (modalView) {
        if (modalView->hitTest(where, buttons)) modalView->mouse(context, where);
        return;
    }
    for (int32_t i = nbViews - 1; i >= 0; --i) {
        CView* v = views[i];
        if (v->getMouseEnabled() && v->hitTest(where, buttons)) {
            v->mouse(context, where);
            return;
        }
    }
}

int32_t CFrame::onKeyDown(CKeyCode& key) {
    Hold hold(this);
    int32_t result = -1;
    if (editView) result = editView->onKeyDown(key);
    if (result == -1 && modalView) result = modalView->onKeyDown(key);
    for (int32_t i = nbViews - 1; result == -1 && i >= 0; --i) result = views[i]->onKeyDown(key);
    return result;
}

int32_t CFrame::onKeyUp(CKeyCode& key) {
    Hold hold(this);
    int32_t result = -1;
    if (editView) result = editView->onKeyUp(key);
    if (result == -1 && modalView) result = modalView->onKeyUp(key);
    for (int32_t i = nbViews - 1; result == -1 && i >= 0; --i) result = views[i]->onKeyUp(key);
    return result;
}

bool CFrame::onDrop(void** items, int32_t nbItems, int32_t type, CPoint& where) {
    if (modalView || editView) return false;
    for (int32_t i = nbViews - 1; i >= 0; --i) {
        CView* v = views[i];
        CRect r;
        v->getViewSize(r);
        if (v->getMouseEnabled() && where.isInside(r) && v->onDrop(items, nbItems, type, where))
            return true;
    }
    return false;
}

bool CFrame::onWheel(CDrawContext* context, const CPoint&, float distance) {
    Hold hold(this);
    CView* v = getCurrentView();
    if (!v) return false;
    CPoint where;
    getCurrentLocation(where);
    bool result = false;
    if (context) result = v->onWheel(context, where, distance);
    else withWindowContext([&](CDrawContext* c) { result = v->onWheel(c, where, distance); });
    return result;
}

bool CFrame::getCurrentLocation(CPoint& where) {
    platform::PointerState s;
    platform::queryPointer(systemWindow, &s);
    const platform::Rect r =
        systemWindow ? platform::windowScreenRect(systemWindow) : platform::Rect{};
    where = CPoint(s.screen.x - r.left, s.screen.y - r.top);
    return true;
}

CView* CFrame::getCurrentView() {
    if (modalView) return modalView;
    CPoint where;
    getCurrentLocation(where);
    for (int32_t i = nbViews - 1; i >= 0; --i) {
        CRect r;
        views[i]->getViewSize(r);
        if (where.isInside(r)) return views[i];
    }
    return nullptr;
}

void CFrame::setCursor(CCursorType type) {
    if (!systemWindow) return;
    static const platform::Cursor map[] = {platform::Cursor::standard, platform::Cursor::wait,
                                           platform::Cursor::sizeWE,   platform::Cursor::sizeNS,
                                           platform::Cursor::sizeAll,  platform::Cursor::sizeNESW,
                                           platform::Cursor::sizeNWSE};
    if (type < 0 || type > kCursorNWSESize) return;
    if (type == kCursorDefault && !cursorTouched) return;
    cursorTouched = true;
    platform::setCursor(systemWindow, map[type]);
}

// The window system's events, on the host's thread, from pumpEvents.
void CFrame::onPaint(platform::Context* dc, const platform::Rect& damaged) {
    Hold hold(this);
    CDrawContext context(this, dc, systemWindow);
    CRect r(damaged.left, damaged.top, damaged.right, damaged.bottom);
    drawRect(&context, r);
}

void CFrame::onButtonDown(platform::Context* dc, platform::Point where, int, uint32_t state) {
    Hold hold(this);
    // A second button during a drag belongs to the drag, as its own loop would have it.
    if (trackingView) return;
    CDrawContext context(this, dc, systemWindow);
    context.setEventButtons(state);
    CDrawContext* outer = pressContext;
    pressContext = &context;
    CPoint p(where.x, where.y);
    mouse(&context, p);
    pressContext = outer;
}

void CFrame::onDestroyed() {
    setOpenFlag(false);
    setParentSystemWindow(nullptr);
}

void CFrame::onWheel(platform::Context* dc, platform::Point where, float distance) {
    Hold hold(this);
    if (trackingView) return;
    CDrawContext context(this, dc, systemWindow);
    onWheel(&context, CPoint(where.x, where.y), distance);
}

bool CFrame::canDrop() { return !modalView && !editView; }

bool CFrame::onDrop(platform::DropKind kind, const char* const* items, int32_t count,
                    std::size_t size, platform::Point where) {
    Hold hold(this);
    CPoint p(where.x, where.y);
    if (kind == platform::DropKind::text) {
        void* text[1] = {const_cast<char*>(items[0])};
        return onDrop(text, static_cast<int32_t>(size), kDropText, p);
    }
    return onDrop(reinterpret_cast<void**>(const_cast<char**>(items)), count, kDropFiles, p);
}

namespace {

CKey toolkitKey(platform::Key key) {
    using platform::Key;
    switch (key) {
    case Key::none: return CKey::none;
    case Key::backspace: return CKey::backspace;
    case Key::tab: return CKey::tab;
    case Key::returnKey: return CKey::returnKey;
    case Key::enter: return CKey::enter;
    case Key::escape: return CKey::escape;
    case Key::space: return CKey::space;
    case Key::del: return CKey::del;
    case Key::insert: return CKey::insert;
    case Key::home: return CKey::home;
    case Key::end: return CKey::end;
    case Key::pageUp: return CKey::pageUp;
    case Key::pageDown: return CKey::pageDown;
    case Key::left: return CKey::left;
    case Key::up: return CKey::up;
    case Key::right: return CKey::right;
    case Key::down: return CKey::down;
    default:
        if (key >= Key::f1 && key <= Key::f12)
            return static_cast<CKey>(static_cast<int32_t>(CKey::f1) +
                                     (static_cast<int32_t>(key) - static_cast<int32_t>(Key::f1)));
        return CKey::unknown;
    }
}

}  // namespace

bool CFrame::onKey(const platform::KeyEvent& key, bool down) {
    Hold hold(this);
    if (!editor) return false;
    CKeyCode k;
    k.character = static_cast<int32_t>(key.character);
    k.key = toolkitKey(key.key);
    if (key.modifiers & platform::kModShift) k.modifiers |= kKeyShift;
    if (key.modifiers & platform::kModControl) k.modifiers |= kKeyControl;
    if (key.modifiers & platform::kModAlt) k.modifiers |= kKeyAlt;
    k.scancode = key.scancode;
    k.repeat = key.repeat;
    return editor->onKey(k, down);
}

void CFrame::onCloseRequest() {
    Hold hold(this);
    if (editor) editor->onCloseRequest();
}

void CFrame::onFocusOut() {
    Hold hold(this);
    if (editor) editor->onFocusOut();
}

// ---- Host and window -------------------------------------------------------------------------

void CFrame::beginEdit(int32_t index) {
    gesture = index;
    if (editor) editor->beginEdit(index);
}

void CFrame::endEdit(int32_t index) {
    if (gesture == index) gesture = -1;
    if (editor) editor->endEdit(index);
}

bool CFrame::setDropActive(bool active) {
    if (!dropActive && !active) return true;
    if (!systemWindow) return false;
    platform::setDropTarget(systemWindow, active);
    dropActive = active;
    return true;
}

bool CFrame::open(CPoint* where) {
    if (!addedWindow) return false;
    if (openFlag) {
        if (systemWindow) {
            platform::NativeWindow p =
                platform::nativeParent(systemWindow, platform::nativeHandle(systemWindow));
            platform::NativeWindow gp = p ? platform::nativeParent(systemWindow, p) : 0;
            if (gp) platform::nativeRaise(systemWindow, gp);
        }
        return false;
    }
    if (vstWindow) {
        if (where) {
            vstWindow->x = static_cast<int16_t>(where->x);
            vstWindow->y = static_cast<int16_t>(where->y);
        }
        if (editor) parentWindow = reinterpret_cast<void*>(editor->openWindow(*vstWindow));
    }
    if (parentWindow && initFrame(parentWindow)) openFlag = true;
    return openFlag;
}

bool CFrame::close() {
    if (!addedWindow || !openFlag || !parentWindow) return false;
    if (editor && vstWindow) editor->closeWindow(*vstWindow);
    parentWindow = nullptr;
    openFlag = false;
    return true;
}

bool CFrame::setSize(int32_t width, int32_t height) {
    if (!openFlag || !systemWindow) return false;
    if (width == size.width() && height == size.height()) return false;
    if (editor && editor->sizeWindow(width * scale, height * scale)) {
        platform::resizeWindow(systemWindow, width, height);
        return true;
    }
    size.right = size.left + width;
    size.bottom = size.top + height;
    const int32_t limit = 2 * kFixedFrameHeight;
    int32_t dx = 0, dy = 0;
    // Our own window first, then up the host's chain while the parents hug their children.
    bool ours = true;
    platform::NativeWindow w = platform::nativeHandle(systemWindow);
    while (dx != limit && w) {
        const platform::NativeWindow p = platform::nativeParent(systemWindow, w);
        if (!p) break;
        platform::Rect wr{}, pr{};
        if (!platform::nativeScreenRect(systemWindow, w, &wr) ||
            !platform::nativeScreenRect(systemWindow, p, &pr))
            break;
        if (ours) platform::resizeWindow(systemWindow, width + dx, height + dy);
        else platform::nativeResize(systemWindow, w, width * scale + dx, height * scale + dy);
        ours = false;
        dx = (pr.right - pr.left) - (wr.right - wr.left);
        dy = (pr.bottom - pr.top) - (wr.bottom - wr.top);
        if (dx > 80 || dy > 80) return true;
        w = p;
    }
    if (w) {
        if (ours) platform::resizeWindow(systemWindow, width + dx, height + dy);
        else platform::nativeResize(systemWindow, w, width * scale + dx, height * scale + dy);
    }
    return true;
}

platform::NativeWindow CFrame::getOuterWindow() {
    if (!systemWindow) return 0;
    const platform::NativeWindow own = platform::nativeHandle(systemWindow);
    platform::Rect ownRect{};
    platform::nativeScreenRect(systemWindow, own, &ownRect);
    platform::NativeWindow w = own;
    for (int depth = 0; depth < 64 && w; ++depth) {
        if (platform::nativeHasCaption(systemWindow, w)) return w;
        const platform::NativeWindow p = platform::nativeParent(systemWindow, w);
        if (!p) return w;
        platform::Rect pr{};
        platform::nativeScreenRect(systemWindow, p, &pr);
        if (std::abs((pr.right - pr.left) - (ownRect.right - ownRect.left)) > 60 ||
            std::abs((pr.bottom - pr.top) - (ownRect.bottom - ownRect.top)) > 60)
            return w;
        w = p;
    }
    return w;
}

bool CFrame::getPosition(int32_t& x, int32_t& y) {
    if (!openFlag || !systemWindow) return false;
    const platform::NativeWindow outer = getOuterWindow();
    platform::Rect r{}, pr{};
    platform::nativeScreenRect(systemWindow, outer, &r);
    const platform::NativeWindow p = platform::nativeParent(systemWindow, outer);
    if (p) platform::nativeScreenRect(systemWindow, p, &pr);
    x = r.left - pr.left;
    y = r.top - pr.top;
    return true;
}

bool CFrame::getSize(CRect* rect) {
    if (!openFlag || !systemWindow || !rect) return false;
    const platform::NativeWindow parent =
        platform::nativeParent(systemWindow, platform::nativeHandle(systemWindow));
    platform::Rect r{};
    if (!parent || !platform::nativeScreenRect(systemWindow, parent, &r)) return false;
    platform::NativeWindow up = platform::nativeParent(systemWindow, parent);
    up = up ? platform::nativeParent(systemWindow, up) : 0;
    platform::Rect base{};
    if (up) platform::nativeScreenRect(systemWindow, up, &base);
    *rect = CRect(r.left - base.left, r.top - base.top, r.left - base.left + (r.right - r.left),
                  r.top - base.top + (r.bottom - r.top));
    return true;
}

}  // namespace gui
