#pragma once

#include <QString>

// Where the practice controller's script calls go: its own page (the one that
// started the practice) and the desktop paragraph page. The bridge runs them in
// the frames (see PracticePageScript); tests record them. Snippets are built
// from core/pageprotocol.h.
class PracticePage {
public:
    virtual ~PracticePage() = default;

    virtual void runInOwnPage(const QString& snippet) = 0;
    virtual void runInParagraphPage(const QString& snippet) = 0;
};
