#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMap>

// One job object of the service's REST interface. Numbers are taken only
// when the JSON value is a number and texts only when it is a string; any
// other value leaves the member at its default.
struct JobInfo {
    int id = 0;
    QByteArray name;
    int status = 0;
    double percentComplete = 0;
    QByteArray created;
    QByteArray modified;
    double duration = 0;
    int cost = 0;
    QByteArray audioPresetName;
    int ownerId = 0;
    QByteArray ownerName;
    QByteArray ownerEmail;
    int ownerCredit = 0;

    // Job status codes and their names; there is no code 1.
    static const QMap<int, QByteArray>& statusNames();

    static JobInfo fromJson(const QJsonObject& object);

    // The name of the status code (empty for an unknown code), followed for
    // Processing (6) and Uploading (7) by a blank, the rounded percentage
    // and "%".
    QByteArray statusText() const;
};
