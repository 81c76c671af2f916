#include "FileDialogs.h"

#include "platform/Application.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {

QString& Remembered()
{
    static QString folder;
    return folder;
}

bool HasWildcards(const QString& name)
{
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
}

TFileDialogRunner& Runner()
{
    static TFileDialogRunner runner;
    return runner;
}

std::optional<QString> RunHostDialog(const TFileDialog& d, QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(d.Kind == TFileDialogKind::Save ? QFileDialog::AcceptSave
                                                         : QFileDialog::AcceptOpen);
    // Any name is taken, so that a wildcard and a name without its extension reach Execute();
    // a missing file is reported by whoever opens it.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(d.NameFilters());
    // An open dialog adds no extension itself: a name that exists as typed is opened as typed.
    if (d.Kind == TFileDialogKind::Save)
        dialog.setDefaultSuffix(d.DefaultSuffix());
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !d.OverwritePrompt);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setWindowTitle(d.Kind == TFileDialogKind::Save ? QStringLiteral("Guardar como")
                                                          : QStringLiteral("Abrir"));
    dialog.setDirectory(d.StartFolder());
    if (!d.ShownName().isEmpty())
        dialog.selectFile(d.ShownName());
    if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace

QStringList TFileDialog::NameFilters() const
{
    QStringList list;
    for (const TFileFilter& f : Filters)
        list << QStringLiteral("%1 (%2)").arg(f.Text, f.Pattern);
    return list;
}

QString TFileDialog::DefaultSuffix() const
{
    QString ext = DefaultExt;
    while (ext.startsWith(QLatin1Char('*')) || ext.startsWith(QLatin1Char('.')))
        ext.remove(0, 1);
    return ext.toLower();
}

QString TFileDialog::StartFolder() const
{
    if (!InitialDir.isEmpty())
        return InitialDir;
    return Remembered().isEmpty() ? QDir::currentPath() : Remembered();
}

QString TFileDialog::ShownName() const
{
    return QFileInfo(FileName).fileName();
}

void TFileDialog::RememberFolderOf(const QString& fileName)
{
    Remembered() = fileName.isEmpty() ? QString() : QFileInfo(fileName).absolutePath();
}

QString TFileDialog::RememberedFolder()
{
    return Remembered();
}

bool TFileDialog::Execute(QWidget* parent)
{
    // A name with wildcards accepted as it is becomes the first filter, and the dialog shows
    // again in its folder with only the matching files.
    TFileDialog shown = *this;
    for (;;) {
        const std::optional<QString> chosen =
            Runner() ? Runner()(shown, parent) : RunHostDialog(shown, parent);
        if (!chosen || chosen->isEmpty())
            return false;
        const QFileInfo file(*chosen);
        if (HasWildcards(file.fileName()) && !file.exists()) {
            shown.InitialDir = file.absolutePath();
            shown.FileName = file.fileName();
            shown.Filters.insert(shown.Filters.begin(), {file.fileName(), file.fileName()});
            continue;
        }
        FileName = *chosen;
        if (Kind == TFileDialogKind::Open && !file.exists() && file.suffix().isEmpty() &&
            !DefaultSuffix().isEmpty())
            FileName += QLatin1Char('.') + DefaultSuffix();
        return true;
    }
}

TScopedFileDialogRunner::TScopedFileDialogRunner(TFileDialogRunner runner)
    : TScopedOverride(Runner(), std::move(runner))
{
}
