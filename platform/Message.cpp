#include "Message.h"

#include "platform/Application.h"

#include <QApplication>
#include <QMessageBox>

namespace {

TMessageShower& Shower()
{
    static TMessageShower shower;
    return shower;
}

} // namespace

void ShowMessage(const QString& text)
{
    if (Shower()) {
        Shower()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    ExecModal(box);
}

TScopedMessageShower::TScopedMessageShower(TMessageShower shower)
    : TScopedOverride(Shower(), std::move(shower))
{
}
