#include "Resources.h"

#include <QFile>
#include <QImageReader>

QImage LoadBitmapResource(const QString& name)
{
    static const char* const suffixes[] = {".xpm", ".png", ".bmp", ".svg"};
    // A name is a plain word: nothing outside the bitmap folder can be named.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('.')))
        return QImage();
    const QString base = QStringLiteral(":/bitmaps/") + name.toUpper();
    for (const char* suffix : suffixes) {
        const QString path = base + QLatin1String(suffix);
        if (QFile::exists(path)) {
            // Read by the format its suffix names: a guess would load every image format
            // plug-in to ask it.
            QImageReader reader(path, suffix + 1);
            reader.setAutoDetectImageFormat(false);
            QImage image = reader.read();
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
