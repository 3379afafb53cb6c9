#pragma once

#include <QAccessible>

class QWidget;

// What screen readers learn of our own windows beyond the toolkit's guesses: our windows read as
// windows, the segmented pickers as named groups of radio buttons, the settings' tab bar as a list
// of page tabs; everything else keeps Qt's own description (its name from the accessible name,
// the text, or the label whose buddy it is).
namespace zorvane::ui::Accessibility {

// Installs the description of our widgets once per process; later calls do nothing. Call it
// before a window of ours is shown (each window's constructor does).
void install();

// Gives the widget this role. A checkable button with the role RadioButton or PageTab reads as
// checked (or selected) while it is checked, and pressing it through the screen reader clicks it.
void setRole(QWidget* widget, QAccessible::Role role);

} // namespace zorvane::ui::Accessibility
