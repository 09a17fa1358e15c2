#pragma once

#include <QByteArray>

// What the session's Secret Service holds for an account of the client's
// service "Sonvira desktop", read with the desktop's own secret-tool rather
// than with the client's code; empty when it holds nothing.
QByteArray keychainSecretOf(const QByteArray& account);
