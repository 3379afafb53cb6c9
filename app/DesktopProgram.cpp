#include "app/DesktopProgram.h"

#include "app/ui/DesktopApplication.h"

namespace zorvane {

DesktopProgram::DesktopProgram(SessionKind session, CompositionOptions options)
    : composition_(Composition::create(session, std::move(options)))
    , model_(AppModel::create(composition_->appPlatform()))
    , desktop_(std::make_unique<ui::DesktopApplication>(model_, composition_->openSettings(),
                                                        composition_->appPlatform().bundle->resourcesPath()))
{
}

DesktopProgram::~DesktopProgram()
{
    desktop_.reset();
    model_.reset();
    composition_.reset();
}

void DesktopProgram::start(ui::SingleInstance::Request first)
{
    composition_->refreshDesktopEntries();
    composition_->startSelectionShortcut([this] { desktop_->handle(ui::SingleInstance::Request::select); });
    desktop_->startOnEventLoop(first);
}

} // namespace zorvane
