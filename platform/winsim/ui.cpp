#include "platform/winsim/ui.h"

#include "platform/winsim/api_support.h"

#include <iostream>

namespace winsim {

std::string MessageBoxRecord::text_utf8() const { return to_utf8(text); }
std::string MessageBoxRecord::caption_utf8() const { return to_utf8(caption); }

void UserInterface::show(const MessageBoxRecord& box) {
    message_boxes.push_back(box);
    if (echo_to_stderr)
        std::cerr << (box.owner == "shell" ? "[shell error dialog] " : "[message box] ")
                  << box.caption_utf8() << "\n"
                  << box.text_utf8() << "\n"
                  << std::flush;
}

}  // namespace winsim
