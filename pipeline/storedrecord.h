#pragma once

#include <QList>
#include <QString>

#include <utility>

// A record that another part of the client keeps in queue.xml beside the
// queued files (the video jobs): an element name and its fields in order,
// each written as a child element holding text.
struct StoredRecord {
    QString element;
    QList<std::pair<QString, QString>> fields;

    // The first field of that name; empty when there is none.
    QString value(const QString& name) const
    {
        for (const auto& [field, text] : fields) {
            if (field == name)
                return text;
        }
        return {};
    }
    bool operator==(const StoredRecord& other) const { return element == other.element && fields == other.fields; }
    bool operator!=(const StoredRecord& other) const { return !(*this == other); }
};
