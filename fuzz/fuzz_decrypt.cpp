// Deciphering arbitrary bytes as a stored sentence-data file.
#include "bridge/contentcipher.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <cstring>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool init = (qInstallMessageHandler(quiet), true);
    Q_UNUSED(init);
    if (size < 1)
        return 0;
    // The first byte picks one of a few keys so the fuzzer also meets valid digests of its own making.
    static const quint64 keys[] = {0, 0x0123456789ABCDEFull, 0x2D7F04B86E3A91C5ull, ~0ull};
    ContentCipher cipher(keys[data[0] & 3]);
    const QByteArray input(reinterpret_cast<const char*>(data + 1), int(size - 1));
    const QByteArray plain = cipher.decrypt(input);
    if (cipher.lastError() < 0 || cipher.lastError() > 3)
        __builtin_trap();
    if (cipher.lastError() != 0 && !plain.isEmpty())
        __builtin_trap(); // a failure must never hand out bytes

    // Whatever deciphers must come back unchanged through a fresh encryption.
    if (cipher.lastError() == 0 && plain.size() < 65536) {
        cipher.setIntegrityMode(data[0] >> 2 & 3);
        cipher.setCompressionMode(data[0] >> 4 & 3);
        const QByteArray again = cipher.decrypt(cipher.encrypt(plain));
        if (again != plain)
            __builtin_trap();
    }
    return 0;
}
