// Guards the window rules every backend shares: one paint per pass with the damage merged,
// nested passes delivering paints only (the rest held back and delivered in order afterwards),
// nothing for a destroyed window and its destroy notice once, drops copied when held.
#include "platform/window_dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace platform;

namespace {

struct Recorder : WindowEvents {
    std::vector<std::string> log;
    std::vector<Rect> paints;
    EventDispatch* dispatch = nullptr;
    bool nestOnButton = false;  // the button handler pumps again, as a tracking loop does
    bool refuse = false;
    void onPaint(Context* c, const Rect& r) override {
        paints.push_back(r);
        log.push_back(c ? "paint" : "paint-no-context");
    }
    void onButtonDown(Context*, Point p, int b, uint32_t) override {
        log.push_back("button " + std::to_string(p.x) + "," + std::to_string(p.y) + " " +
                      std::to_string(b));
        if (nestOnButton && dispatch) {
            nestOnButton = false;
            EventDispatch::Pass inner(*dispatch, false);
            EXPECT_TRUE(inner.paintOnly());
            dispatch->addDamage({0, 0, 5, 5});
            dispatch->buttonDown({7, 7}, 1, kButtonLeft);
            const char* items[] = {"C:\\a.wav"};
            std::string text = "held text";
            const char* t[] = {text.c_str()};
            EXPECT_TRUE(dispatch->drop(DropKind::files, items, 1, 0, {1, 2}));
            EXPECT_TRUE(dispatch->drop(DropKind::text, t, 1, text.size() + 1, {3, 4}));
            text.assign("overwritten");  // the held copy must not see this
            dispatch->wheel({8, 8}, -1.0f);
            log.push_back("inner-end");
        }
    }
    void onDestroyed() override { log.push_back("destroyed"); }
    void onWheel(Context*, Point, float d) override {
        log.push_back("wheel " + std::to_string(static_cast<int>(d)));
    }
    bool canDrop() override { return !refuse; }
    bool onDrop(DropKind k, const char* const* items, int32_t n, std::size_t size,
                Point p) override {
        log.push_back(std::string(k == DropKind::files ? "files " : "text ") + items[0] + " " +
                      std::to_string(n) + " " + std::to_string(size) + " at " +
                      std::to_string(p.x));
        return true;
    }
};

// Hands out a real context on a small bitmap and counts that each one comes back.
struct Contexts : ContextSource {
    int out = 0;
    Bitmap* bitmap = createBitmap(8, 8);
    ~Contexts() { deleteBitmap(bitmap); }
    Context* acquire() override {
        ++out;
        Context* c = createContext(nullptr);
        selectBitmap(c, bitmap);
        return c;
    }
    void release(Context* c) override {
        --out;
        deleteContext(c);
    }
};

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override {
        dispatch.bind(&events, &contexts);
        events.dispatch = &dispatch;
    }
    Recorder events;
    Contexts contexts;
    EventDispatch dispatch;
};

}  // namespace

TEST_F(Dispatch, DamageOfOnePassIsMergedIntoOnePaint) {
    {
        EventDispatch::Pass pass(dispatch, false);
        dispatch.addDamage({10, 10, 20, 20});
        dispatch.addDamage({5, 30, 12, 40});
        dispatch.addDamage({0, 0, 0, 50});  // empty: ignored
    }
    ASSERT_EQ(events.paints.size(), 1u);
    EXPECT_EQ(events.paints[0].left, 5);
    EXPECT_EQ(events.paints[0].top, 10);
    EXPECT_EQ(events.paints[0].right, 20);
    EXPECT_EQ(events.paints[0].bottom, 40);
    EXPECT_EQ(contexts.out, 0);
    { EventDispatch::Pass pass(dispatch, false); }
    EXPECT_EQ(events.paints.size(), 1u) << "no damage, no paint";
}

TEST_F(Dispatch, NestedPassesPaintOnlyAndHeldEventsFollowInOrder) {
    events.nestOnButton = true;
    {
        EventDispatch::Pass pass(dispatch, false);
        EXPECT_FALSE(pass.paintOnly());
        dispatch.buttonDown({1, 1}, 1, kButtonLeft);
    }
    const std::vector<std::string> expected = {"button 1,1 1",
                                               "inner-end",
                                               "paint",
                                               "button 7,7 1",
                                               "files C:\\a.wav 1 0 at 1",
                                               "text held text 1 10 at 3",
                                               "wheel -1"};
    EXPECT_EQ(events.log, expected);
    EXPECT_EQ(dispatch.heldBack(), 0u);
    EXPECT_EQ(dispatch.depth(), 0);
    EXPECT_EQ(contexts.out, 0);
}

TEST_F(Dispatch, APaintOnlyPassHoldsButtonsUntilTheOutermostPassEnds) {
    {
        EventDispatch::Pass outer(dispatch, true);
        dispatch.buttonDown({2, 3}, 3, kButtonLeft);
        EXPECT_EQ(dispatch.heldBack(), 1u);
        EXPECT_TRUE(events.log.empty());
    }
    EXPECT_EQ(events.log, std::vector<std::string>{"button 2,3 3"});
}

TEST_F(Dispatch, ADestroyedWindowReceivesNothingAndIsToldOnce) {
    {
        EventDispatch::Pass outer(dispatch, true);
        dispatch.buttonDown({2, 3}, 1, kButtonLeft);  // held, then dropped with the window
        dispatch.addDamage({0, 0, 4, 4});
        dispatch.destroyed();
        dispatch.destroyed();
    }
    dispatch.buttonDown({1, 1}, 1, kButtonLeft);
    dispatch.wheel({1, 1}, 1.0f);
    const char* items[] = {"x"};
    EXPECT_FALSE(dispatch.canDrop());
    EXPECT_FALSE(dispatch.drop(DropKind::files, items, 1, 0, {0, 0}));
    {
        EventDispatch::Pass pass(dispatch, false);
        dispatch.addDamage({0, 0, 4, 4});
    }
    EXPECT_EQ(events.log, std::vector<std::string>{"destroyed"});
    EXPECT_FALSE(dispatch.alive());
}

TEST_F(Dispatch, DropsAskTheFrameAndBadListsAreRefused) {
    const char* items[] = {"x"};
    events.refuse = true;
    EXPECT_FALSE(dispatch.canDrop());
    EXPECT_FALSE(dispatch.drop(DropKind::files, items, 1, 0, {0, 0}));
    events.refuse = false;
    EXPECT_FALSE(dispatch.drop(DropKind::files, nullptr, 1, 0, {0, 0}));
    EXPECT_FALSE(dispatch.drop(DropKind::files, items, -1, 0, {0, 0}));
    EXPECT_TRUE(dispatch.drop(DropKind::files, items, 1, 0, {4, 0}));
    EXPECT_EQ(events.log, std::vector<std::string>{"files x 1 0 at 4"});
}

TEST(DispatchWithoutReceiver, DeliversNothingAndCountsNoContexts) {
    EventDispatch d;
    {
        EventDispatch::Pass pass(d, false);
        d.addDamage({0, 0, 1, 1});
        d.buttonDown({0, 0}, 1, kButtonLeft);
        d.destroyed();
    }
    EXPECT_FALSE(d.canDrop());
    EXPECT_EQ(d.heldBack(), 0u);
}
