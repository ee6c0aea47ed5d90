// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the view tree and the frame on the in-memory window system: reference counting and
// destruction, routing order (last added first), inclusive hit edges, dirty propagation and both
// update modes, partial repaints copying only the damaged part, modal and edit views, keys,
// wheel, drops, the window's own events, the shared window class and the setSize paths.
#include "gui/bitmap.h"
#include "gui/drawcontext.h"
#include "gui/frame.h"
#include "gui/view.h"

#include "platform/memory_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace gui;

namespace {

std::vector<std::string> gLog;

// A view that fills itself with its colour and records what reaches it.
class Probe : public CView {
public:
    Probe(const CRect& r, CColor c, std::string name, bool* destroyed = nullptr)
        : CView(r), color(c), name(std::move(name)), destroyed(destroyed) {}
    ~Probe() override {
        if (destroyed) *destroyed = true;
    }
    void draw(CDrawContext* c) override {
        ++draws;
        c->setFillColor(color);
        c->fillRect(CRect(size.left - 1, size.top - 1, size.right, size.bottom));
        setDirty(false);
    }
    void mouse(CDrawContext*, CPoint& where) override {
        gLog.push_back(name + " mouse " + std::to_string(where.x) + "," + std::to_string(where.y));
    }
    int32_t onKeyDown(CKeyCode& k) override {
        gLog.push_back(name + " key");
        return k.character == 'x' ? 1 : keyAnswer;
    }
    bool onDrop(void** items, int32_t n, int32_t type, CPoint& where) override {
        std::string text = name + " drop " + std::to_string(type) + " " + std::to_string(n);
        if (type == kDropFiles)
            for (int32_t i = 0; i < n; ++i)
                text += std::string(" ") + static_cast<const char*>(items[i]);
        else text += std::string(" ") + static_cast<const char*>(items[0]);
        text += " at " + std::to_string(where.x) + "," + std::to_string(where.y);
        gLog.push_back(text);
        return takeDrops;
    }
    bool onWheel(CDrawContext*, const CPoint& where, float d) override {
        gLog.push_back(name + " wheel " + std::to_string(where.x) + "," + std::to_string(where.y) +
                       " " + std::to_string(static_cast<int>(d)));
        return true;
    }
    void looseFocus(CDrawContext*) override { gLog.push_back(name + " looseFocus"); }
    CColor color;
    std::string name;
    bool* destroyed;
    int draws = 0;
    int32_t keyAnswer = -1;
    bool takeDrops = true;
};

struct Owner : CFrameOwner {
    uint32_t now = 0;
    int idles = 0;
    bool hostSizes = false;
    std::vector<std::pair<int, int>> edits;
    void doIdleStuff() override { ++idles; }
    uint32_t getTicks() override { return now; }
    void beginEdit(int32_t i) override { edits.emplace_back(1, i); }
    void endEdit(int32_t i) override { edits.emplace_back(0, i); }
    bool sizeWindow(int32_t, int32_t) override { return hostSizes; }
};

class Tree : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.clear();
        platform::memory::reset();
        host = platform::memory::createHostWindow({100, 100, 400, 300});
        frame = new CFrame(CRect(0, 0, 300, 200), reinterpret_cast<void*>(host), &owner);
        ASSERT_NE(frame->getSystemWindow(), nullptr);
    }
    void TearDown() override { delete frame; }
    CColor pixel(int x, int y) {
        platform::Context* c = platform::createContext(nullptr);
        platform::Bitmap* img = platform::memory::windowImage(frame->getSystemWindow());
        platform::Bitmap* old = platform::selectBitmap(c, img);
        const CColor col = CColor::fromPacked(platform::getPixel(c, {x, y}));
        platform::selectBitmap(c, old);
        platform::deleteContext(c);
        return col;
    }
    void paintAll() {
        platform::memory::postPaint(frame->getSystemWindow(), {0, 0, 300, 200});
        frame->idle();
    }
    Owner owner;
    platform::NativeWindow host = 0;
    CFrame* frame = nullptr;
};

}  // namespace

