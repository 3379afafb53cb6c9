#pragma once

#include "app/core/UUID.h"

#include <QPlainTextEdit>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QScrollArea;
class QTextBrowser;
class QToolButton;
class QTimer;

namespace zorvane {
class AppModel;
}

namespace zorvane::ui {

class ModelObserver;
class Spinner;

// The question field: grows from one to four lines, Return sends, Shift+Return breaks the line.
class PromptField : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit PromptField(QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // Puts the first line's baseline this far above the field's bottom edge (the send button's,
    // beside it on the same bottom line).
    void setBaselineFromBottom(int pixels);

signals:
    void submitted();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fitHeight();

    int room_ = 4; // below the last line
};

// The content of the chat panel: what was selected, the question, and the progress, the answer
// or the error. It keeps nothing of its own: it draws the model and calls it.
class ComposerView : public QWidget {
    Q_OBJECT
public:
    ComposerView(AppModel& model, QWidget* parent = nullptr);
    ~ComposerView() override;

    // Draws the model's current state now (also done on every change it announces).
    void refresh();

private:
    void buildHeader();
    void buildBody();
    void buildInputRow();
    void applyTheme();
    void updateThumbnail();
    void focusPromptSoon();
    void fitAnswerHeight();
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::weak_ptr<AppModel> model_;
    ModelObserver* observer_ = nullptr;

    QLabel* title_ = nullptr;
    QToolButton* closeButton_ = nullptr;
    QScrollArea* scrollArea_ = nullptr;
    QWidget* contextCard_ = nullptr;
    QLabel* thumbnail_ = nullptr;
    Spinner* thumbnailSpinner_ = nullptr;
    QLabel* contextTitle_ = nullptr;
    QLabel* contextCaption_ = nullptr;
    QWidget* loadingRow_ = nullptr;
    QWidget* responseBox_ = nullptr;
    QToolButton* copyButton_ = nullptr;
    QLabel* responseHeader_ = nullptr;
    QTextBrowser* markdownView_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    PromptField* prompt_ = nullptr;
    QToolButton* dictationButton_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QList<QWidget*> dividers_;
    QTimer* dictationPulse_ = nullptr;
    int pulseStep_ = 0;

    std::string renderedResponse_;
    bool responseRendered_ = false;
    std::optional<UUID> thumbnailFor_;
    std::size_t thumbnailBytes_ = 0;
    std::int64_t focusRequestSeen_ = -1;
    bool listening_ = false;
};

} // namespace zorvane::ui
