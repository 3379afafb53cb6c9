#include "app/ui/DictationMessageLine.h"

#include "app/core/Defaults.h"
#include "app/model/AppModel.h"
#include "app/ui/Accessibility.h"
#include "app/ui/ModelObserver.h"
#include "app/ui/SpeechModelProgress.h"
#include "app/ui/Theme.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace zorvane::ui {

using Remedy = SpeechInputService::Remedy;
using Phase = SpeechModels::Phase;

DictationMessageLine::DictationMessageLine(AppModel& model, QWidget* parent) : QWidget(parent), model_(model.weak_from_this())
{
    setObjectName(QStringLiteral("dictationMessageLine"));
    auto* column = new QVBoxLayout(this);
    // The text lines up with the question's text above it.
    column->setContentsMargins(18, 0, 12, 10);
    column->setSpacing(6);
    // The action is a link at the end of the sentence, so a long reason and its fix read as one.
    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("dictationMessage"));
    text_->setFont(Theme::font(TextStyle::caption));
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::RichText);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(text_, &QLabel::linkActivated, this, [this] { perform(); });
    text_->installEventFilter(this);
    column->addWidget(text_);
    bar_ = new DownloadProgressBar(this);
    column->addWidget(bar_);

    observer_ = new ModelObserver([this] { refresh(); }, this);
    if (auto shared = model_.lock()) {
        observer_->watchObservable(shared->speech());
        if (shared->speechModels()) observer_->watchObservable(shared->speechModels());
    }
    connect(&Theme::shared(), &Theme::changed, this, [this] { applyTheme(); });
    refresh();
}

DictationMessageLine::~DictationMessageLine() = default;

void DictationMessageLine::refresh()
{
    auto model = model_.lock();
    if (!model) return;
    const auto& speech = *model->speech();
    const std::optional<std::string>& message = speech.authorizationMessage();
    if (!message) {
        downloadFor_.reset();
        hide();
        return;
    }
    const QString failure = QString::fromStdString(*message);
    const auto& models = model->speechModels();
    if (speech.remedy() == Remedy::speechRecognition && models) {
        const SpeechModels::Status status = models->status();
        const auto offer = models->offer();
        const QString language = offer ? QString::fromStdString(offer->languageName) : QString();
        if (status.phase == Phase::downloading || status.phase == Phase::installing) {
            downloadFor_ = *message;
            bar_->setProgress(status.receivedBytes, status.totalBytes);
            present(status.phase == Phase::installing
                    ? QStringLiteral("Comprobando e instalando el modelo de voz en %1…").arg(language)
                    : QStringLiteral("Descargando el modelo de voz en %1: %2")
                          .arg(language, SpeechModelTexts::progress(status.receivedBytes, status.totalBytes)),
                false, Action::cancelDownload, QStringLiteral("Cancelar"));
            return;
        }
        if (downloadFor_ != *message) downloadFor_.reset();
        if (status.phase == Phase::installed && downloadFor_) {
            present(QStringLiteral("El modelo de voz en %1 está listo: pulsa el micrófono para dictar.").arg(language), false, Action::none);
        } else if (status.failure && offer) {
            present(QString::fromStdString(*status.failure), true, Action::download,
                status.receivedBytes > 0 ? QStringLiteral("Reanudar la descarga") : QStringLiteral("Reintentar"));
        } else if (offer && status.phase != Phase::installed) {
            present(failure, true, Action::download, SpeechModelTexts::downloadAction(*offer));
        } else {
            // No model to offer (or one there that does not work): the folder is where the user fixes it.
            present(failure, true, Action::modelFolder, QStringLiteral("Abrir la carpeta de modelos"));
        }
        return;
    }
    downloadFor_.reset();
    switch (speech.remedy()) {
    case Remedy::microphone: present(failure, true, Action::soundSettings, QStringLiteral("Abrir los ajustes de sonido")); break;
    case Remedy::enableDictation: present(failure, true, Action::enableDictation, QStringLiteral("Activar el dictado")); break;
    default: present(failure, true, Action::none); break;
    }
}

