#pragma once

#include "app/core/ObservableObject.h"
#include "app/core/UserDefaults.h"
#include "app/ui/Theme.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>
#include <vector>

// The pieces the settings and onboarding windows are built from: symbol and text labels, titled
// sections with a rounded group of rows, permission rows, and a watcher that redraws a window
// once after its sources changed.
namespace zorvane::ui {

// A label showing a symbol of `points` in `color`, centred in a `frame` × `frame` box (0: the symbol's size).
QLabel* symbolLabel(const char* symbol, const QColor& color, int points, int frame = 0, QWidget* parent = nullptr);
void setSymbol(QLabel* label, const char* symbol, const QColor& color, int points);
// Tints again every symbol under `root` that symbolLabel drew in a text colour.
void retintSymbols(QWidget* root);
// A word-wrapped label in a text style; `secondary` draws it in the secondary colour.
QLabel* textLabel(const QString& text, TextStyle style, bool secondary = false, QWidget* parent = nullptr);
// A button of one of the theme's kinds ("prominent", "bordered", "borderless"), named `name`.
QPushButton* styledButton(const QString& text, const char* kind, const char* name, QWidget* parent = nullptr);

// A section of a settings form: a title, then a rounded group whose rows are split by hairlines,
// then an optional footer in caption size.
class FormSection : public QWidget {
    Q_OBJECT
public:
    FormSection(const QString& title, QWidget* parent = nullptr);
    // Adds a row; returns it for chaining.
    QWidget* addRow(QWidget* row);
    // A row of a leading part (symbol and text), a flexible space and a trailing widget.
    QWidget* addRow(QWidget* leading, QWidget* trailing);
    void addFooter(QWidget* footer);

private:
    QFrame* group_;
    QVBoxLayout* rows_;
    QVBoxLayout* outer_;
};

// A symbol beside a title and, under it, an optional detail.
QWidget* titledRow(const char* symbol, const QColor& color, const QString& title, const QString& detail = {},
    QWidget* parent = nullptr);

// A permission with its state: a leading symbol (green check when granted), the title and detail,
// and "Permitir" while not granted.
class PermissionRow : public QWidget {
    Q_OBJECT
public:
    PermissionRow(const QString& title, const QString& detail, std::function<void()> action, QWidget* parent = nullptr);
    void setGranted(bool granted);
    bool isGranted() const { return granted_; }

private:
    QLabel* symbol_;
    QPushButton* allow_;
    bool granted_ = false;
};

// Calls `sync` once, on the GUI thread, after any watched source announced a change (model and
// update service observers, settings keys written on any thread) or the theme changed.
class ChangeWatcher : public QObject {
    Q_OBJECT
public:
    ChangeWatcher(QObject* owner, std::function<void()> sync);
    ~ChangeWatcher() override;
    void watch(const std::shared_ptr<ObservableObject>& object);
    void watch(const std::shared_ptr<UserDefaults>& defaults);
    // Asks for one sync soon.
    void schedule();

private:
    std::function<void()> sync_;
    bool pending_ = false;
    // Weakly: a view must never keep the model it watches alive.
    std::vector<std::pair<std::weak_ptr<ObservableObject>, ObservableObject::Token>> objects_;
    std::vector<std::pair<std::weak_ptr<UserDefaults>, UserDefaults::ObserverToken>> defaults_;
};

// The theme's style sheet plus the text colours of labels, for the windows built from these pieces.
QString windowStyleSheet();

} // namespace zorvane::ui
