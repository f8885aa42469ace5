// Writes the program's icon as PNG files for the desktop, from the same drawing as the window's:
//   drawicons FOLDER     ->  FOLDER/16/mivex.png, FOLDER/32/mivex.png, ... FOLDER/256/mivex.png
#include <QDir>
#include <QImage>
#include <cstdio>

#include "ui/icon.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: drawicons FOLDER\n");
        return 2;
    }
    for (const int size : mivex::ui::kIconSizes) {
        const QString folder = QString::fromLocal8Bit(argv[1]) + '/' + QString::number(size);
        const QString file = folder + QStringLiteral("/mivex.png");
        if (!QDir().mkpath(folder) || !mivex::ui::drawIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "drawicons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
