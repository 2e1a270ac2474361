#pragma once
// What the left button does on the progress window, the same on both systems: a drag through the
// strip moves the window, and a click on the close spot ends the process. Each window feeds its
// own pointer events in and carries out the answer the way its system moves windows.

#include <optional>

#include "ui/window_layout.h"

namespace toval {

enum class PointerAction {
    None,
    // The window starts to follow the pointer: from now on it stands where it stands now, plus
    // the Offset of this step and of each MoveBy after it.
    StartMove,
    MoveBy,
    // The process ends at once.
    Close,
};

struct PointerStep {
    PointerAction Action = PointerAction::None;
    // For StartMove and MoveBy: how far the pointer is, on the screen, from where it held the
    // window when the move started.
    layout::Point Offset{0, 0};
};

// `client` is the pointer's place in the client area, `screen` the same place on the screen: the
// window moves under the pointer, so only the screen tells whether the pointer itself moved.
class PointerRules {
  public:
    PointerStep Press(layout::Point client, layout::Point screen);
    // `buttonHeld`: whether the left button is down as the event was made, whatever came before.
    PointerStep Move(layout::Point client, layout::Point screen, bool buttonHeld);
    PointerStep Release(layout::Point client);

    bool Pressed() const { return IsPressed; }
    bool Moving() const { return MoveStart.has_value(); }

  private:
    void Forget();

    bool IsPressed = false;
    // The press was on the close spot and the pointer has not moved since: a release on the spot
    // now is a click. A press that became a drag is none, wherever it ends.
    bool ClickPending = false;
    layout::Point LastScreen{0, 0};
    std::optional<layout::Point> StripPress;  // the press, on the screen, when it was in the strip
    std::optional<layout::Point> MoveStart;   // on the screen
};

}  // namespace toval
