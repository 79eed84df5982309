#pragma once

#include <QString>

#include <vector>

// A recording on disk: WAV, mono 32-bit float at Speech::sampleRate. Written
// under a temporary name, readable and writable by the owner only, and moved
// into place once complete, so a crash leaves no half file under the name.
bool writeWave(const QString& path, const std::vector<float>& samples, QString* error);
// The samples of a file writeWave() made; empty with an error for anything else.
std::vector<float> readWave(const QString& path, QString* error);
