// File dialogs: their settings reach the host dialog, and the answer reaches the caller.

#include "platform/FileDialogs.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

TFileDialog SaveDialog()
{
    TFileDialog d(TFileDialogKind::Save);
    d.FileName = QStringLiteral("*.TEM");
    d.DefaultExt = QStringLiteral("*.tem");
    d.Filters = {{QStringLiteral("*.tem (archivos de temporización)"), QStringLiteral("*.tem")},
                 {QStringLiteral("*.* (Todos los archivos)"), QStringLiteral("*.*")}};
    d.OverwritePrompt = true;
    return d;
}

// Runs `inspect` on the host dialog once it is up; it must close the dialog.
void WhenDialogShows(const std::function<void(QFileDialog*)>& inspect)
{
    QTimer::singleShot(0, [inspect] {
        QFileDialog* dialog = nullptr;
        WaitFor([&] {
            dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            return dialog != nullptr;
        });
        if (dialog)
            inspect(dialog);
    });
}

} // namespace

TEST(FileDialog, FiltersAndSuffixInTheHostsForm)
{
    const TFileDialog d = SaveDialog();
    EXPECT_EQ(d.NameFilters(), QStringList({"*.tem (archivos de temporización) (*.tem)",
                                            "*.* (Todos los archivos) (*.*)"}));
    EXPECT_EQ(d.DefaultSuffix(), "tem");
    TFileDialog open(TFileDialogKind::Open);
    open.DefaultExt = QStringLiteral("*.TEM");
    EXPECT_EQ(open.DefaultSuffix(), "tem");
}

TEST(FileDialog, RunnerAnswersInsteadOfTheDialog)
{
    TFileDialog d = SaveDialog();
    const TScopedFileDialogRunner chooses([](const TFileDialog&, QWidget*) {
        return std::optional<QString>(QStringLiteral("/tmp/x.tem"));
    });
    EXPECT_TRUE(d.Execute(nullptr));
    EXPECT_EQ(d.FileName, "/tmp/x.tem");
    const TScopedFileDialogRunner cancels(
        [](const TFileDialog&, QWidget*) { return std::optional<QString>(); });
    EXPECT_FALSE(d.Execute(nullptr));
    EXPECT_EQ(d.FileName, "/tmp/x.tem") << "a cancelled dialog keeps the name";
}

TEST(FileDialog, HostSaveDialogIsSetUpAndItsChoiceReturned)
{
    QTemporaryDir dir;
    TFileDialog d = SaveDialog();
    bool inspected = false;
    WhenDialogShows([&](QFileDialog* dialog) {
        inspected = true;
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog->nameFilters(), d.NameFilters());
        EXPECT_EQ(dialog->defaultSuffix(), "tem");
        EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        dialog->setDirectory(dir.path());
        dialog->selectFile(dir.filePath("plan.tem"));
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_TRUE(d.Execute(nullptr));
    EXPECT_TRUE(inspected);
    EXPECT_EQ(d.FileName, dir.filePath("plan.tem"));
}

// The open dialog starts in the folder remembered from the last load, shows the initial name
// with its wildcard, and leaves the process's current folder alone.
TEST(FileDialog, HostOpenDialogShowsTheNameInTheRememberedFolder)
{
    QTemporaryDir dir;
    const QString current = QDir::currentPath();
    TFileDialog::RememberFolderOf(dir.filePath("loaded.tem"));
    TFileDialog d(TFileDialogKind::Open);
    d.FileName = QStringLiteral("*.TEM");
    d.DefaultExt = QStringLiteral("*.TEM");
    bool inspected = false;
    WhenDialogShows([&](QFileDialog* dialog) {
        inspected = true;
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog->fileMode(), QFileDialog::AnyFile);
        EXPECT_EQ(dialog->defaultSuffix(), "") << "the open dialog adds no extension itself";
        EXPECT_EQ(dialog->directory().absolutePath(), QDir(dir.path()).absolutePath());
        const auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->text(), "*.TEM");
        dialog->reject();
    });
    EXPECT_FALSE(d.Execute(nullptr));
    TFileDialog::RememberFolderOf({});
    EXPECT_TRUE(inspected);
    EXPECT_EQ(d.FileName, "*.TEM");
    EXPECT_EQ(QDir::currentPath(), current);
}

// A name with wildcards accepted as it is lists the matching files in its folder.
TEST(FileDialog, WildcardAcceptedBecomesTheFilter)
{
    QTemporaryDir dir;
    TFileDialog d = SaveDialog();
    std::vector<TFileDialog> shown;
    const TScopedFileDialogRunner runner([&](const TFileDialog& asked, QWidget*) {
        shown.push_back(asked);
        return std::optional<QString>(dir.filePath(shown.size() == 1 ? "*.TEM" : "plan.tem"));
    });
    EXPECT_TRUE(d.Execute(nullptr));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].ShownName(), "*.TEM");
    EXPECT_EQ(shown[1].StartFolder(), dir.path());
    EXPECT_EQ(shown[1].ShownName(), "*.TEM");
    EXPECT_EQ(shown[1].NameFilters().constFirst(), "*.TEM (*.TEM)");
    EXPECT_EQ(d.FileName, dir.filePath("plan.tem"));
    EXPECT_EQ(d.Filters.size(), 2u) << "the dialog's own filters stay as they were";
}

TEST(FileDialog, OpenAddsTheExtensionOnlyToAMissingName)
{
    QTemporaryDir dir;
    QFile(dir.filePath("plan")).open(QIODevice::WriteOnly);
    const std::pair<const char*, const char*> cases[] = {
        {"plan", "plan"},
        {"other", "other.tem"},
        {"notes.txt", "notes.txt"},
    };
    TFileDialog d(TFileDialogKind::Open);
    d.DefaultExt = QStringLiteral("*.TEM");
    for (const auto& c : cases) {
        const TScopedFileDialogRunner runner([&](const TFileDialog&, QWidget*) {
            return std::optional<QString>(dir.filePath(c.first));
        });
        EXPECT_TRUE(d.Execute(nullptr));
        EXPECT_EQ(d.FileName, dir.filePath(c.second)) << c.first;
    }
}
