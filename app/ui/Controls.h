#pragma once

#include <QAbstractButton>
#include <QButtonGroup>
#include <QTimer>
#include <QWidget>

#include <string>
#include <string_view>
#include <vector>

class QKeyEvent;

// Small controls the desktop's widget set draws differently on every theme, drawn here in the
// Theme's colours: a spinner, a switch and a segmented picker. Other windows may use them.
namespace zorvane::ui {

// The small indeterminate progress indicator. It animates only while visible, so a hidden one
// never wakes the program.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(QWidget* parent = nullptr, int diameter = 16);
    QSize sizeHint() const override { return {diameter_, diameter_}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int diameter_;
    int step_ = 0;
    QTimer timer_;
};

// An on/off switch.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {36, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Shows the symbol before the button's label, 6 points from it (the style alone leaves 2).
void setLabelSymbol(QAbstractButton* button, std::string_view symbol, const QColor& color, int points);

// Return or Enter presses the window's focused button, which the toolkit leaves to dialogs; true
// when it did. Windows call it from their key handler.
bool pressFocusedButton(QWidget* window, QKeyEvent* event);

// Buttons that are one choice among several, for the keyboard: only the chosen one (or the first
// when none is) is a Tab stop, and the arrow keys move to the previous or next one and choose it.
class ChoiceKeys : public QObject {
    Q_OBJECT
public:
    explicit ChoiceKeys(QObject* parent) : QObject(parent) {}
    void add(QAbstractButton* button);
    // Makes the chosen button the Tab stop again (after a choice made without the keyboard).
    void update();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<QAbstractButton*> buttons_;
};

// A row of mutually exclusive segments; `currentChanged` reports a choice made by the user. Screen
// readers read it as a group named by its accessible name, its segments as radio buttons.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedControl(QWidget* parent = nullptr);
    // Adds a segment, with a symbol before its title when one is named; its button is named "segment:<tag>".
    void addSegment(const QString& title, const QString& tag, const std::string& symbol = {});
    // Selects the segment with this tag, or none when no segment has it.
    void setCurrentTag(const QString& tag);
    QString currentTag() const;

signals:
    void currentChanged(const QString& tag);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void restyle();

    QButtonGroup group_;
    std::vector<QString> tags_;
    std::vector<std::string> symbols_;
    ChoiceKeys* keys_;
};

} // namespace zorvane::ui
