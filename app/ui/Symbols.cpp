#include "app/ui/Symbols.h"

#include <QApplication>
#include <QPainter>
#include <QStandardPaths>

#include <string>
#include <unordered_map>

namespace zorvane::ui::Symbols {
namespace {

using Names = std::vector<const char*>;

const std::unordered_map<std::string_view, Names>& table()
{
    // Symbol name → freedesktop names (symbolic variants first; Adwaita has them all).
    static const std::unordered_map<std::string_view, Names> names = {
        {"viewfinder", {"zoom-fit-best-symbolic", "zoom-fit-best"}},
        {"xmark", {"window-close-symbolic", "window-close"}},
        {"mic.fill", {"audio-input-microphone-symbolic", "audio-input-microphone"}},
        {"waveform", {"microphone-sensitivity-high-symbolic", "audio-volume-high-symbolic", "audio-input-microphone"}},
        {"doc.on.doc", {"edit-copy-symbolic", "edit-copy"}},
        {"gearshape", {"emblem-system-symbolic", "preferences-system-symbolic", "preferences-system"}},
        {"power", {"system-shutdown-symbolic", "application-exit-symbolic", "application-exit"}},
        {"bolt.fill", {"power-profile-performance-symbolic", "weather-storm-symbolic"}},
        {"bolt", {"power-profile-performance-symbolic", "weather-storm-symbolic"}},
        {"brain.head.profile", {"emoji-objects-symbolic", "dialog-information-symbolic"}},
        {"hand.raised.fill", {"preferences-system-privacy-symbolic", "changes-prevent-symbolic", "dialog-warning"}},
        {"hand.raised", {"preferences-system-privacy-symbolic", "changes-prevent-symbolic"}},
        {"exclamationmark.circle.fill", {"emblem-important-symbolic", "dialog-error-symbolic", "dialog-error"}},
        {"exclamationmark.triangle.fill", {"dialog-warning-symbolic", "dialog-warning"}},
        {"checkmark.circle.fill", {"emblem-ok-symbolic", "object-select-symbolic"}},
        {"checkmark.seal.fill", {"emblem-default-symbolic", "emblem-ok-symbolic"}},
        {"checkmark", {"object-select-symbolic"}},
        {"circle.dashed", {"radio-symbolic", "content-loading-symbolic"}},
        {"info.circle", {"dialog-information-symbolic", "help-about-symbolic"}},
        {"slider.horizontal.3", {"preferences-other-symbolic", "emblem-system-symbolic"}},
        {"sparkles", {"starred-symbolic", "star-new-symbolic"}},
        {"sparkles.rectangle.stack.fill", {"starred-symbolic", "star-new-symbolic"}},
        {"globe", {"web-browser-symbolic", "network-workgroup-symbolic"}},
        {"cursorarrow.motionlines", {"input-mouse-symbolic"}},
        {"cursorarrow.motionlines.click", {"input-mouse-symbolic"}},
        {"rectangle.dashed.badge.record", {"applets-screenshooter-symbolic", "edit-select-all-symbolic"}},
        {"accessibility", {"preferences-desktop-accessibility-symbolic", "preferences-desktop-accessibility"}},
        {"tortoise", {"power-profile-power-saver-symbolic", "media-seek-backward-symbolic"}},
        {"hare", {"power-profile-performance-symbolic", "media-seek-forward-symbolic"}},
        {"photo.on.rectangle.angled", {"image-x-generic-symbolic", "insert-image-symbolic"}},
        {"graduationcap", {"help-browser-symbolic", "help-contents-symbolic"}},
        {"puzzlepiece.extension", {"application-x-addon-symbolic", "application-x-addon"}},
        {"memorychip", {"media-flash-symbolic", "drive-harddisk-solidstate-symbolic"}},
    };
    return names;
}

QIcon themeIcon(std::string_view symbol)
{
    for (const char* name : iconNames(symbol)) {
        const QString themeName = QString::fromLatin1(name);
        if (QIcon::hasThemeIcon(themeName)) return QIcon::fromTheme(themeName);
    }
    return {};
}

} // namespace

std::vector<const char*> iconNames(std::string_view symbol)
{
    const auto& names = table();
    const auto found = names.find(symbol);
    return found == names.end() ? Names {} : found->second;
}

void installIconTheme()
{
    // Platforms without a desktop theme (the offscreen one) look only in Qt's resources.
    QStringList paths = QIcon::themeSearchPaths();
    const QStringList xdg = QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                                      QStandardPaths::LocateDirectory);
    for (const QString& path : xdg) {
        if (!paths.contains(path)) paths.append(path);
    }
    QIcon::setThemeSearchPaths(paths);
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    const QString current = QIcon::themeName();
    if (current.isEmpty() || current == QLatin1String("hicolor")) QIcon::setThemeName(QStringLiteral("Adwaita"));
}

QPixmap pixmap(std::string_view symbol, const QColor& color, int points, qreal devicePixelRatio, int trailingSpace)
{
    const QIcon source = themeIcon(symbol);
    if (source.isNull()) return {};
    const int pixels = qRound(points * devicePixelRatio);
    QPixmap image = source.pixmap(QSize(pixels, pixels), 1.0);
    if (image.isNull()) return {};
    if (image.size() != QSize(pixels, pixels)) {
        image = image.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    // Symbolic icons are one-colour shapes: keep their alpha, paint the colour through it.
    QPixmap tinted(image.width() + qRound(trailingSpace * devicePixelRatio), image.height());
    tinted.fill(Qt::transparent);
    {
        QPainter painter(&tinted);
        painter.drawPixmap(0, 0, image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRect(QPoint(0, 0), image.size()), color);
    }
    tinted.setDevicePixelRatio(devicePixelRatio);
    return tinted;
}

QIcon icon(std::string_view symbol, const QColor& color, int points, int trailingSpace)
{
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QIcon result;
    const QPixmap normal = pixmap(symbol, color, points, ratio, trailingSpace);
    if (normal.isNull()) return result;
    result.addPixmap(normal, QIcon::Normal);
    QColor faded = color;
    faded.setAlphaF(color.alphaF() * 0.4f);
    result.addPixmap(pixmap(symbol, faded, points, ratio, trailingSpace), QIcon::Disabled);
    return result;
}

} // namespace zorvane::ui::Symbols
