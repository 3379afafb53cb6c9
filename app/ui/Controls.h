#pragma once

#include <QAbstractButton>
#include <QButtonGroup>
#include <QTimer>
#include <QWidget>

#include <vector>

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

// A row of mutually exclusive segments; `currentChanged` reports a choice made by the user.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedControl(QWidget* parent = nullptr);
    // Adds a segment; its button is named "segment:<tag>".
    void addSegment(const QString& title, const QString& tag, const QIcon& icon = {});
    // Selects the segment with this tag, or none when no segment has it.
    void setCurrentTag(const QString& tag);
    QString currentTag() const;

signals:
    void currentChanged(const QString& tag);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QButtonGroup group_;
    std::vector<QString> tags_;
};

} // namespace zorvane::ui
