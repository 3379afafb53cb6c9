#include "app/ui/ComposerView.h"

#include "app/model/AppModel.h"
#include "app/core/Text.h"
#include "app/ui/Controls.h"
#include "app/ui/DictationMessageLine.h"
#include "app/ui/ModelObserver.h"
#include "app/ui/RichText.h"
#include "app/ui/Symbols.h"
#include "app/ui/Theme.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace zorvane::ui {
namespace {

constexpr int thumbnailWidth = 82;
constexpr int thumbnailHeight = 64;

QWidget* makeDivider(QWidget* parent)
{
    auto* line = new QWidget(parent);
    line->setObjectName(QStringLiteral("divider"));
    line->setFixedHeight(1);
    return line;
}

QLabel* makeLabel(const QString& text, TextStyle style, QWidget* parent, const char* objectName)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setFont(Theme::font(style));
    return label;
}

QToolButton* makePlainButton(QWidget* parent, const char* objectName, const QString& tooltip, int frame)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setToolTip(tooltip);
    button->setAccessibleName(tooltip);
    button->setAutoRaise(true);
    button->setProperty("kind", QStringLiteral("plain"));
    button->setCursor(Qt::PointingHandCursor);
    button->setFixedSize(frame, frame);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

// The picture scaled to fill the thumbnail, centred and cropped, with rounded corners.
QPixmap thumbnailPixmap(const QImage& image, qreal ratio)
{
    const QSize size(qRound(thumbnailWidth * ratio), qRound(thumbnailHeight * ratio));
    const QImage scaled = image.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    QPixmap result(size);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), 8 * ratio, 8 * ratio);
    painter.setClipPath(clip);
    painter.drawImage(QPointF((size.width() - scaled.width()) / 2.0, (size.height() - scaled.height()) / 2.0), scaled);
    painter.end();
    result.setDevicePixelRatio(ratio);
    return result;
}

} // namespace

PromptField::PromptField(QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("promptField"));
    setPlaceholderText(QStringLiteral("Pregunta sobre la selección…"));
    setAccessibleName(QStringLiteral("Pregunta sobre la selección"));
    setFont(Theme::font(TextStyle::body));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // One line stands as tall as the send button beside it, its text on the same line.
    document()->setDocumentMargin(6);
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this, [this] { fitHeight(); });
    fitHeight();
}

QSize PromptField::sizeHint() const
{
    const int lines = std::clamp(static_cast<int>(document()->size().height()), 1, 4);
    const int margin = static_cast<int>(document()->documentMargin());
    return {200, lines * fontMetrics().lineSpacing() + 2 * margin + room_};
}

void PromptField::setBaselineFromBottom(int pixels)
{
    // One line's baseline sits margin + ascent below the top of a field lineSpacing + 2 margins + room tall.
    const int margin = static_cast<int>(document()->documentMargin());
    room_ = std::max(0, pixels + fontMetrics().ascent() - fontMetrics().lineSpacing() - margin);
    fitHeight();
}

