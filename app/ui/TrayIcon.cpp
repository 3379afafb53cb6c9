#include "app/ui/TrayIcon.h"

#include "app/model/AppModel.h"
#include "app/core/Defaults.h"
#include "app/ui/MenuWindow.h"
#include "app/ui/Symbols.h"
#include "app/ui/Theme.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

namespace zorvane::ui {

QIcon TrayIcon::makeIcon(const std::filesystem::path& resourcesPath)
{
    const QColor color = Theme::shared().colors().text;
    const QString file = QString::fromStdString((resourcesPath / "ZorvaneMenuTemplate.png").string());
    QImage mark(file);
    if (!mark.isNull()) {
        // A template image: only its shape counts; it is drawn in the text colour.
        QPixmap tinted(mark.size());
        tinted.fill(Qt::transparent);
        QPainter painter(&tinted);
        painter.drawImage(0, 0, mark);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(tinted.rect(), color);
        painter.end();
        return QIcon(tinted);
    }
    QIcon fallback = Symbols::icon("viewfinder", color, 18);
    if (fallback.isNull()) {
        QPixmap empty(18, 18);
        empty.fill(Qt::transparent);
        fallback = QIcon(empty);
    }
    return fallback;
}

TrayIcon::TrayIcon(AppModel& model, MenuWindow& menuWindow, std::function<void()> openSettings, std::function<void()> quit,
                   const std::filesystem::path& resourcesPath)
    : model_(model.weak_from_this()), menuWindow_(menuWindow), resourcesPath_(resourcesPath), menu_(std::make_unique<QMenu>())
{
    menu_->setObjectName(QStringLiteral("trayMenu"));
    selectAction_ = menu_->addAction(QString());
    connect(selectAction_, &QAction::triggered, this, [this] {
        auto model = model_.lock();
        if (!model) return;
        if (model->isSelecting()) {
            model->cancelSelection();
        } else {
            model->handleActivationGesture();
        }
    });
    menu_->addSeparator();
    activationAction_ = menu_->addAction(QStringLiteral("Gesto rápido"));
    activationAction_->setCheckable(true);
    connect(activationAction_, &QAction::triggered, this, [this](bool on) {
        if (auto model = model_.lock()) {
            try {
                model->defaults().setBool(Defaults::activationEnabled, on);
            } catch (const std::exception&) {
            }
        }
    });
    modes_ = new QActionGroup(this);
    modes_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (AIResponseMode mode : AIResponseModes::allCases) {
        QAction* action = menu_->addAction(QString::fromStdString(AIResponseModes::label(mode)));
        action->setCheckable(true);
        action->setData(QString::fromStdString(AIResponseModes::rawValue(mode)));
        modes_->addAction(action);
    }
    connect(modes_, &QActionGroup::triggered, this, [this](QAction* action) {
        if (auto model = model_.lock()) {
            try {
                model->defaults().setString(Defaults::aiResponseMode, action->data().toString().toStdString());
            } catch (const std::exception&) {
            }
        }
    });
    menu_->addSeparator();
    settingsAction_ = menu_->addAction(QStringLiteral("Ajustes"));
    QAction* settings = settingsAction_;
    connect(settings, &QAction::triggered, this, [this, openSettings] {
        if (openSettings) openSettings();
        if (auto model = model_.lock()) model->bringSettingsToFront();
    });
    QAction* quitAction = menu_->addAction(QStringLiteral("Salir"));
    connect(quitAction, &QAction::triggered, this, [quit] {
        if (quit) quit();
    });
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] { refreshMenu(); });

    icon_ = new QSystemTrayIcon(makeIcon(resourcesPath_), this);
    icon_->setToolTip(QStringLiteral("Zorvane"));
    icon_->setContextMenu(menu_.get());
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            menuWindow_.toggleNear(icon_->geometry());
        }
    });
    connect(&Theme::shared(), &Theme::changed, this, [this] {
        icon_->setIcon(makeIcon(resourcesPath_));
        refreshMenu();
    });
    refreshMenu();
}

TrayIcon::~TrayIcon()
{
    if (icon_) icon_->hide();
}

void TrayIcon::show() { icon_->show(); }

void TrayIcon::refreshMenu()
{
    auto model = model_.lock();
    if (!model) return;
    const ThemeColors& c = Theme::shared().colors();
    const bool selecting = model->isSelecting();
    selectAction_->setText(selecting ? QStringLiteral("Cancelar selección") : QStringLiteral("Seleccionar en pantalla"));
    selectAction_->setIcon(Symbols::icon(selecting ? "xmark" : "viewfinder", c.text, 16));
    activationAction_->setChecked(model->defaults().boolForKey(Defaults::activationEnabled));
    const QString mode = QString::fromStdString(model->defaults().stringForKey(Defaults::aiResponseMode).value_or(""));
    for (QAction* action : modes_->actions()) action->setChecked(action->data().toString() == mode);
    settingsAction_->setIcon(Symbols::icon("gearshape", c.text, 16));
    menu_->actions().constLast()->setIcon(Symbols::icon("power", c.text, 16));
}

} // namespace zorvane::ui
