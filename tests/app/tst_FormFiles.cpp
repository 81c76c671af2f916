// Saving and loading schedules from the main window, through the file dialogs.

#include "core/ScheduleFile.h"
#include "tests/app/FormFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

namespace {

// Answers every file dialog with `answer` (nothing: the user cancels) and remembers the dialog.
struct DialogAnswer
{
    std::optional<QString> answer;
    int shown = 0;
    TFileDialogKind kind = TFileDialogKind::Open;
    TScopedFileDialogRunner runner{[this](const TFileDialog& d, QWidget*) {
        ++shown;
        kind = d.Kind;
        return answer;
    }};
};

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

TEST(FormFiles, DialogsAreSetUpAsTheWindowDescribesThem)
{
    auto form = MakeForm(12, 0);
    EXPECT_EQ(form->OpenDialog1.FileName, "*.TEM");
    EXPECT_EQ(
        form->OpenDialog1.NameFilters(),
        QStringList({"*.TEM (Archivos temporización)) (*.tem)", "*.* (Todos los archivos) (*.*)"}));
    EXPECT_EQ(form->OpenDialog1.DefaultSuffix(), "tem");
    EXPECT_TRUE(form->OpenDialog1.HideReadOnly);
    EXPECT_EQ(form->SaveDialog1.FileName, "*.TEM");
    EXPECT_EQ(form->SaveDialog1.NameFilters(),
              QStringList(
                  {"*.tem (archivos de temporización) (*.tem)", "*.* (Todos los archivos) (*.*)"}));
    EXPECT_EQ(form->SaveDialog1.DefaultSuffix(), "tem");
    EXPECT_TRUE(form->SaveDialog1.OverwritePrompt);
}

TEST(FormFiles, SaveWritesTheScheduleAsMarked)
{
    QTemporaryDir dir;
    auto form = MakeForm(12, 0);
    // Mark D1 at 8 h 10 min on its page.
    form->PageControl1->setCurrentIndex(1);
    QApplication::processEvents();
    QTest::mouseClick(form->BSSGrid2, Qt::LeftButton, Qt::NoModifier,
                      CellMid(form->BSSGrid2, 3, 9));
    DialogAnswer dialog;
    dialog.answer = dir.filePath("a.tem");
    form->SaveGrid->click();
    EXPECT_EQ(dialog.shown, 1);
    EXPECT_EQ(dialog.kind, TFileDialogKind::Save);
    const QByteArray bytes = ReadFile(dir.filePath("a.tem"));
    ASSERT_EQ(bytes.size(), 5184);
    for (int line = 0; line < 1728; ++line)
        ASSERT_EQ(bytes[qsizetype(line) * 3], line == 344 ? '1' : '0') << line;
}

TEST(FormFiles, LoadSetsTheFlagsAndRepaintsTheGrids)
{
    QTemporaryDir dir;
    auto form = MakeForm(12, 0);
    form->Schedule.Set(4, 6, 6, true); // cleared by the load
    form->PageControl1->setCurrentIndex(0);
    QApplication::processEvents();
    WriteFile(dir.filePath("ten.tem"), QByteArray("1\r\n").repeated(10));
    DialogAnswer dialog;
    dialog.answer = dir.filePath("ten.tem");
    const QString before = form->Label4->text();
    form->LoadGrid->click();
    EXPECT_EQ(dialog.kind, TFileDialogKind::Open);
    for (int h = 0; h < 24; ++h)
        EXPECT_EQ(form->Schedule.Flag(0, 0, h), h < 10 ? 1 : 0) << h;
    EXPECT_EQ(form->Schedule.Flag(4, 6, 6), 0);
    EXPECT_EQ(CellColour(form->BSSGrid1, 1, 10), clRed);
    EXPECT_NE(CellColour(form->BSSGrid1, 1, 11), clRed);
    // The load itself computes no output.
    EXPECT_EQ(form->Label4->text(), before);
    EXPECT_TRUE(form->Written.empty());
}

TEST(FormFiles, CancelChangesNothingAndWritesNothing)
{
    QTemporaryDir dir;
    auto form = MakeForm(12, 0);
    form->Schedule.Set(2, 3, 4, true);
    const TSchedule before = form->Schedule;
    DialogAnswer dialog; // no answer: cancelled
    form->LoadGrid->click();
    form->SaveGrid->click();
    EXPECT_EQ(dialog.shown, 2);
    EXPECT_EQ(form->Schedule, before);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST(FormFiles, FailedLoadIsReportedAndChangesNothing)
{
    QTemporaryDir dir;
    auto form = MakeForm(12, 0);
    form->Schedule.Set(1, 1, 1, true);
    const TSchedule before = form->Schedule;
    ErrorRecorder errors;
    DialogAnswer dialog;
    const std::pair<QString, const char*> cases[] = {
        {dir.filePath("missing.tem"), "File not found"},
        {dir.path(), "File access denied"},
    };
    for (const auto& [path, message] : cases) {
        dialog.answer = path;
        form->LoadGrid->click();
        ASSERT_FALSE(errors.Messages.isEmpty());
        EXPECT_EQ(errors.Messages.last(), message);
    }
    EXPECT_EQ(errors.Messages.size(), 2);
    EXPECT_EQ(form->Schedule, before);
}

TEST(FormFiles, SaveThenLoadRestoresARandomSchedule)
{
    QTemporaryDir dir;
    auto form = MakeForm(12, 0);
    std::srand(11);
    for (int i = 0; i < 400; ++i)
        form->Schedule.Toggle(std::rand() % 6, std::rand() % 12, std::rand() % 24);
    const TSchedule saved = form->Schedule;
    DialogAnswer dialog;
    dialog.answer = dir.filePath("round.tem");
    form->SaveGrid->click();
    form->Schedule.Clear();
    form->LoadGrid->click();
    EXPECT_EQ(form->Schedule, saved);
}
