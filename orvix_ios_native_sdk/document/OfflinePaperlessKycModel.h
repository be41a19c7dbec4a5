#pragma once
// The offline paperless e-KYC record and its XML signature as model classes.
//
// Every class is built from a string-keyed dictionary (as the decoded JSON of
// ParseXMLData gives it) and written back into one. Each class has:
//
//   Class();                                        every field absent
//   explicit Class(const QVariantMap &dictionary);  never fails
//   static QList<std::shared_ptr<Class>> modelsFromDictionaryArray(const QVariantList &array);
//   QVariantMap dictionaryRepresentation() const;
//
// and per field a getter named like the field and a setter "set" + Field:
//
//   const std::optional<QString> &name() const;   void setName(std::optional<QString>);
//   std::shared_ptr<UidData> uidData() const;     void setUidData(std::shared_ptr<UidData>);
//
// Reading: a text field takes its key's value only when that value is a
// string; a nested field only when it is a dictionary (QVariantMap). Anything
// else, or a missing key, leaves the field absent. Keys match case-sensitively
// and unknown keys are ignored. An element of the array given to
// modelsFromDictionaryArray() that is not a dictionary gives an object with
// every field absent, so the list keeps the array's length.
//
// Writing: present fields only, texts as strings and nested objects as
// dictionaries; an absent field leaves its key out.

#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <utility>

