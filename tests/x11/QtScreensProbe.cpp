// Prints the screens as Qt sees them: "name scale x y width height", primary first.
#include <QGuiApplication>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    QList<QScreen*> screens = application.screens();
    screens.removeAll(application.primaryScreen());
    screens.prepend(application.primaryScreen());
    for (QScreen* screen : screens) {
        const QRect g = screen->geometry();
        std::printf("%s %g %d %d %d %d\n", qPrintable(screen->name()), screen->devicePixelRatio(), g.x(), g.y(),
            g.width(), g.height());
    }
    return 0;
}
