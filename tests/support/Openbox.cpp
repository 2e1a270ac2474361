#include "tests/support/Openbox.h"

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/xcb_connection.h"
#include "tests/support/XvfbSession.h"

namespace toval::test {

namespace {
constexpr auto kStartLimit = std::chrono::seconds(15);

// The bindings of openbox's own default configuration that matter for a window's mouse input: a
// press on a client is grabbed by the manager (to focus and raise it) and replayed to the
// client, and the title bar drags.
constexpr const char* kConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <desktops><number>1</number></desktops>
  <mouse>
    <dragThreshold>1</dragThreshold>
    <context name="Frame">
      <mousebind button="A-Left" action="Drag"><action name="Move"/></mousebind>
    </context>
    <context name="Titlebar">
      <mousebind button="Left" action="Drag"><action name="Move"/></mousebind>
    </context>
    <context name="Client">
      <mousebind button="Left" action="Press">
        <action name="Focus"/><action name="Raise"/>
      </mousebind>
    </context>
  </mouse>
</openbox_config>
)";

// True once a window manager announces itself on the root window.
bool Managing(const std::string& display) {
    XcbConnection x(display.c_str());
    xcb_screen_t* screen = x.DefaultScreen();
    if (!screen) return false;
    const xcb_atom_t check = x.InternAtom("_NET_SUPPORTING_WM_CHECK");
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        x.get(), xcb_get_property(x.get(), 0, screen->root, check, XCB_ATOM_WINDOW, 0, 1), nullptr);
    if (!reply) return false;
    const bool set = xcb_get_property_value_length(reply) == 4;
    std::free(reply);
    return set;
}
}  // namespace

Openbox::Openbox(const std::string& display) {
    const std::string config = Home.Write("config/openbox/rc.xml", kConfig);
    // Through env(1): the manager gets a home and XDG directories of its own, and its process id
    // is still the one returned, as env replaces itself.
    const std::string home = "HOME=" + Home.Path();
    const std::string configHome = "XDG_CONFIG_HOME=" + Home / "config";
    const std::string configDirs = "XDG_CONFIG_DIRS=" + Home / "config";
    const std::string cacheHome = "XDG_CACHE_HOME=" + Home / "cache";
    const std::string dataHome = "XDG_DATA_HOME=" + Home / "data";
    const char* argv[] = {"env",
                          home.c_str(),
                          configHome.c_str(),
                          configDirs.c_str(),
                          cacheHome.c_str(),
                          dataHome.c_str(),
                          "openbox",
                          "--sm-disable",
                          "--config-file",
                          config.c_str(),
                          nullptr};
    Pid = SpawnOnDisplay(display, argv);
    if (Pid <= 0) {
        Reason = "openbox could not be started";
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Managing(display)) return;
        int status = 0;
        if (waitpid(Pid, &status, WNOHANG) == Pid) {
            Pid = -1;
            Reason = "openbox ended at start (status " + std::to_string(status) + ")";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Reason = "openbox did not start managing windows";
}

Openbox::~Openbox() { StopProcess(Pid); }

}  // namespace toval::test
