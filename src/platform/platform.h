// The windowing platform: the small set of Win32 operations (USER32, GDI, WGL
// and two KERNEL32 console calls) that the program is written against, with
// their Win32 names, arguments, constants and result conventions.
//
// The build picks one implementation per executable:
//   ports/sdl2                the real one, on SDL2 (X11, OpenGL, message boxes)
//   ports/stdio               the reporting calls only, on the standard streams,
//                             for programs without windows (benchmarks, fuzzers)
//   tests/fakes/platform_fake  a recorder for tests; it logs every call and can
//                             be told to fail any of them
//
// Handles are small non-zero 32-bit numbers, so "0x%x" prints them faithfully.
// Zero is the null handle.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef WORD ATOM;

typedef uint32_t HANDLE;
typedef uint32_t HWND;
typedef uint32_t HDC;
typedef uint32_t HGLRC;
typedef uint32_t HINSTANCE;
typedef uint32_t HICON;
typedef uint32_t HCURSOR;
typedef uint32_t HBRUSH;
typedef uint32_t HMENU;

#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    const char* lpszMenuName;
    const char* lpszClassName;
};

struct RECT {
    LONG left, top, right, bottom;
};

struct POINT {
    LONG x, y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

// Laid out byte for byte as Win32's DEVMODEA (148 bytes).
#pragma pack(push, 2)
struct DEVMODEA {
    char dmDeviceName[32];
    WORD dmSpecVersion;
    WORD dmDriverVersion;
    WORD dmSize;
    WORD dmDriverExtra;
    DWORD dmFields;
    BYTE dmPositionEtc[16];
    short dmColor;
    short dmDuplex;
    short dmYResolution;
    short dmTTOption;
    short dmCollate;
    char dmFormName[32];
    WORD dmLogPixels;
    DWORD dmBitsPerPel;
    DWORD dmPelsWidth;
    DWORD dmPelsHeight;
    DWORD dmDisplayFlags;
    DWORD dmDisplayFrequency;
    DWORD dmICMMethod;
    DWORD dmICMIntent;
    DWORD dmMediaType;
    DWORD dmDitherType;
    DWORD dmReserved1;
    DWORD dmReserved2;
};
#pragma pack(pop)
static_assert(sizeof(DEVMODEA) == 148, "DEVMODEA is 148 bytes");

struct PIXELFORMATDESCRIPTOR {
    WORD nSize;
    WORD nVersion;
    DWORD dwFlags;
    BYTE iPixelType;
    BYTE cColorBits;
    BYTE cRedBits;
    BYTE cRedShift;
    BYTE cGreenBits;
    BYTE cGreenShift;
    BYTE cBlueBits;
    BYTE cBlueShift;
    BYTE cAlphaBits;
    BYTE cAlphaShift;
    BYTE cAccumBits;
    BYTE cAccumRedBits;
    BYTE cAccumGreenBits;
    BYTE cAccumBlueBits;
    BYTE cAccumAlphaBits;
    BYTE cDepthBits;
    BYTE cStencilBits;
    BYTE cAuxBuffers;
    BYTE iLayerType;
    BYTE bReserved;
    DWORD dwLayerMask;
    DWORD dwVisibleMask;
    DWORD dwDamageMask;
};
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40, "PIXELFORMATDESCRIPTOR is 40 bytes");

// Resource names given as numbers (MAKEINTRESOURCE).
#define MAKEINTRESOURCEA(i) \
    (reinterpret_cast<const char*>(static_cast<uintptr_t>(static_cast<WORD>(i))))
#define IDI_WINLOGO MAKEINTRESOURCEA(32517)
#define IDC_ARROW MAKEINTRESOURCEA(32512)

// Window class styles.
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_OWNDC 0x0020

// Window styles.
#define WS_POPUP 0x80000000u
#define WS_SYSMENU 0x00080000u

// CreateWindowExA: let the system choose the place or size.
#define CW_USEDEFAULT (static_cast<int>(0x80000000u))

// Messages.
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SIZE 0x0005
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_SYSCHAR 0x0106

// Virtual-key codes.
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_PAUSE 0x13
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_CAPITAL 0x14
#define VK_SNAPSHOT 0x2C
#define VK_LWIN 0x5B
#define VK_RWIN 0x5C
#define VK_APPS 0x5D
#define VK_NUMPAD0 0x60  // VK_NUMPAD1 ... VK_NUMPAD9 follow
#define VK_MULTIPLY 0x6A
#define VK_ADD 0x6B
#define VK_SUBTRACT 0x6D
#define VK_DECIMAL 0x6E
#define VK_DIVIDE 0x6F
#define VK_F1 0x70
#define VK_F4 0x73
#define VK_F10 0x79
#define VK_F12 0x7B
#define VK_F13 0x7C  // VK_F14 ... VK_F24 follow
#define VK_NUMLOCK 0x90
#define VK_SCROLL 0x91
// The punctuation keys, named by their place on a US board.
#define VK_OEM_1 0xBA       // ;:
#define VK_OEM_PLUS 0xBB    // =+
#define VK_OEM_COMMA 0xBC   // ,<
#define VK_OEM_MINUS 0xBD   // -_
#define VK_OEM_PERIOD 0xBE  // .>
#define VK_OEM_2 0xBF       // /?
#define VK_OEM_3 0xC0       // `~
#define VK_OEM_4 0xDB       // [{
#define VK_OEM_5 0xDC       // \|
#define VK_OEM_6 0xDD       // ]}
#define VK_OEM_7 0xDE       // '"

