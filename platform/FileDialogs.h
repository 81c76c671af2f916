#pragma once
// Open and save file dialogs set up the way the windows describe them: an initial file name, a
// default extension, filter entries of a text and a pattern, and options. Execute() shows the
// dialog and, when the user chooses a file, stores its name in FileName.
//
// Tests put a runner in place that answers instead of a modal dialog.

#include "core/ScopedOverride.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

struct TFileFilter
{
    QString Text;
    QString Pattern;
};

enum class TFileDialogKind
{
    Open,
    Save
};

class TFileDialog
{
public:
    explicit TFileDialog(TFileDialogKind kind) : Kind(kind) {}

    TFileDialogKind Kind;
    // The name shown in the name field; a name with wildcards ("*.TEM") is shown as it is and,
    // accepted as it is, lists the matching files instead of choosing one. Only the name part
    // of a path is shown: the dialog starts in StartFolder().
    QString FileName;
    // Where the dialog starts; empty: in the remembered folder (RememberFolderOf), else in the
    // current folder. No dialog ever changes the process's current folder.
    QString InitialDir;
    QString DefaultExt;
    std::vector<TFileFilter> Filters;
    bool OverwritePrompt = false;
    bool HideReadOnly = false;
    bool NoChangeDir = false;

    // Shows the dialog; true when the user chose a file, whose name is then in FileName. An
    // open dialog takes a name that exists as typed; the default extension is added only to a
    // name without one that does not exist.
    bool Execute(QWidget* parent);

    // The filter list in the host dialog's form: "text (pattern)" entries.
    QStringList NameFilters() const;
    // The extension the dialog adds to a name typed without one ("tem" for "*.tem").
    QString DefaultSuffix() const;
    // The folder the dialog starts in, and the name it shows there.
    QString StartFolder() const;
    QString ShownName() const;

    // Every dialog without an InitialDir starts in the folder of this file from now on (the
    // window calls it after a successful load); an empty name forgets the folder.
    static void RememberFolderOf(const QString& fileName);
    static QString RememberedFolder();
};

// Answers a dialog: the chosen file name, or nothing when the user cancels.
using TFileDialogRunner = std::function<std::optional<QString>(const TFileDialog&, QWidget*)>;

// While it lives, every file dialog is answered by `runner` (an empty runner: the host's modal
// dialog); the runner before it comes back when it ends.
class TScopedFileDialogRunner : public TScopedOverride<TFileDialogRunner>
{
public:
    explicit TScopedFileDialogRunner(TFileDialogRunner runner);
};
