#pragma once

// The program speaks Spanish whatever the session's locale: Qt's own texts (the context menus of
// text fields, standard buttons, role names read by screen readers) come from Qt's Spanish
// translations where the system has them, and numbers and dates follow Spanish rules.
namespace zorvane::ui::Language {

// Installs the translations once per process; later calls do nothing. Needs the application object.
void install();

} // namespace zorvane::ui::Language
