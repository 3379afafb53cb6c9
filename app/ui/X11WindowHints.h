#pragma once

class QWidget;

// What Qt does not say to the X11 window manager about our own windows. Each call does nothing
// off X11 (the offscreen platform of the tests).
namespace zorvane::ui::X11WindowHints {

// Before each show (window managers forget a hidden window's state): keep the window out of task
// bars and pagers (unless `inTaskBar`), above others, and on every workspace when `onAllWorkspaces`.
void prepare(QWidget* window, bool inTaskBar, bool onAllWorkspaces);

// The same for a window the window manager already manages, through its requests (it may have
// withdrawn the window after `prepare` when a hide and a show came close together).
void restate(QWidget* window, bool inTaskBar, bool onAllWorkspaces);

// Asks the window manager to give the window the keyboard, as a pager would (window managers do
// not refuse those requests for focus-stealing prevention).
void activate(QWidget* window);

// Whether the window is mapped and viewable now, as the X server reports it.
bool isViewable(QWidget* window);

} // namespace zorvane::ui::X11WindowHints