TEST_F(Tree, RemoveWithForgetDestroysWithoutItSurvivesWithOneReference) {
    auto* c = new CViewContainer(CRect(0, 0, 100, 100), frame);
    frame->addView(c);
    bool goneA = false, goneB = false;
    auto* a = new Probe(CRect(0, 0, 10, 10), kRedCColor, "a", &goneA);
    auto* b = new Probe(CRect(0, 0, 10, 10), kRedCColor, "b", &goneB);
    c->addView(a);
    c->addView(b);
    EXPECT_EQ(a->getNbReference(), 2);
    EXPECT_EQ(a->getParent(), frame);
    EXPECT_EQ(a->getParentView(), c);
    EXPECT_TRUE(a->isDirty());
    c->removeView(a, true);
    EXPECT_TRUE(goneA);
    c->removeView(b, false);
    EXPECT_FALSE(goneB);
    EXPECT_EQ(b->getNbReference(), 1);
    EXPECT_EQ(b->getParentView(), c);  // not cleared on removal
    b->forget();
    EXPECT_TRUE(goneB);
    b = nullptr;
    c->removeView(nullptr, true);
    c->addView(nullptr);
    EXPECT_EQ(c->getNbViews(), 0);
}

TEST_F(Tree, ForgetAtZeroDoesNothingAndContainersReleaseTheirChildren) {
    bool gone = false;
    {
        auto* c = new CViewContainer(CRect(0, 0, 50, 50), frame);
        auto* p = new Probe(CRect(0, 0, 5, 5), kRedCColor, "p", &gone);
        c->addView(p);
        p->forget();  // the creator lets go: only the node holds it
        EXPECT_FALSE(gone);
        c->forget();
    }
    EXPECT_TRUE(gone);
}

// One ownership rule for the frame's list and a container's: each holds a reference of its own,
// so a creator that lets go after adding leaves the list holding the view, and removal with
// forget never releases once too often, whichever list it was in.
TEST_F(Tree, TheFrameAndContainersHoldTheirViewsAlike) {
    bool keptGone = false, droppedGone = false, detachedGone = false;
    auto* kept = new Probe(CRect(0, 0, 5, 5), kRedCColor, "kept", &keptGone);
    auto* dropped = new Probe(CRect(0, 0, 5, 5), kRedCColor, "dropped", &droppedGone);
    auto* detached = new Probe(CRect(0, 0, 5, 5), kRedCColor, "detached", &detachedGone);
    for (CView* v :
         {static_cast<CView*>(kept), static_cast<CView*>(dropped), static_cast<CView*>(detached)})
        frame->addView(v);
    EXPECT_EQ(kept->getNbReference(), 2);
    dropped->forget();
    EXPECT_FALSE(droppedGone);
    EXPECT_EQ(dropped->getNbReference(), 1);
    frame->removeView(detached, false);
    EXPECT_FALSE(detachedGone);
    EXPECT_EQ(detached->getNbReference(), 1) << "the creator's reference stays";
    detached->forget();
    EXPECT_TRUE(detachedGone);
    frame->removeView(dropped, true);
    EXPECT_TRUE(droppedGone);
    frame->removeView(kept, true);
    EXPECT_TRUE(keptGone);
}

TEST_F(Tree, GetViewIndexesAndIsChild) {
    auto* c = new CViewContainer(CRect(0, 0, 100, 100), frame);
    frame->addView(c);
    std::vector<Probe*> ps;
    for (int i = 0; i < 5; ++i) {
        ps.push_back(new Probe(CRect(i, 0, i + 1, 1), kRedCColor, "p"));
        c->addView(ps.back());
    }
    EXPECT_EQ(c->getNbViews(), 5);
    EXPECT_EQ(c->getView(0), ps[0]);
    EXPECT_EQ(c->getView(4), ps[4]);
    EXPECT_EQ(c->getView(5), nullptr);
    EXPECT_EQ(c->getView(-1), nullptr);
    EXPECT_TRUE(c->isChild(ps[2]));
    EXPECT_FALSE(frame->isChild(ps[2]));
    EXPECT_TRUE(frame->isChild(c));
    EXPECT_EQ(frame->getView(-1), nullptr);
    EXPECT_EQ(frame->getView(1), nullptr);
}

