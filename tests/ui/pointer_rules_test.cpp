// The pointer rules both windows follow: which paths of the pointer drag the window, and which
// one closes it.

#include "ui/pointer_rules.h"

#include <gtest/gtest.h>

#include <vector>

namespace toval {
namespace {

enum class Kind { Press, Move, MoveFree, Release };

// The client area starts at (1000, 300) on the screen until the window moves.
struct Event {
    Kind What;
    layout::Point Client;
    layout::Point Screen;
    PointerAction Expected = PointerAction::None;
    layout::Point Offset{0, 0};
};

struct Path {
    const char* Name;
    std::vector<Event> Events;
};

using enum Kind;
constexpr auto kNone = PointerAction::None;
constexpr auto kStart = PointerAction::StartMove;
constexpr auto kMove = PointerAction::MoveBy;
constexpr auto kClose = PointerAction::Close;
constexpr layout::Point kSpot{350, 5};
constexpr layout::Point kSpotOnScreen{1350, 305};

const Path kPaths[] = {
    {"a click on the close spot closes",
     {{Press, kSpot, kSpotOnScreen}, {Release, kSpot, kSpotOnScreen, kClose}}},
    {"a move repeated where the pointer already is spoils no click",
     {{Press, kSpot, kSpotOnScreen},
      {Move, kSpot, kSpotOnScreen},
      {Release, {351, 5}, kSpotOnScreen, kClose}}},
    // The window follows the pointer, so the release lands on the spot where the press was.
    {"a drag by the close spot moves the window and its release closes nothing",
     {{Press, kSpot, kSpotOnScreen},
      {Move, {352, 6}, {1352, 306}, kStart, {2, 1}},
      {Move, {352, 6}, {1400, 380}, kMove, {50, 75}},
      {Move, kSpot, {1398, 379}, kMove, {48, 74}},
      {Release, kSpot, {1398, 379}}}},
    {"a press on the close spot whose pointer left and came back is no click",
     {{Press, kSpot, kSpotOnScreen},
      {Move, {350, 60}, {1350, 360}, kStart, {0, 55}},
      {Move, kSpot, kSpotOnScreen, kMove, {0, 0}},
      {Release, kSpot, kSpotOnScreen}}},
    {"a press below the strip moves the window once the pointer reaches the strip",
     {{Press, {100, 40}, {1100, 340}},
      {Move, {120, 20}, {1120, 320}},
      {Move, {140, 8}, {1140, 308}, kStart, {0, 0}},
      {Move, {140, 8}, {1200, 330}, kMove, {60, 22}},
      {Release, {140, 8}, {1200, 330}}}},
    {"a move goes on when the pointer outruns the strip",
     {{Press, {50, 6}, {1050, 306}},
      {Move, {60, 6}, {1060, 306}, kStart, {10, 0}},
      {Move, {400, 200}, {1400, 500}, kMove, {350, 194}},
      {Release, {400, 200}, {1400, 500}}}},
    // A quick hand: the first move event the system makes may lie well past the strip.
    {"a press in the strip holds the window where it pressed, wherever the first move lies",
     {{Press, {50, 6}, {1050, 306}},
      {Move, {62, 15}, {1062, 315}, kStart, {12, 9}},
      {Release, {50, 6}, {1062, 315}}}},
    {"a press elsewhere released on the close spot closes nothing",
     {{Press, {100, 40}, {1100, 340}}, {Release, kSpot, kSpotOnScreen}}},
    {"pointer paths below the strip do nothing",
     {{Press, {100, 40}, {1100, 340}},
      {Move, {300, 100}, {1300, 400}},
      {Release, {300, 100}, {1300, 400}}}},
    {"without a press nothing happens",
     {{Move, {50, 6}, {1050, 306}}, {Release, kSpot, kSpotOnScreen}, {Move, {60, 6}, {1060, 306}}}},
    // The system's own move loop swallows the release on Windows; so does a grab that ended
    // outside the window. The next move with the button up says so.
    {"a lost release ends the move at the next move with the button up",
     {{Press, {50, 6}, {1050, 306}},
      {Move, {60, 6}, {1060, 306}, kStart, {10, 0}},
      {MoveFree, {70, 6}, {1070, 306}},
      {Move, {80, 6}, {1080, 306}},
      {Release, kSpot, kSpotOnScreen}}},
    {"a new press starts afresh after a move whose release was lost",
     {{Press, kSpot, kSpotOnScreen},
      {Move, {352, 6}, {1352, 306}, kStart, {2, 1}},
      {Press, kSpot, {1352, 306}},
      {Release, kSpot, {1352, 306}, kClose}}},
};

TEST(PointerRules, PathsOfThePointerAndWhatTheyDo) {
    for (const Path& path : kPaths) {
        SCOPED_TRACE(path.Name);
        PointerRules rules;
        int index = 0;
        for (const Event& e : path.Events) {
            SCOPED_TRACE(index++);
            PointerStep step;
            switch (e.What) {
                case Press:
                    step = rules.Press(e.Client, e.Screen);
                    break;
                case Move:
                case MoveFree:
                    step = rules.Move(e.Client, e.Screen, e.What == Move);
                    break;
                case Release:
                    step = rules.Release(e.Client);
                    break;
            }
            EXPECT_EQ(step.Action, e.Expected);
            if (e.Expected == kStart || e.Expected == kMove) {
                EXPECT_EQ(step.Offset.X, e.Offset.X);
                EXPECT_EQ(step.Offset.Y, e.Offset.Y);
            }
        }
        EXPECT_FALSE(rules.Pressed());
        EXPECT_FALSE(rules.Moving());
    }
}

}  // namespace
}  // namespace toval
