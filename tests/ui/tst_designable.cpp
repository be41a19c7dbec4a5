// Designable views: what each setter applies to the layer, how the layer is
// painted, and imageFromUrl.

#include "orvix_ios_native_sdk/core/DesignableViews.h"
#include "picturebombs.h"
#include "rawserver.h"

#include <QApplication>
#include <QBoxLayout>
#include <QBuffer>
#include <QGraphicsDropShadowEffect>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace orvix;

namespace {

const QColor kGray = QColor::fromRgbF(0.5f, 0.5f, 0.5f);

QByteArray pngBytes(QSize size, QColor color)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Loads through imageFromUrl and waits for the completion.
struct Load {
    QImage returned;
    QImage loaded;
    bool done = false;
    bool onMainThread = false;
    explicit Load(const QString &url)
    {
        returned = imageFromUrl(url, [this](const QImage &image) {
            loaded = image;
            onMainThread = QThread::currentThread() == qApp->thread();
            done = true;
        });
    }
};

} // namespace

class TestDesignable : public QObject {
    Q_OBJECT
private slots:
    void freshViewsHaveABareLayer();
    void borderSettersApplyAllThree();
    void shadowSettersApplyAllFive();
    void viewPaintsBorderAndCorners();
    void gradientPoints_data();
    void gradientPoints();
    void gradientColorsAndLocations();
    void gradientFollowsPaletteAndStyleChanges();
    void gradientIsPainted();
    void imageFromUrlLoads();
};

void TestDesignable::freshViewsHaveABareLayer()
{
    UIViewCustom view;
    Gradient gradient;
    UIStackViewCustom stack;
    for (const platform::ui::Layer *layer : {&view.layer(), &gradient.layer(), &stack.layer()}) {
        QVERIFY(!layer->cornerRadius && !layer->borderWidth && !layer->borderColor);
        QVERIFY(!layer->masksToBounds && !layer->shadowColor && !layer->shadowOpacity && !layer->shadowRadius);
        QVERIFY(!layer->colors && !layer->locations && !layer->startPoint && !layer->endPoint);
    }
    QVERIFY(!view.graphicsEffect());
}

void TestDesignable::borderSettersApplyAllThree()
{
    UIViewCustom view;
    view.setBorderColor(Qt::blue);
    QCOMPARE(view.layer().cornerRadius, std::optional<qreal>(0));
    QCOMPARE(view.layer().borderWidth, std::optional<qreal>(0));
    QCOMPARE(view.layer().borderColor, std::optional<QColor>(Qt::blue));
    QVERIFY(!view.layer().shadowColor);

    view.setCornerRadius(8);
    view.setBorderWidth(1.5);
    QCOMPARE(view.layer().cornerRadius, std::optional<qreal>(8));
    QCOMPARE(view.layer().borderWidth, std::optional<qreal>(1.5));
    QCOMPARE(view.layer().borderColor, std::optional<QColor>(Qt::blue));
}

void TestDesignable::shadowSettersApplyAllFive()
{
    UIViewCustom view;
    view.setShadowRadius(4);
    QCOMPARE(view.layer().masksToBounds, std::optional<bool>(false));
    QCOMPARE(view.layer().shadowColor, std::optional<QColor>(kGray));
    QCOMPARE(view.layer().shadowOffset, std::optional<QSizeF>(QSizeF(0, 0)));
    QCOMPARE(view.layer().shadowOpacity, std::optional<float>(0));
    QCOMPARE(view.layer().shadowRadius, std::optional<qreal>(4));
    QVERIFY(!view.graphicsEffect()); // no visible shadow at opacity 0
    QVERIFY(!view.layer().borderWidth);

    // addShadow false still applies the shadow values set before.
    UIViewCustom other;
    other.setShadowOpacity(0.5f);
    other.setShadowOffset(QSizeF(0, 3));
    other.setAddShadow(false);
    QVERIFY(!other.addShadow());
    QCOMPARE(other.layer().masksToBounds, std::optional<bool>(false));
    QCOMPARE(other.layer().shadowOpacity, std::optional<float>(0.5f));
    auto *effect = qobject_cast<QGraphicsDropShadowEffect *>(other.graphicsEffect());
    QVERIFY(effect);
    QCOMPARE(effect->offset(), QPointF(0, 3));
    QVERIFY(qAbs(effect->color().alphaF() - 0.5) < 0.01);

    other.setShadowOpacity(0);
    QVERIFY(!other.graphicsEffect());
}

void TestDesignable::viewPaintsBorderAndCorners()
{
    UIViewCustom view;
    view.resize(60, 40);
    view.setBackgroundColor(Qt::white);
    view.setBorderWidth(4);
    view.setBorderColor(Qt::red);
    QImage shot = view.grab().toImage();
    QCOMPARE(QColor(shot.pixel(1, 20)), QColor(Qt::red));
    QCOMPARE(QColor(shot.pixel(30, 20)), QColor(Qt::white));
    QCOMPARE(QColor(shot.pixel(0, 0)), QColor(Qt::red));

    view.setCornerRadius(15);
    shot = view.grab().toImage();
    QVERIFY(QColor(shot.pixel(0, 0)) != QColor(Qt::red)); // the corner is cut
    QCOMPARE(QColor(shot.pixel(1, 20)), QColor(Qt::red));
}