TEST_F(Tree, ClicksGoToTheLastAddedOverlappingViewWithInclusiveEdges) {
    auto* c = new CViewContainer(CRect(20, 30, 220, 180), frame);
    frame->addView(c);
    auto* first = new Probe(CRect(10, 10, 70, 70), kRedCColor, "first");
    auto* second = new Probe(CRect(40, 40, 100, 100), kGreenCColor, "second");
    auto* disabled = new Probe(CRect(0, 0, 200, 200), kBlueCColor, "disabled");
    c->addView(first);
    c->addView(second);
    CRect area(0, 0, 200, 200);
    c->addView(disabled, area, false);
    platform::memory::postButtonDown(frame->getSystemWindow(), {20 + 50, 30 + 50}, 1);  // overlap
    platform::memory::postButtonDown(frame->getSystemWindow(), {20 + 70, 30 + 70}, 1);  // second
    platform::memory::postButtonDown(frame->getSystemWindow(), {20 + 10, 30 + 10},
                                     1);  // first's corner
    platform::memory::postButtonDown(frame->getSystemWindow(), {20 + 100, 30 + 100},
                                     1);  // second's far corner
    frame->idle();
    ASSERT_EQ(gLog.size(), 4u);
    EXPECT_EQ(gLog[0], "second mouse 50,50");
    EXPECT_EQ(gLog[1], "second mouse 70,70");
    EXPECT_EQ(gLog[2], "first mouse 10,10");
    EXPECT_EQ(gLog[3], "second mouse 100,100");
    // All three are drawn, in list order: the disabled one (added last) covers the others.
    paintAll();
    EXPECT_EQ(pixel(20 + 50, 30 + 50), kBlueCColor);
    EXPECT_EQ(disabled->draws, 1);
}

TEST_F(Tree, NotifyComparesTheMessageByAddress) {
    CViewContainer c(CRect(0, 0, 1, 1), frame);
    const std::string copy = "kMsgCheckIfViewContainer";
    EXPECT_EQ(c.notify(nullptr, kMsgCheckIfViewContainer), 1);
    EXPECT_EQ(c.notify(nullptr, copy.c_str()), 0);
    Probe p(CRect(0, 0, 1, 1), kRedCColor, "p");
    EXPECT_EQ(p.notify(nullptr, kMsgCheckIfViewContainer), 0);
}

TEST_F(Tree, IdleDrawsNothingBeforeTheFirstPaint) {
    auto* p = new Probe(CRect(0, 0, 50, 50), kRedCColor, "p");
    frame->addView(p);
    p->setDirty(true);
    frame->idle();
    EXPECT_EQ(p->draws, 0);
    paintAll();
    EXPECT_EQ(p->draws, 1);
    EXPECT_EQ(pixel(10, 10), kRedCColor);
    p->color = kGreenCColor;
    p->setDirty(true);
    frame->idle();
    EXPECT_EQ(p->draws, 2);
    EXPECT_EQ(pixel(10, 10), kGreenCColor);
    frame->idle();  // nothing dirty: nothing drawn
    EXPECT_EQ(p->draws, 2);
}

