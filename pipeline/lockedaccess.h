#pragma once

#include <QMutex>
#include <QMutexLocker>

// The getters and setters of members that a mutex guards: each takes the
// mutex only for the copy or the assignment.
namespace lockedaccess {

template <typename T>
T copy(QMutex& mutex, const T& member)
{
    QMutexLocker lock(&mutex);
    return member;
}

template <typename T>
void assign(QMutex& mutex, T& member, const T& value)
{
    QMutexLocker lock(&mutex);
    member = value;
}

} // namespace lockedaccess
