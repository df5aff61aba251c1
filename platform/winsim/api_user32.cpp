// user32: MessageBoxW. Every box is recorded and answered OK at once; a
// host run also shows it on standard error.
#include "platform/winsim/api_support.h"

#include <iostream>

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
    call.m.ui.message_boxes.push_back(box);
    if (call.m.ui.echo_to_stderr)
        std::cerr << "[message box] " << box.caption_utf8() << "\n" << box.text_utf8() << "\n" << std::flush;
    return call.done(box.answer);
}
