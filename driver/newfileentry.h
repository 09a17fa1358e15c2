#pragma once

#include <QString>

// One file chosen in the new-files dialog, ready to be queued.
struct NewFileEntry {
    QString source;      // full path, native separators
    QString destination; // full output path, native separators, template expanded
    QString preset;
    int priority = 100;
    bool selected = true;
};
