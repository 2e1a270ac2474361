#pragma once
// One posted message of the run (message number, wParam, lParam), carried through Qt's event
// queue so that messages from worker threads reach the GUI thread in the order they were posted.

#include <QEvent>
#include <cstdint>

#include "net/transfer.h"

namespace toval {

class RunMessageEvent : public QEvent {
  public:
    RunMessageEvent(uint32_t message, uint32_t wParam, ITransfer* lParam)
        : QEvent(Type()), Message(message), WParam(wParam), LParam(lParam) {}

    static QEvent::Type Type() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    uint32_t Message;
    uint32_t WParam;
    ITransfer* LParam;
};

}  // namespace toval
