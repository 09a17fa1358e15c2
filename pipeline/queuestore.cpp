#include "pipeline/queuestore.h"

#include "settings/scanpath.h"

#include "audio/preprocessing.h"
#include "pipeline/queuemanager.h"
#include "settings/naming.h"
#include "settings/xmlfields.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>

namespace queuestore {

namespace {

const QString kRoot = QStringLiteral("Queue");
const QString kFile = QStringLiteral("File");
const QString kOptions = QStringLiteral("options");
constexpr int kFormatVersion = 1;

bool isKept(const QueueFile& file)
{
    const QueueFileState state = file.getState();
    if (state == QueueFileState::Done)
        return file.pendingMp3s->load() > 0;
    return state != QueueFileState::Canceled;
}

StoredFile storedFrom(const QueueFile& file, int jobId, const QByteArray& jobCreated)
{
    StoredFile stored;
    stored.state = file.getState();
    // A finished file whose MP3s are still being made is kept as a finished
    // post-processing: a restart takes it up as Done, which makes them again.
    if (stored.state == QueueFileState::Done)
        stored.state = QueueFileState::PostProcessing;
    // A file taken up after a restart keeps what it resumes from until a
    // session or the queue driver has taken it, so that a second restart
    // in between resumes it the same way.
    stored.jobId = jobId > 0 ? jobId : file.resumeJobId.load();
    stored.jobCreated = jobId > 0 ? jobCreated : file.resumeJobCreated();
    stored.srcFile = file.lockedSrcFile();
    const QByteArray result = file.resultPath();
    stored.destFile = result.isEmpty() ? file.lockedDestFile() : result;
    stored.originalSourceFile = file.originalSourceFile;
    stored.presetName = file.presetName;
    stored.priority = file.priority;
    stored.options = file.options;
    stored.watchFolder = file.watchFolder;
    stored.outputFiles = file.outputFiles;
    stored.errorMessage = file.errorMessage();
    stored.retryable = file.retryable();
    stored.convertedToStereo = file.convertedToStereo;
    stored.preProcessingStatus = file.preProcessingStatus;
    stored.deleteAfterSubmission = file.deleteAfterSubmission;
    stored.preProcessingOperations = file.preProcessingOperations;
    stored.preProcessed =
        (stored.state == QueueFileState::PreProcessing && file.preProcessingDone()) || file.resumePreProcessed;
    stored.postProcessed = stored.state == QueueFileState::PostProcessing
        && (file.postProcessingDone() || file.getState() == QueueFileState::Done);
    if (stored.state == QueueFileState::PreProcessing && file.preProcessor)
        stored.workFile = file.preProcessor->outputFile().toUtf8();
    return stored;
}

// Fields that hold their default are left out; reading starts from the
// defaults, so the file stays small and quick to write.
void boolIf(QXmlStreamWriter& w, const char* name, bool value, bool byDefault)
{
    if (value != byDefault)
        xmlfields::writeBool(w, QLatin1String(name), value);
}

template <typename Text>
void textIf(QXmlStreamWriter& w, const char* name, const Text& value, const Text& byDefault)
{
    if (value != byDefault)
        xmlfields::writeText(w, QLatin1String(name), value);
}

void numberIf(QXmlStreamWriter& w, const char* name, int value, int byDefault)
{
    if (value != byDefault)
        xmlfields::writeText(w, QLatin1String(name), QString::number(value));
}

void writeOptions(QXmlStreamWriter& w, const ProcessingOptions& o)
{
    static const ProcessingOptions d;
    w.writeStartElement(kOptions);
    boolIf(w, "fromWatchFolder", o.fromWatchFolder, d.fromWatchFolder);
    textIf(w, "watchFolderPath", o.watchFolderPath, d.watchFolderPath);
    boolIf(w, "showDialog", o.showDialog, d.showDialog);
    textIf(w, "preset", o.preset, d.preset);
    textIf(w, "outputPath", o.outputPath, d.outputPath);
    textIf(w, "outputSuffix", o.outputSuffix, d.outputSuffix);
    boolIf(w, "enabled", o.enabled, d.enabled);
    boolIf(w, "encodeToMP3", o.encodeToMP3, d.encodeToMP3);
    boolIf(w, "deleteWAVafterMP3Encoding", o.deleteWAVafterMP3Encoding, d.deleteWAVafterMP3Encoding);
    boolIf(w, "cleanUpIntermediate", o.cleanUpIntermediate, d.cleanUpIntermediate);
    textIf(w, "encodeToMP3_bitRate", o.encodeToMP3_bitRate, d.encodeToMP3_bitRate);
    textIf(w, "encodeToMP3_suffix", o.encodeToMP3_suffix, d.encodeToMP3_suffix);
    textIf(w, "postProcessing_Arguments", o.postProcessing_Arguments, d.postProcessing_Arguments);
    textIf(w, "preProcessing_Arguments", o.preProcessing_Arguments, d.preProcessing_Arguments);
    boolIf(w, "monoProcessing_ConvertToDualStereo", o.monoProcessing_ConvertToDualStereo,
           d.monoProcessing_ConvertToDualStereo);
    boolIf(w, "monoProcessing_KeepConverted", o.monoProcessing_KeepConverted, d.monoProcessing_KeepConverted);
    numberIf(w, "preProcessing_Result", o.preProcessing_Result, d.preProcessing_Result);
    if (!std::isnan(o.truePeakCeiling))
        xmlfields::writeText(w, QLatin1String("truePeakCeiling"), QString::number(o.truePeakCeiling, 'f', 1));
    w.writeEndElement();
}

void writeFile(QXmlStreamWriter& w, const StoredFile& f)
{
    static const StoredFile d;
    w.writeStartElement(kFile);
    w.writeAttribute(QStringLiteral("state"), QString::number(int(f.state)));
    w.writeAttribute(QStringLiteral("jobId"), QString::number(f.jobId));
    if (!f.jobCreated.isEmpty())
        w.writeAttribute(QStringLiteral("jobCreated"), QString::fromUtf8(f.jobCreated));
    xmlfields::writeText(w, QStringLiteral("originalSourceFile"), f.originalSourceFile);
    // The source and the destination are written even when empty.
    xmlfields::writeText(w, QStringLiteral("srcFile"), f.srcFile);
    xmlfields::writeText(w, QStringLiteral("destFile"), f.destFile);
    textIf(w, "presetName", f.presetName, d.presetName);
    numberIf(w, "priority", f.priority, d.priority);
    textIf(w, "watchFolder", f.watchFolder, d.watchFolder);
    for (const QByteArray& output : f.outputFiles)
        xmlfields::writeText(w, QStringLiteral("outputFile"), output);
    textIf(w, "errorMessage", f.errorMessage, d.errorMessage);
    boolIf(w, "retryable", f.retryable, d.retryable);
    boolIf(w, "convertedToStereo", f.convertedToStereo, d.convertedToStereo);
    numberIf(w, "preProcessingStatus", int(f.preProcessingStatus), int(d.preProcessingStatus));
    boolIf(w, "deleteAfterSubmission", f.deleteAfterSubmission, d.deleteAfterSubmission);
    numberIf(w, "preProcessingOperations", f.preProcessingOperations, d.preProcessingOperations);
    boolIf(w, "preProcessed", f.preProcessed, d.preProcessed);
    boolIf(w, "postProcessed", f.postProcessed, d.postProcessed);
    textIf(w, "workFile", f.workFile, d.workFile);
    writeOptions(w, f.options);
    w.writeEndElement();
}

int readInt(QXmlStreamReader& r)
{
    return xmlfields::readText(r).toInt();
}

void readOptions(QXmlStreamReader& r, ProcessingOptions& o)
{
    using namespace xmlfields;
    while (r.readNextStartElement()) {
        const QStringView n = r.name();
        if (n == u"fromWatchFolder") o.fromWatchFolder = readBool(r);
        else if (n == u"watchFolderPath") o.watchFolderPath = readText(r);
        else if (n == u"showDialog") o.showDialog = readBool(r);
        else if (n == u"preset") o.preset = readText(r);
        else if (n == u"outputPath") o.outputPath = readText(r);
        else if (n == u"outputSuffix") o.outputSuffix = readText(r);
        else if (n == u"enabled") o.enabled = readBool(r);
        else if (n == u"encodeToMP3") o.encodeToMP3 = readBool(r);
        else if (n == u"deleteWAVafterMP3Encoding") o.deleteWAVafterMP3Encoding = readBool(r);
        else if (n == u"cleanUpIntermediate") o.cleanUpIntermediate = readBool(r);
        else if (n == u"encodeToMP3_bitRate") o.encodeToMP3_bitRate = readText(r);
        else if (n == u"encodeToMP3_suffix") o.encodeToMP3_suffix = readText(r);
        else if (n == u"postProcessing_Arguments") o.postProcessing_Arguments = readText(r);
        else if (n == u"preProcessing_Arguments") o.preProcessing_Arguments = readText(r);
        else if (n == u"monoProcessing_ConvertToDualStereo") o.monoProcessing_ConvertToDualStereo = readBool(r);
        else if (n == u"monoProcessing_KeepConverted") o.monoProcessing_KeepConverted = readBool(r);
        else if (n == u"preProcessing_Result") o.preProcessing_Result = readInt(r);
        else if (n == u"truePeakCeiling") o.truePeakCeiling = ScanPath::readCeiling(readText(r));
        else r.skipCurrentElement();
    }
}

bool readFile(QXmlStreamReader& r, StoredFile& f)
{
    using namespace xmlfields;
    const int state = r.attributes().value(QLatin1String("state")).toInt();
    if (state < int(QueueFileState::Waiting) || state > int(QueueFileState::Canceled)) {
        r.raiseError(QStringLiteral("unknown file state %1").arg(state));
        return false;
    }
    f.state = QueueFileState(state);
    f.jobId = r.attributes().value(QLatin1String("jobId")).toInt();
    f.jobCreated = r.attributes().value(QLatin1String("jobCreated")).toUtf8();
    while (r.readNextStartElement()) {
        const QStringView n = r.name();
        if (n == u"srcFile") f.srcFile = readText(r).toUtf8();
        else if (n == u"destFile") f.destFile = readText(r).toUtf8();
        else if (n == u"originalSourceFile") f.originalSourceFile = readText(r).toUtf8();
        else if (n == u"presetName") f.presetName = readText(r).toUtf8();
        else if (n == u"priority") f.priority = readInt(r);
        else if (n == u"watchFolder") f.watchFolder = readText(r).toUtf8();
        else if (n == u"outputFile") f.outputFiles.append(readText(r).toUtf8());
        else if (n == u"errorMessage") f.errorMessage = readText(r).toUtf8();
        else if (n == u"retryable") f.retryable = readBool(r);
        else if (n == u"convertedToStereo") f.convertedToStereo = readBool(r);
        else if (n == u"preProcessingStatus") f.preProcessingStatus = PreProcessingStatus(readInt(r));
        else if (n == u"deleteAfterSubmission") f.deleteAfterSubmission = readBool(r);
        else if (n == u"preProcessingOperations") f.preProcessingOperations = readInt(r);
        else if (n == u"preProcessed") f.preProcessed = readBool(r);
        else if (n == u"postProcessed") f.postProcessed = readBool(r);
        else if (n == u"workFile") f.workFile = readText(r).toUtf8();
        else if (n == kOptions) readOptions(r, f.options);
        else r.skipCurrentElement();
    }
    if (f.originalSourceFile.isEmpty() && !r.hasError())
        r.raiseError(QStringLiteral("a file without its source"));
    return !r.hasError();
}

void writeRecord(QXmlStreamWriter& w, const StoredRecord& record)
{
    w.writeStartElement(record.element);
    for (const auto& [name, value] : record.fields)
        xmlfields::writeText(w, name, value);
    w.writeEndElement();
}

StoredRecord readRecord(QXmlStreamReader& r)
{
    StoredRecord record;
    record.element = r.name().toString();
    while (r.readNextStartElement())
        record.fields.append({r.name().toString(), xmlfields::readText(r)});
    return record;
}

} // namespace

QString defaultPath()
{
    return naming::appConfigFolder() + QStringLiteral("/queue.xml");
}

QList<StoredFile> take(const QueueManager& manager)
{
    QHash<int, int> jobOfFile;
    QHash<int, QByteArray> createdOfFile;
    for (int slot = 0; slot < QueueManager::kMaxSessions; ++slot) {
        const SessionManager* session = manager.session(slot);
        if (!session)
            continue;
        const int fileId = session->currentFileId();
        const int jobId = session->submittedJobId();
        const QByteArray created = session->jobCreated();
        // A session that changed files between the reads is read again at
        // the next save, within a second.
        if (fileId != 0 && jobId > 0 && session->currentFileId() == fileId) {
            jobOfFile.insert(fileId, jobId);
            createdOfFile.insert(fileId, created);
        }
    }
    QList<StoredFile> stored;
    for (const QueueFile* file : manager.snapshot()) {
        if (isKept(*file))
            stored.append(storedFrom(*file, jobOfFile.value(file->fileId), createdOfFile.value(file->fileId)));
    }
    return stored;
}

QByteArray serialise(const QList<StoredFile>& files, const QList<StoredRecord>& records)
{
    QByteArray text;
    QXmlStreamWriter w(&text);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement(kRoot);
    w.writeAttribute(QStringLiteral("version"), QString::number(kFormatVersion));
    for (const StoredFile& file : files)
        writeFile(w, file);
    for (const StoredRecord& record : records)
        writeRecord(w, record);
    w.writeEndElement();
    w.writeEndDocument();
    return text;
}

bool parse(const QByteArray& text, QList<StoredFile>& files, QString& error, QList<StoredRecord>* records)
{
    files.clear();
    if (records)
        records->clear();
    QXmlStreamReader r(text);
    if (!r.readNextStartElement() || r.name() != kRoot) {
        error = r.hasError() ? r.errorString() : QStringLiteral("no Queue element");
        return false;
    }
    while (r.readNextStartElement()) {
        if (r.name() != kFile) {
            if (records)
                records->append(readRecord(r));
            else
                r.skipCurrentElement();
            continue;
        }
        StoredFile file;
        if (!readFile(r, file))
            break;
        files.append(file);
    }
    // Anything after the root element (a torn or doubled file) is an error too.
    while (!r.atEnd() && !r.hasError())
        r.readNext();
    if (r.hasError()) {
        error = QStringLiteral("line %1: %2").arg(r.lineNumber()).arg(r.errorString());
        files.clear();
        if (records)
            records->clear();
        return false;
    }
    return true;
}

bool write(const QString& path, const QByteArray& text)
{
    // On a first start the configuration folder may not exist yet.
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        qWarning().noquote() << "Error writing" << path << ":" << file.errorString();
        return false;
    }
    return true;
}

QList<StoredFile> load(const QString& path, QList<StoredRecord>* records)
{
    QList<StoredFile> files;
    QFile file(path);
    if (!file.exists())
        return files;
    QString error;
    if (file.open(QIODevice::ReadOnly) && parse(file.readAll(), files, error, records))
        return files;
    if (error.isEmpty())
        error = file.errorString();
    file.close();
    const QString bad = path + QStringLiteral(".bad");
    QFile::remove(bad);
    const bool renamed = QFile::rename(path, bad);
    qWarning().noquote() << "The saved queue" << path << "cannot be read (" + error + ");"
                         << (renamed ? "renamed to " + bad + "; starting with an empty queue"
                                     : QStringLiteral("it could not be renamed; starting with an empty queue"));
    return {};
}

} // namespace queuestore
