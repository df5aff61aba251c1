// The simulated processes that watch a folder and act on what appears there.
#include "platform/winsim/machine.h"

namespace winsim {

void Processes::after_file_operation(Machine&) {}

}  // namespace winsim