void DictationMessageLine::present(const QString& text, bool isError, Action action, const QString& actionText)
{
    current_ = action;
    const ThemeColors& colors = Theme::shared().colors();
    QString html = QStringLiteral("<span style=\"color: %1;\">%2</span>")
                       .arg((isError ? colors.orange : colors.secondaryText).name(), text.toHtmlEscaped());
    if (action != Action::none)
        html += QStringLiteral("&nbsp;&nbsp;<a href=\"fix\" style=\"color: %1; text-decoration: none;\">%2</a>")
                    .arg(colors.link.name(), actionText.toHtmlEscaped());
    // A screen reader reads a label with links as plain text: with an action the line reads as the
    // link it leads to, the reason as its description.
    Accessibility::setRole(text_, action != Action::none ? QAccessible::Link : QAccessible::StaticText);
    text_->setAccessibleName(action != Action::none ? actionText : text);
    text_->setAccessibleDescription(action != Action::none ? text : QString());
    if (text_->text() != html) {
        text_->setText(html);
        if (text_->hasFocus()) focusLink(); // a new sentence under the keyboard keeps it on its link
    }
    bar_->setVisible(action == Action::cancelDownload);
    setVisible(true);
}

void DictationMessageLine::perform()
{
    auto model = model_.lock();
    if (!model) return;
    switch (current_) {
    case Action::download:
        if (model->speechModels()) model->speechModels()->download();
        break;
    case Action::cancelDownload:
        if (model->speechModels()) model->speechModels()->cancelDownload();
        break;
    case Action::soundSettings: model->requestMicrophonePermission(); break;
    case Action::modelFolder: model->requestSpeechRecognitionPermission(); break;
    case Action::enableDictation:
        // What the user pressed the button for: dictation, switched on and started.
        model->defaults().setBool(Defaults::voiceEnabled, true);
        model->toggleVoice();
        break;
    case Action::none: break;
    }
}

bool DictationMessageLine::eventFilter(QObject* watched, QEvent* event)
{
    // Return on the focused link follows it: the panel's Return-sends shortcut must not take it.
    if (watched == text_ && event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) event->accept();
    }
    // The keyboard coming in (or back with the window) lands on the link itself, ready for Return;
    // a label alone would take one more Tab.
    if (watched == text_ && event->type() == QEvent::FocusIn && static_cast<QFocusEvent*>(event)->reason() != Qt::MouseFocusReason)
        focusLink();
    if (watched == window() && event->type() == QEvent::Resize) makeRoom(); // opened again at its compact height
    return QWidget::eventFilter(watched, event);
}

void DictationMessageLine::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    window()->installEventFilter(this);
    makeRoom();
}

void DictationMessageLine::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    makeRoom();
}

void DictationMessageLine::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    makeRoom();
}

void DictationMessageLine::makeRoom()
{
    // The panel opens at a compact height with the selection card just fitting above the input: a
    // second line of text or the progress bar here would leave the card in a scrolled view. The
    // panel grows by what the card lacks instead (not for a long answer, which scrolls anyway), and
    // shrinks back by as much once the line needs less.
    QTimer::singleShot(0, this, [this] {
        QWidget* panel = window();
        auto* body = panel->findChild<QScrollArea*>();
        if (!body || !body->widget() || panel->minimumHeight() == panel->maximumHeight()) return;
        if (panel->height() != grownTo_) grown_ = 0; // sized since by its owner: opened again, or grown for an answer
        const QWidget* content = body->widget();
        const int missing = content->minimumSizeHint().expandedTo(content->minimumSize()).height() - body->viewport()->height();
        int change = 0;
        if (isVisible() && missing > 0 && missing <= height()) change = missing;
        else if (missing < 0 && grown_ > 0) change = -std::min(grown_, -missing);
        if (change == 0) return;
        grown_ += change;
        QRect frame = panel->geometry();
        frame.setHeight(frame.height() + change);
        if (const QScreen* screen = panel->screen(); screen && frame.bottom() > screen->availableGeometry().bottom())
            frame.moveBottom(screen->availableGeometry().bottom());
        grownTo_ = frame.height();
        panel->setGeometry(frame);
    });
}

void DictationMessageLine::focusLink()
{
    // A moment later, once the label has settled; what a Tab inside it does, as it has no call of
    // its own for it. Only when no link has the keyboard yet: one more Tab would leave the label.
    QTimer::singleShot(0, text_, [this] {
        if (current_ == Action::none || !text_->hasFocus() || !text_->selectedText().isEmpty()) return;
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QCoreApplication::sendEvent(text_, &tab);
    });
}

void DictationMessageLine::applyTheme()
{
    text_->clear(); // drawn again in this appearance's colours
    refresh();
    bar_->update();
}

} // namespace zorvane::ui
