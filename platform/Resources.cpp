#include "Resources.h"

#include <QFile>

QImage LoadBitmapResource(const QString& name)
{
    static const char* const suffixes[] = {".xpm", ".png", ".bmp", ".svg"};
    const QString base = QStringLiteral(":/bitmaps/") + name.toUpper();
    for (const char* suffix : suffixes) {
        const QString path = base + QLatin1String(suffix);
        if (QFile::exists(path)) {
            QImage image(path);
            if (!image.isNull())
                return image;
        }
    }
    return QImage();
}

QImage LoadBitmapResource(int id)
{
    return LoadBitmapResource(QString::number(id));
}