TEST_F(Tree, ModeZeroRecomposesTheWholeContainerWhenAnyChildIsDirty) {
    auto* c = new CViewContainer(CRect(10, 10, 110, 110), frame);
    c->setBackgroundColor(CColor{0, 0, 140, 0});
    frame->addView(c);
    auto* a = new Probe(CRect(0, 0, 20, 20), kRedCColor, "a");
    auto* b = new Probe(CRect(50, 50, 70, 70), kGreenCColor, "b");
    c->addView(a);
    c->addView(b);
    paintAll();
    EXPECT_EQ(pixel(10, 10), kRedCColor);
    EXPECT_EQ(pixel(60, 60), kGreenCColor);
    // The background fills the interior; the first row and column keep the black the
    // off-screen surface starts with, the right and bottom edges are filled.
    EXPECT_EQ(pixel(109, 109), (CColor{0, 0, 140, 0}));
    EXPECT_EQ(pixel(11, 105), (CColor{0, 0, 140, 0}));
    EXPECT_EQ(pixel(10, 105), kBlackCColor);
    EXPECT_EQ(pixel(105, 10), kBlackCColor);
    a->setDirty(true);
    EXPECT_TRUE(c->isDirty());
    frame->idle();
    EXPECT_EQ(a->draws, 2);
    EXPECT_EQ(b->draws, 2);
    EXPECT_FALSE(c->isDirty());
}

TEST_F(Tree, ModeOneUpdatesOnlyDirtyChildrenAndNestedContainersInModeZero) {
    auto* outer = new CViewContainer(CRect(0, 0, 200, 200), frame);
    outer->useOffscreen(false);
    outer->setMode(1);
    frame->addView(outer);
    auto* inner = new CViewContainer(CRect(10, 10, 60, 60), frame);
    inner->setMode(7);  // a mode that updates nothing; must be put back afterwards
    auto* leaf = new Probe(CRect(0, 0, 10, 10), kRedCColor, "leaf");
    auto* other = new Probe(CRect(100, 100, 120, 120), kGreenCColor, "other");
    outer->addView(inner);
    outer->addView(other);
    inner->addView(leaf);
    paintAll();
    const int otherDraws = other->draws;
    const int leafDraws = leaf->draws;
    leaf->setDirty(true);
    frame->idle();
    EXPECT_EQ(leaf->draws, leafDraws + 1);
    EXPECT_EQ(other->draws, otherDraws);
    EXPECT_EQ(inner->getMode(), 7);
    EXPECT_EQ(pixel(12, 12), kRedCColor);
}

TEST_F(Tree, PartialRepaintCopiesOnlyTheDamagedPartInsideTheContainer) {
    auto* c = new CViewContainer(CRect(50, 50, 150, 150), frame);
    c->setBackgroundColor(kYellowCColor);
    frame->addView(c);
    paintAll();
    // Scribble over the window, then repaint a rectangle that sticks out of the container.
    platform::Context* dc = platform::getWindowContext(frame->getSystemWindow());
    platform::Brush* black = platform::createSolidBrush(0);
    platform::fillRect(dc, {0, 0, 300, 200}, black);
    platform::deleteBrush(black);
    platform::releaseWindowContext(frame->getSystemWindow(), dc);
    platform::memory::postPaint(frame->getSystemWindow(), {30, 30, 80, 80});
    frame->idle();
    EXPECT_EQ(pixel(50, 50), kBlackCColor) << "the container's own edge";
    EXPECT_EQ(pixel(51, 51), kYellowCColor);
    EXPECT_EQ(pixel(79, 79), kYellowCColor);
    EXPECT_EQ(pixel(80, 80), kBlackCColor);
    EXPECT_EQ(pixel(49, 60), kBlackCColor);  // outside the container: nothing there to copy
    EXPECT_EQ(pixel(100, 100), kBlackCColor);
}

TEST_F(Tree, ModalViewTakesAllClicksAndRefusesDrops) {
    auto* under = new Probe(CRect(0, 0, 300, 200), kRedCColor, "under");
    frame->addView(under);
    Probe modal(CRect(100, 100, 150, 150), kGreenCColor, "modal");
    ASSERT_TRUE(frame->setModalView(&modal));
    EXPECT_FALSE(frame->setModalView(&modal));
    platform::memory::setPointer({100 + 10, 100 + 10});
    platform::memory::postButtonDown(frame->getSystemWindow(), {10, 10}, 1);
    platform::memory::postButtonDown(frame->getSystemWindow(), {120, 120}, 1);
    platform::memory::postDrop(frame->getSystemWindow(), platform::DropKind::files, {"/tmp/x"});
    frame->idle();
    ASSERT_EQ(gLog.size(), 1u);
    EXPECT_EQ(gLog[0], "modal mouse 120,120");
    EXPECT_FALSE(platform::memory::lastDropTaken(frame->getSystemWindow()));
    EXPECT_EQ(frame->getCurrentView(), &modal);
    frame->setModalView(nullptr);
}