void TestDesignable::gradientPoints_data()
{
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<bool>("diagonal");
    QTest::addColumn<QPointF>("start");
    QTest::addColumn<QPointF>("end");
    QTest::newRow("vertical") << false << false << QPointF(0.5, 0) << QPointF(0.5, 1);
    QTest::newRow("diagonal") << false << true << QPointF(0, 0) << QPointF(1, 1);
    QTest::newRow("horizontal") << true << false << QPointF(0, 0.5) << QPointF(1, 0.5);
    QTest::newRow("both") << true << true << QPointF(1, 0) << QPointF(0, 1);
}

void TestDesignable::gradientPoints()
{
    QFETCH(bool, horizontal);
    QFETCH(bool, diagonal);
    QFETCH(QPointF, start);
    QFETCH(QPointF, end);
    Gradient gradient;
    gradient.setDiagonalMode(diagonal);
    gradient.setHorizontalMode(horizontal);
    QCOMPARE(gradient.layer().startPoint, std::optional<QPointF>(start));
    QCOMPARE(gradient.layer().endPoint, std::optional<QPointF>(end));
    QVERIFY(!gradient.layer().colors);
    QVERIFY(!gradient.layer().locations);
}

void TestDesignable::gradientColorsAndLocations()
{
    Gradient gradient;
    gradient.setStartLocation(0.2);
    QCOMPARE(gradient.layer().locations, std::optional<QList<qreal>>({0.2, 0.95}));
    QVERIFY(!gradient.layer().colors);
    gradient.setEndColor(Qt::blue);
    QCOMPARE(gradient.layer().colors, std::optional<QList<QColor>>({QColor(Qt::black), QColor(Qt::blue)}));
    QVERIFY(!gradient.layer().startPoint);
}

void TestDesignable::gradientFollowsPaletteAndStyleChanges()
{
    for (QEvent::Type type : {QEvent::PaletteChange, QEvent::StyleChange}) {
        Gradient gradient;
        QEvent change(type);
        QCoreApplication::sendEvent(&gradient, &change);
        QCOMPARE(gradient.layer().startPoint, std::optional<QPointF>(QPointF(0.5, 0)));
        QCOMPARE(gradient.layer().endPoint, std::optional<QPointF>(QPointF(0.5, 1)));
        QCOMPARE(gradient.layer().locations, std::optional<QList<qreal>>({0.05, 0.95}));
        QCOMPARE(gradient.layer().colors,
                 std::optional<QList<QColor>>({QColor(Qt::black), QColor(Qt::white)}));
    }
    // A real palette change reaches it too.
    Gradient gradient;
    gradient.setPalette(QPalette(Qt::darkCyan));
    QVERIFY(gradient.layer().colors.has_value());
}

void TestDesignable::gradientIsPainted()
{
    Gradient gradient;
    gradient.resize(100, 100);
    gradient.setStartColor(Qt::red);
    gradient.setEndColor(Qt::blue);
    gradient.setStartLocation(0);
    gradient.setEndLocation(1);
    gradient.setHorizontalMode(true);
    const QImage shot = gradient.grab().toImage();
    QVERIFY(QColor(shot.pixel(1, 50)).red() > 200);
    QVERIFY(QColor(shot.pixel(98, 50)).blue() > 200);
    QCOMPARE(shot.pixel(50, 10), shot.pixel(50, 90));
}

void TestDesignable::imageFromUrlLoads()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("red.png");
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(pngBytes({3, 2}, Qt::red));
    out.close();

    Load local(QUrl::fromLocalFile(file).toString());
    QVERIFY(local.returned.isNull());
    QTRY_VERIFY(local.done);
    QVERIFY(local.onMainThread);
    QCOMPARE(local.loaded.size(), QSize(3, 2));

    // Bad input only gives empty images, never a stop.
    Load bad("::not a url::");
    Load broken("http://[::1");
    Load unsupported("ftp://example.invalid/x.png");
    Load missing(QUrl::fromLocalFile(dir.filePath("absent.png")).toString());
    for (Load *load : {&bad, &broken, &unsupported, &missing}) {
        QTRY_VERIFY(load->done);
        QVERIFY(load->returned.isNull() && load->loaded.isNull());
    }

    RawServer server([](const RawRequest &request) {
        if (request.path() == "/photo.png")
            return RawReply::http(200, pngBytes({5, 4}, Qt::blue), "image/png");
        // Pictures that cost far more than their bytes say.
        if (request.path() == "/scans.jpg")
            return RawReply::http(200, testsupport::progressiveScanBomb({2048, 2048}, 5000), "image/jpeg");
        if (request.path() == "/lie.ico")
            return RawReply::http(200, testsupport::icoLie({5000, 5000}), "image/x-icon");
        return RawReply::http(404, "<html>not here</html>", "text/html");
    });
    Load remote(server.url("/photo.png").toString());
    Load notFound(server.url("/nothing").toString());
    Load scans(server.url("/scans.jpg").toString());
    Load lie(server.url("/lie.ico").toString());
    QTRY_VERIFY_WITH_TIMEOUT(remote.done && notFound.done && scans.done && lie.done, 20000);
    QCOMPARE(remote.loaded.size(), QSize(5, 4));
    QVERIFY(notFound.loaded.isNull());
    QVERIFY(scans.loaded.isNull() && scans.onMainThread);
    QVERIFY(lie.loaded.isNull());
}

QTEST_MAIN(TestDesignable)
#include "tst_designable.moc"
