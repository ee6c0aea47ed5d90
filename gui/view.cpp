// SPDX-License-Identifier: GPL-3.0-or-later
// CView and CViewContainer: reference counting, dirty flags, off-screen composition and event
// routing inside containers (last added first).
#include "gui/view.h"

#include "gui/bitmap.h"
#include "gui/drawcontext.h"
#include "gui/frame.h"

#include <cstdio>
#include <new>

namespace gui {

const char* const kMsgCheckIfViewContainer = "kMsgCheckIfViewContainer";

// ---- CView -----------------------------------------------------------------------------------

CView::CView(const CRect& size) : size(size), mouseableArea(size) {}

CView::~CView() {
    if (nbReference > 1)
        std::fprintf(stderr, "nbReference is %d when trying to delete CView\n", nbReference);
}

void CView::draw(CDrawContext*) { setDirty(false); }
void CView::drawRect(CDrawContext* context, CRect&) { draw(context); }
bool CView::checkUpdate(CRect& updateRect) { return updateRect.rectOverlap(size); }
void CView::mouse(CDrawContext*, CPoint&) {}
void CView::update(CDrawContext* context) {
    if (isDirty()) {
        draw(context);
        setDirty(false);
    }
}
int32_t CView::notify(CView*, const char*) { return 0; }
int32_t CView::onKeyDown(CKeyCode&) { return -1; }
int32_t CView::onKeyUp(CKeyCode&) { return -1; }
bool CView::onDrop(void**, int32_t, int32_t, CPoint&) { return false; }
bool CView::onWheel(CDrawContext*, const CPoint&, float) { return false; }
void CView::looseFocus(CDrawContext*) {}
void CView::takeFocus(CDrawContext*) {}
bool CView::hitTest(const CPoint& where, int32_t) { return where.isInside(size); }
void CView::setViewSize(CRect& rect) {
    size = rect;
    setDirty(true);
}
CFrameOwner* CView::getEditor() { return parentFrame ? parentFrame->getEditor() : nullptr; }
bool CView::removed(CView*) { return true; }
bool CView::attached(CView*) { return true; }

void CView::forget() {
    if (nbReference <= 0) return;
    if (--nbReference == 0) delete this;
}

void CView::redraw() {
    if (parentFrame) parentFrame->draw(this);
}

// ---- CCView ----------------------------------------------------------------------------------

CCView::CCView(CView* view) : view(view) {
    if (view) view->remember();
}
CCView::~CCView() {
    if (view) view->forget();
}

// ---- CViewContainer --------------------------------------------------------------------------

CViewContainer::CViewContainer(const CRect& size, CFrame* parent, CBitmap* background)
    : CView(size), background(background) {
    parentFrame = parent;
    if (background) background->remember();
}

CViewContainer::~CViewContainer() {
    if (background) background->forget();
    background = nullptr;
    // This class's own list, as intended: a subclass's part is already gone here.
    CViewContainer::removeAll(true);
    delete offscreen;
    offscreen = nullptr;
}

void CViewContainer::addView(CView* view) {
    if (!view) return;
    auto* node = new (std::nothrow) CCView(view);
    if (!node) return;
    view->setParent(parentFrame);
    view->setParentView(this);
    node->previous = lastView;
    if (lastView) lastView->next = node;
    else firstView = node;
    lastView = node;
    view->attached(this);
    view->setDirty(true);
}

void CViewContainer::addView(CView* view, CRect& area, bool enabled) {
    if (!view) return;
    view->setMouseEnabled(enabled);
    view->setMouseableArea(area);
    addView(view);
}

void CViewContainer::removeView(CView* view, const bool& withForget) {
    CCView* node = firstView;
    while (node) {
        CCView* next = node->next;
        if (node->view == view) {
            view->removed(this);
            // A creator that already let go leaves the node's reference as the last one: that
            // one alone ends the view, never a release too many.
            if (withForget && view->getNbReference() > 1) view->forget();
            if (node->previous) node->previous->next = node->next;
            else firstView = node->next;
            if (node->next) node->next->previous = node->previous;
            else lastView = node->previous;
            delete node;
        }
        node = next;
    }
}

void CViewContainer::removeAll(const bool& withForget) {
    CCView* node = firstView;
    firstView = lastView = nullptr;
    while (node) {
        CCView* next = node->next;
        node->view->removed(this);
        if (withForget && node->view->getNbReference() > 1) node->view->forget();
        delete node;
        node = next;
    }
}

bool CViewContainer::isChild(CView* view) {
    for (CCView* n = firstView; n; n = n->next)
        if (n->view == view) return true;
    return false;
}

int32_t CViewContainer::getNbViews() {
    int32_t count = 0;
    for (CCView* n = firstView; n; n = n->next) ++count;
    return count;
}

CView* CViewContainer::getView(int32_t index) {
    if (index < 0) return nullptr;
    int32_t i = 0;
    for (CCView* n = firstView; n; n = n->next, ++i)
        if (i == index) return n->view;
    return nullptr;
}

void CViewContainer::setBackground(CBitmap* bitmap) {
    if (background) background->forget();
    background = bitmap;
    if (background) background->remember();
}

void CViewContainer::useOffscreen(bool b) {
    drawInOffscreen = b;
    if (!b && offscreen) {
        delete offscreen;
        offscreen = nullptr;
    }
}

void CViewContainer::setViewSize(CRect& rect) {
    CView::setViewSize(rect);
    if (offscreen) {
        delete offscreen;
        offscreen = new (std::nothrow)
            COffscreenContext(parentFrame, size.width(), size.height(), kBlackCColor);
    }
}

bool CViewContainer::attached(CView*) {
    if (drawInOffscreen && !offscreen) makeOffscreen();
    return true;
}

bool CViewContainer::removed(CView*) {
    delete offscreen;
    offscreen = nullptr;
    return true;
}

int32_t CViewContainer::notify(CView*, const char* message) {
    return message == kMsgCheckIfViewContainer ? 1 : 0;
}

bool CViewContainer::hitTest(const CPoint& where, int32_t buttons) {
    return CView::hitTest(where, buttons);
}

bool CViewContainer::hitTestSubViews(const CPoint& where, int32_t buttons) {
    const CPoint p = local(where);
    for (CCView* n = lastView; n; n = n->previous)
        if (n->view->getMouseEnabled() && n->view->hitTest(p, buttons)) return true;
    return false;
}

void CViewContainer::takeFocus(CDrawContext* context) {
    for (CCView* n = firstView; n; n = n->next) n->view->takeFocus(context);
}

void CViewContainer::looseFocus(CDrawContext* context) {
    for (CCView* n = firstView; n; n = n->next) n->view->looseFocus(context);
}

bool CViewContainer::isDirty() {
    if (dirty) return true;
    for (CCView* n = firstView; n; n = n->next)
        if (n->view->isDirty()) return true;
    return false;
}

CView* CViewContainer::getCurrentView() {
    if (!parentFrame) return nullptr;
    CPoint where;
    parentFrame->getCurrentLocation(where);
    where = local(where);
    for (CCView* n = lastView; n; n = n->previous) {
        CRect area;
        n->view->getMouseableArea(area);
        if (where.isInside(area)) return n->view;
    }
    return nullptr;
}

void CViewContainer::makeOffscreen() {
    offscreen = new (std::nothrow)
        COffscreenContext(parentFrame, size.width(), size.height(), kBlackCColor);
}

void CViewContainer::modifyDrawContext(int32_t save[4], CDrawContext* context) {
    const platform::Rect window =
        context->getWindow() ? platform::windowScreenRect(context->getWindow()) : platform::Rect{};
    save[0] = context->screenOrigin.x;
    save[1] = context->screenOrigin.y;
    save[2] = context->offset.x;
    save[3] = context->offset.y;
    context->screenOrigin = CPoint(window.left + size.left, window.top + size.top);
    context->offset = CPoint(size.left, size.top);
}

void CViewContainer::restoreDrawContext(CDrawContext* context, int32_t save[4]) {
    context->screenOrigin = CPoint(save[0], save[1]);
    context->offset = CPoint(save[2], save[3]);
}

void CViewContainer::paintBackground(CDrawContext* target, const CRect& localRect) {
    CRect r = localRect;
    if (background) {
        const CPoint source(backgroundOffset.x + r.left, backgroundOffset.y + r.top);
        if (transparent) background->drawTransparent(target, r, source);
        else background->draw(target, r, source);
    } else if (!transparent) {
        // fillRect paints the interior only: the surface's first row and column keep the
        // black it was created with, which is the panel's drawn edge.
        target->setFillColor(backgroundColor);
        target->fillRect(r);
    }
}

void CViewContainer::drawBackgroundRect(CDrawContext* context, CRect& rect) {
    paintBackground(context, rect);
}

void CViewContainer::draw(CDrawContext* context) {
    if (!context) return;
    if (drawInOffscreen && !offscreen) makeOffscreen();
    int32_t save[4] = {};
    const bool off = drawInOffscreen && offscreen;
    CDrawContext* target = off ? offscreen : context;
    if (!off) modifyDrawContext(save, context);
    const CRect r(0, 0, size.width(), size.height());
    if (background) {
        CRect rr = r;
        if (transparent) background->drawTransparent(target, rr, backgroundOffset);
        else background->draw(target, rr, backgroundOffset);
    } else if (!transparent) {
        target->setFillColor(backgroundColor);
        target->fillRect(r);
    }
    for (CCView* n = firstView; n; n = n->next) n->view->draw(target);
    if (off) offscreen->copyFrom(context, size, CPoint(0, 0));
    else restoreDrawContext(context, save);
    setDirty(false);
}

void CViewContainer::drawRect(CDrawContext* context, CRect& updateRect) {
    if (!context) return;
    if (drawInOffscreen && !offscreen) makeOffscreen();
    int32_t save[4] = {};
    const bool off = drawInOffscreen && offscreen;
    CDrawContext* target = off ? offscreen : context;
    if (!off) modifyDrawContext(save, context);
    CRect clipped = updateRect;
    clipped.bound(size);
    CRect localRect = clipped;
    localRect.offset(-size.left, -size.top);
    paintBackground(target, localRect);
    for (CCView* n = firstView; n; n = n->next)
        if (n->view->checkUpdate(localRect)) n->view->draw(target);
    if (off) offscreen->copyFrom(context, clipped, CPoint(localRect.left, localRect.top));
    else restoreDrawContext(context, save);
    setDirty(false);
}

void CViewContainer::update(CDrawContext* context) {
    if (!context) return;
    switch (mode) {
    case 0:
        if (isDirty()) draw(context);
        break;
    case 1: {
        if (dirty) {
            draw(context);
        } else if (!drawInOffscreen || !offscreen) {
            int32_t save[4] = {};
            modifyDrawContext(save, context);
            for (CCView* n = firstView; n; n = n->next) {
                CView* v = n->view;
                if (!v->isDirty()) continue;
                auto* container = v->notify(this, kMsgCheckIfViewContainer)
                                      ? static_cast<CViewContainer*>(v)
                                      : nullptr;
                int32_t savedMode = 0;
                if (container) {
                    savedMode = container->getMode();
                    container->setMode(0);
                }
                CRect behind;
                v->getViewSize(behind);
                drawBackgroundRect(context, behind);
                v->update(context);
                if (container) container->setMode(savedMode);
            }
            restoreDrawContext(context, save);
        } else {
            const bool wasDirty = isDirty();
            for (CCView* n = firstView; n; n = n->next) n->view->update(offscreen);
            if (wasDirty) offscreen->copyFrom(context, size, CPoint(0, 0));
        }
        setDirty(false);
        break;
    }
    default: break;
    }
}

void CViewContainer::mouse(CDrawContext* context, CPoint& where) {
    if (!context) return;
    int32_t save[4] = {};
    modifyDrawContext(save, context);
    const int32_t buttons = context->getMouseButtons();
    CPoint p = local(where);
    for (CCView* n = lastView; n; n = n->previous) {
        CView* v = n->view;
        if (v->getMouseEnabled() && v->hitTest(p, buttons)) {
            v->mouse(context, p);
            break;
        }
    }
    restoreDrawContext(context, save);
}

int32_t CViewContainer::onKeyDown(CKeyCode& key) {
    for (CCView* n = lastView; n; n = n->previous) {
        const int32_t r = n->view->onKeyDown(key);
        if (r != -1) return r;
    }
    return -1;
}

int32_t CViewContainer::onKeyUp(CKeyCode& key) {
    for (CCView* n = lastView; n; n = n->previous) {
        const int32_t r = n->view->onKeyUp(key);
        if (r != -1) return r;
    }
    return -1;
}

bool CViewContainer::onDrop(void** items, int32_t nbItems, int32_t type, CPoint& where) {
    if (!parentFrame) return false;
    CPoint p = local(where);
    for (CCView* n = lastView; n; n = n->previous) {
        CView* v = n->view;
        CRect area;
        v->getMouseableArea(area);
        if (v->getMouseEnabled() && p.isInside(area) && v->onDrop(items, nbItems, type, p))
            return true;
    }
    return false;
}

bool CViewContainer::onWheel(CDrawContext* context, const CPoint& where, float distance) {
    CView* v = getCurrentView();
    if (!v || !context) return false;
    int32_t save[4] = {};
    modifyDrawContext(save, context);
    const bool result = v->onWheel(context, local(where), distance);
    restoreDrawContext(context, save);
    return result;
}

}  // namespace gui
