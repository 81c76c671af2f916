#pragma once
// The event types the controls share. An event is a public member of one of these types; an
// empty one is unassigned, and firing it does nothing. Sender is the component that fires it.

#include <QChar>
#include <QObject>

#include <functional>

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TMouseEvent = std::function<void(QObject* Sender, Qt::MouseButton Button,
                                       Qt::KeyboardModifiers Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(QObject* Sender, Qt::MouseButtons Buttons,
                                           Qt::KeyboardModifiers Shift, int X, int Y)>;
// Key is a Qt key code (Qt::Key_Space is 32); a handler may change it.
using TKeyEvent = std::function<void(QObject* Sender, int& Key, Qt::KeyboardModifiers Shift)>;
using TKeyPressEvent = std::function<void(QObject* Sender, QChar& Key)>;
