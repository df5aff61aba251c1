#include "platform/winsim/ui.h"

#include "platform/winsim/api_support.h"

namespace winsim {

std::string MessageBoxRecord::text_utf8() const { return to_utf8(text); }
std::string MessageBoxRecord::caption_utf8() const { return to_utf8(caption); }

}  // namespace winsim
