#pragma once
// TAboutBox: the product dialog. The product's name and version, pictures of the power strip, of
// its connector and of the circuit of one output, a text on how the six outputs hang on the
// printer port, and the maker's web address as a hover label that opens it in a browser.

#include "dialogs/DialogForm.h"

class QPlainTextEdit;
class QPushButton;
class TJLabel;
class TLabel;
class TPanel;

// The maker's web page: the address the hover label opens, and the label's text. A reserved
// example domain stands in until the maker has a page of its own; the main window shows the same.
inline constexpr char MakerWebAddress[] = "http://WWW.EXAMPLE.COM";
inline constexpr char MakerWebCaption[] = "www.example.com";

class TAboutBox : public TDialogForm
{
    Q_OBJECT
public:
    // Hidden until shown; transient for `mainWindow`. The focus starts in Memo1.
    explicit TAboutBox(QWidget* mainWindow);
    Q_DISABLE_COPY_MOVE(TAboutBox)

    // Opens the maker's web page: the desktop's handler for web addresses, else the programs
    // "netscape.exe" and then "iexplore.exe" with the address; when none starts, says so.
    void JLabel1Click(QObject* Sender);

    TPanel* Panel1 = nullptr;
    TImage* ProgramIcon = nullptr;
    TLabel* ProductName = nullptr;
    TLabel* Version = nullptr;
    TLabel* Notice = nullptr;
    TImage* Image2 = nullptr;
    TImage* Image1 = nullptr;
    TImage* Image3 = nullptr;
    TImage* Image4 = nullptr;
    TLabel* Label1 = nullptr;
    TJLabel* JLabel1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* OKButton = nullptr;
};
