#pragma once

#include "library/librarymodule.h"

// The library module's ShadowingStudio: src/speech's recording and analysis,
// with the attempts in the media library of `directory` and the recordings in
// its "shadowing" folder (owner-only).
std::unique_ptr<ShadowingStudio> openShadowingStudio(const QString& directory);
