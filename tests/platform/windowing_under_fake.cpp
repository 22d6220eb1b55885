// The contract suite on the recording fake: messages are queued as the
// platform would queue them.
#include "fakes/platform_fake.h"

namespace windowing_under_test {

void reset() { fake_platform::reset(); }
void press_key(HWND window, UINT key) { fake_platform::post(window, WM_KEYDOWN, key, 1); }
void ask_to_close(HWND window) { fake_platform::post(window, WM_CLOSE, 0, 0); }

}  // namespace windowing_under_test
