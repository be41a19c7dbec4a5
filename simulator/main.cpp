// Runs the simulator until killed. It prints every URL it serves, one
// "label: URL" line each, what a caller needs to be let in, then one line per
// request and each one-time password it sends (its stand-in for a phone).

#include "simulator/Simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

// The header the backend reads the merchant credential from.
constexpr char credentialHeader[] = "X-Kalmar-Auth-Credential-ID";

QString grouped(const QString &number)
{
    QString out;
    for (qsizetype i = 0; i < number.size(); ++i)
        out += (i && i % 4 == 0 ? QStringLiteral(" ") : QString()) + number.at(i);
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvix-simulator"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Local stand-in for the kit's backend, the authority's web API and resident page, and "
                       "DigiLocker pages. The backend wants a merchant credential in the %1 header.")
            .arg(QString::fromLatin1(credentialHeader)));
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
    QStringList credentials{orvix::sim::Backend::defaultCredential + QStringLiteral(" (default)")};
    for (const QString &credential : parser.values(credentialOption)) {
        simulator.backend().addCredential(credential);
        credentials.append(credential);
    }
    if (!simulator.start(static_cast<quint16>(port))) {
        QTextStream(stderr) << "cannot listen on 127.0.0.1:" << port << Qt::endl;
        return 1;
    }

    QTextStream out(stdout);
    const QUrl base = simulator.baseUrl();
    out << "simulator: " << base.toString() << Qt::endl;
    out << "backend: " << simulator.backendBaseUrl() << Qt::endl;
    out << "authority API: " << simulator.authorityApiBaseUrl() << Qt::endl;
    out << "authority portal: " << simulator.authorityPortalUrl() << Qt::endl;
    out << "resident page: " << simulator.residentPortalUrl() << "offline-kyc" << Qt::endl;
    out << "DigiLocker consent page: " << base.resolved(QUrl(orvix::sim::DigiLocker::consentPath)).toString()
        << "?tx=... (the backend's init-doc-fetch sends the user there)" << Qt::endl;
    out << "host success page: " << simulator.hostSuccessUrl() << Qt::endl;
    out << "host failure page: " << simulator.hostFailureUrl() << Qt::endl;
    out << "credential header: " << credentialHeader << Qt::endl;
    out << "credentials accepted: " << credentials.join(QStringLiteral(", ")) << Qt::endl;
    out << "sample Aadhaar number: " << grouped(orvix::sim::Simulator::sampleAadhaarNumber())
        << " (any 12 digits not starting with 0 or 1 whose last is the Verhoeff check digit)" << Qt::endl;

    simulator.setRequestLog([&out](const QString &line) { out << "request: " << line << Qt::endl; });
    const auto textMessage = [&out](const QString &uid, const QString &otp) {
        out << "one-time password sent for Aadhaar XXXX XXXX " << uid.right(4) << ": " << otp << Qt::endl;
    };
    QObject::connect(&simulator.authority(), &orvix::sim::Authority::otpSent, &app, textMessage);
    QObject::connect(&simulator.residentPortal(), &orvix::sim::ResidentPortal::otpSent, &app, textMessage);
    return app.exec();
}
