#pragma once

#include "app/platform/SpeechModels.h"

#include <QProgressBar>
#include <QString>

#include <cstdint>

// What the composer's dictation line and the settings' Voz tab both show of a speech model and
// its download: sizes, progress and the offer, in the same words and the same thin bar.
namespace zorvane::ui {

namespace SpeechModelTexts {
// "39,8 MB" (decimal megabytes, Spanish decimal comma).
QString megabytes(std::uint64_t bytes);
// "Descargar el modelo de voz en español (40 MB)".
QString downloadAction(const SpeechModels::Offer& offer);
// "12,3 MB de 39,8 MB (31 %)".
QString progress(std::uint64_t received, std::uint64_t total);
} // namespace SpeechModelTexts

// A thin rounded bar: the track in the theme's quiet fill, the done part in its accent. A progress
// bar underneath, so screen readers read its percent as its value and hear it move.
class DownloadProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit DownloadProgressBar(QWidget* parent = nullptr);
    void setProgress(std::uint64_t received, std::uint64_t total);
    QSize sizeHint() const override { return {120, 4}; }
    QSize minimumSizeHint() const override { return {0, 4}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace zorvane::ui
