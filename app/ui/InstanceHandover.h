#pragma once

namespace zorvane::ui {

// Hands a request (the name of a method of com.quenvar.Zorvane: "ShowMenu", "Select",
// "OpenSettings") to the Zorvane already running in this session, before this process builds its
// own interface: a later launch then costs a bus call, not a toolkit start. False when none runs
// (or none answered), and the caller starts as usual (SingleInstance then settles any race).
bool handOverToRunningInstance(const char* method);

} // namespace zorvane::ui
