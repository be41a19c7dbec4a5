#include "orvix_ios_native_sdk/flows/AadhaarRecordProcessing.h"

#include <algorithm>

#include "orvix_ios_native_sdk/flows/TermsConditionVC.h"

#include "orvix_ios_native_sdk/core/Scenes.h"

#include "orvix_ios_native_sdk/document/ParseXMLData.h"
#include "platform/files/tempdir.h"
#include "platform/dispatch/dispatch.h"
#include "platform/log/log.h"
#include "platform/net/encoding.h"
#include "platform/ui/picture.h"
#include "platform/zip/ziparchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRecursiveMutex>
#include <QStringDecoder>
#include <QTextBoundaryFinder>

#include <sys/stat.h>

namespace orvix {

using platform::log::line;
namespace dispatch = platform::dispatch;

namespace {

// One run at a time works on the fixed file names.
QRecursiveMutex &filesMutex()
{
    static QRecursiveMutex mutex;
    return mutex;
}

bool isPresent(const std::optional<QString> &field)
{
    return field && !field->isEmpty();
}

// A file, a link (not what it points to) or a whole folder in the private
// folder; nothing at all once that folder is no longer the kit's own.
bool removeWhateverIsAt(const QString &path)
{
    return platform::files::removeFromPrivateTemporaryDirectory(path);
}

// A fresh, empty folder only we can enter.
bool emptyFolder(const QString &path)
{
    if (!removeWhateverIsAt(path))
        return false;
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    return QDir().mkpath(path) && QFile::setPermissions(path, ownerOnly);
}

// Why the record panel could not show the record within the document
// bounds, or empty: each text it shows is at most an attribute value long,
// also where the document gave it as element text.
QString shownTextBeyondBounds(const OfflinePaperlessKyc &record)
{
    const std::shared_ptr<UidData> uid = record.uidData();
    if (!uid)
        return {};
    QList<std::pair<const char *, const std::optional<QString> *>> shown;
    if (const std::shared_ptr<Poi> poi = uid->poi())
        shown = {{"name", &poi->name()}, {"dob", &poi->dob()}};
    if (const std::shared_ptr<Poa> poa = uid->poa()) {
        shown += {{"careof", &poa->careof()}, {"house", &poa->house()}, {"landmark", &poa->landmark()},
                  {"loc", &poa->loc()}, {"street", &poa->street()}, {"po", &poa->po()},
                  {"subdist", &poa->subdist()}, {"dist", &poa->dist()}, {"pc", &poa->pc()},
                  {"state", &poa->state()}, {"country", &poa->country()}};
    }
    for (const auto &[key, value] : shown) {
        if (*value && (*value)->size() > DocumentBounds::maxAttributeLength)
            return QStringLiteral("its \"%1\" is longer than %2 characters")
                .arg(QLatin1String(key))
                .arg(DocumentBounds::maxAttributeLength);
    }
    return {};
}

// A decoded picture in its view, or a line saying why it is not shown.
void showDecoded(platform::ui::ImageView *view, const char *what, const platform::ui::DecodedPicture &picture)
{
    if (picture.image.isNull())
        line(QStringLiteral("The %1 is not shown: %2").arg(QLatin1String(what), picture.refusal));
    else if (view)
        view->setImage(picture.image);
}

} // namespace

AadhaarRecordProcessing::AadhaarRecordProcessing() = default;
AadhaarRecordProcessing::~AadhaarRecordProcessing() = default;

std::shared_ptr<AadhaarRecordProcessing> AadhaarRecordProcessing::recordSelf()
{
    return std::dynamic_pointer_cast<AadhaarRecordProcessing>(shared_from_this());
}

QString AadhaarRecordProcessing::shareCode() const
{
    return prefillShareCode.value_or(defaultShareCode);
}

QString AadhaarRecordProcessing::temporaryDirectory()
{
    return platform::files::privateTemporaryDirectory() + u'/';
}

QString AadhaarRecordProcessing::archivePath()
{
    return temporaryDirectory() + QStringLiteral("aadhaar.zip");
}

QString AadhaarRecordProcessing::unzipDirectory()
{
    return temporaryDirectory() + QStringLiteral("aadhaar-unzipped");
}

void AadhaarRecordProcessing::openArchive(const QString &zipPath)
{
    QMutexLocker lock(&filesMutex());
    const QString destination = unzipDirectory();
    // The identity document stays on disk no longer than this run needs it:
    // once the record and the archive bytes are in memory, on every way out.
    struct Leftovers {
        QString zip, folder, xml;
        ~Leftovers() { remove(); }
        void remove() const
        {
            removeWhateverIsAt(xml);
            removeWhateverIsAt(folder);
            removeWhateverIsAt(zip);
        }
    } leftovers{zipPath, destination, temporaryDirectory() + QStringLiteral("aadhaar.xml")};

    platform::zip::UnzipError error;
    const bool unzipped = emptyFolder(destination)
        && platform::zip::unzipFileAtPath(zipPath, destination, true, true, shareCode(), &error);
    QList<QUrl> files;
    if (unzipped) {
        // The authority's archive holds one document, and it is a file.
        files = listOfflineXMLFiles(QUrl::fromLocalFile(destination));
        QStringList names;
        for (const QUrl &file : std::as_const(files))
            names << file.fileName();
        if (files.size() > 1) {
            error = {platform::zip::UnzipFailure::damaged,
                     QStringLiteral("The archive holds more than one document: ") + names.join(QStringLiteral(", "))};
        } else if (files.size() == 1) {
            struct stat st {};
            if (::lstat(QFile::encodeName(files.first().toLocalFile()).constData(), &st) != 0 || !S_ISREG(st.st_mode))
                error = {platform::zip::UnzipFailure::damaged,
                         QStringLiteral("The document \"%1\" is not a file").arg(names.first())};
        }
    }
    if (!unzipped || error.failure != platform::zip::UnzipFailure::none) {
        line(QStringLiteral("The archive could not be opened: ")
             + (error.failure == platform::zip::UnzipFailure::none ? QStringLiteral("the unzip folder cannot be made")
                                                                    : error.description()));
        line(QStringLiteral("SOMETHING WENT WRONG"));
        leftovers.remove(); // before the report: gone once the host hears of it
        auto me = recordSelf();
        dispatch::asyncMain([me] { me->reportArchiveFailure(); });
        return;
    }
    if (logsArchiveSteps())
        line(QStringLiteral("UNZIPPED"));
    if (files.isEmpty())
        return;
    if (logsArchiveSteps())
        line(files.first().toString());
    const QUrl xml = moveToTemporaryDirectory(files.first(), QStringLiteral("aadhaar.xml"));
    processOfflineXML(xml.toLocalFile());
}

void AadhaarRecordProcessing::runInBackground(std::function<void()> work)
{
    dispatch::asyncGlobal([me = recordSelf(), work = std::move(work)]() mutable {
        work();
        work = nullptr;
        dispatch::asyncMain([me = std::move(me)] {});
    });
}

void AadhaarRecordProcessing::openEncodedArchiveInBackground(const QString &base64)
{
    runInBackground([this, base64] {
        // Line breaks and blanks in the text do no harm.
        const QByteArray archive =
            QByteArray::fromBase64Encoding(base64.toLatin1(), QByteArray::IgnoreBase64DecodingErrors).decoded;
        if (archive.isEmpty()) {
            dispatch::asyncMain([me = recordSelf()] { me->reportArchiveFailure(); });
            return;
        }
        QMutexLocker lock(&filesMutex());
        const QString path = archivePath();
        // Through the private folder held open, never through a link.
        QFile file(path);
        if (platform::files::openInPrivateTemporaryDirectory(file)) {
            file.write(archive);
            file.close();
        }
        openArchive(path);
    });
}

QUrl AadhaarRecordProcessing::moveToTemporaryDirectory(const QUrl &source, const QString &name)
{
    QMutexLocker lock(&filesMutex());
    // Only a plain name: nothing may land outside the folder.
    const QString destination = temporaryDirectory() + QFileInfo(name).fileName();
    removeWhateverIsAt(destination);
    QFile::rename(source.toLocalFile(), destination);
    return QUrl::fromLocalFile(destination);
}

void AadhaarRecordProcessing::processOfflineXML(const std::optional<QString> &path)
{
    if (!path)
        return;
    std::shared_ptr<OfflinePaperlessKyc> record;
    std::optional<QByteArray> archive;
    {
        QMutexLocker lock(&filesMutex());
        QString why;
        qint64 bytes = 0;
        const std::optional<QString> xml = readBoundedDocument(*path, &why, &bytes);
        if (!xml) {
            line(QStringLiteral("The XML file could not be read: ") + why);
            return;
        }
        line(QStringLiteral("XML document: %1 bytes").arg(bytes));

        ParseXMLData parser(*xml);
        QJsonParseError parseError{};
        const QJsonDocument json = QJsonDocument::fromJson(parser.convertToJSON().toUtf8(), &parseError);
        if (parseError.error != QJsonParseError::NoError) {
            line(parseError.errorString());
            return;
        }
        if (!json.isObject()) {
            line(QStringLiteral("bad json"));
            return;
        }
        const QJsonValue root = json.object().value(QStringLiteral("OfflinePaperlessKyc"));
        if (!root.isObject()) {
            line(QStringLiteral("No OfflinePaperlessKyc record in the document"));
            return;
        }
        record = std::make_shared<OfflinePaperlessKyc>(root.toObject().toVariantMap());
        if (const QString why = shownTextBeyondBounds(*record); !why.isEmpty()) {
            line(QStringLiteral("The record cannot be shown: ") + why);
            return;
        }

        QFile zip(archivePath());
        if (zip.open(QIODevice::ReadOnly))
            archive = zip.readAll();
        else
            line(QStringLiteral("The archive could not be read: ") + zip.errorString());
    }
    if (dispatch::isMainThread()) {
        commitRecord(std::move(record), std::move(archive));
        return;
    }
    auto me = recordSelf();
    dispatch::asyncMain([me, record = std::move(record), archive = std::move(archive)]() mutable {
        me->commitRecord(std::move(record), std::move(archive));
    });
}

void AadhaarRecordProcessing::commitRecord(std::shared_ptr<OfflinePaperlessKyc> record,
                                           std::optional<QByteArray> archive)
{
    aadhaarModel = std::move(record);
    if (!archive)
        return;
    const orvix::clientInfo info = clientInfo.value_or(orvix::clientInfo{});
    oldAadhaarVM = OldAadhaarFlowViewModel::create(info.merchantId.value_or(QString()),
                                                   urlComponent.value_or(QString()), info.userId.value_or(QString()),
                                                   aadhaarModel, QList<QByteArray>{*archive}, supplierKind());
    auto me = recordSelf();
    oldAadhaarVM->uploadAadhaarDocument([me](std::shared_ptr<OfflinePaperlessKyc>) { me->showUserInfo(); },
                                        [me](const Error &error) { me->submissionFailed(error); });
}

void AadhaarRecordProcessing::showUserInfo()
{
    if (popupLoader)
        popupLoader->stopAnimating();
    if (otpView)
        otpView->hide();
    if (userInfoView)
        userInfoView->show();

    const std::shared_ptr<UidData> uid = aadhaarModel ? aadhaarModel->uidData() : nullptr;
    const std::shared_ptr<Poi> poi = uid ? uid->poi() : nullptr;
    if (profilePic)
        profilePic->setImage(QImage());
    // The photograph may come wrapped in lines.
    QByteArray photo = QByteArray::fromBase64Encoding(uid ? uid->pht().value_or(QString()).toLatin1() : QByteArray(),
                                                      QByteArray::IgnoreBase64DecodingErrors)
                           .decoded;
    if (!photo.isEmpty()) {
        // Shown only on the record it belongs to.
        platform::ui::decodePictureInBackground(
            std::move(photo), platform::ui::PictureBounds::photograph(),
            [weak = std::weak_ptr(recordSelf()), record = aadhaarModel](const platform::ui::DecodedPicture &picture) {
                const auto me = weak.lock();
                if (me && me->aadhaarModel == record)
                    showDecoded(me->profilePic, "photograph", picture);
            });
    }
    if (usernameLbl)
        usernameLbl->setText(poi ? poi->name().value_or(QString()) : QString());
    if (dobLbl)
        dobLbl->setText(poi ? poi->dob().value_or(QString()) : QString());
    if (addressLbl)
        addressLbl->setText(composeAddress(aadhaarModel));
}

void AadhaarRecordProcessing::showCaptcha(const QString &base64)
{
    const quint64 captcha = ++m_captchaShown;
    if (captchaImgView)
        captchaImgView->setImage(QImage());
    if (base64.isEmpty())
        return;
    const platform::ui::PictureBounds bounds = platform::ui::PictureBounds::captcha();
    // Not even decoded from Base64 when it cannot be a captcha.
    if (base64.size() / 4 * 3 > bounds.maxBytes + bounds.maxBytes / 8) {
        line(QStringLiteral("The captcha is not shown: %1 characters of Base64").arg(base64.size()));
        return;
    }
    QByteArray bytes =
        QByteArray::fromBase64Encoding(base64.toLatin1(), QByteArray::IgnoreBase64DecodingErrors).decoded;
    if (bytes.isEmpty())
        return;
    platform::ui::decodePictureInBackground(
        std::move(bytes), bounds,
        [weak = std::weak_ptr(recordSelf()), captcha](const platform::ui::DecodedPicture &picture) {
            const auto me = weak.lock();
            if (me && me->m_captchaShown == captcha)
                showDecoded(me->captchaImgView, "captcha", picture);
        });
}

QString AadhaarRecordProcessing::composeAddress(const OfflinePaperlessKyc *record)
{
    const std::shared_ptr<UidData> uid = record ? record->uidData() : nullptr;
    const std::shared_ptr<Poa> poa = uid ? uid->poa() : nullptr;
    if (!poa)
        return QString();
    QString address;
    for (const std::optional<QString> *field : {&poa->careof(), &poa->house(), &poa->landmark(), &poa->loc(),
                                               &poa->street(), &poa->po(), &poa->subdist()}) {
        if (isPresent(*field))
            address += **field + QStringLiteral(", ");
    }
    if (isPresent(poa->dist()))
        address += *poa->dist() + QStringLiteral(" - ") + poa->pc().value_or(QString()) + QStringLiteral(", ");
    if (isPresent(poa->state()))
        address += *poa->state() + QStringLiteral(", ");
    if (isPresent(poa->country()))
        address += *poa->country() + u'.';
    return address;
}

void AadhaarRecordProcessing::ProceedAct(QObject *)
{
    if (popDelegate) {
        reportToHost({{QStringLiteral("status"), true},
                      {QStringLiteral("userInfo"),
                       aadhaarModel ? aadhaarModel->dictionaryRepresentation() : QVariantMap()}});
    }
    dismiss(true);
}

void AadhaarRecordProcessing::reportArchiveFailure()
{
    if (ErrorView)
        ErrorView->show();
    if (popupLoader)
        popupLoader->stopAnimating();
    reportToHost({{QStringLiteral("status"), false}});
}

void AadhaarRecordProcessing::didChangeText(QObject *textField)
{
    auto *field = qobject_cast<platform::ui::TextField *>(textField);
    if (!field)
        return;
    // Regrouping replaces the text, which puts the cursor at the end: put it
    // back after the same digits. Text already grouped is left alone, and
    // with it the undo history.
    QString text = field->text();
    int cursor = field->cursorPosition();
    removeDigitBeyondBlank(field->lastEdit(), text, cursor);
    const QString grouped = formatAadhaarNumber(text, cursor);
    if (grouped == field->text())
        return;
    field->setText(grouped);
    field->setCursorPosition(cursor);
}

// Backspace or Delete on one of the grouping's blanks would only see it put
// back: the digit beyond it goes instead, as the person meant.
void AadhaarRecordProcessing::removeDigitBeyondBlank(const platform::ui::TextField::UserEdit &edit, QString &text,
                                                     int &cursor)
{
    if (edit.replaced != QLatin1String(" ") || !edit.replacement.isEmpty())
        return;
    const int at = edit.cursorBefore == edit.range.location ? edit.range.location : edit.range.location - 1;
    if (at < 0 || at >= text.size() || !text[at].isDigit())
        return;
    text.remove(at, 1);
    cursor = at;
}

void AadhaarRecordProcessing::checkBoxAct(QObject *sender)
{
    const QString name = isAgree ? QStringLiteral("Uncheck_box.png") : QStringLiteral("check_box.png");
    if (auto *button = qobject_cast<platform::ui::Button *>(sender))
        button->setImage(platform::ui::Image::named(
            name, platform::ui::Bundle::identifier(QString::fromLatin1(kitBundleIdentifier))));
    isAgree = !isAgree;
}

void AadhaarRecordProcessing::showAgreeAct(QObject *)
{
    if (auto terms = kitStoryboard().instantiate<TermsConditionVC>(QStringLiteral("TermsConditionVC")))
        present(terms, true);
}

bool AadhaarRecordProcessing::limitTextLength(platform::ui::TextField *textField, int replacedLength,
                                              const QString &replacement) const
{
    const qsizetype current = textField ? textField->text().size() : 0;
    const qsizetype length = current + replacement.size() - replacedLength;
    if (textField && textField == aadhaarNoTF)
        return length < 15;
    if (textField && textField == captchaTF)
        return length < 21;
    if (textField && textField == otpTF)
        return length < 7;
    return true;
}

bool AadhaarRecordProcessing::shouldChangeCharactersIn(platform::ui::TextField *textField,
                                                       platform::ui::TextRange range,
                                                       const QString &replacementString)
{
    return limitTextLength(textField, range.length, replacementString);
}

QString AadhaarRecordProcessing::withoutBlanks(const QString &text)
{
    QString out = text;
    out.remove(u' ');
    return out;
}

qsizetype AadhaarRecordProcessing::characterCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

bool AadhaarRecordProcessing::isTwelveDigits(const QString &number)
{
    return number.size() == 12 && std::all_of(number.cbegin(), number.cend(), [](QChar c) {
               return c >= u'0' && c <= u'9';
           });
}

} // namespace orvix
