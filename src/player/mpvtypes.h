#pragma once

#include <QMetaType>

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
