#pragma once
// The X server (Xvfb with a real tray) and the QApplication shared by the tests of this program;
// both start on first use and stop when the tests end.

#include <QApplication>
#include <chrono>
#include <functional>
#include <string>

#include "tests/support/XvfbSession.h"

namespace toval::test {

// Null when the X server could not be started; the reason is in the test's failure message.
QApplication* TestApplication();
XvfbSession& TestDisplay();

// Processes events until `done` holds; false when `limit` passed first.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20));

// Closes every message box that opens, as a user would with its button, and remembers them.
class MessageBoxCloser : public QObject {
  public:
    struct Seen {
        QString Title;
        QString Text;
        int Icon;
    };
    MessageBoxCloser();
    const std::vector<Seen>& Boxes() const { return Closed; }

  private:
    void timerEvent(QTimerEvent*) override;
    std::vector<Seen> Closed;
};

}  // namespace toval::test

#define REQUIRE_TEST_APPLICATION()                                               \
    do {                                                                         \
        if (!::toval::test::TestApplication())                                   \
            FAIL() << "no X server: " << ::toval::test::TestDisplay().Failure(); \
    } while (false)
