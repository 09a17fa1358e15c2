#pragma once

#include <QString>
#include <QWidget>

// The descendant of `parent` with this object name; ends the test run at
// once when there is none, since every later step would use it.
template <typename T>
T* namedChild(QWidget& parent, const char* name)
{
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}
