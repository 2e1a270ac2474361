#include "ui/front_end.h"

namespace toval {

// Replaced by the Qt window; until then every start falls back to the console.
int RunWindowFrontEnd(const StartOptions&, int, char**) { return -1; }

}  // namespace toval
