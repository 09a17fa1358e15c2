#pragma once

#include "chaos.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

// The parts of an HTTP request the endpoints look at, copied out of the
// server's request object so that a request can be answered later.
struct ApiRequest {
    QByteArray method;
    QString path;      // below /api, for example "/Jobs/3"
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // The fault the chaos mode drew for this request.
    Chaos::Fault fault = Chaos::Fault::None;

    // Header value by case-insensitive name, empty when absent.
    QByteArray header(const QByteArray& name) const
    {
        for (const auto& entry : headers) {
            if (entry.first.compare(name, Qt::CaseInsensitive) == 0)
                return entry.second;
        }
        return {};
    }
};

// What an endpoint answers: a JSON object, a file from disk, or nothing at
// all (the connection is closed without an answer).
struct ApiReply {
    enum class Kind { Json, File, Drop };

    Kind kind = Kind::Json;
    int status = 200;
    QJsonObject json;
    QString filePath;
    QString downloadName;
    // Sent with a JSON answer besides its content type (Retry-After, Location).
    QList<QPair<QByteArray, QByteArray>> headers;
    // A file answer breaks off after this many body bytes; -1: sent whole.
    qint64 cutAfter = -1;

    static ApiReply ok(const QJsonObject& json) { return ApiReply{Kind::Json, 200, json, {}, {}, {}, -1}; }
    static ApiReply error(int status, const QString& message)
    {
        return ApiReply{Kind::Json, status, QJsonObject{{"error", message}}, {}, {}, {}, -1};
    }
    static ApiReply file(const QString& path, const QString& name)
    {
        return ApiReply{Kind::File, 200, {}, path, name, {}, -1};
    }
    static ApiReply drop() { return ApiReply{Kind::Drop, 0, {}, {}, {}, {}, -1}; }
};
