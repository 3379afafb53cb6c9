// A Qt 6 window for the accessibility tests: nested panels holding a button, a picture, a
// link-like label and a multi-line text. Writes each widget's rectangle in root pixels to the file
// named by its first argument ("name x y width height" lines), again whenever the window moves.
#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

namespace {

class ReportingWindow : public QWidget {
public:
    explicit ReportingWindow(QString reportPath) : reportPath_(std::move(reportPath))
    {
        timer_.setSingleShot(true);
        timer_.setInterval(150);
        QObject::connect(&timer_, &QTimer::timeout, [this] { write(); });
    }
    void track(const char* name, QWidget* widget) { widgets_.push_back({name, widget}); }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Show) timer_.start();
        return QWidget::event(event);
    }

private:
    void write()
    {
        QByteArray lines;
        for (const auto& [name, widget] : widgets_) {
            const QPoint at = widget->mapToGlobal(QPoint(0, 0));
            lines += QByteArray(name) + ' ' + QByteArray::number(at.x()) + ' ' + QByteArray::number(at.y()) + ' ' +
                QByteArray::number(widget->width()) + ' ' + QByteArray::number(widget->height()) + '\n';
        }
        QFile part(reportPath_ + ".part");
        if (!part.open(QIODevice::WriteOnly)) return;
        part.write(lines);
        part.close();
        QFile::remove(reportPath_);
        QFile::rename(reportPath_ + ".part", reportPath_);
    }

    QString reportPath_;
    QTimer timer_;
    std::vector<std::pair<const char*, QWidget*>> widgets_;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc < 2) return 2;
    ReportingWindow window(QString::fromLocal8Bit(argv[1]));
    window.setWindowTitle(argc > 2 ? QString::fromUtf8(argv[2]) : QStringLiteral("Ventana Qt"));

    auto* outer = new QVBoxLayout(&window);
    auto* panel = new QGroupBox(QStringLiteral("Panel"));
    auto* inner = new QVBoxLayout(panel);
    auto* row = new QFrame;
    auto* rowLayout = new QHBoxLayout(row);

    auto* button = new QPushButton(QStringLiteral("Enviar mensaje"));
    QPixmap pixels(120, 80);
    pixels.fill(QColor(0x33, 0x66, 0xCC));
    auto* picture = new QLabel;
    picture->setPixmap(pixels);
    picture->setFixedSize(120, 80);
    auto* link = new QLabel(QStringLiteral("<a href=\"https://example.org/\">Abrir la ayuda</a>"));
    link->setTextFormat(Qt::RichText);
    auto* text = new QPlainTextEdit(QStringLiteral("Primera línea del texto\nSegunda línea del texto\nTercera línea"));
    text->setFixedHeight(90);

    rowLayout->addWidget(button);
    rowLayout->addWidget(picture);
    rowLayout->addStretch();
    inner->addWidget(row);
    inner->addWidget(link);
    inner->addWidget(text);
    outer->addWidget(panel);

    window.track("window", &window);
    window.track("button", button);
    window.track("picture", picture);
    window.track("link", link);
    window.track("text", text);
    window.setGeometry(700, 80, 520, 420);
    window.show();
    return application.exec();
}
