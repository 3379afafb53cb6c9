#include "app/system/UpdateService.h"

#include "app/core/Text.h"

#include <cctype>
#include <string_view>

namespace zorvane {

bool isWellFormedURL(const std::string& text)
{
    const auto colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    for (std::size_t i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
    }
    static constexpr std::string_view allowed = "-._~:/?#[]@!$&'()*+,;=%";
    for (std::size_t i = colon + 1; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1]))
                || !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
                return false;
            i += 2;
            continue;
        }
        if (!std::isalnum(c) && allowed.find(static_cast<char>(c)) == std::string_view::npos) return false;
    }
    return true;
}

UpdateService::UpdateService(const Bundle& bundle, std::shared_ptr<Updater> updater) : updater_(std::move(updater))
{
    const auto feedText = bundle.infoValue("SUFeedURL");
    const auto keyText = bundle.infoValue("SUPublicEDKey");
    if (feedText) {
        const std::string feed = Text::trimmed(*feedText);
        if (!feed.empty() && isWellFormedURL(feed)) feedURL_ = feed;
    }
    updatedByPackageManager_ = bundle.infoValue(updatedByPackageManagerKey) == "YES";
    isConfigured_ = !updatedByPackageManager_ && feedURL_.has_value() && keyText && !Text::trimmed(*keyText).empty();
    installedVersion_ = bundle.infoValue("CFBundleShortVersionString").value_or("Desarrollo");
    if (isConfigured_) updater_->start();
}

bool UpdateService::automaticallyChecksForUpdates() const
{
    return isConfigured_ && updater_->automaticallyChecksForUpdates();
}

void UpdateService::setAutomaticallyChecksForUpdates(bool value)
{
    if (!isConfigured_) return;
    updater_->setAutomaticallyChecksForUpdates(value);
    objectDidChange();
}

bool UpdateService::automaticallyDownloadsUpdates() const
{
    return isConfigured_ && updater_->automaticallyDownloadsUpdates();
}

void UpdateService::setAutomaticallyDownloadsUpdates(bool value)
{
    if (!isConfigured_) return;
    updater_->setAutomaticallyDownloadsUpdates(value);
    objectDidChange();
}

void UpdateService::checkForUpdates()
{
    if (isConfigured_ && updater_->canCheckForUpdates()) updater_->checkForUpdates();
}

} // namespace zorvane