namespace orvix {

namespace detail {
template <class Model>
struct ModelFields; // each class's field table, defined with the class's operations
}

#define ORVIX_MODEL_TEXT_ACCESSORS(field, Field, key)                            \
    const std::optional<QString> &field() const { return m_##field; }            \
    void set##Field(std::optional<QString> value) { m_##field = std::move(value); }
#define ORVIX_MODEL_NESTED_ACCESSORS(Type, field, Field, key)                    \
    std::shared_ptr<Type> field() const { return m_##field; }                    \
    void set##Field(std::shared_ptr<Type> value) { m_##field = std::move(value); }
#define ORVIX_MODEL_TEXT_MEMBER(field, Field, key) std::optional<QString> m_##field;
#define ORVIX_MODEL_NESTED_MEMBER(Type, field, Field, key) std::shared_ptr<Type> m_##field;

// One model class from its field list (see the lists below).
#define ORVIX_MODEL_CLASS(Class, FIELDS)                                                        \
    class Class {                                                                               \
    public:                                                                                     \
        Class();                                                                                \
        explicit Class(const QVariantMap &dictionary);                                          \
        static QList<std::shared_ptr<Class>> modelsFromDictionaryArray(const QVariantList &array); \
        QVariantMap dictionaryRepresentation() const;                                           \
        FIELDS(ORVIX_MODEL_TEXT_ACCESSORS, ORVIX_MODEL_NESTED_ACCESSORS)                        \
    private:                                                                                    \
        friend struct detail::ModelFields<Class>;                                               \
        FIELDS(ORVIX_MODEL_TEXT_MEMBER, ORVIX_MODEL_NESTED_MEMBER)                              \
    };

// Field lists in reading and writing order:
//   TEXT(field, Field, "key")  NESTED(Type, field, Field, "key")

// XML signature.
#define ORVIX_CANONICALIZATIONMETHOD_FIELDS(TEXT, NESTED) TEXT(algorithm, Algorithm, "Algorithm")
#define ORVIX_SIGNATUREMETHOD_FIELDS(TEXT, NESTED) TEXT(algorithm, Algorithm, "Algorithm")
#define ORVIX_TRANSFORM_FIELDS(TEXT, NESTED) TEXT(algorithm, Algorithm, "Algorithm")
#define ORVIX_DIGESTMETHOD_FIELDS(TEXT, NESTED) TEXT(algorithm, Algorithm, "Algorithm")
#define ORVIX_TRANSFORMS_FIELDS(TEXT, NESTED) NESTED(Transform, transform, Transform, "Transform")
#define ORVIX_REFERENCE_FIELDS(TEXT, NESTED)                          \
    TEXT(uRI, URI, "URI")                                             \
    NESTED(Transforms, transforms, Transforms, "Transforms")          \
    NESTED(DigestMethod, digestMethod, DigestMethod, "DigestMethod") \
    TEXT(digestValue, DigestValue, "DigestValue")
#define ORVIX_SIGNEDINFO_FIELDS(TEXT, NESTED)                                                        \
    NESTED(CanonicalizationMethod, canonicalizationMethod, CanonicalizationMethod, "CanonicalizationMethod") \
    NESTED(SignatureMethod, signatureMethod, SignatureMethod, "SignatureMethod")                     \
    NESTED(Reference, reference, Reference, "Reference")
#define ORVIX_X509DATA_FIELDS(TEXT, NESTED)                         \
    TEXT(x509SubjectName, X509SubjectName, "X509SubjectName")       \
    TEXT(x509Certificate, X509Certificate, "X509Certificate")
#define ORVIX_KEYINFO_FIELDS(TEXT, NESTED) NESTED(X509Data, x509Data, X509Data, "X509Data")
#define ORVIX_SIGNATURE_FIELDS(TEXT, NESTED)                        \
    TEXT(xmlns, Xmlns, "xmlns")                                     \
    NESTED(SignedInfo, signedInfo, SignedInfo, "SignedInfo")        \
    TEXT(signatureValue, SignatureValue, "SignatureValue")          \
    NESTED(KeyInfo, keyInfo, KeyInfo, "KeyInfo")

// The record.
#define ORVIX_POI_FIELDS(TEXT, NESTED) \
    TEXT(name, Name, "name")           \
    TEXT(gender, Gender, "gender")     \
    TEXT(m, M, "m")                    \
    TEXT(e, E, "e")                    \
    TEXT(dob, Dob, "dob")
#define ORVIX_POA_FIELDS(TEXT, NESTED)  \
    TEXT(street, Street, "street")      \
    TEXT(loc, Loc, "loc")               \
    TEXT(po, Po, "po")                  \
    TEXT(dist, Dist, "dist")            \
    TEXT(vtc, Vtc, "vtc")               \
    TEXT(house, House, "house")         \
    TEXT(country, Country, "country")   \
    TEXT(subdist, Subdist, "subdist")   \
    TEXT(pc, Pc, "pc")                  \
    TEXT(landmark, Landmark, "landmark") \
    TEXT(careof, Careof, "careof")      \
    TEXT(state, State, "state")
#define ORVIX_UIDDATA_FIELDS(TEXT, NESTED) \
    NESTED(Poi, poi, Poi, "Poi")           \
    NESTED(Poa, poa, Poa, "Poa")           \
    TEXT(pht, Pht, "Pht")
#define ORVIX_OFFLINEPAPERLESSKYC_FIELDS(TEXT, NESTED)    \
    TEXT(referenceId, ReferenceId, "referenceId")         \
    NESTED(UidData, uidData, UidData, "UidData")          \
    NESTED(Signature, signature, Signature, "Signature")
// The decoded document as a whole.
#define ORVIX_JSON4SWIFT_BASE_FIELDS(TEXT, NESTED) \
    NESTED(OfflinePaperlessKyc, offlinePaperlessKyc, OfflinePaperlessKyc, "OfflinePaperlessKyc")

// Nested classes first.
ORVIX_MODEL_CLASS(CanonicalizationMethod, ORVIX_CANONICALIZATIONMETHOD_FIELDS)
ORVIX_MODEL_CLASS(SignatureMethod, ORVIX_SIGNATUREMETHOD_FIELDS)
ORVIX_MODEL_CLASS(Transform, ORVIX_TRANSFORM_FIELDS)
ORVIX_MODEL_CLASS(DigestMethod, ORVIX_DIGESTMETHOD_FIELDS)
ORVIX_MODEL_CLASS(Transforms, ORVIX_TRANSFORMS_FIELDS)
ORVIX_MODEL_CLASS(Reference, ORVIX_REFERENCE_FIELDS)
ORVIX_MODEL_CLASS(SignedInfo, ORVIX_SIGNEDINFO_FIELDS)
ORVIX_MODEL_CLASS(X509Data, ORVIX_X509DATA_FIELDS)
ORVIX_MODEL_CLASS(KeyInfo, ORVIX_KEYINFO_FIELDS)
ORVIX_MODEL_CLASS(Signature, ORVIX_SIGNATURE_FIELDS)
ORVIX_MODEL_CLASS(Poi, ORVIX_POI_FIELDS)
ORVIX_MODEL_CLASS(Poa, ORVIX_POA_FIELDS)
ORVIX_MODEL_CLASS(UidData, ORVIX_UIDDATA_FIELDS)
ORVIX_MODEL_CLASS(OfflinePaperlessKyc, ORVIX_OFFLINEPAPERLESSKYC_FIELDS)
ORVIX_MODEL_CLASS(Json4Swift_Base, ORVIX_JSON4SWIFT_BASE_FIELDS)

} // namespace orvix
