// File dialogs: their settings reach the host dialog, and the answer reaches the caller.

#include "platform/FileDialogs.h"
#include "tests/support/TestSupport.h"

#include <QFileDialog>
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

TEST(FileDialog, HostOpenDialogCancelled)
{
    TFileDialog d(TFileDialogKind::Open);
    d.FileName = QStringLiteral("*.TEM");
    bool inspected = false;
    WhenDialogShows([&](QFileDialog* dialog) {
        inspected = true;
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        dialog->reject();
    });
    EXPECT_FALSE(d.Execute(nullptr));
    EXPECT_TRUE(inspected);
    EXPECT_EQ(d.FileName, "*.TEM");
}
