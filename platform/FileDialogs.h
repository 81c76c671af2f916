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
    QString FileName;
    QString DefaultExt;
    std::vector<TFileFilter> Filters;
    bool OverwritePrompt = false;
    bool HideReadOnly = false;
    bool NoChangeDir = false;

    // Shows the dialog; true when the user chose a file, whose name is then in FileName.
    bool Execute(QWidget* parent);

    // The filter list in the host dialog's form: "text (pattern)" entries.
    QStringList NameFilters() const;
    // The extension the dialog adds to a name typed without one ("tem" for "*.tem").
    QString DefaultSuffix() const;
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
