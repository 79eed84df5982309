#pragma once

#include <QString>

// Saving a copy of a stored media file where the learner chooses.
namespace MediaExport {

enum class Outcome { Cancelled, Exported, Failed };

// The suggested name with "?" removed, "/" made "_" and "\" removed.
QString cleanFileName(const QString& fileName);

// Asks for the target through the desktop's save dialog (video captions for a
// ".mp4" name, else the audio ones),
// starting in the folder used last (storePrefix), remembers the chosen folder
// and copies the source there. An existing target is replaced only once the
// copy is complete.
Outcome saveExportFile(const QString& source, const QString& fileName);

// What the learner is told about the outcome; empty when cancelled.
QString outcomeText(Outcome outcome);

} // namespace MediaExport
