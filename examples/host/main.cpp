// The demo host: starts the local simulator (unless outside stand-ins are
// given), creates the kit's entry point and shows where everything is.

#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"
#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"
#include "simulator/Simulator.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>
#include <cstdio>

namespace {

std::optional<orvix::Mode> parseMode(const QString &text)
{
    if (text == QLatin1String("sandbox"))
        return orvix::Mode::sandbox;
    if (text == QLatin1String("production"))
        return orvix::Mode::production;
    if (text == QLatin1String("stage"))
        return orvix::Mode::stage;
    return std::nullopt;
}

} // namespace

int main(int argc, char **argv)
{
    // Run headless when there is no display to show a window on.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvix-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Demo host of the Orvix identity-verification kit."));
    parser.addHelpOption();
    const QCommandLineOption modeOption(QStringLiteral("mode"),
                                        QStringLiteral("Backend environment: sandbox, production or stage."),
                                        QStringLiteral("MODE"), QStringLiteral("sandbox"));
    const QCommandLineOption merchantOption(QStringLiteral("merchant-id"), QStringLiteral("Merchant credential."),
                                            QStringLiteral("ID"), QStringLiteral("merchant-demo"));
    const QCommandLineOption userOption(QStringLiteral("user-id"), QStringLiteral("End user's id."),
                                        QStringLiteral("ID"), QStringLiteral("demo-user"));
    const QCommandLineOption backendOption(QStringLiteral("backend"),
                                           QStringLiteral("Use an outside backend stand-in at URL."),
                                           QStringLiteral("URL"));
    const QCommandLineOption successOption(QStringLiteral("success-url"), QStringLiteral("Success redirect URL."),
                                           QStringLiteral("URL"));
    const QCommandLineOption failureOption(QStringLiteral("failure-url"), QStringLiteral("Failure redirect URL."),
                                           QStringLiteral("URL"));
    parser.addOptions({modeOption, merchantOption, userOption, backendOption, successOption, failureOption});
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const auto mode = parseMode(parser.value(modeOption));
    if (!mode) {
        err << "unknown mode: " << parser.value(modeOption) << " (use sandbox, production or stage)\n";
        return 2;
    }

    orvix::sim::Simulator simulator;
    QString backend = parser.value(backendOption);
    QString hostBase = QStringLiteral("https://host.orvix.example/");
    if (backend.isEmpty()) {
        simulator.backend().addCredential(parser.value(merchantOption));
        if (!simulator.start()) {
            err << "the simulator could not start\n";
            return 1;
        }
        backend = simulator.backendBaseUrl();
        hostBase = simulator.baseUrl().toString();
        out << "simulator: " << simulator.baseUrl().toString() << "\n";
        out << "simulator backend: " << simulator.backendBaseUrl() << "\n";
    }
    if (!backend.endsWith(u'/'))
        backend += u'/';
    orvix::internal::setBackendBaseURL(backend);

    const QString success = parser.isSet(successOption) ? parser.value(successOption) : hostBase + "host/success";
    const QString failure = parser.isSet(failureOption) ? parser.value(failureOption) : hostBase + "host/failure";
    auto host = orvix::platform::ui::ViewController::wrapping(nullptr);
    auto entry = orvix::OrvixEntryPoint::create(parser.value(merchantOption), parser.value(userOption), success,
                                                failure, *mode, host);
    out << "mode: " << parser.value(modeOption) << "\n";
    out << "entry point base URL: " << entry->urlComponent().value_or(QString()) << "\n";
    out << "success URL: " << success << "\n";
    out << "failure URL: " << failure << "\n";
    out.flush();
    return 0;
}
