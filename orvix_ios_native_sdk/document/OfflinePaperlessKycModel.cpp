#include "orvix_ios_native_sdk/document/OfflinePaperlessKycModel.h"

#include <tuple>

namespace orvix {
namespace {

template <class Model>
struct TextField {
    QLatin1String key;
    std::optional<QString> Model::*member;

    void read(Model &model, const QVariantMap &dictionary) const
    {
        const auto it = dictionary.constFind(key);
        if (it != dictionary.cend() && it->typeId() == QMetaType::QString)
            model.*member = it->toString();
    }
    void write(const Model &model, QVariantMap &dictionary) const
    {
        if (model.*member)
            dictionary.insert(key, *(model.*member));
    }
};

template <class Model, class Nested>
struct NestedField {
    QLatin1String key;
    std::shared_ptr<Nested> Model::*member;

    void read(Model &model, const QVariantMap &dictionary) const
    {
        const auto it = dictionary.constFind(key);
        if (it != dictionary.cend() && it->typeId() == QMetaType::QVariantMap)
            model.*member = std::make_shared<Nested>(it->toMap());
    }
    void write(const Model &model, QVariantMap &dictionary) const
    {
        if (model.*member)
            dictionary.insert(key, (model.*member)->dictionaryRepresentation());
    }
};

template <class Model>
void readFields(Model &model, const QVariantMap &dictionary)
{
    std::apply([&](const auto &...field) { (field.read(model, dictionary), ...); },
               detail::ModelFields<Model>::all());
}

template <class Model>
QVariantMap writeFields(const Model &model)
{
    QVariantMap dictionary;
    std::apply([&](const auto &...field) { (field.write(model, dictionary), ...); },
               detail::ModelFields<Model>::all());
    return dictionary;
}

template <class Model>
QList<std::shared_ptr<Model>> modelsFrom(const QVariantList &array)
{
    QList<std::shared_ptr<Model>> models;
    models.reserve(array.size());
    for (const QVariant &element : array) {
        models.append(element.typeId() == QMetaType::QVariantMap ? std::make_shared<Model>(element.toMap())
                                                                 : std::make_shared<Model>());
    }
    return models;
}

} // namespace

#define ORVIX_MODEL_TEXT_ROW(field, Field, key) TextField<Self>{QLatin1String(key), &Self::m_##field},
#define ORVIX_MODEL_NESTED_ROW(Type, field, Field, key) \
    NestedField<Self, Type>{QLatin1String(key), &Self::m_##field},

#define ORVIX_MODEL_DEFINE(Class, FIELDS)                                                        \
    template <>                                                                                  \
    struct detail::ModelFields<Class> {                                                          \
        using Self = Class;                                                                      \
        static auto all() { return std::tuple{FIELDS(ORVIX_MODEL_TEXT_ROW, ORVIX_MODEL_NESTED_ROW)}; } \
    };                                                                                           \
    Class::Class() = default;                                                                    \
    Class::Class(const QVariantMap &dictionary) { readFields(*this, dictionary); }               \
    QList<std::shared_ptr<Class>> Class::modelsFromDictionaryArray(const QVariantList &array)    \
    {                                                                                            \
        return modelsFrom<Class>(array);                                                         \
    }                                                                                            \
    QVariantMap Class::dictionaryRepresentation() const { return writeFields(*this); }

ORVIX_MODEL_DEFINE(CanonicalizationMethod, ORVIX_CANONICALIZATIONMETHOD_FIELDS)
ORVIX_MODEL_DEFINE(SignatureMethod, ORVIX_SIGNATUREMETHOD_FIELDS)
ORVIX_MODEL_DEFINE(Transform, ORVIX_TRANSFORM_FIELDS)
ORVIX_MODEL_DEFINE(DigestMethod, ORVIX_DIGESTMETHOD_FIELDS)
ORVIX_MODEL_DEFINE(Transforms, ORVIX_TRANSFORMS_FIELDS)
ORVIX_MODEL_DEFINE(Reference, ORVIX_REFERENCE_FIELDS)
ORVIX_MODEL_DEFINE(SignedInfo, ORVIX_SIGNEDINFO_FIELDS)
ORVIX_MODEL_DEFINE(X509Data, ORVIX_X509DATA_FIELDS)
ORVIX_MODEL_DEFINE(KeyInfo, ORVIX_KEYINFO_FIELDS)
ORVIX_MODEL_DEFINE(Signature, ORVIX_SIGNATURE_FIELDS)
ORVIX_MODEL_DEFINE(Poi, ORVIX_POI_FIELDS)
ORVIX_MODEL_DEFINE(Poa, ORVIX_POA_FIELDS)
ORVIX_MODEL_DEFINE(UidData, ORVIX_UIDDATA_FIELDS)
ORVIX_MODEL_DEFINE(OfflinePaperlessKyc, ORVIX_OFFLINEPAPERLESSKYC_FIELDS)
ORVIX_MODEL_DEFINE(Json4Swift_Base, ORVIX_JSON4SWIFT_BASE_FIELDS)

} // namespace orvix
