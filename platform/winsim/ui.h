// What the user sees: message boxes, recorded in order and answered OK.
#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

namespace winsim {

struct MessageBoxRecord {
    std::wstring text;
    std::wstring caption;
    UINT type = 0;
    int answer = IDOK;

    std::string text_utf8() const;
    std::string caption_utf8() const;
};

struct UserInterface {
    std::vector<MessageBoxRecord> message_boxes;
    // In a host run each box is also printed to standard error.
    bool echo_to_stderr = false;
};

}  // namespace winsim
