#pragma once
// The host's box for a plain message: the text, the program's name as its title, an OK button.
// It is modal: ShowMessage returns when the user has closed it.
//
// Tests put a shower in place that records the messages instead.

#include "core/ScopedOverride.h"

#include <QString>

#include <functional>

void ShowMessage(const QString& text);

using TMessageShower = std::function<void(const QString& text)>;

// While it lives, ShowMessage hands every message to `shower` (an empty shower: the host's box);
// the shower before it comes back when it ends.
class TScopedMessageShower : public TScopedOverride<TMessageShower>
{
public:
    explicit TScopedMessageShower(TMessageShower shower);
};