void PromptField::fitHeight()
{
    // Up to four lines the field grows; beyond, it scrolls.
    setVerticalScrollBarPolicy(document()->size().height() > 4 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setFixedHeight(sizeHint().height());
}

void PromptField::keyPressEvent(QKeyEvent* event)
{
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && !(event->modifiers() & Qt::ShiftModifier)) {
        emit submitted();
        return;
    }
    if (isReturn) {
        // Shift+Return: a line break, not a new paragraph with the shift's meaning.
        insertPlainText(QStringLiteral("\n"));
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

ComposerView::ComposerView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model.weak_from_this())
{
    setObjectName(QStringLiteral("composerView"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    buildHeader();
    dividers_.append(makeDivider(this));
    column->addWidget(dividers_.back());
    buildBody();
    dividers_.append(makeDivider(this));
    column->addWidget(dividers_.back());
    buildInputRow();

    dictationPulse_ = new QTimer(this);
    dictationPulse_->setInterval(120);
    connect(dictationPulse_, &QTimer::timeout, this, [this] {
        pulseStep_ = (pulseStep_ + 1) % 16;
        const double phase = pulseStep_ < 8 ? pulseStep_ / 8.0 : (16 - pulseStep_) / 8.0;
        QColor red = Theme::shared().colors().red;
        red.setAlphaF(static_cast<float>(0.45 + 0.55 * phase));
        dictationButton_->setIcon(Symbols::icon("waveform", red, 15));
    });

    observer_ = new ModelObserver([this] { refresh(); }, this);
    if (auto shared = model_.lock()) {
        observer_->watchObservable(shared);
        observer_->watchObservable(shared->speech());
    }
    connect(&Theme::shared(), &Theme::changed, this, [this] {
        applyTheme();
        responseRendered_ = false;
        refresh();
    });
    applyTheme();
    refresh();
    focusPromptSoon();
}

ComposerView::~ComposerView() = default;

void ComposerView::buildHeader()
{
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("composerHeader"));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(16, 11, 16, 11);
    title_ = makeLabel(QStringLiteral("Pregunta sobre la selección"), TextStyle::subheadline, header, "composerTitle");
    QFont font = title_->font();
    font.setWeight(QFont::DemiBold);
    title_->setFont(font);
    row->addWidget(title_);
    row->addStretch(1);
    closeButton_ = makePlainButton(header, "closeButton", QStringLiteral("Cerrar"), 20);
    connect(closeButton_, &QToolButton::clicked, this, [this] {
        if (auto model = model_.lock()) model->closeComposer();
    });
    row->addWidget(closeButton_);
    layout()->addWidget(header);
}

void ComposerView::buildBody()
{
    scrollArea_ = new QScrollArea(this);
    scrollArea_->setObjectName(QStringLiteral("scrollArea"));
    scrollArea_->setWidgetResizable(true);
    scrollArea_->setFrameShape(QFrame::NoFrame);
    scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea_->viewport()->setAutoFillBackground(false);
    scrollArea_->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));

    auto* content = new QWidget(scrollArea_);
    content->setObjectName(QStringLiteral("scrollContent"));
    content->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(14);

    // The context card.
    contextCard_ = new QWidget(content);
    contextCard_->setObjectName(QStringLiteral("contextCard"));
    auto* card = new QHBoxLayout(contextCard_);
    card->setContentsMargins(0, 0, 0, 0);
    card->setSpacing(12);
    thumbnail_ = new QLabel(contextCard_);
    thumbnail_->setObjectName(QStringLiteral("thumbnail"));
    thumbnail_->setFixedSize(thumbnailWidth, thumbnailHeight);
    thumbnail_->setAlignment(Qt::AlignCenter);
    auto* spinnerLayout = new QHBoxLayout(thumbnail_);
    spinnerLayout->setContentsMargins(0, 0, 0, 0);
    thumbnailSpinner_ = new Spinner(thumbnail_, 16);
    thumbnailSpinner_->setObjectName(QStringLiteral("thumbnailSpinner"));
    spinnerLayout->addWidget(thumbnailSpinner_, 0, Qt::AlignCenter);
    card->addWidget(thumbnail_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->setContentsMargins(0, 0, 0, 0);
    contextTitle_ = makeLabel({}, TextStyle::subheadline, contextCard_, "contextTitle");
    QFont titleFont = contextTitle_->font();
    titleFont.setWeight(QFont::DemiBold);
    contextTitle_->setFont(titleFont);
    contextTitle_->setWordWrap(true);
    contextTitle_->setTextFormat(Qt::PlainText);
    contextCaption_ = makeLabel({}, TextStyle::caption, contextCard_, "contextCaption");
    contextCaption_->setTextFormat(Qt::PlainText);
    texts->addWidget(contextTitle_);
    texts->addWidget(contextCaption_);
    texts->addStretch(1);
    card->addLayout(texts, 1);
    column->addWidget(contextCard_);

    // The response area: one of progress, answer, error.
    loadingRow_ = new QWidget(content);
    loadingRow_->setObjectName(QStringLiteral("loadingRow"));
    auto* loading = new QHBoxLayout(loadingRow_);
    loading->setContentsMargins(0, 6, 0, 6);
    loading->setSpacing(10);
    loading->addWidget(new Spinner(loadingRow_, 16));
    auto* thinking = makeLabel(QStringLiteral("Codex está pensando…"), TextStyle::body, loadingRow_, "loadingLabel");
    loading->addWidget(thinking);
    loading->addStretch(1);
    column->addWidget(loadingRow_);

    responseBox_ = new QWidget(content);
    responseBox_->setObjectName(QStringLiteral("responseBox"));
    auto* response = new QVBoxLayout(responseBox_);
    response->setContentsMargins(0, 0, 0, 0);
    response->setSpacing(10);
    auto* responseHeaderRow = new QHBoxLayout;
    responseHeader_ = makeLabel(QStringLiteral("Respuesta"), TextStyle::caption, responseBox_, "responseHeader");
    QFont headerFont = responseHeader_->font();
    headerFont.setWeight(QFont::DemiBold);
    responseHeader_->setFont(headerFont);
    responseHeaderRow->addWidget(responseHeader_);
    responseHeaderRow->addStretch(1);
    copyButton_ = makePlainButton(responseBox_, "copyButton", QStringLiteral("Copiar respuesta"), 22);
    connect(copyButton_, &QToolButton::clicked, this, [this] {
        auto model = model_.lock();
        if (!model) return;
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(QString::fromStdString(model->response()));
    });
    responseHeaderRow->addWidget(copyButton_);
    response->addLayout(responseHeaderRow);
    markdownView_ = RichText::makeView(responseBox_);
    markdownView_->setAccessibleName(QStringLiteral("Respuesta"));
    markdownView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    markdownView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    markdownView_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    // The outer scroll area scrolls; the view is as tall as its text at its width.
    markdownView_->installEventFilter(this);
    response->addWidget(markdownView_);
    column->addWidget(responseBox_);

    errorLabel_ = makeLabel({}, TextStyle::callout, content, "errorLabel");
    errorLabel_->setWordWrap(true);
    errorLabel_->setTextFormat(Qt::PlainText);
    errorLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(errorLabel_);
    column->addStretch(1);

    scrollArea_->setWidget(content);
    content->setAutoFillBackground(false); // setWidget turned it on
    layout()->addWidget(scrollArea_);
}

void ComposerView::buildInputRow()
{
    auto* inputRow = new QWidget(this);
    inputRow->setObjectName(QStringLiteral("inputRow"));
    auto* row = new QHBoxLayout(inputRow);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(8);
    prompt_ = new PromptField(inputRow);
    connect(prompt_, &QPlainTextEdit::textChanged, this, [this] {
        auto model = model_.lock();
        const std::string text = prompt_->toPlainText().toStdString();
        if (model && model->draft() != text) model->setDraft(text);
        refresh();
    });
    connect(prompt_, &PromptField::submitted, this, [this] {
        if (auto model = model_.lock()) model->send();
    });
    row->addWidget(prompt_, 1, Qt::AlignBottom);
    dictationButton_ = makePlainButton(inputRow, "dictationButton", QStringLiteral("Dictar"), 22);
    dictationButton_->setIconSize(QSize(15, 15));
    connect(dictationButton_, &QToolButton::clicked, this, [this] {
        if (auto model = model_.lock()) model->toggleVoice();
    });
    row->addWidget(dictationButton_, 0, Qt::AlignBottom);
    sendButton_ = new QPushButton(QStringLiteral("Enviar"), inputRow);
    sendButton_->setObjectName(QStringLiteral("sendButton"));
    sendButton_->setProperty("kind", QStringLiteral("prominent"));
    sendButton_->setAccessibleName(QStringLiteral("Enviar"));
    sendButton_->setCursor(Qt::PointingHandCursor);
    sendButton_->setFocusPolicy(Qt::TabFocus);
    connect(sendButton_, &QPushButton::clicked, this, [this] {
        if (auto model = model_.lock()) model->send();
    });
    row->addWidget(sendButton_, 0, Qt::AlignBottom);
    layout()->addWidget(inputRow);
    if (auto model = model_.lock()) layout()->addWidget(new DictationMessageLine(*model, this));

    // Return sends from anywhere in the panel, as the send button's shortcut; in the question field
    // the field itself takes it (and Shift+Return breaks the line there).
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (sendButton_->isEnabled()) sendButton_->click();
        });
    }
    // The keyboard goes round in reading order: header, answer, question, dictation, send.
    QWidget::setTabOrder(closeButton_, copyButton_);
    QWidget::setTabOrder(copyButton_, markdownView_);
    QWidget::setTabOrder(markdownView_, prompt_);
    QWidget::setTabOrder(prompt_, dictationButton_);
    QWidget::setTabOrder(dictationButton_, sendButton_);
}

