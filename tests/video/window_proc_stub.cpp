// The program's window procedure stands in the driver; tests that link the
// window module without the driver pass every message on to default handling.
#include "shell/demo_driver.h"

LRESULT window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(window, message, wparam, lparam);
}
