#pragma once
// The shell's "open": a web address or a document with the desktop's handler for it, or a
// program by name with its parameters, the way ShellExecute does it on Windows.
//
// The result follows the shell's rule: above 32 the open started, 32 and below a failure code.
// Nothing here waits for what it started: the handler or the program runs on its own, detached,
// and the window goes on at once.

#include "core/ScopedOverride.h"

#include <QString>
#include <QWidget>

#include <functional>

// Show commands; the desktop decides how a window first shows, so they are passed on and kept.
constexpr int SW_SHOWNORMAL = 1;

// Results. Above 32 is success; the failures are the shell's own codes.
constexpr int ShellOpenStarted = 42;
constexpr int SE_ERR_FNF = 2;          // no such program or file
constexpr int SE_ERR_ACCESSDENIED = 5; // found, but it would not start
constexpr int SE_ERR_NOASSOC = 31;     // nothing on the desktop opens this kind of address
constexpr int ShellOpenLastFailure = 32;

struct TShellRequest
{
    QWidget* Owner = nullptr;
    QString Operation;
    QString File;
    QString Parameters;
    QString Directory;
    int ShowCmd = SW_SHOWNORMAL;

    friend bool operator==(const TShellRequest&, const TShellRequest&) = default;
};

// Asks the current shell to perform `operation` ("open", or empty for the same) on `file`.
//  - A web address ("http://...", "www...") or an existing file that is not a program goes to the
//    desktop's handler for it; `parameters` must then be empty.
//  - Anything else names a program: a path, or a name looked up on PATH as it is written (no
//    extension added or dropped). It is started directly, without a shell, with `parameters`
//    split into arguments as a command line is, in `directory` when one is given.
// Returns a value above 32 when the open started, else a failure code.
int ShellExecute(QWidget* owner, const QString& operation, const QString& file,
                 const QString& parameters, const QString& directory, int showCmd);

using TShell = std::function<int(const TShellRequest&)>;

// The desktop's shell, as ShellExecute uses it when no other shell is in place.
int DesktopShell(const TShellRequest& request);

// While it lives, ShellExecute asks `shell` instead (tests record the attempts and answer them;
// an empty shell: the desktop's); the shell before it comes back when it ends.
class TScopedShell : public TScopedOverride<TShell>
{
public:
    explicit TScopedShell(TShell shell);
};
