#pragma once

#include <QMetaType>

#include <stdexcept>

// A start-up failure of the media engine (libmpv or its video renderer). These
// are the only exceptions the program raises; the application object shows them.
class MediaEngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failed libmpv call travelling inside a QVariant; any other content of such a
// QVariant is a plain value.
struct MpvErrorCode {
    MpvErrorCode() = default;
    explicit MpvErrorCode(int code) : errorCode(code) {}

    int errorCode = 0;

    bool operator==(const MpvErrorCode& other) const { return errorCode == other.errorCode; }
    bool operator!=(const MpvErrorCode& other) const { return errorCode != other.errorCode; }
};

Q_DECLARE_METATYPE(MpvErrorCode)

// Registers every type of the media engine that crosses threads. Safe to call often.
void registerMpvTypes();