TEST_F(Tree, AClickEndsTextEditingFirst) {
    auto* a = new Probe(CRect(0, 0, 100, 100), kRedCColor, "a");
    auto* editing = new Probe(CRect(100, 0, 200, 100), kGreenCColor, "editing");
    frame->addView(a);
    frame->addView(editing);
    frame->setEditView(editing);
    platform::memory::postButtonDown(frame->getSystemWindow(), {5, 5}, 1);
    frame->idle();
    ASSERT_EQ(gLog.size(), 2u);
    EXPECT_EQ(gLog[0], "editing looseFocus");
    EXPECT_EQ(gLog[1], "a mouse 5,5");
    EXPECT_EQ(frame->getEditView(), nullptr);
}

TEST_F(Tree, KeysTryEditViewThenModalThenLastToFirst) {
    auto* a = new Probe(CRect(0, 0, 10, 10), kRedCColor, "a");
    auto* b = new Probe(CRect(0, 0, 10, 10), kRedCColor, "b");
    frame->addView(a);
    frame->addView(b);
    CKeyCode k;
    EXPECT_EQ(frame->onKeyDown(k), -1);
    EXPECT_EQ(gLog, (std::vector<std::string>{"b key", "a key"}));
    gLog.clear();
    a->keyAnswer = 5;
    EXPECT_EQ(frame->onKeyDown(k), 5);
    gLog.clear();
    frame->setEditView(a);
    k.character = 'x';
    EXPECT_EQ(frame->onKeyDown(k), 1);
    EXPECT_EQ(gLog, (std::vector<std::string>{"a key"}));
    frame->setEditView(nullptr);
    EXPECT_EQ(frame->onKeyUp(k), -1);
}

TEST_F(Tree, WheelGoesToTheViewUnderTheCursorInsideContainers) {
    auto* c = new CViewContainer(CRect(100, 50, 200, 150), frame);
    frame->addView(c);
    auto* p = new Probe(CRect(10, 10, 30, 30), kRedCColor, "p");
    c->addView(p);
    platform::memory::setPointer({100 + 100 + 20, 100 + 50 + 20});  // window (120, 70)
    EXPECT_TRUE(frame->onWheel(nullptr, CPoint(0, 0), 1.0f));
    ASSERT_EQ(gLog.size(), 1u);
    EXPECT_EQ(gLog[0], "p wheel 20,20 1");
    platform::memory::setPointer({100 + 5, 100 + 5});
    EXPECT_FALSE(frame->onWheel(nullptr, CPoint(0, 0), 1.0f));
}

TEST_F(Tree, DropsOfFilesAndTextReachTheViewUnderTheCursor) {
    auto* c = new CViewContainer(CRect(100, 50, 200, 150), frame);
    frame->addView(c);
    auto* p = new Probe(CRect(10, 10, 30, 30), kRedCColor, "p");
    c->addView(p);
    platform::memory::setPointer({100 + 115, 100 + 65});
    platform::memory::postDrop(frame->getSystemWindow(), platform::DropKind::files,
                               {"/a.wav", "/b c.wav"});
    platform::memory::postDrop(frame->getSystemWindow(), platform::DropKind::text, {"hello"});
    frame->idle();
    ASSERT_EQ(gLog.size(), 2u);
    EXPECT_EQ(gLog[0], "p drop 0 2 /a.wav /b c.wav at 15,15");
    EXPECT_EQ(gLog[1], "p drop 1 6 hello at 15,15");
    EXPECT_TRUE(platform::memory::lastDropTaken(frame->getSystemWindow()));
}

