#pragma once

#include <QString>

#include <memory>

class LibraryModule;
class QPluginLoader;

// Loads the library module (library/librarymodule.h: FFmpeg, Qt SQL and what
// they pull in) the first time it is asked for, so that a start that never
// opens the learner's files does not load them. The module stays loaded for
// the rest of the run.
class LibraryLoader {
public:
    // The module file; by default the one beside the executable.
    explicit LibraryLoader(QString fileName = defaultFileName());
    ~LibraryLoader();
    LibraryLoader(const LibraryLoader&) = delete;
    LibraryLoader& operator=(const LibraryLoader&) = delete;

    // Null when the module cannot be loaded: errorString() says why (logged once).
    LibraryModule* module();
    QString errorString() const { return error; }

    static QString defaultFileName();

private:
    QString file;
    std::unique_ptr<QPluginLoader> loader;
    LibraryModule* loaded = nullptr;
    QString error;
};
