// Runs the simulator until killed and prints its URLs, one per line: the base
// URL, the backend base URL, then the authority's and the host pages' URLs.

#include "simulator/Simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvix-simulator"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local stand-in for the kit's backend."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on (0: any free one)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption credentialOption(
        QStringLiteral("credential"),
        QStringLiteral("A further merchant credential to accept (repeatable); \"%1\" is always known.")
            .arg(orvix::sim::Backend::defaultCredential),
        QStringLiteral("X"));
    parser.addOption(portOption);
    parser.addOption(credentialOption);
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        QTextStream(stderr) << "invalid port: " << parser.value(portOption) << Qt::endl;
        return 2;
    }

    orvix::sim::Simulator simulator;
    for (const QString &credential : parser.values(credentialOption))
        simulator.backend().addCredential(credential);
    if (!simulator.start(static_cast<quint16>(port))) {
        QTextStream(stderr) << "cannot listen on 127.0.0.1:" << port << Qt::endl;
        return 1;
    }
    QTextStream out(stdout);
    out << simulator.baseUrl().toString() << Qt::endl << simulator.backendBaseUrl() << Qt::endl;
    out << "authority API: " << simulator.authorityApiBaseUrl() << Qt::endl;
    out << "authority portal: " << simulator.authorityPortalUrl() << Qt::endl;
    out << "host success page: " << simulator.hostSuccessUrl() << Qt::endl;
    out << "host failure page: " << simulator.hostFailureUrl() << Qt::endl;
    return app.exec();
}
