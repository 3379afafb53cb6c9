#pragma once

class QWidget;

namespace zorvane::ui {

// The row that shows or sets up the keyboard shortcut of DesktopTriggers, for the settings and the
// onboarding; null where the desktop has none to show.
QWidget* makeShortcutRow();
// The row that installs or removes the desktop's helper of DesktopTriggers (GNOME's extension);
// null where there is none to install.
QWidget* makeHelperRow();

} // namespace zorvane::ui
