#include "window.h"

namespace torvanix {

// The device, file, update and screen commands join the table here once they exist.
void Window::setupPageCommands() {}

} // namespace torvanix
