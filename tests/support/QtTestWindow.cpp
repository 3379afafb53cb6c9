// The Qt 6 window desktop tests point at: nested panels holding a button, a picture, a link-like
// label and a three-line text. Once it has stood still for half a second it writes each widget's
// rectangle in root pixels to the file named by its first argument ("name x y width height").
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

class ReportingWindow : public QWidget {
public:
    std::vector<std::pair<const char*, QWidget*>> widgets;
    QTimer stillness;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Show) stillness.start(500);
        return QWidget::event(event);
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc < 3) return 2;
    ReportingWindow window;
    window.setWindowTitle(QString::fromUtf8(argv[2]));
    auto* button = new QPushButton(QStringLiteral("Enviar mensaje"));
    QPixmap pixels(120, 80);
    pixels.fill(QColor(0x33, 0x66, 0xCC));
    auto* picture = new QLabel;
    picture->setPixmap(pixels);
    picture->setFixedSize(120, 80);
    auto* link = new QLabel(QStringLiteral("<a href=\"https://example.org/\">Abrir la ayuda</a>"));
    auto* text = new QPlainTextEdit(QStringLiteral("Primera línea del texto\nSegunda línea del texto\nTercera línea"));
    text->setFixedHeight(90);
    auto* row = new QWidget;
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->addWidget(button);
    rowLayout->addWidget(picture);
    rowLayout->addStretch();
    auto* panel = new QGroupBox(QStringLiteral("Panel"));
    auto* panelLayout = new QVBoxLayout(panel);
    for (QWidget* w : {row, static_cast<QWidget*>(link), static_cast<QWidget*>(text)}) panelLayout->addWidget(w);
    (new QVBoxLayout(&window))->addWidget(panel);
    window.widgets = {{"window", &window}, {"button", button}, {"picture", picture}, {"link", link}, {"text", text}};

    const QString report = QString::fromLocal8Bit(argv[1]);
    window.stillness.setSingleShot(true);
    QObject::connect(&window.stillness, &QTimer::timeout, [&] {
        QFile part(report + ".part");
        if (!part.open(QIODevice::WriteOnly)) return;
        for (const auto& [name, widget] : window.widgets) {
            const QPoint at = widget->mapToGlobal(QPoint(0, 0));
            part.write(QStringLiteral("%1 %2 %3 %4 %5\n").arg(name).arg(at.x()).arg(at.y()).arg(widget->width()).arg(widget->height()).toUtf8());
        }
        part.close();
        QFile::remove(report);
        part.rename(report);
    });
    window.setGeometry(700, 80, 520, 420);
    window.show();
    return application.exec();
}
