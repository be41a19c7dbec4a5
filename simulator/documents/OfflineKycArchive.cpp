#include "simulator/documents/OfflineKycArchive.h"

#include <zip.h>

#include <ctime>
#include <memory>

namespace orvix::simulator {

namespace {

struct SourceFree {
    void operator()(zip_source_t *s) const { zip_source_free(s); }
};
using Source = std::unique_ptr<zip_source_t, SourceFree>;

QByteArray fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return {};
}

QString describe(zip_error_t *e)
{
    return QString::fromUtf8(zip_error_strerror(e));
}

// The bytes a kept buffer source holds after its archive was closed.
QByteArray contentsOf(zip_source_t *source, QString *error)
{
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_source_stat(source, &st) < 0 || !(st.valid & ZIP_STAT_SIZE))
        return fail(error, describe(zip_source_error(source)));
    if (st.size == 0)
        return fail(error, QStringLiteral("the archive came out empty"));
    if (zip_source_open(source) < 0)
        return fail(error, describe(zip_source_error(source)));
    QByteArray out(qsizetype(st.size), Qt::Uninitialized);
    const zip_int64_t n = zip_source_read(source, out.data(), st.size);
    zip_source_close(source);
    if (n != zip_int64_t(st.size))
        return fail(error, QStringLiteral("cannot read the archive back"));
    return out;
}

} // namespace

QByteArray makeOfflineKycArchive(const QByteArray &xml, const QString &xmlFileName, const QString &shareCode,
                                 QString *error)
{
    if (xmlFileName.isEmpty())
        return fail(error, QStringLiteral("no file name"));
    if (shareCode.isEmpty())
        return fail(error, QStringLiteral("no share code"));
    if (!zip_encryption_method_supported(ZIP_EM_AES_256, 1))
        return fail(error, QStringLiteral("this libzip cannot write AES-256 entries"));

    zip_error_t zerr;
    zip_error_init(&zerr);
    Source buffer(zip_source_buffer_create(nullptr, 0, 0, &zerr));
    if (!buffer) {
        const QString message = describe(&zerr);
        zip_error_fini(&zerr);
        return fail(error, message);
    }
    // The archive takes a reference; ours keeps the bytes after zip_close.
    zip_source_keep(buffer.get());
    zip_t *archive = zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &zerr);
    if (!archive) {
        zip_source_free(buffer.get()); // the reference the archive did not take
        const QString message = describe(&zerr);
        zip_error_fini(&zerr);
        return fail(error, message);
    }
    zip_error_fini(&zerr);

    const QByteArray name = xmlFileName.toUtf8();
    const QByteArray password = shareCode.toUtf8();
    // xml outlives zip_close, which is when libzip reads it.
    zip_source_t *data = zip_source_buffer(archive, xml.constData(), zip_uint64_t(xml.size()), 0);
    zip_int64_t index = -1;
    if (data) {
        index = zip_file_add(archive, name.constData(), data, ZIP_FL_ENC_UTF_8);
        if (index < 0)
            zip_source_free(data);
    }
    const bool added = index >= 0 && zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_DEFLATE, 9) == 0
        && zip_file_set_encryption(archive, zip_uint64_t(index), ZIP_EM_AES_256, password.constData()) == 0
        && zip_file_set_mtime(archive, zip_uint64_t(index), std::time(nullptr), 0) == 0;
    if (!added) {
        const QString message = QString::fromUtf8(zip_strerror(archive));
        zip_discard(archive);
        return fail(error, message);
    }
    if (zip_close(archive) < 0) {
        const QString message = QString::fromUtf8(zip_strerror(archive));
        zip_discard(archive);
        return fail(error, message);
    }
    return contentsOf(buffer.get(), error);
}

} // namespace orvix::simulator
