#pragma once
// The kit's public vocabulary: environments, flows, priority entries, the
// host's delegate and the result dictionary.

#include <QHash>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace orvix {

// The backend environment; it only selects the backend base URL.
enum class Mode { sandbox, production, stage };

// A verification flow. Its raw value is the identifier of the flow's backend
// resource; two values are equal when their raw values are.
class Config {
public:
    enum Value { residentUidaiAadhaarFlow, myAadhaarUidaiFlow, digilockerFlow, aadhaarApiflow };

    constexpr Config(Value value) : m_value(value) {}

    // The case whose raw value is exactly rawValue (case-sensitive); the
    // empty text gives aadhaarApiflow, any other text nothing.
    static std::optional<Config> init(const QString &rawValue);

    QString rawValue() const;
    constexpr Value value() const { return m_value; }
    QString caseName() const;

    friend bool operator==(const Config &a, const Config &b) { return a.rawValue() == b.rawValue(); }
    friend bool operator!=(const Config &a, const Config &b) { return !(a == b); }

private:
    Value m_value;
};

inline size_t qHash(const Config &config, size_t seed = 0)
{
    return ::qHash(config.rawValue(), seed);
}

// One entry of the priority map.
struct PriorityCall {
    std::optional<QString> key;        // "priorityCall_" followed by its position
    std::optional<QString> name;       // the flow's backend resource identifier
    std::optional<bool> healthStatus;  // false when created
    std::optional<Config> config;
};

// Four texts nothing in the kit uses; kept for hosts that name the type.
struct ClientAadhaarData {
    std::optional<QString> jsonString;
    std::optional<QString> xmlFileUri;
    std::optional<QString> zipFileUri;
    std::optional<QString> shareCode;
};

// The host's receiver of the result. Called on the main thread; the kit
// always passes a dictionary (its keys: OrvixEntryPoint.h).
class OrvixEntryPointDelegate {
public:
    virtual ~OrvixEntryPointDelegate() = default;
    virtual void onKYCFinished(const std::optional<QVariantMap> &data) = 0;
};

// The host values a flow screen needs.
struct clientInfo {
    std::optional<QString> merchantId;
    std::optional<QString> userId;
    std::optional<QString> successRedirectURL;
    std::optional<QString> failureRedirectURL;
};

// What a flow screen holds the entry point that presented it as.
class popDelegate {
public:
    virtual ~popDelegate() = default;
};

} // namespace orvix

template<>
struct std::hash<orvix::Config> {
    size_t operator()(const orvix::Config &c) const noexcept { return std::hash<QString>()(c.rawValue()); }
};
