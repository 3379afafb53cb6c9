#include "app/ui/settings/SpeechModelSection.h"

#include "app/ui/SpeechModelProgress.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace zorvane::ui {

using Phase = SpeechModels::Phase;

SpeechModelSection::SpeechModelSection(const std::shared_ptr<AppModel>& model, QWidget* parent)
    : FormSection(QStringLiteral("Modelo de voz"), parent), model_(model), models_(model->speechModels())
{
    setObjectName(QStringLiteral("speechModelSection"));
    auto* engineRow = new QWidget;
    auto* engineLayout = new QHBoxLayout(engineRow);
    engineLayout->setContentsMargins(0, 0, 0, 0);
    engineLayout->setSpacing(10);
    engineSymbol_ = new QLabel;
    engineSymbol_->setFixedSize(20, 20);
    engineSymbol_->setAlignment(Qt::AlignCenter);
    engineLayout->addWidget(engineSymbol_, 0, Qt::AlignTop);
    engine_ = textLabel({}, TextStyle::subheadline);
    engine_->setObjectName(QStringLiteral("speechEngine"));
    engineLayout->addWidget(engine_, 1);
    addRow(engineRow);

    auto* texts = new QWidget;
    auto* textsLayout = new QVBoxLayout(texts);
    textsLayout->setContentsMargins(0, 0, 0, 0);
    textsLayout->setSpacing(3);
    modelTitle_ = textLabel({}, TextStyle::subheadline);
    QFont font = modelTitle_->font();
    font.setWeight(QFont::Medium);
    modelTitle_->setFont(font);
    modelDetail_ = textLabel({}, TextStyle::caption, true);
    modelDetail_->setObjectName(QStringLiteral("speechModelDetail"));
    bar_ = new DownloadProgressBar;
    failure_ = textLabel({}, TextStyle::caption);
    failure_->setObjectName(QStringLiteral("speechModelFailure"));
    textsLayout->addWidget(modelTitle_);
    textsLayout->addWidget(modelDetail_);
    textsLayout->addWidget(bar_);
    textsLayout->addWidget(failure_);
    button_ = styledButton({}, "bordered", "speechModelButton");
    connect(button_, &QPushButton::clicked, this, &SpeechModelSection::perform);
    addRow(texts, button_);

    footer_ = textLabel({}, TextStyle::caption, true);
    footer_->setObjectName(QStringLiteral("speechModelFolder"));
    footer_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    addFooter(footer_);

    watcher_ = new ChangeWatcher(this, [this] { sync(); });
    watcher_->watch(models_);
    sync();
}

void SpeechModelSection::showEvent(QShowEvent* event)
{
    FormSection::showEvent(event);
    sync(); // a model unpacked by hand meanwhile
}

void SpeechModelSection::sync()
{
    SpeechModels& models = *models_;
    const ThemeColors& colors = Theme::shared().colors();
    const SpeechModels::Status status = models.status();
    const auto offer = models.offer();
    const SpeechModels::Engine engine = models.engine();
    setSymbol(engineSymbol_, engine.available ? "checkmark.circle.fill" : "exclamationmark.triangle.fill",
        engine.available ? colors.green : colors.orange, 16);
    engine_->setText(QString::fromStdString(engine.description));

    const bool running = status.phase == Phase::downloading || status.phase == Phase::installing;
    const QString language = offer ? QString::fromStdString(offer->languageName) : QString();
    modelTitle_->setText(offer ? QStringLiteral("Modelo de voz en %1").arg(language) : QStringLiteral("Modelo de voz"));
    bar_->setVisible(running);
    bar_->setProgress(status.receivedBytes, status.totalBytes);
    failure_->setVisible(status.failure.has_value() && !running);
    failure_->setText(QString::fromStdString(status.failure.value_or("")));
    failure_->setStyleSheet(QStringLiteral("color: %1;").arg(colors.orange.name()));

    QString detail;
    QString button;
    action_ = Action::none;
    if (status.phase == Phase::downloading) {
        detail = QStringLiteral("Descargando: %1").arg(SpeechModelTexts::progress(status.receivedBytes, status.totalBytes));
        button = QStringLiteral("Cancelar"), action_ = Action::cancel;
    } else if (status.phase == Phase::installing) {
        detail = QStringLiteral("Comprobando e instalando…");
        button = QStringLiteral("Cancelar"), action_ = Action::cancel;
    } else if (status.phase == Phase::installed) {
        detail = QStringLiteral("Instalado: %1").arg(QString::fromStdString(status.installedModel.value_or("")));
        button = QStringLiteral("Eliminar"), action_ = Action::remove;
    } else if (offer && status.receivedBytes > 0) {
        detail = QStringLiteral("Descarga interrumpida: %1").arg(SpeechModelTexts::progress(status.receivedBytes, status.totalBytes));
        button = QStringLiteral("Reanudar"), action_ = Action::download;
    } else if (offer) {
        detail = QStringLiteral("No instalado. El modelo oficial de Vosk (%1) ocupa %2 de descarga.")
                     .arg(QString::fromStdString(offer->modelName), SpeechModelTexts::megabytes(offer->bytes));
        button = QStringLiteral("Descargar"), action_ = Action::download;
    } else {
        detail = QStringLiteral("Zorvane no descarga un modelo para este idioma: descomprime uno de Vosk en la carpeta de abajo.");
        button = QStringLiteral("Abrir la carpeta"), action_ = Action::openFolder;
    }
    modelDetail_->setText(detail);
    button_->setText(button);
    button_->setAccessibleName(button);
    button_->setVisible(action_ != Action::none);
    footer_->setText(QStringLiteral("Los modelos se guardan en %1. Un modelo de Vosk descomprimido a mano en esa carpeta "
                                    "también sirve.")
                         .arg(QString::fromStdString(models.modelFolder())));

    // A model that arrived makes speech recognition allowed: the permission row above says so now.
    if (status.phase != lastPhase_ && (status.phase == Phase::installed || lastPhase_ == Phase::installed))
        if (auto model = model_.lock()) model->refreshPermissions(0);
    lastPhase_ = status.phase;
}

void SpeechModelSection::perform()
{
    SpeechModels& models = *models_;
    switch (action_) {
    case Action::download: models.download(); break;
    case Action::cancel: models.cancelDownload(); break;
    case Action::remove: models.removeModel(); break;
    case Action::openFolder:
        if (auto model = model_.lock()) model->requestSpeechRecognitionPermission();
        break;
    case Action::none: break;
    }
}

} // namespace zorvane::ui
