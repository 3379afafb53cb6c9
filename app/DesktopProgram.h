#pragma once

#include "app/Composition.h"
#include "app/ui/SingleInstance.h"

#include <memory>

namespace zorvane {

namespace ui {
class DesktopApplication;
}

// The running program's object graph: the adapters, the model, and the program's presence on the
// desktop (tray, menu). It alone holds the model strongly; everything else holds it weakly. It is
// torn down in the reverse order: the presence, then the model (its questions' children ended,
// their files removed, its threads joined), then the adapters and our windows (their threads
// joined). Every way of ending goes through that destructor.
class DesktopProgram {
public:
    DesktopProgram(SessionKind session, CompositionOptions options);
    ~DesktopProgram();
    DesktopProgram(const DesktopProgram&) = delete;
    DesktopProgram& operator=(const DesktopProgram&) = delete;

    // The start's steps: the desktop entries, the tray icon, then (on the event loop's first
    // turn) the model and `first`, the request this launch was made with.
    void start(ui::SingleInstance::Request first);

    ui::DesktopApplication& desktop() const { return *desktop_; }
    Composition& composition() const { return *composition_; }
    std::weak_ptr<AppModel> model() const { return model_; }

private:
    std::unique_ptr<Composition> composition_;
    std::shared_ptr<AppModel> model_;
    std::unique_ptr<ui::DesktopApplication> desktop_;
};

} // namespace zorvane
