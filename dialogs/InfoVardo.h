#pragma once
// TAboutBox1: the course information dialog the program opens once at start: the title, the
// version, the subject and the school year.

#include "dialogs/DialogForm.h"

class QPushButton;
class TLabel;
class TPanel;

class TAboutBox1 : public TDialogForm
{
    Q_OBJECT
public:
    // Hidden until shown; transient for `mainWindow`.
    explicit TAboutBox1(QWidget* mainWindow);
    Q_DISABLE_COPY_MOVE(TAboutBox1)

    TPanel* Panel1 = nullptr;
    TImage* ProgramIcon = nullptr;
    TLabel* ProductName = nullptr;
    TLabel* Version = nullptr;
    TLabel* Subject = nullptr;
    TLabel* Comments = nullptr;
    TLabel* Label1 = nullptr;
    QPushButton* OKButton = nullptr;
};
