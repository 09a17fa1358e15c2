#include "audio/preprocessing.h"

#include "audio/channelconverter.h"
#include "audio/runprocess.h"
#include "settings/naming.h"
#include "settings/platform.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <stdexcept>

namespace {

// The argument of an operation line: everything after its first nine
// characters ("nredOp00:"), trimmed.
QString operationArgument(const QString& line)
{
    return line.mid(9).trimmed();
}

// Removes a noise-reduction output and whatever the tool wrote under names
// that begin with it and a dot (its own temporary files, which stay behind
// when it fails or is killed).
void removeToolOutput(const QString& output)
{
    QFile::remove(output);
    const QFileInfo info(output);
    const QString prefix = info.fileName() + QLatin1Char('.');
    QDir folder = info.dir();
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden)) {
        if (name.startsWith(prefix))
            folder.remove(name);
    }
}

} // namespace

PreProcessing::PreProcessing(QObject* parent)
    : QObject(parent)
    , m_noiseReductionExecutable(QStringLiteral("{ExecutableFolder}/deepfilternet/")
                                 + platform::executableName(QStringLiteral("deepfilternet")))
    , m_noiseReductionModelPath(QStringLiteral("{ExecutableFolder}/deepfilternet/model"))
{
}

PreProcessing::~PreProcessing()
{
    qDebug() << "Destructor called";
    stop();
    if (m_started && m_workerThread && m_workerThread->isRunning()) {
        m_workerThread->quit();
        m_workerThread->wait();
    }
    qDebug() << "Stop finished";
}

void PreProcessing::setKillTimeouts(int killTimeoutMs, int firstWaitMs)
{
    m_killTimeoutMs = killTimeoutMs;
    m_killFirstWaitMs = firstWaitMs;
}

