#include "ui/pointer_rules.h"

namespace toval {

PointerStep PointerRules::Press(layout::Point client, layout::Point screen) {
    IsPressed = true;
    ClickPending = layout::kCloseSpot.Contains(client.X, client.Y);
    LastScreen = screen;
    StripPress.reset();
    if (layout::kDragStrip.Contains(client.X, client.Y)) StripPress = screen;
    MoveStart.reset();
    return {};
}

PointerStep PointerRules::Move(layout::Point client, layout::Point screen, bool buttonHeld) {
    // A release can miss the window (the system's own move loop swallows it, or it happened
    // outside a grab); what the button is now is what counts, or a free pointer would carry the
    // window off.
    if (!buttonHeld) {
        Forget();
        return {};
    }
    // Windows repeats a move at the same place now and then (after a click, when a window comes
    // or goes under the pointer): that is no drag, and must not spoil a click.
    if (!IsPressed || (screen.X == LastScreen.X && screen.Y == LastScreen.Y)) return {};
    LastScreen = screen;
    ClickPending = false;
    PointerAction action = PointerAction::MoveBy;
    if (!MoveStart) {
        // A press in the strip holds the window where it pressed, however far the first move
        // event lies; a press anywhere else holds it where the pointer first shows in the strip.
        if (StripPress) {
            MoveStart = StripPress;
        } else if (layout::kDragStrip.Contains(client.X, client.Y)) {
            MoveStart = screen;
        } else {
            return {};
        }
        action = PointerAction::StartMove;
    }
    return {action, {screen.X - MoveStart->X, screen.Y - MoveStart->Y}};
}

PointerStep PointerRules::Release(layout::Point client) {
    const bool click = IsPressed && ClickPending && layout::kCloseSpot.Contains(client.X, client.Y);
    Forget();
    return click ? PointerStep{PointerAction::Close, {0, 0}} : PointerStep{};
}

void PointerRules::Forget() {
    IsPressed = false;
    ClickPending = false;
    StripPress.reset();
    MoveStart.reset();
}

}  // namespace toval