void ComposerView::applyTheme()
{
    const Theme& theme = Theme::shared();
    const ThemeColors& c = theme.colors();
    theme.apply(this);
    QColor divider = c.text;
    divider.setAlphaF(theme.isDark() ? 0.16f : 0.12f); // the separator colour at 35 %
    for (QWidget* line : dividers_) {
        line->setStyleSheet(QStringLiteral("background: %1;").arg(divider.name(QColor::HexArgb)));
    }
    contextCaption_->setStyleSheet(QStringLiteral("color: %1;").arg(c.secondaryText.name()));
    responseHeader_->setStyleSheet(QStringLiteral("color: %1;").arg(c.secondaryText.name()));
    findChild<QLabel*>(QStringLiteral("loadingLabel"))->setStyleSheet(QStringLiteral("color: %1;").arg(c.secondaryText.name()));
    errorLabel_->setStyleSheet(QStringLiteral("color: %1;").arg(c.orange.name()));
    QColor fill = c.fill;
    fill.setAlphaF(fill.alphaF() * 1.2f);
    thumbnail_->setStyleSheet(QStringLiteral("QLabel#thumbnail { background: %1; border-radius: 8px; }").arg(fill.name(QColor::HexArgb)));
    // The question's first line on the same baseline as "Enviar" beside it.
    sendButton_->ensurePolished();
    const QFontMetrics sendMetrics(sendButton_->font());
    prompt_->setBaselineFromBottom((sendButton_->sizeHint().height() - sendMetrics.height()) / 2 + sendMetrics.descent());
    closeButton_->setIcon(Symbols::icon("xmark", c.secondaryText, 11));
    closeButton_->setIconSize(QSize(11, 11));
    copyButton_->setIcon(Symbols::icon("doc.on.doc", c.secondaryText, 14));
    copyButton_->setIconSize(QSize(14, 14));
    listening_ = !listening_; // forces the dictation button to be redrawn
}

