#include "accountbook.h"
#include "apiroutes.h"
#include "apiserver.h"
#include "chaos.h"
#include "jobbook.h"
#include "jobrunner.h"
#include "presetcatalog.h"
#include "quitsignals.h"
#include "serviceoptions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

namespace {

bool prepareDataDir(const QString& root, QString& uploads, QString& results)
{
    QDir dir(root);
    uploads = dir.filePath("uploads");
    results = dir.filePath("results");
    return dir.mkpath("uploads") && dir.mkpath("results");
}

bool setUpTls(ApiServer& server, const ServiceOptions& options, QString& error)
{
    QFile certFile(options.tlsCertificate);
    QFile keyFile(options.tlsKey);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        error = "cannot read the TLS certificate or key";
        return false;
    }
    const QSslCertificate certificate(&certFile, QSsl::Pem);
    const QByteArray keyPem = keyFile.readAll();
    QSslKey key(keyPem, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(keyPem, QSsl::Ec, QSsl::Pem);
    if (certificate.isNull() || key.isNull()) {
        error = "the TLS certificate or key is not valid PEM (RSA or EC)";
        return false;
    }
    server.sslSetup(certificate, key, QSsl::TlsV1_2OrLater);
    return true;
}

QString hostText(const QHostAddress& address)
{
    return address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + address.toString() + "]" : address.toString();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("sonvira-service");
    QCoreApplication::setApplicationVersion(QStringLiteral(SONVIRA_SERVICE_VERSION));
    qSetMessagePattern("%{message}");

    ServiceOptions options;
    QString error;
    if (!parseServiceOptions(app.arguments(), options, error)) {
        std::fprintf(stderr, "sonvira-service: %s (see --help)\n", qPrintable(error));
        return 2;
    }
    std::unique_ptr<QTemporaryDir> scratch;
    QString root = options.dataDir;
    if (root.isEmpty()) {
        scratch = std::make_unique<QTemporaryDir>(QDir::temp().filePath("sonvira-service-XXXXXX"));
        root = scratch->path();
    }
    QString uploads;
    QString results;
    if (!prepareDataDir(root, uploads, results)) {
        std::fprintf(stderr, "sonvira-service: cannot create the data folder %s\n", qPrintable(root));
        return 1;
    }

    QuitSignals quitSignals;
    const PresetCatalog presets;
    AccountBook accounts(options.accounts, options.credit, options.expireTokenAfter);
    accounts.setSameToken(options.sameToken);
    JobBook jobs(options.firstJobId);
    JobRunner runner(options, accounts, jobs, presets, results);
    ApiRoutes routes(options, accounts, jobs, runner, presets, uploads);
    Chaos chaos(options.chaosSeed, options.chaosPercent);
    ApiServer server(options, routes, chaos);
    const bool tls = !options.tlsCertificate.isEmpty();
    if (tls && !setUpTls(server, options, error)) {
        std::fprintf(stderr, "sonvira-service: %s\n", qPrintable(error));
        return 1;
    }
    const quint16 port = server.listenOn(options.listenAddress, options.port, tls);
    if (port == 0) {
        std::fprintf(stderr, "sonvira-service: cannot listen on %s:%u\n",
                     qPrintable(options.listenAddress.toString()), unsigned(options.port));
        return 1;
    }
    std::printf("Listening on %s://%s:%u/api\n", tls ? "https" : "http",
                qPrintable(hostText(options.listenAddress)), unsigned(port));
    std::fflush(stdout);
    return app.exec();
}
