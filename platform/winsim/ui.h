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
    // Whose box it is: "program" (MessageBoxW) or "shell" (the error dialog
    // ShellExecuteExW shows for a failed launch).
    std::string owner = "program";

    std::string text_utf8() const;
    std::string caption_utf8() const;
};

struct UserInterface {
    std::vector<MessageBoxRecord> message_boxes;
    // In a host run each box is also printed to standard error.
    bool echo_to_stderr = false;

    // Shows the box: records it, answered at once.
    void show(const MessageBoxRecord& box);
};

}  // namespace winsim
