#include "FileDialogs.h"

#include <QFileDialog>

namespace {

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
    dialog.setFileMode(d.Kind == TFileDialogKind::Save ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    dialog.setNameFilters(d.NameFilters());
    dialog.setDefaultSuffix(d.DefaultSuffix());
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !d.OverwritePrompt);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setWindowTitle(d.Kind == TFileDialogKind::Save ? QStringLiteral("Guardar como")
                                                          : QStringLiteral("Abrir"));
    // A name with wildcards only filters the list; it is not offered as the file's name.
    if (!d.FileName.isEmpty() && !d.FileName.contains(QLatin1Char('*')))
        dialog.selectFile(d.FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
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

bool TFileDialog::Execute(QWidget* parent)
{
    const std::optional<QString> chosen =
        Runner() ? Runner()(*this, parent) : RunHostDialog(*this, parent);
    if (!chosen || chosen->isEmpty())
        return false;
    FileName = *chosen;
    return true;
}

TScopedFileDialogRunner::TScopedFileDialogRunner(TFileDialogRunner runner)
    : TScopedOverride(Runner(), std::move(runner))
{
}
