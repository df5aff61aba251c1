// user32: MessageBoxW. Every box is recorded and answered OK at once; a
// host run also shows it on standard error.
#include "platform/winsim/api_support.h"

using winsim::ApiCall;
using winsim::arg;
using winsim::arg_ptr;

extern "C" int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    ApiCall call("MessageBoxW",
                 {{"hWnd", arg_ptr(hWnd)}, {"lpText", arg(lpText)}, {"lpCaption", arg(lpCaption)}, {"uType", uType}});
    if (call.fault) return call.fail(0);
    winsim::MessageBoxRecord box;
    box.text = lpText ? lpText : L"";
    // Windows shows "Error" when no caption is given.
    box.caption = lpCaption ? lpCaption : L"Error";
    box.type = uType;
    box.answer = IDOK;
    call.m.ui.show(box);
    return call.done(box.answer);
}
