// A host of the installed kit: the README's snippet, made to run. It starts a
// run against the placeholder backend and ends at the first report.

#include <orvix_ios_native_sdk/core/OrvixEntryPoint.h>
#include <platform/ui/viewcontroller.h>

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>

// Receives every result of a run.
class KycReceiver : public orvix::OrvixEntryPointDelegate {
public:
    void onKYCFinished(const std::optional<QVariantMap> &data) override
    {
        const QVariantMap result = data.value_or(QVariantMap{});
        std::printf("REPORT %s\n", QJsonDocument(QJsonObject::fromVariantMap(result)).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
        QApplication::exit(result.contains(QStringLiteral("status")) ? 0 : 1);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow mainWindow;
    mainWindow.resize(480, 720);
    mainWindow.show();

    auto host = orvix::platform::ui::ViewController::wrapping(&mainWindow);
    auto kyc = orvix::OrvixEntryPoint::create(QStringLiteral("merchant-id"), QStringLiteral("user-42"),
                                              QStringLiteral("https://host.example/kyc/success"),
                                              QStringLiteral("https://host.example/kyc/failure"),
                                              orvix::Mode::sandbox, host);
    kyc->orvixEntryDelegate = std::make_shared<KycReceiver>();
    // Two or more flows, in order of preference.
    kyc->addConfig({orvix::Config::digilockerFlow, orvix::Config::myAadhaarUidaiFlow});
    kyc->beginKYCFLow();

    QTimer::singleShot(120000, &app, [] { QApplication::exit(2); }); // no report at all
    return app.exec();
}
