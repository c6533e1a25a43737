#pragma once

#include <QSize>

namespace torvanix {

class CommandDispatcher;
class WindowActions;

// What the window and first-start commands read besides the window itself.
struct ShellState {
    // The program's temporary folder did not exist when it started.
    bool firstStartFlag = false;
};

// ShowClient, OpenUrl, OpenView, CloseView, CloseX, SetAutoRun, IsFirstStart, FirstStart,
// FinishFirstStart (the last one clears the first-start flag).
void registerWindowCommands(CommandDispatcher &dispatcher, WindowActions &actions,
                            ShellState &state);

// Size of a pop-up view asked for as width x height on a desktop of the given height:
// scaled to the desktop (plus 50 in width) on desktops of 1080 pixels or more, unchanged
// below; truncated towards zero.
QSize popupSize(double width, double height, int desktopHeight);

} // namespace torvanix