void ComposerView::updateThumbnail()
{
    auto model = model_.lock();
    const auto& context = model->selectedContext();
    const bool hasImage = context && context->imageData && !context->imageData->empty();
    if (hasImage && (thumbnailFor_ != context->id || thumbnailBytes_ != context->imageData->size())) {
        const auto& bytes = *context->imageData;
        const QImage image = QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), "PNG");
        thumbnail_->setPixmap(image.isNull() ? QPixmap() : thumbnailPixmap(image, devicePixelRatioF()));
        thumbnailFor_ = context->id;
        thumbnailBytes_ = bytes.size();
    } else if (!hasImage && thumbnailFor_) {
        thumbnail_->clear();
        thumbnailFor_.reset();
        thumbnailBytes_ = 0;
    }
    thumbnailSpinner_->setVisible(!hasImage && model->isPreparingSelectionImage());
}

void ComposerView::refresh()
{
    auto model = model_.lock();
    if (!model) return;
    const auto& context = model->selectedContext();

    contextCard_->setVisible(context.has_value());
    if (context) {
        contextTitle_->setText(QString::fromStdString(context->displayTitle()));
        // At most two lines of title.
        contextTitle_->setMaximumHeight(contextTitle_->fontMetrics().lineSpacing() * 2 + 2);
        contextCaption_->setText(QString::fromStdString(context->appName + " · " + context->role));
    }
    updateThumbnail();

    // The response area shows the first matching case only.
    const bool loading = model->isLoading();
    const bool hasResponse = !loading && !model->response().empty();
    const bool hasError = !loading && !hasResponse && model->lastError().has_value();
    loadingRow_->setVisible(loading);
    responseBox_->setVisible(hasResponse);
    errorLabel_->setVisible(hasError);
    if (hasResponse && (!responseRendered_ || renderedResponse_ != model->response())) {
        RichText::setMarkdown(*markdownView_, model->response());
        fitAnswerHeight();
        renderedResponse_ = model->response();
        responseRendered_ = true;
    }
    if (hasError) errorLabel_->setText(QString::fromStdString(*model->lastError()));

    // The draft is the model's; the field follows it (dictation writes it too).
    const QString draft = QString::fromStdString(model->draft());
    if (prompt_->toPlainText() != draft) {
        const QSignalBlocker block(prompt_);
        prompt_->setPlainText(draft);
        prompt_->moveCursor(QTextCursor::End);
    }

    const bool blankDraft = Text::trimmed(model->draft()).empty();
    sendButton_->setEnabled(!loading && !model->isPreparingSelectionImage() && !(blankDraft && !context));

    const bool listening = model->speech() && model->speech()->isListening();
    if (listening != listening_) {
        listening_ = listening;
        const ThemeColors& c = Theme::shared().colors();
        dictationButton_->setToolTip(listening ? QStringLiteral("Detener dictado") : QStringLiteral("Dictar"));
        dictationButton_->setAccessibleName(dictationButton_->toolTip());
        dictationButton_->setIcon(listening ? Symbols::icon("waveform", c.red, 15) : Symbols::icon("mic.fill", c.secondaryText, 15));
        dictationButton_->setProperty("listening", listening);
        if (listening) {
            pulseStep_ = 0;
            dictationPulse_->start();
        } else {
            dictationPulse_->stop();
        }
    }

    if (model->composerFocusRequest() != focusRequestSeen_) {
        focusRequestSeen_ = model->composerFocusRequest();
        focusPromptSoon();
    }
}

bool ComposerView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == markdownView_ && event->type() == QEvent::Resize) fitAnswerHeight();
    return QWidget::eventFilter(watched, event);
}

void ComposerView::fitAnswerHeight()
{
    QTextDocument* document = markdownView_->document();
    const int width = markdownView_->viewport()->width();
    if (width <= 0) return;
    document->setTextWidth(width);
    const int height = static_cast<int>(std::ceil(document->size().height())) + 2 * markdownView_->frameWidth() + 2;
    if (markdownView_->height() != height) markdownView_->setFixedHeight(height);
}

void ComposerView::focusPromptSoon()
{
    // One turn later, so the panel has become the active window first.
    QTimer::singleShot(0, prompt_, [prompt = prompt_] {
        prompt->activateWindow();
        prompt->setFocus(Qt::OtherFocusReason);
    });
}

} // namespace zorvane::ui
