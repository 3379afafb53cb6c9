# One process's accessibility tree as a screen reader reads it over AT-SPI, written to a file: one
# line per element, "window<TAB>role<TAB>name<TAB>states<TAB>the start of its text, if it has one".
import sys
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def walk(node, window, lines):
    window = node.get_name() if node.get_role_name() == "frame" else window
    held = node.get_state_set()
    states = [s for s in ("showing", "focusable", "checked", "selected") if held.contains(getattr(Atspi.StateType, s.upper()))]
    text = Atspi.Text.get_text(node, 0, min(80, Atspi.Text.get_character_count(node))) if "Text" in node.get_interfaces() else ""
    lines.append("\t".join((window, node.get_role_name(), node.get_name() or "", ",".join(states), text.replace("\n", " "))))
    for child in (node.get_child_at_index(i) for i in range(node.get_child_count())):
        if child is not None:
            walk(child, window, lines)


pid, lines, desktop = int(sys.argv[1]), [], Atspi.get_desktop(0)
for app in (desktop.get_child_at_index(i) for i in range(desktop.get_child_count())):
    if app is not None and app.get_process_id() == pid:
        walk(app, "", lines)
with open(sys.argv[2], "w", encoding="utf-8") as output:
    output.write("".join(line + "\n" for line in lines))
