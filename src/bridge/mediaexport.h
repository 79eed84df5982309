#pragma once

#include <QString>

#include <functional>

// Saving a copy of a stored media file where the learner chooses.
namespace MediaExport {

// Asks for a target file (caption, initial path, filter); empty when cancelled.
// The application installs a native save dialog; tests install their own answer.
using SaveDialog = std::function<QString(const QString& caption, const QString& initialPath, const QString& filter)>;
void setSaveDialog(SaveDialog dialog);

enum class Outcome { Cancelled, Exported, Failed };

// The suggested name with "?" removed, "/" made "_" and "\" removed.
QString cleanFileName(const QString& fileName);

// Asks for the target (video dialog for a ".mp4" name, else the audio one),
// starting in the folder used last (storePrefix), remembers the chosen folder
// and copies the source there. An existing target is replaced only once the
// copy is complete.
Outcome saveExportFile(const QString& source, const QString& fileName);

// What the learner is told about the outcome; empty when cancelled.
QString outcomeText(Outcome outcome);

} // namespace MediaExport