QStringList PreProcessing::splitOperations(const QString& arguments)
{
    return arguments.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void PreProcessing::start()
{
    if (m_started)
        throw std::runtime_error("PreProcessing: Start already called");
    m_operations = splitOperations(m_arguments);
    // Nothing to run: the step ends here, without a worker thread.
    if (!hasOperations()) {
        m_started = true;
        runOperations();
        m_finished = true;
        return;
    }
    m_homeThread = thread();
    m_workerThread = std::make_unique<QThread>();
    connect(m_workerThread.get(), &QThread::started, this, &PreProcessing::_processingThreadProc);
    moveToThread(m_workerThread.get());
    m_workerThread->start(QThread::InheritPriority);
    m_started = true;
}

QString PreProcessing::statusText() const
{
    QMutexLocker lock(&statusLock);
    return m_statusText;
}

void PreProcessing::setStatus(const QString& text)
{
    QMutexLocker lock(&statusLock);
    m_statusText = text;
    qDebug() << text;
}

bool PreProcessing::hasOperations() const
{
    return std::any_of(m_operations.cbegin(), m_operations.cend(), [this](const QString& line) {
        return line.startsWith(m_noiseReductionTag) || line.startsWith(m_monoToStereoTag);
    });
}

void PreProcessing::_processingThreadProc()
{
    runOperations();
    // Hand the object back to the thread that owns it before reporting the
    // end, so that the owner may destroy it as soon as it sees isFinished().
    moveToThread(m_homeThread);
    m_workerThread->quit();
    const std::function<void()> finished = m_onFinished;
    m_finished = true;
    if (finished)
        finished();
}

void PreProcessing::runOperations()
{
    m_finished = false;
    m_succeeded = true;
    for (m_operationIndex = 0; m_operationIndex < m_operations.size(); ++m_operationIndex) {
        if (m_stopRequested)
            break;
        const QString line = m_operations.at(m_operationIndex);
        Outcome outcome;
        if (line.startsWith(m_noiseReductionTag))
            outcome = noiseReductionOperation(operationArgument(line));
        else if (line.startsWith(m_monoToStereoTag))
            outcome = monoToStereoOperation(operationArgument(line));
        else
            continue;
        if (outcome == Failed) {
            m_succeeded = false;
            break;
        }
        if (outcome == Produced)
            ++m_operationsDone;
    }
    if (m_stopRequested) {
        m_succeeded = false;
        m_errorMessage = QStringLiteral("Stopped");
        removeWorkFiles();
    } else {
        finishFiles();
    }
    setStatus(QStringLiteral("Pre processing finished"));
}

void PreProcessing::finishFiles()
{
    if (m_currentFile.isEmpty())
        return;
    QFile::remove(m_outputFile);
    if (!QFile::rename(m_currentFile, m_outputFile))
        qDebug() << "Error renaming intermediate file";
    if (!m_intermediateFiles.isEmpty() && m_intermediateFiles.last() == m_currentFile)
        m_intermediateFiles.removeLast();
    for (const QString& file : std::as_const(m_intermediateFiles))
        QFile::remove(file);
}

void PreProcessing::removeWorkFiles()
{
    for (const QString& file : std::as_const(m_intermediateFiles))
        QFile::remove(file);
    m_intermediateFiles.clear();
    m_currentFile.clear();
}

QString PreProcessing::operationInput() const
{
    return m_currentFile.isEmpty() ? m_inputFile : m_currentFile;
}

QString PreProcessing::operationOutput() const
{
    return m_outputFile + QString::number(m_operationIndex);
}

PreProcessing::Outcome PreProcessing::noiseReductionOperation(const QString& argument)
{
    if (argument == QLatin1String("SKIP"))
        return Skipped;
    svutil::RunProcess runner(this);
    runner.setStopFlag(&m_stopRequested, m_killTimeoutMs);
    {
        QMutexLocker lock(&runnerLock);
        m_runner = &runner;
    }
    const QString program = naming::findBundledPath(m_noiseReductionExecutable);
    const QString modelPath = naming::findBundledPath(m_noiseReductionModelPath);
    const QString output = operationOutput();
    QStringList args{QStringLiteral("-input"), QDir::toNativeSeparators(operationInput()),
        QStringLiteral("-modelpath"), QDir::toNativeSeparators(modelPath),
        QStringLiteral("-output"), QDir::toNativeSeparators(output)};
    args += argument.split(QLatin1Char(' '), Qt::SkipEmptyParts);

    connect(&runner, &svutil::RunProcess::StatusUpdated, this, &PreProcessing::StatusUpdated);
    m_fileReady = false;
    runner.run(program, args, true);

    QMutexLocker lock(&runnerLock);
    qDebug() << "... noiseReductionOperation proc Finished";
    m_runner = nullptr;
    if (m_fileReady) {
        m_currentFile = output;
        m_intermediateFiles.append(output);
        return Produced;
    }
    m_errorMessage = runner.lastMessage();
    // Whatever the tool left without announcing it is not a result; nothing
    // else would ever remove it.
    removeToolOutput(output);
    return Failed;
}

void PreProcessing::StatusUpdated(const QString& text)
{
    if (text.contains(QLatin1String("_of_"))) {
        setStatus(text);
        return;
    }
    // A second "File Ready" while the first one's kill is waiting is ignored:
    // runnerLock is held by that wait on this same thread.
    if (text != QLatin1String("File Ready") || m_fileReady)
        return;
    setStatus(QStringLiteral("Noise reduction finished"));
    m_fileReady = true;
    QMutexLocker lock(&runnerLock);
    if (m_runner != nullptr)
        m_runner->killProcess(m_killTimeoutMs, m_killFirstWaitMs);
}

PreProcessing::Outcome PreProcessing::monoToStereoOperation(const QString& argument)
{
    if (argument == QLatin1String("SKIP"))
        return Skipped;
    const QString output = operationOutput();
    ChannelConverter converter;
    converter.mode = ChannelConverter::MonoToStereo;
    converter.inputFile = operationInput().toUtf8();
    converter.outputFile = output.toUtf8();
    converter.stop = &m_stopRequested;
    if (!converter.convert(true))
        return Failed;
    const int result = converter.result();
    qDebug() << "... mono to Stereo Operation proc Finished: " << result;
    if (result == ChannelConverter::Converted) {
        m_currentFile = output;
        m_intermediateFiles.append(output);
        ++m_stereoConversions;
        return Produced;
    }
    return result == ChannelConverter::NothingConverted ? Produced : Failed;
}

QString PreProcessing::fileNameSuffix() const
{
    QString suffix;
    if (m_arguments.isEmpty())
        return suffix;
    for (const QString& line : splitOperations(m_arguments)) {
        const bool skip = line.contains(QLatin1String("SKIP"));
        if (line.contains(m_noiseReductionTag) && !skip)
            suffix += QLatin1String("-nr");
        if (line.contains(m_monoToStereoTag) && !skip)
            suffix += QLatin1String("-dualmono");
    }
    return suffix;
}