TEST_F(Tree, TheWindowSystemDestroyingTheWindowClosesTheFrame) {
    platform::memory::postDestroy(frame->getSystemWindow());
    frame->idle();
    EXPECT_FALSE(frame->getOpenFlag());
    EXPECT_EQ(frame->getParentSystemWindow(), nullptr);
    EXPECT_FALSE(frame->setSize(10, 10));
}

TEST_F(Tree, InvalidateMarksOverlappingViewsDirty) {
    auto* a = new Probe(CRect(0, 0, 10, 10), kRedCColor, "a");
    auto* b = new Probe(CRect(50, 50, 60, 60), kRedCColor, "b");
    frame->addView(a);
    frame->addView(b);
    frame->invalidate(CRect(10, 10, 20, 20));  // touches a only
    EXPECT_TRUE(a->isDirty());
    EXPECT_FALSE(b->isDirty());
    EXPECT_TRUE(frame->isSomethingDirty());
}

TEST_F(Tree, EditGesturesAndTicksGoToTheOwner) {
    frame->beginEdit(3);
    frame->endEdit(3);
    EXPECT_EQ(owner.edits, (std::vector<std::pair<int, int>>{{1, 3}, {0, 3}}));
    owner.now = 1234;
    EXPECT_EQ(frame->getTicks(), 1234u);
    frame->doIdleStuff();
    EXPECT_EQ(owner.idles, 1);
}

TEST_F(Tree, TwoFramesShareOneWindowClassReleasedWithTheLast) {
    EXPECT_EQ(CFrame::windowClassUseCount(), 1);
    const std::string name = CFrame::windowClassName();
    EXPECT_EQ(name.rfind("Plugin", 0), 0u);
    EXPECT_EQ(name.size(), 14u);
    {
        CFrame second(CRect(0, 0, 10, 10), reinterpret_cast<void*>(host), &owner);
        EXPECT_EQ(CFrame::windowClassUseCount(), 2);
        EXPECT_EQ(name, CFrame::windowClassName());
    }
    EXPECT_EQ(CFrame::windowClassUseCount(), 1);
    delete frame;
    frame = nullptr;
    EXPECT_EQ(CFrame::windowClassUseCount(), 0);
    EXPECT_EQ(platform::memory::liveWindows(), 0);
    frame = new CFrame(CRect(0, 0, 300, 200), reinterpret_cast<void*>(host), &owner);
}

TEST_F(Tree, SetSizeThroughTheHostKeepsTheFrameSize) {
    owner.hostSizes = true;
    EXPECT_FALSE(frame->setSize(300, 200));  // unchanged size
    EXPECT_TRUE(frame->setSize(320, 240));
    CRect r;
    frame->getViewSize(r);
    EXPECT_EQ(r, CRect(0, 0, 300, 200));
    EXPECT_EQ(platform::bitmapWidth(platform::memory::windowImage(frame->getSystemWindow())), 320);
    EXPECT_EQ(platform::memory::hostResizeCount(host), 0);
}

TEST_F(Tree, SetSizeWithoutTheHostResizesTheWindowChainByHand) {
    owner.hostSizes = false;
    EXPECT_TRUE(frame->setSize(320, 240));
    CRect r;
    frame->getViewSize(r);
    EXPECT_EQ(r, CRect(0, 0, 320, 240));
    EXPECT_EQ(platform::bitmapWidth(platform::memory::windowImage(frame->getSystemWindow())), 320);
    // The host's window hugged ours (300 x 200): it grows with it.
    EXPECT_EQ(platform::memory::hostResizeCount(host), 1);
    const platform::Rect hr = platform::memory::hostWindowRect(host);
    EXPECT_EQ(hr.right - hr.left, 320);
}

TEST(FrameWithoutParent, HasNoWindowAndDrawsNothing) {
    Owner owner;
    CFrame frame(CRect(0, 0, 10, 10), nullptr, &owner);
    EXPECT_EQ(frame.getSystemWindow(), nullptr);
    frame.idle();
    frame.draw(static_cast<CView*>(nullptr));
    EXPECT_FALSE(frame.setSize(20, 20));
    CRect r;
    EXPECT_FALSE(frame.getSize(&r));
}