// lParam bits of key messages.
#define KF_EXTENDED_BIT (1L << 24)  // an extended key of the 101-key board
#define KF_REPEAT_BIT (1L << 30)    // the key was already down: an auto-repeat
#define KF_UP_BIT (1L << 31)        // set for key-up messages
#define KF_ALTDOWN_BIT (1L << 29)   // Alt was held

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXFULLSCREEN 16
#define SM_CYFULLSCREEN 17

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOOWNERZORDER 0x0200
#define HWND_TOP 0

#define SW_HIDE 0
#define SW_SHOW 5

#define CDS_TEST 0x00000002
#define CDS_FULLSCREEN 0x00000004
#define DISP_CHANGE_SUCCESSFUL 0
#define DISP_CHANGE_FAILED (-1)
#define DISP_CHANGE_BADMODE (-2)

#define DM_BITSPERPEL 0x00040000
#define DM_PELSWIDTH 0x00080000
#define DM_PELSHEIGHT 0x00100000

#define PFD_DOUBLEBUFFER 0x00000001
#define PFD_DRAW_TO_WINDOW 0x00000004
#define PFD_SUPPORT_OPENGL 0x00000020
#define PFD_TYPE_RGBA 0
#define PFD_MAIN_PLANE 0

#define MB_OK 0x00000000
#define MB_ICONERROR 0x00000010
#define MB_ICONWARNING 0x00000030
#define MB_ICONINFORMATION 0x00000040
#define MB_ICONMASK 0x000000F0
#define IDOK 1

#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))
#define STD_ERROR_HANDLE (static_cast<DWORD>(-12))
#define INVALID_HANDLE_VALUE (static_cast<HANDLE>(0xFFFFFFFFu))

// Error codes reported by GetLastError.
#define ERROR_SUCCESS 0
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_WRITE_FAULT 29
#define ERROR_NOT_SUPPORTED 50
#define ERROR_INVALID_PARAMETER 87
#define ERROR_BROKEN_PIPE 109
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_CANNOT_FIND_WND_CLASS 1407
#define ERROR_CLASS_ALREADY_EXISTS 1410
#define ERROR_CLASS_HAS_WINDOWS 1412
#define ERROR_INVALID_WINDOW_HANDLE 1400
#define ERROR_DC_NOT_FOUND 1425
#define ERROR_INVALID_PIXEL_FORMAT 2000
#define ERROR_NO_DISPLAY 1114  // ours: no display could be opened (Win32's DLL init failure)

// The frame this platform models around a window's client area, in pixels:
// the one Win32 gives a window with a title bar and a fixed border, and none
// for a WS_POPUP window. The outer size that CreateWindowExA, SetWindowPos and
// GetClientRect speak of is the client area plus this frame.
struct WindowFrame {
    int left, top, right, bottom;
};
constexpr WindowFrame window_frame(DWORD style) {
    return (style & WS_POPUP) ? WindowFrame{0, 0, 0, 0} : WindowFrame{3, 26, 3, 3};
}

// ---- window class and window
HINSTANCE GetModuleHandleA(const char* module_name);
HICON LoadIconA(HINSTANCE instance, const char* name);
HCURSOR LoadCursorA(HINSTANCE instance, const char* name);
ATOM RegisterClassA(const WNDCLASSA* window_class);
BOOL UnregisterClassA(const char* class_name, HINSTANCE instance);
HWND CreateWindowExA(DWORD ex_style, const char* class_name, const char* window_name, DWORD style,
                     int x, int y, int width, int height, HWND parent, HMENU menu,
                     HINSTANCE instance, void* param);
BOOL DestroyWindow(HWND handle);
BOOL CloseWindow(HWND handle);

// ---- size, place, title, focus
int GetSystemMetrics(int index);
BOOL GetClientRect(HWND handle, RECT* rect);
BOOL SetWindowPos(HWND handle, HWND insert_after, int x, int y, int cx, int cy, UINT flags);
BOOL SetWindowTextA(HWND handle, const char* text);
BOOL ShowWindow(HWND handle, int command);
BOOL SetForegroundWindow(HWND handle);
HWND SetFocus(HWND handle);

// ---- display mode
LONG ChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags);

// ---- messages
BOOL PeekMessageA(MSG* msg, HWND window, UINT filter_min, UINT filter_max, UINT remove);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void PostQuitMessage(int exit_code);

// ---- GL context
HDC GetDC(HWND handle);
int ReleaseDC(HWND handle, HDC dc);
int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor);
BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR* descriptor);
HGLRC wglCreateContext(HDC dc);
BOOL wglMakeCurrent(HDC dc, HGLRC context);
BOOL wglDeleteContext(HGLRC context);

// ---- presenting, cursor
BOOL SwapBuffers(HDC dc);
int ShowCursor(BOOL show);

// ---- reporting
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
HANDLE GetStdHandle(DWORD which);
BOOL WriteConsoleA(HANDLE console, const void* buffer, DWORD count, DWORD* written, void* reserved);

// ---- error codes
DWORD GetLastError();
void SetLastError(DWORD code);
