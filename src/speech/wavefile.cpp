#include "speech/wavefile.h"

#include "speech/soundclip.h"

#include <QCoreApplication>
#include <QFile>
#include <QtEndian>

#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Shadowing", text);
}

constexpr quint16 floatFormat = 3; // WAVE_FORMAT_IEEE_FLOAT
constexpr int headerSize = 44;

void put32(QByteArray& out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

void put16(QByteArray& out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

} // namespace

bool writeWave(const QString& path, const std::vector<float>& samples, QString* error) {
    const quint32 dataBytes = quint32(samples.size() * sizeof(float));
    QByteArray bytes;
    bytes.reserve(headerSize + int(dataBytes));
    bytes.append("RIFF", 4);
    put32(bytes, 36 + dataBytes);
    bytes.append("WAVEfmt ", 8);
    put32(bytes, 16);
    put16(bytes, floatFormat);
    put16(bytes, 1);
    put32(bytes, Speech::sampleRate);
    put32(bytes, Speech::sampleRate * sizeof(float));
    put16(bytes, sizeof(float));
    put16(bytes, 32);
    bytes.append("data", 4);
    put32(bytes, dataBytes);
    for (float s : samples) {
        quint32 bits;
        std::memcpy(&bits, &s, sizeof bits);
        put32(bytes, bits);
    }

    const QString partial = path + QStringLiteral(".part");
    const QByteArray name = QFile::encodeName(partial);
    // Created owner-only: a recording of the learner's voice is nobody else's.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        *error = tr("The recording cannot be saved in %1.").arg(path);
        return false;
    }
    const bool written = file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0;
    file.close();
    if (!written || ::rename(name.constData(), QFile::encodeName(path).constData()) != 0) {
        QFile::remove(partial);
        *error = tr("The recording cannot be saved in %1.").arg(path);
        return false;
    }
    return true;
}

std::vector<float> readWave(const QString& path, QString* error) {
    QFile file(path);
    std::vector<float> samples;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = tr("The recording %1 is gone.").arg(path);
        return samples;
    }
    const QByteArray bytes = file.readAll();
    const char* b = bytes.constData();
    if (bytes.size() < headerSize || std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WAVEfmt ", 8) != 0 ||
        qFromLittleEndian<quint16>(b + 20) != floatFormat || qFromLittleEndian<quint16>(b + 22) != 1 ||
        qFromLittleEndian<quint32>(b + 24) != quint32(Speech::sampleRate) || std::memcmp(b + 36, "data", 4) != 0) {
        *error = tr("The recording %1 cannot be read.").arg(path);
        return samples;
    }
    const quint32 dataBytes = std::min<quint32>(qFromLittleEndian<quint32>(b + 40), quint32(bytes.size() - headerSize));
    samples.resize(dataBytes / sizeof(float));
    std::memcpy(samples.data(), b + headerSize, samples.size() * sizeof(float));
    return samples;
}
