#include "ShellOpen.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

namespace {

TShell& CurrentShell()
{
    static TShell shell;
    return shell;
}

// The address as the desktop's handler takes it, or an empty URL when `file` is no web address.
QUrl WebAddress(const QString& file)
{
    static const QStringList Schemes = {QStringLiteral("http"), QStringLiteral("https"),
                                        QStringLiteral("ftp"), QStringLiteral("mailto")};
    QUrl url(file, QUrl::StrictMode);
    if (url.isValid() && Schemes.contains(url.scheme(), Qt::CaseInsensitive))
        return url;
    // The shell takes a bare "www." name for a web address as well.
    if (file.startsWith(QLatin1String("www."), Qt::CaseInsensitive) && !file.contains(u' ')) {
        QUrl bare(QStringLiteral("http://") + file, QUrl::StrictMode);
        if (bare.isValid())
            return bare;
    }
    return {};
}

int OpenWithHandler(const QUrl& url)
{
    return QDesktopServices::openUrl(url) ? ShellOpenStarted : SE_ERR_NOASSOC;
}

int StartProgram(const QString& file, const QString& parameters, const QString& directory)
{
    const QString program = file.contains(u'/') ? file : QStandardPaths::findExecutable(file);
    const QFileInfo info(program);
    if (program.isEmpty() || !info.exists())
        return SE_ERR_FNF;
    if (!info.isExecutable() || info.isDir())
        return SE_ERR_ACCESSDENIED;
    // Started straight from its file: no shell reads the parameters.
    if (!QProcess::startDetached(program, QProcess::splitCommand(parameters), directory))
        return SE_ERR_ACCESSDENIED;
    return ShellOpenStarted;
}

} // namespace

int DesktopShell(const TShellRequest& request)
{
    if (!request.Operation.isEmpty() &&
        request.Operation.compare(QLatin1String("open"), Qt::CaseInsensitive) != 0)
        return SE_ERR_NOASSOC;
    if (request.File.isEmpty())
        return SE_ERR_FNF;
    if (const QUrl url = WebAddress(request.File); !url.isEmpty())
        return request.Parameters.isEmpty() ? OpenWithHandler(url) : SE_ERR_NOASSOC;
    const QFileInfo document(request.File);
    if (document.isFile() && !document.isExecutable())
        return request.Parameters.isEmpty()
                   ? OpenWithHandler(QUrl::fromLocalFile(document.absoluteFilePath()))
                   : SE_ERR_NOASSOC;
    return StartProgram(request.File, request.Parameters, request.Directory);
}

int ShellExecute(QWidget* owner, const QString& operation, const QString& file,
                 const QString& parameters, const QString& directory, int showCmd)
{
    const TShellRequest request{owner, operation, file, parameters, directory, showCmd};
    return CurrentShell() ? CurrentShell()(request) : DesktopShell(request);
}

TScopedShell::TScopedShell(TShell shell) : TScopedOverride(CurrentShell(), std::move(shell)) {}
